#include "support/samples.h"

#include <chrono>

#include "support/bytes.h"

namespace testsupport {
namespace {

constexpr uint32_t kReadOnly = 0x01, kHidden = 0x02, kDirectory = 0x10, kArchive = 0x20;

std::vector<uint8_t> Cp932Bytes(std::u16string_view text) { return Bytes(Cp932(text)); }

std::vector<uint8_t> Repeat(const std::vector<uint8_t>& unit, size_t times) {
  std::vector<uint8_t> out;
  for (size_t i = 0; i < times; ++i) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// Looks like a program: a small header, then runs of similar instruction-like
// records with a few changing bytes, and a string table.
std::vector<uint8_t> ProgramLikeBytes(size_t size) {
  std::vector<uint8_t> out = {'M', 'Z', 0x90, 0x00, 0x03, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0xFF, 0xFF};
  uint32_t x = 0x1234;
  while (out.size() < size) {
    x = x * 1103515245u + 12345u;
    const uint8_t record[] = {0x8B, 0x45, static_cast<uint8_t>(x >> 24), 0x89, 0x44, 0x24,
                              static_cast<uint8_t>((x >> 16) & 0x1F), 0xE8, 0x00, 0x00, 0x00, 0x00, 0xC3};
    out.insert(out.end(), record, record + sizeof record);
    if ((x >> 8) % 7 == 0) {
      const char* text = "GetProcAddress\0LoadLibraryW\0";
      out.insert(out.end(), text, text + 28);
    }
  }
  out.resize(size);
  return out;
}

FolderSpec Folder(std::u16string path, uint64_t created, uint64_t modified, uint32_t attributes = kDirectory) {
  return FolderSpec{std::move(path), attributes, created, modified, modified};
}

EntrySpec File(std::u16string folder, std::u16string name, std::vector<uint8_t> data, Method method,
               uint32_t attributes, uint64_t created, uint64_t modified) {
  EntrySpec entry;
  entry.folder = std::move(folder);
  entry.name = std::move(name);
  entry.data = std::move(data);
  entry.method = method;
  entry.attributes = attributes;
  entry.created = created;
  entry.accessed = modified;
  entry.modified = modified;
  return entry;
}

}  // namespace

uint64_t FileTime(int year, unsigned month, unsigned day, unsigned hour, unsigned minute, unsigned second) {
  using namespace std::chrono;
  const sys_days date = year_month_day{std::chrono::year{year}, std::chrono::month{month}, std::chrono::day{day}};
  const int64_t unixSeconds = date.time_since_epoch().count() * 86400 + hour * 3600 + minute * 60 + second;
  return static_cast<uint64_t>(unixSeconds + 11644473600) * 10000000u;
}

std::vector<uint8_t> NoiseBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed | 1;
  for (uint8_t& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x >> 11);
  }
  return out;
}

ArchiveSpec SampleArchive() {
  const std::u16string docs = u"C:\\Users\\Hanako\\Documents";
  const std::u16string photos = docs + u"\\写真";
  const std::u16string software = docs + u"\\ソフト";    // ソ is 83 5C in code page 932
  const std::u16string sheets = docs + u"\\表計算";      // 表 is 95 5C
  const uint64_t made = FileTime(2021, 4, 1, 9, 0);
  const uint64_t edited = FileTime(2023, 6, 1, 18, 45, 30);

  ArchiveSpec plan;
  plan.formatId = "QPX3.0  ";
  plan.creationTime = FileTime(2023, 6, 2, 3, 0);
  plan.description = u"ドキュメントの定期バックアップ";
  plan.fileList = {{docs, 1, u""}};
  plan.folders = {
      Folder(docs, made, edited),
      Folder(photos, made, FileTime(2023, 5, 3, 12, 0)),
      Folder(photos + u"\\旅行 2023", FileTime(2023, 5, 3, 12, 0), FileTime(2023, 5, 3, 12, 0)),
      Folder(software, made, made, kDirectory | kReadOnly),
      Folder(sheets, made, edited, kDirectory | kHidden),
  };

  std::vector<uint8_t> memo = Cp932Bytes(
      u"買い物メモ\r\n・牛乳\r\n・卵\r\n・食パン\r\n"
      u"来週の予定：月曜日に歯医者、水曜日に会議、金曜日は早く帰る。\r\n");
  memo = Repeat(memo, 12);
  std::vector<uint8_t> photo = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  const std::vector<uint8_t> noise = NoiseBytes(3000, 7);
  photo.insert(photo.end(), noise.begin(), noise.end());
  const std::vector<uint8_t> settings = Repeat(
      Bytes("[General]\r\nLanguage=ja-JP\r\nAutoUpdate=1\r\n[Window]\r\nWidth=1024\r\nHeight=768\r\n"), 20);
  const std::vector<uint8_t> budget =
      Repeat(Cp932Bytes(u"日付,項目,金額\r\n2023/05/01,食費,3200\r\n2023/05/02,交通費,640\r\n"), 30);

  plan.entries = {
      File(docs, u"readme.txt", Bytes("Backup of Hanako's documents.\r\n"), Method::Stored, kArchive | kReadOnly,
           made, made),
      File(docs, u"買い物メモ.txt", memo, Method::Imploded, kArchive, made, edited),
      File(docs, u"空のファイル.txt", {}, Method::Stored, kArchive, edited, edited),
      File(photos, u"海.jpg", photo, Method::Stored, kArchive, FileTime(2023, 5, 3, 12, 0),
           FileTime(2023, 5, 3, 12, 0)),
      File(software, u"設定.ini", settings, Method::Imploded, kArchive | kHidden, made, edited),
      File(software, u"ツール.dll", ProgramLikeBytes(8192), Method::Imploded, kArchive | kReadOnly, made, made),
      File(sheets, u"家計簿.csv", budget, Method::Imploded, kArchive, made, edited),
  };
  plan.entries[1].literal = LiteralMode::Ascii;
  plan.entries[4].literal = LiteralMode::Ascii;
  plan.entries[4].dictionary = 2048;
  plan.entries[6].dictionary = 1024;

  plan.categoryFlag = true;
  plan.categoryItems = {{u"バックアップ名", u"毎日のバックアップ", 1}, {u"コンピューター名", u"HANAKO-PC", 2}};
  return plan;
}

ArchiveSpec SampleAnsiArchive() {
  const std::u16string root = u"D:\\共有";
  const std::u16string accounts = root + u"\\経理";
  const std::u16string sheets = accounts + u"\\表計算";
  const std::u16string software = root + u"\\ソフト";
  const uint64_t made = FileTime(2008, 11, 20, 10, 15);
  const uint64_t edited = FileTime(2009, 3, 31, 17, 5, 12);

  ArchiveSpec plan;
  plan.formatId = "QPX2.0  ";
  plan.creationTime = FileTime(2009, 4, 1, 2, 30);
  plan.description = u"共有フォルダ";
  plan.fileList = {{root, 1, u""}};
  plan.folders = {
      Folder(root, made, edited),
      Folder(accounts, made, edited),
      Folder(sheets, made, edited),
      Folder(software, made, made, kDirectory | kReadOnly),
  };
  plan.entries = {
      File(root, u"はじめに.txt", Cp932Bytes(u"このフォルダは毎晩バックアップされます。\r\n"), Method::Stored,
           kArchive, made, made),
      File(sheets, u"予算.csv", Repeat(Cp932Bytes(u"部署,予算\r\n営業,1200000\r\n開発,3400000\r\n"), 25),
           Method::Imploded, kArchive, made, edited),
      File(software, u"ソフト一覧.txt", Repeat(Cp932Bytes(u"表計算ソフト\r\n文書作成ソフト\r\n"), 10),
           Method::Imploded, kArchive | kHidden, made, edited),
      File(software, u"setup.bin", ProgramLikeBytes(4096), Method::Stored, kArchive | kReadOnly, made, made),
  };
  plan.entries[2].literal = LiteralMode::Ascii;
  return plan;
}

ArchiveSpec SampleSplitArchive() {
  ArchiveSpec plan = SampleArchive();
  EntrySpec large = File(plan.folders[1].path, u"パノラマ.bmp", NoiseBytes(20000, 99), Method::Stored, kArchive,
                         FileTime(2023, 5, 4, 8, 0), FileTime(2023, 5, 4, 8, 0));
  plan.entries.insert(plan.entries.begin() + 4, std::move(large));
  plan.volumeSize = 4096;
  return plan;
}

}  // namespace testsupport
