// Texts of the string table that more than one part of the program names,
// and the one way an engine error reaches a person.
//
// How an error travels. The engine never shows or prints anything: an error
// leaves it as a number of this table plus its arguments (the file it
// concerns and the reason, as the host gave it), carried by the result of
// the operation that failed, and by nothing else:
//   - loading a set or an archive: the load's problems (QPXFile::Problem,
//     subject and message) and, for the manager's own errors, the progress
//     sink's error id, told once after the load;
//   - restoring: the restore job's notices to the front end's user, its
//     summary and its log.
// Each front end renders what it gets: the desktop program in Japanese from
// this table, in a message box or a dialog after the operation; tessera-cli
// as "tessera-cli: SUBJECT: reason" on standard error, in English where its
// output has always been English, and with the Japanese text of the table
// where it quotes one.
//
// Running out of memory is such an error too: whatever the engine lets pass
// is caught where a front end starts an operation (CBackupSet's loads, the
// restore job's runs, tessera-cli's commands, the desktop program's filling
// of its panes) and told there, once (kOutOfMemory). Catches further in stay
// only where they turn it into the failure of one record, volume or log line
// and keep the object they are in usable: a stored file that cannot be
// copied, a file or volume that cannot be opened, a log line that cannot be
// kept, a log that cannot be shown or saved.
//
// Every number of the table the program names is named here, once, with
// the table's text above it.
#pragma once

#include <cstdint>

namespace host::StringId {

// The program's frame and its common boxes.
// "OLE の初期化に失敗しました。OLE ライブラリのバージョンが正しいことを確認してください。"
inline constexpr int32_t kOleFailed = 100;
// "qpx"
inline constexpr int32_t kDefaultExtension = 101;
// "*.qpx"
inline constexpr int32_t kDefaultFileName = 102;
// "バックアップファイル(*.qpx)|*.qpx|世代バックアップファイル(*.qpi)|*.qpi|"
inline constexpr int32_t kOpenFilter = 103;
// "LOADSTRINGでエラーが発生しました。"
inline constexpr int32_t kLoadStringFailed = 104;
// "この世代バックアップファイルにはバックアップされたファイルが存在しないため閲覧できません。"
inline constexpr int32_t kNothingToShow = 105;
// "Tessera"
inline constexpr int32_t kCaption = 107;
// "メモリ不足によりエラーが発生しました。"
inline constexpr int32_t kOutOfMemory = 125;
// "バックアップ管理ファイルの読み込み"
inline constexpr int32_t kLoadingCaption = 127;
// "0123456789"
inline constexpr int32_t kDigits = 166;
// "(1～%d まで)"
inline constexpr int32_t kGenerationRange = 167;
// "%04d年%02d月%02d日、%02d:%02d:%02d"
inline constexpr int32_t kTimeFormat = 237;
// "ファイル数: %lu、フォルダ数: %lu"
inline constexpr int32_t kCountsFormat = 238;
// "Tessera"
inline constexpr int32_t kTitleSuffix = 239;
// "デスクトップに「Tessera」のショートカットを作成してもよろしいでしょうか？"
inline constexpr int32_t kShortcutQuestion = 241;
// "Tesseraは既に起動されています。"
inline constexpr int32_t kAlreadyRunning = 242;
// "次の %d 件の項目は、パスがドライブから始まらないか「..」「.」を含むため、表示も復元もしません。\nそれ以外の項目は表示します。\n\n%s"
inline constexpr int32_t kLeftOutRecords = 320;

// The identifiers an archive's header carries.
// "QPX2.0  "
inline constexpr int32_t kQpx2Id = 116;
// "QPX2.0  "
inline constexpr int32_t kQpx2Version = 117;
// "QPX1.0  "
inline constexpr int32_t kQpx1Id = 118;
// "PKWARE  "
inline constexpr int32_t kPkwareCompression = 119;
// "QPX1.0  "
inline constexpr int32_t kQpx1Version = 120;
// "QPX3.0  "
inline constexpr int32_t kQpx3Id = 121;
// "F_QPX1.0"
inline constexpr int32_t kFakedQpx1Id = 122;
// "QPX3.0  "
inline constexpr int32_t kQpx3Version = 123;
// "F_QPX2.0"
inline constexpr int32_t kFakedQpx2Id = 124;
// "NA      "
inline constexpr int32_t kNoCompression = 126;

// Loading a set: the manager's progress, errors and questions, and the tree.
// "バックアップ管理ファイルの読み込み中"
inline constexpr int32_t kReadingManagement = 129;
// "差分バックアップファイルの読み込み"
inline constexpr int32_t kReadingGeneration = 131;
// "差分バックアップファイルの読み込みに失敗しました。"
inline constexpr int32_t kGenerationFailed = 133;
// "差分バックアップファイルが正しくありません。別のバックアップファイルに上書きされてしまった可能性があります。"
inline constexpr int32_t kOverwritten = 136;
// "バックアップ管理ファイルの破損を検出しました。バックアップ管理ファイルを再作成して処理を続行しますか？\n(選択可能な世代は第1世代のみです。第2世代以降のバックアップファイルは個々に復元する必要があります。)"
inline constexpr int32_t kDamagedRebuild = 139;
// "バックアップファイルの読み込みを中断しました。"
inline constexpr int32_t kLoadCancelled = 140;
// "バックアップ管理ファイルの情報を作成中..."
inline constexpr int32_t kRebuilding = 141;
// "バックアップ管理ファイルの読み込みに失敗しました。\nファイルが壊れている可能性があります。"
inline constexpr int32_t kRebuildFailed = 142;
// "バックアップ管理ファイルのバージョンを更新中..."
inline constexpr int32_t kUpdatingVersion = 143;
// "バックアップ管理ファイルが見つかりませんでした。\nこのバックアップファイルに含まれる\nファイル・フォルダを表示します。"
inline constexpr int32_t kNoManagement = 247;
// "第%s世代以降を除き、それより前の世代だけを表示して処理を続行しますか？"
inline constexpr int32_t kShowEarlier = 248;
// "%s(%d世代目)"
inline constexpr int32_t kGenerationName = 157;
// "差分復元用エンジンの初期化に失敗しました"
inline constexpr int32_t kTreeFailed = 158;
// "バックアップしたフォルダの登録処理"
inline constexpr int32_t kRegisteringFolders = 159;
// "バックアップしたファイルの登録処理"
inline constexpr int32_t kRegisteringFiles = 160;
// "このバックアップファイルには、メールデータが含まれています。\nOSの再インストール後や、別のマシンまたはアカウントに\nメールデータを復元する場合、保存場所がバックアップ時と\n異なるため同じ場所に復元しても正しく適用されない\nことがあります。このような場合は、ヘルプを参照して\nメールデータの「インポート」を行ってください。"
inline constexpr int32_t kMailNotice = 240;

// The restore dialogs and the result log.
// "*.log"
inline constexpr int32_t kDefaultLogName = 161;
// "ログファイル (*.log)|*.log|テキストファイル (*.txt)|*.txt||"
inline constexpr int32_t kLogFilter = 162;
// "log"
inline constexpr int32_t kLogExtension = 164;
// "復元先のフォルダを選択してください。"
inline constexpr int32_t kChooseFolder = 168;
// "フォルダの選択でエラーが発生しました。"
inline constexpr int32_t kFolderChoiceFailed = 169;
// "ネットワークドライブとして指定されていない場所に、\nファイルを復元することはできません。"
inline constexpr int32_t kNotNetworkDrive = 170;
// "ドライブ文字の取得に失敗しました。"
inline constexpr int32_t kNoDriveLetter = 171;
// "%I64u"
inline constexpr int32_t kSpaceFormat = 174;
// "Tessera - 復元処理中"
inline constexpr int32_t kTitleRunning = 175;
// "100"
inline constexpr int32_t kHundred = 176;
// "QPXファイルをクローズできませんでした。"
inline constexpr int32_t kCloseFailed = 177;
// "復元が中止されました。"
inline constexpr int32_t kTitleCancelled = 179;
// "復元中止"
inline constexpr int32_t kStatusCancelled = 180;
// "QPXファイルの復元に失敗しました。"
inline constexpr int32_t kRestoreFailed = 181;
// "復元に失敗しました"
inline constexpr int32_t kTitleFailed = 182;
// "復元失敗"
inline constexpr int32_t kStatusFailed = 183;
// "Tessera - 復元が完了しました"
inline constexpr int32_t kTitleDone = 184;
// "復元完了"
inline constexpr int32_t kStatusDone = 185;
// "復元時ログをファイルに保存できませんでした。"
inline constexpr int32_t kLogSaveFailed = 245;
// "一時的にファイルを展開するドライブの\n容量が不足しているため、復元を開始できません。"
inline constexpr int32_t kNoSpaceForTemporary = 246;

// The buttons of a restore question.
// "継続(&C)"
inline constexpr int32_t kContinue = 188;
// "すべて継続(&A)"
inline constexpr int32_t kContinueAll = 189;
// "復元を中止(&E)"
inline constexpr int32_t kStop = 190;
// "上書き(&Y)"
inline constexpr int32_t kOverwrite = 206;
// "すべて上書き(&A)"
inline constexpr int32_t kOverwriteAll = 207;
// "スキップ(&S)"
inline constexpr int32_t kSkip = 208;

// A restore run: its questions, notices and log lines.
// "復元処理が中止されました。"
inline constexpr int32_t kCancelled = 178;
// "バックアップファイル %s の復元処理を開始しました。"
inline constexpr int32_t kRestoreStarted = 186;
// "バックアップファイル %s の復元処理が終了しました。"
inline constexpr int32_t kRestoreEnded = 232;
// "バックアップされたファイルのヘッダ情報を読み込めませんでした。\n復元を継続しますか？"
inline constexpr int32_t kNamesUnreadableQuestion = 187;
// "ヘッダ情報を読み込めないファイルをスキップしました。%s"
inline constexpr int32_t kNamesUnreadableSkipped = 191;
// "ヘッダ情報を読み込めないファイルがあるため、復元を中止しました。%s"
inline constexpr int32_t kNamesUnreadableStopped = 192;
// "復元先のフォルダのパスが長すぎるため、復元を続行できません。"
inline constexpr int32_t kFolderPathTooLong = 193;
// "フォルダのパスが長すぎるため、復元を中止しました。%s"
inline constexpr int32_t kFolderPathTooLongStopped = 194;
// "復元先のドライブが存在しないため、復元を続行できません。"
inline constexpr int32_t kNoTargetDrive = 197;
// "復元先のドライブが存在しないため、復元を中止しました。"
inline constexpr int32_t kNoTargetDriveStopped = 198;
// "復元先のフォルダを作成できませんでした。\n復元先のフォルダ、またはオプションで指定したファイル・フォルダの一時展開先を確認してください。"
inline constexpr int32_t kTargetFolderNotMade = 199;
// "復元先のフォルダを作成できなかったため、復元を中止しました。"
inline constexpr int32_t kTargetFolderNotMadeStopped = 200;
// "ファイル　%s　のパスが長すぎるため、復元できません。\n復元を継続しますか？"
inline constexpr int32_t kPathTooLongQuestion = 201;
// "パスが長すぎるファイル　%s　をスキップしました。"
inline constexpr int32_t kPathTooLongSkipped = 202;
// "パスが長すぎるファイル　%s　があるため、復元を中止しました。"
inline constexpr int32_t kPathTooLongStopped = 203;
// "既に存在しているファイル　%s　を上書きしました。"
inline constexpr int32_t kExistingOverwritten = 204;
// "ファイル　%s　は既に存在しています。\n上書きしますか？"
inline constexpr int32_t kExistsQuestion = 205;
// "既に存在しているファイル　%s　をスキップしました。"
inline constexpr int32_t kExistingSkipped = 209;
// "ファイル　%s　を作成できませんでした。\nファイルが使用中か、読み取り専用になっている可能性があります。\n復元を継続しますか？"
inline constexpr int32_t kCannotCreateQuestion = 210;
// "ファイル　%s　を復元できませんでした。\r\nファイルが使用中か、読み取り専用になっている可能性があります。"
inline constexpr int32_t kCannotCreate = 211;
// "ファイル　%s　のバックアップデータが壊れているため、復元できません。\n復元を継続しますか？"
inline constexpr int32_t kDamagedDataQuestion = 212;
// "ファイル　%s　を復元できませんでした。\r\nバックアップデータが壊れている可能性があります。"
inline constexpr int32_t kDamagedData = 213;
// "ファイル　%s　は4GB以上あるため、FAT32のドライブには復元できません。\n復元を継続しますか？"
inline constexpr int32_t kTooLargeQuestion = 214;
// "ファイル　%s　を復元できませんでした。\r\n4GB以上のファイルはFAT32のドライブに復元できません。"
inline constexpr int32_t kTooLarge = 215;
// "ファイル　%s　の復元後のチェックに失敗しました。\n復元したファイルの内容が正しくない可能性があります。\n復元を継続しますか？"
inline constexpr int32_t kCheckFailedQuestion = 216;
// "ファイル　%s　の復元後のチェックに失敗しました。"
inline constexpr int32_t kCheckFailed = 236;
// "ファイル　%s　の復元後のチェックに失敗したため、復元を中止しました。"
inline constexpr int32_t kCheckFailedStopped = 218;
// "暗号化されたファイル　%s　の属性を復元できませんでした。\n復元を継続しますか？"
inline constexpr int32_t kEncryptedAttributesQuestion = 219;
// "ファイル　%s　の属性を復元できませんでした。\n復元を継続しますか？"
inline constexpr int32_t kAttributesQuestion = 220;
// "暗号化されたファイル　%s　の属性を復元できませんでした。"
inline constexpr int32_t kEncryptedAttributesFailed = 221;
// "ファイル　%s　の属性を復元できませんでした。"
inline constexpr int32_t kAttributesFailed = 222;
// "暗号化されたファイル　%s　の属性を復元できなかったため、復元を中止しました。"
inline constexpr int32_t kEncryptedAttributesStopped = 223;
// "ファイル　%s　の属性を復元できなかったため、復元を中止しました。"
inline constexpr int32_t kAttributesStopped = 224;
// "フォルダ　%s　の属性を復元できませんでした。"
inline constexpr int32_t kFolderAttributesFailed = 235;
// "暗号化されたファイル　%s　は、NTFS以外のドライブには復元できません。"
inline constexpr int32_t kEncryptedOffNtfs = 225;
// "ファイル　%s　の圧縮属性は、NTFS以外のドライブには復元できません。"
inline constexpr int32_t kCompressedOffNtfs = 226;
// "フォルダ　%s　の暗号化属性は、NTFS以外のドライブには復元できません。"
inline constexpr int32_t kEncryptedFolderOffNtfs = 227;
// "フォルダ　%s　の圧縮属性は、NTFS以外のドライブには復元できません。"
inline constexpr int32_t kCompressedFolderOffNtfs = 228;
// "暗号化されたファイル　%s　にアクセスできないため、復元できません。\n復元を継続しますか？"
inline constexpr int32_t kEncryptedImportQuestion = 229;
// "暗号化されたファイル　%s　にアクセスできないため、スキップしました。"
inline constexpr int32_t kEncryptedImportSkipped = 230;
// "暗号化されたファイル　%s　にアクセスできないため、復元を中止しました。"
inline constexpr int32_t kEncryptedImportStopped = 231;
// "ファイル　%s　を復元するためのディスクの空き容量が不足しています。\n復元を継続しますか？"
inline constexpr int32_t kNoSpaceQuestion = 243;
// "ファイル　%s　を復元できませんでした。\r\nディスクの空き容量が不足しています。"
inline constexpr int32_t kNoSpace = 244;

// What stood in a restored entry's way, or what became of it (after its path).
// "：フォルダの位置にシンボリックリンクがあります。リンクはたどらず、その下は復元しません。"
inline constexpr int32_t kLinkInPlace = 300;
// "：フォルダではありません。その下は復元しません。"
inline constexpr int32_t kNotAFolder = 301;
// "：復元中のバックアップファイル、その分割ファイル、バックアップ管理ファイルまたはログファイルのため、そのままにします。"
inline constexpr int32_t kProtectedFile = 302;
// "：名前に制御文字が含まれているため、復元しません。"
inline constexpr int32_t kControlCharacters = 303;
// "：名前にファイル名として使えない文字（対になっていないサロゲート）が含まれているため、復元しません。"
inline constexpr int32_t kUnpairedSurrogate = 304;
// "：名前がこのファイルシステムには長すぎるため、この短い名前で復元しました。元の名前："
inline constexpr int32_t kShortenedName = 305;
// "：内容が正しくない可能性がありますが、復元を継続したため、このファイル名で残しました。"
inline constexpr int32_t kKeptDespiteCheck = 306;

}  // namespace host::StringId
