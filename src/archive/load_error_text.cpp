#include "archive/load_error_text.h"

#include <cstring>

#include "paths/user_text.h"

namespace QPXFile {
namespace {

std::string SystemText(int error) { return error != 0 ? std::strerror(error) : "unknown error"; }

}  // namespace

std::string DescribeLoadError(const LoadError& e, Wording wording) {
  const bool ja = wording == Wording::kJapanese;
  switch (e.failure) {
    case LoadFailure::kNone:
      return ja ? "エラーはありません" : "no error";
    case LoadFailure::kNotOpen:
    case LoadFailure::kOpenFailed:
      return (ja ? "開けません: " : "cannot open: ") + SystemText(e.systemError);
    case LoadFailure::kStrings:
      return ja ? "プログラムの識別子テキストがありません" : "the program's identifier texts are missing";
    case LoadFailure::kHeader:
      return ja ? "ヘッダーが壊れています" : "header damaged";
    case LoadFailure::kFormatId:
      return ja ? "この種類のバックアップファイルではありません" : "not an archive of this kind";
    case LoadFailure::kSection:
      return ja ? "セクション " + paths::Utf8(e.section) + " が壊れています（オフセット " + std::to_string(e.offset) + "）"
                : "section " + paths::Utf8(e.section) + " damaged at offset " + std::to_string(e.offset);
    case LoadFailure::kVolume: {
      const std::string volume = paths::HostPathText(e.volumePath);
      switch (e.division) {
        case DivisionError::kVolumeMissing:
          return ja ? "分割ファイル " + volume + " がありません" : "volume " + volume + " missing";
        case DivisionError::kVolumeForeign:
          return ja ? "分割ファイル " + volume + " は別のバックアップファイルのものです"
                    : "volume " + volume + " belongs to another archive";
        case DivisionError::kVolumeUnreadable:
          return ja ? "分割ファイル " + volume + " を開けません: " + SystemText(e.systemError)
                    : "volume " + volume + " cannot be opened: " + SystemText(e.systemError);
        case DivisionError::kVolumeHeadUnreadable:
          return ja ? "分割ファイル " + volume + " が壊れています（先頭を読めません）"
                    : "volume " + volume + " damaged: its head cannot be read";
        case DivisionError::kVolumeTooLong:
          return ja ? "分割ファイル " + volume + " が分割サイズより長くなっています"
                    : "volume " + volume + " is longer than the archive's volume size";
        case DivisionError::kBadVolumeSize:
          return ja ? "セクション Division_Info が壊れています（分割サイズがありえない値です）"
                    : "section Division_Info damaged: the volume size is impossible";
        default:
          return ja ? "分割ファイルを準備できません" : "split volumes cannot be set up";
      }
    }
    case LoadFailure::kEntryCount:
      return ja ? "ヘッダーが壊れています（ファイル数 " + std::to_string(e.entryIndex) + " はファイルに収まりません）"
                : "header damaged: it claims " + std::to_string(e.entryIndex) +
                      " entries, more than the file can hold";
    case LoadFailure::kEntry:
      return ja ? std::to_string(e.entryIndex + 1) + " 番目のファイルの情報が途中で切れています（オフセット " +
                      std::to_string(e.offset) + "）"
                : "entry " + std::to_string(e.entryIndex + 1) + " cut short (its record at offset " +
                      std::to_string(e.offset) + " cannot be read)";
    case LoadFailure::kOutOfMemory:
      return ja ? "メモリが足りません" : "not enough memory";
  }
  return ja ? "読み込めません" : "cannot be read";
}

std::string DescribeOpenFailure(const OpenResult& result, Wording wording) {
  return DescribeArchiveFault(ArchiveFault::Of(result), wording);
}

std::string DescribeArchiveFault(const ArchiveFault& fault, Wording wording) {
  const bool ja = wording == Wording::kJapanese;
  switch (fault.failure) {
    case OpenFailure::kNone:
      if (!fault.nothingToRebuildFrom) return {};
      return ja ? "フォルダの一覧がなく、バックアップ管理ファイルの情報を作成できません"
                : "it holds no folder list to make the management data from";
    case OpenFailure::kCannotOpen:
      return (ja ? "開けません: " : "cannot open: ") + SystemText(fault.systemError);
    case OpenFailure::kNotAnArchive:
      return ja ? "この種類のバックアップファイルではありません" : "not an archive of this kind";
    case OpenFailure::kLoad:
      return DescribeLoadError(fault.load, wording);
  }
  return ja ? "読み込めません" : "cannot be read";
}

}  // namespace QPXFile
