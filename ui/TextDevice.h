#pragma once
// The default printer as a text device: lines written one after the other from the top-left
// corner of the printable area, broken where they are wider than the page, on as many pages as
// they take. No dialog, header, footer or page number; the printer's default font.

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace ombrix {

// What the layout needs to know of the font, in printer units.
struct TTextDeviceFont {
  int CharHeight = 0;
  int AverageCharWidth = 0;
  // The advance of a piece of text on one line.
  std::function<int(const QString&)> Width;
};

// A piece of text at (X, Y), its top-left corner, on page Page (0 is the first).
struct TPlacedText {
  int Page = 0;
  int X = 0;
  int Y = 0;
  QString Text;
};

// Lays out `lines`, each written and then ended, on pages of pageWidth x pageHeight units:
// - a line is as high as its text plus 2 units; a line with nothing written on it is as high
//   as a character;
// - a line wider than the page breaks after the last character that fits (at least one
//   character on a line of its own) and goes on at the left edge of the next line;
// - a tab moves on to the next multiple of 8 average character widths;
// - a new page begins when the next line would start lower than the page height less twice
//   the height of the line just ended.
// Pieces of text come out in the order they are written.
std::vector<TPlacedText> LayoutTextDevice(const QStringList& lines, const TTextDeviceFont& font,
                                          int pageWidth, int pageHeight);

// Prints `lines` on the system's default printer as the layout above gives them; no empty page
// follows the last line. Raises EPrinter when there is no default printer, and
// EOmbrixError with the printing system's own text when the printer fails; a started job is
// ended on every path. GUI thread (needs a QGuiApplication).
void PrintOnDefaultPrinter(const QStringList& lines);

}  // namespace ombrix
