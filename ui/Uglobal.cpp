#include "Uglobal.h"

#include <sys/stat.h>

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "Version.h"

namespace ombrix {
namespace {

constexpr qint64 kMillisecondsPerDay = 86400 * 1000;

qint64 DayZero() {
  return QDate(1899, 12, 30).toJulianDay();
}

// The locale's long time format without its time-zone field, which a file date never carries.
QString LongTimeFormatWithoutZone(const QLocale& locale) {
  const QString format = locale.timeFormat(QLocale::LongFormat);
  QString kept;
  bool quoted = false;
  for (const QChar c : format) {
    if (c == QLatin1Char('\'')) quoted = !quoted;
    if (quoted || c != QLatin1Char('t')) kept += c;
  }
  return kept.simplified();
}

}  // namespace

std::string GetAppVersion(const std::array<uint16_t, 4>& version) {
  return std::to_string(version[0]) + '.' + std::to_string(version[1]) + '.' +
         std::to_string(version[2]) + '.' + std::to_string(version[3]);
}

std::string GetAppVersion() {
  return GetAppVersion(kProgramVersion);
}

TDateTime GetFileDateTime(const std::string& fileName) {
  struct stat status {};
  if (fileName.empty() || ::stat(fileName.c_str(), &status) != 0) return 0;
  qint64 seconds = status.st_mtim.tv_sec;
  seconds -= ((seconds % 2) + 2) % 2;
  const QDateTime local = QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime);
  return static_cast<double>(local.date().toJulianDay() - DayZero()) +
         static_cast<double>(local.time().msecsSinceStartOfDay()) /
             static_cast<double>(kMillisecondsPerDay);
}

std::string ProgramFileName() {
  std::error_code error;
  const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

QString DateTimeToStr(TDateTime value, const QLocale& locale) {
  double days = std::floor(value);
  // Whole seconds, so that a value that went through a double does not read a second early.
  auto milliseconds =
      std::llround((value - days) * static_cast<double>(kMillisecondsPerDay) / 1000.0) * 1000;
  if (milliseconds >= kMillisecondsPerDay) {
    days += 1;
    milliseconds = 0;
  }
  const QDate date = QDate::fromJulianDay(DayZero() + static_cast<qint64>(days));
  QString text = locale.toString(date, QLocale::ShortFormat);
  if (milliseconds != 0) {
    const QTime time = QTime::fromMSecsSinceStartOfDay(static_cast<int>(milliseconds));
    text += QLatin1Char(' ') + locale.toString(time, LongTimeFormatWithoutZone(locale));
  }
  return text;
}

}  // namespace ombrix
