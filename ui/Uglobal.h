#pragma once
// The program's version and the date of a file (unit Uglobal), and the names and addresses that
// the help window and the about box show. No window is involved: any thread.

#include <QLocale>
#include <QString>
#include <array>
#include <cstdint>
#include <string>

namespace ombrix {

// The product's web page and the addresses of its authors.
inline constexpr char kProductPage[] = "https://ombrix.example.org/";
inline constexpr char kAuthorsAddress[] = "ombrix@example.org";
inline constexpr char kContributorsAddress[] = "contrib@example.org";

// A date and time as a number of days since 30 December 1899, 00:00, in local time; the
// fraction is the time of day. 0 stands for no date.
using TDateTime = double;

// The four numbers in decimal without leading zeros, most significant first, joined by ".":
// {10, 0, 12, 345} gives "10.0.12.345".
std::string GetAppVersion(const std::array<uint16_t, 4>& version);
// The program's own version, set once in the build: "1.5.2.0" for this release.
std::string GetAppVersion();

// The last change of `fileName` in local time, in steps of two seconds (an odd second counts
// as the even one before it); 0 when there is no such file.
TDateTime GetFileDateTime(const std::string& fileName);

// The full path of the running program's file; empty when the system cannot tell.
std::string ProgramFileName();

// `value` as `locale` writes it: its short date, then a blank and its long time without the
// time zone, the time left out at exactly midnight.
QString DateTimeToStr(TDateTime value, const QLocale& locale = QLocale());

}  // namespace ombrix
