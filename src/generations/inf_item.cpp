#include "generations/inf_item.h"

#include <algorithm>

#include "archive/qpx_file_extend.h"
#include "generations/qpm_file.h"
#include "host/string_ids.h"
#include "host/string_table.h"

namespace INFFile {

bool CollectINFItems(const QPXFile::CQPXFile* firstArchive, const QPMFile::CQPMFile& management,
                     CINFItemArray& out) {
  out.clear();
  if (firstArchive == nullptr) return false;
  if (auto* unicode = dynamic_cast<const QPXFile::CUQPXFileExtend*>(firstArchive)) {
    const QPXFile::CQPXCategoryInfo* info = unicode->GetCategoryInfo();
    if (info == nullptr) return true;
    for (int i = 0; i < info->GetItemCount(); ++i) {
      std::u16string name, value;
      uint16_t code = 0;
      if (!info->GetItem(i, name, value, &code)) continue;
      out.push_back(std::make_unique<CINFItemInfo>(std::move(name), std::move(value), code));
    }
    return true;
  }
  for (const auto& item : management.GetCategoryInfo().Items)
    out.push_back(std::make_unique<CINFItemInfo>(item->Name, item->Value, item->Code));
  return true;
}

std::optional<std::u16string> MailDataNotice(const CINFItemArray& items, TextLoader load) {
  if (load == nullptr) load = host::LoadString;
  const bool mail = std::any_of(items.begin(), items.end(),
                                [](const auto& item) { return item && IsMailType(item->GetType()); });
  if (!mail) return std::nullopt;
  std::u16string text;
  if (!load(host::StringId::kMailNotice, text)) text = kMailNoticeFallback;
  return text;
}

}  // namespace INFFile
