#include "paths/user_text.h"

#include "host/host_path.h"
#include "host/string_table.h"
#include "host/text.h"

namespace paths {

std::string HostPathText(const std::u16string& enginePath) {
  std::string host;
  if (host::ToHostPath(enginePath, host)) return host;
  return host::WideToUtf8(enginePath);
}

std::string Utf8(const std::u16string& text) { return host::WideToUtf8(text); }

std::u16string StoredPathArgument(const std::string& argument) {
  std::u16string path = host::Utf8ToWide(argument);
  for (char16_t& c : path)
    if (c == u'/') c = u'\\';
  while (!path.empty() && path.back() == u'\\') path.pop_back();
  return path;
}

std::string MessageText(int32_t id) {
  std::u16string text;
  if (!host::LoadString(static_cast<uint32_t>(id), text)) return "(message " + std::to_string(id) + ")";
  return host::WideToUtf8(text);
}

}  // namespace paths
