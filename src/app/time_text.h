// The times the windows show: entry times are FILETIMEs of the UTC clock,
// shown in the user's local time; an archive's creation time already counts
// the local clock of the computer that wrote it and is shown as it stands.
#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>

namespace app {

// An entry's FILETIME in the user's local time; invalid when it is no
// calendar date (beyond 2^63, or outside the years 1601 to 30827).
QDateTime LocalDateTime(uint64_t fileTime);
// A FILETIME of a local clock, its calendar fields unchanged.
QDateTime WallClockDateTime(uint64_t fileTime);
// "2019/04/19 18:40"; empty for an invalid time.
QString ShortDateTimeText(const QDateTime& time);
// A generation archive's creation time as the generation bar shows it
// (its local clock, unconverted); empty when none was recorded (0).
QString CreationTimeText(uint64_t fileTime);

}  // namespace app
