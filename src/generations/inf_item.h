// The special data categories a backup set holds (mail data among them),
// taken from the category information of its first generation.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace QPXFile {
class CQPXFile;
}
namespace QPMFile {
class CQPMFile;
}

namespace INFFile {

class CINFItemInfo {
 public:
  CINFItemInfo(std::u16string name, std::u16string value, int32_t type)
      : name_(std::move(name)), value_(std::move(value)), type_(type) {}

  const std::u16string& GetName() const { return name_; }
  const std::u16string& GetValue() const { return value_; }
  // Kept for the record's shape; nothing fills it.
  const std::u16string& GetThirdText() const { return third_; }
  int32_t GetType() const { return type_; }

 private:
  std::u16string name_;
  std::u16string value_;
  std::u16string third_;
  int32_t type_ = 0;
};

using CINFItemArray = std::vector<std::unique_ptr<CINFItemInfo>>;

// Item types that stand for mail data.
constexpr bool IsMailType(int32_t type) { return type == 1 || type == 2 || type == 8; }

// Replaces `out` with the items of the first generation: a Unicode archive's
// category info (none when it has no such section, whatever the management
// file says), otherwise the management file's category block. False, with
// `out` empty, when there is no first archive. Running out of memory is
// the load's to tell: a set whose mail data went unnoticed is no set.
bool CollectINFItems(const QPXFile::CQPXFile* firstArchive, const QPMFile::CQPMFile& management,
                     CINFItemArray& out);

// Used when the string table lacks the mail-data notice.
inline constexpr char16_t kMailNoticeFallback[] = u"メールデータの復元を開始します。\n詳細はヘルプをご確認ください。";

using TextLoader = bool (*)(uint32_t id, std::u16string& out);

// The notice to show once before a restore when any item is mail data: the
// string-table text, or the fallback when the table has none. Nothing when
// no item is mail data.
std::optional<std::u16string> MailDataNotice(const CINFItemArray& items, TextLoader load = nullptr);

}  // namespace INFFile
