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
//   - restoring: the session's events, its summary and the restore log.
// Each front end renders what it gets: the desktop program in Japanese from
// this table, in a message box or a dialog after the operation; tessera-cli
// as "tessera-cli: SUBJECT: reason" on standard error, in English where its
// output has always been English, and with the Japanese text of the table
// where it quotes one.
//
// Running out of memory is such an error too: whatever the engine lets pass
// is caught where a front end starts an operation (CBackupSet's loads,
// tessera-cli's commands, the desktop program's filling of its panes) and
// told there (kOutOfMemory). Catches further in stay only where they turn it
// into the failure of one record, volume or log line and keep the object
// they are in usable.
#pragma once

#include <cstdint>

namespace host::StringId {

// "メモリ不足によりエラーが発生しました。"
inline constexpr int32_t kOutOfMemory = 125;
// "復元時ログをファイルに保存できませんでした。": the log could not be saved
// where the user asked (the log dialog's save, tessera-cli's --log).
inline constexpr int32_t kLogSaveFailed = 245;

}  // namespace host::StringId
