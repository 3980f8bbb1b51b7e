// Records the restore driver's events for the tests and answers them from a
// table (true unless told otherwise).
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "host/host_path.h"
#include "restore/restore_driver.h"

namespace restoretest {

struct SeenEvent {
  int code = 0;
  std::string text;  // host form; empty when the event had none
  long position = -2;
  long lastIndex = -2;
  bool hadEntry = false;
};

class EventRecorder {
 public:
  QPXFile::RestoreEventCallback Callback() {
    return [this](const QPXFile::RestoreEvent& e) {
      // Attributes a file system has no place for are told beside the
      // sequence of events, which stays as the driver's protocol has it.
      if (e.code == QPXFile::kEventAttributesNotKept) {
        std::string text;
        if (e.text == nullptr || !host::ToHostPath(*e.text, text)) text = "(unmappable)";
        notKept[text] = e.attributesNotKept;
        return true;
      }
      SeenEvent s;
      s.code = e.code;
      if (e.text != nullptr && !host::ToHostPath(*e.text, s.text)) s.text = "(unmappable)";
      if (e.record != nullptr) {
        s.position = e.record->position;
        s.lastIndex = e.record->lastIndex;
      }
      s.hadEntry = e.entry != nullptr;
      seen.push_back(s);
      auto it = answers.find(e.code);
      return it == answers.end() ? true : it->second;
    };
  }
  std::vector<int> Codes() const {
    std::vector<int> out;
    for (const SeenEvent& s : seen) out.push_back(s.code);
    return out;
  }
  const SeenEvent* First(int code) const {
    for (const SeenEvent& s : seen)
      if (s.code == code) return &s;
    return nullptr;
  }
  bool Reported(int code, const std::filesystem::path& p) const {
    return std::any_of(seen.begin(), seen.end(),
                       [&](const SeenEvent& s) { return s.code == code && s.text == p.string(); });
  }

  std::vector<SeenEvent> seen;
  std::map<int, bool> answers;
  std::map<std::string, uint32_t> notKept;  // host path -> attribute bits its file system did not keep
};

}  // namespace restoretest
