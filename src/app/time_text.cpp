#include "app/time_text.h"

#include "host/file_attributes.h"

namespace app {
namespace {

QDateTime UtcDateTime(uint64_t fileTime) {
  // The calendar conversion takes FILETIMEs below 2^63 only.
  if (fileTime > static_cast<uint64_t>(INT64_MAX)) return {};
  const auto units = static_cast<int64_t>(fileTime) - static_cast<int64_t>(host::kFileTimeUnixEpoch);
  return QDateTime::fromMSecsSinceEpoch(units / 10000 - (units % 10000 < 0 ? 1 : 0), Qt::UTC);
}

QDateTime WithinCalendar(const QDateTime& time) {
  if (!time.isValid() || time.date().year() < 1601 || time.date().year() > 30827) return {};
  return time;
}

}  // namespace

QDateTime LocalDateTime(uint64_t fileTime) { return WithinCalendar(UtcDateTime(fileTime).toLocalTime()); }

QDateTime WallClockDateTime(uint64_t fileTime) { return WithinCalendar(UtcDateTime(fileTime)); }

QString ShortDateTimeText(const QDateTime& time) {
  return time.isValid() ? time.toString(QStringLiteral("yyyy/MM/dd HH:mm")) : QString();
}

QString CreationTimeText(uint64_t fileTime) {
  return fileTime != 0 ? ShortDateTimeText(WallClockDateTime(fileTime)) : QString();
}

}  // namespace app
