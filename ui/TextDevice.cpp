#include "TextDevice.h"

#include <cups/cups.h>

#include <QFontMetrics>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <utility>

#include "Errors.h"

namespace ombrix {
namespace {

constexpr int kTabStopChars = 8;

class TLayout {
 public:
  TLayout(const TTextDeviceFont& font, int pageWidth, int pageHeight)
      : font_(font), pageWidth_(pageWidth), pageHeight_(pageHeight) {}

  void WriteLine(const QString& line) {
    const QStringList segments = line.split(QLatin1Char('\t'));
    for (qsizetype i = 0; i < segments.size(); ++i) {
      if (i > 0) Tab();
      Write(segments[i]);
    }
    EndLine();
  }

  std::vector<TPlacedText> Take() { return std::move(placed_); }

 private:
  void Tab() {
    const int stop = std::max(1, kTabStopChars * font_.AverageCharWidth);
    x_ = (x_ / stop + 1) * stop;
    Written();
  }

  void Write(const QString& text) {
    QString rest = text;
    while (!rest.isEmpty()) {
      const qsizetype fit = Fitting(rest);
      if (fit == 0) {
        EndLine();  // not one character fits after what the line holds already
        continue;
      }
      const QString piece = rest.left(fit);
      placed_.push_back({page_, x_, y_, piece});
      Written();
      rest.remove(0, fit);
      if (rest.isEmpty()) {
        x_ += font_.Width(piece);
      } else {
        EndLine();
      }
    }
  }

  // How many leading code units of `text` fit between the current position and the right
  // edge, broken only between characters; on an empty line at least the first character.
  qsizetype Fitting(const QString& text) const {
    std::vector<qsizetype> ends;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    for (qsizetype at = finder.toNextBoundary(); at > 0; at = finder.toNextBoundary()) {
      ends.push_back(at);
    }
    // Widths grow with the length: the last end that fits, by bisection.
    const auto past = std::partition_point(ends.begin(), ends.end(), [&](qsizetype end) {
      return x_ + font_.Width(text.left(end)) <= pageWidth_;
    });
    if (past != ends.begin()) return *(past - 1);
    return x_ == 0 && !ends.empty() ? ends.front() : 0;
  }

  void Written() { lineHeight_ = std::max(lineHeight_, font_.CharHeight + 2); }

  void EndLine() {
    const int height = lineHeight_ != 0 ? lineHeight_ : font_.CharHeight;
    y_ += height;
    if (y_ > pageHeight_ - 2 * height) {
      ++page_;
      y_ = 0;
    }
    x_ = 0;
    lineHeight_ = 0;
  }

  const TTextDeviceFont& font_;
  const int pageWidth_;
  const int pageHeight_;
  int page_ = 0;
  int x_ = 0;
  int y_ = 0;
  int lineHeight_ = 0;
  std::vector<TPlacedText> placed_;
};

// The default destination's name, as the printing system has it; empty when there is none.
QString DefaultPrinterName() {
  cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, nullptr, nullptr);
  if (dest == nullptr) return {};
  const QString name = QString::fromLocal8Bit(dest->name);
  cupsFreeDests(1, dest);
  return name;
}

// The printing system's text for the last request of this thread, when it failed.
bool LastRequestFailed(std::string& text) {
  if (cupsLastError() <= IPP_STATUS_OK_EVENTS_COMPLETE) return false;
  const char* message = cupsLastErrorString();
  text = message != nullptr && *message != '\0' ? message : ippErrorString(cupsLastError());
  return true;
}

}  // namespace

std::vector<TPlacedText> LayoutTextDevice(const QStringList& lines, const TTextDeviceFont& font,
                                          int pageWidth, int pageHeight) {
  TLayout layout(font, pageWidth, pageHeight);
  for (const QString& line : lines) layout.WriteLine(line);
  return layout.Take();
}

void PrintOnDefaultPrinter(const QStringList& lines) {
  const QString name = DefaultPrinterName();
  const QPrinterInfo info = name.isEmpty() ? QPrinterInfo() : QPrinterInfo::printerInfo(name);
  if (info.isNull()) throw EPrinter();
  QPrinter printer(info, QPrinter::HighResolution);

  std::string error;
  {
    QPainter painter;
    if (!painter.begin(&printer)) {
      if (!LastRequestFailed(error)) error = "Impossible de démarrer l'impression";
      throw EOmbrixError(error);
    }
    // Ends the job, and so hands it to the printing system, however the writing ends.
    struct TEndJob {
      QPainter& painter;
      ~TEndJob() {
        if (painter.isActive()) painter.end();
      }
    } endJob{painter};

    const QFontMetrics metrics = painter.fontMetrics();
    const TTextDeviceFont font{
        metrics.height(), metrics.averageCharWidth(),
        [&metrics](const QString& text) { return metrics.horizontalAdvance(text); }};
    int page = 0;
    for (const TPlacedText& piece :
         LayoutTextDevice(lines, font, printer.width(), printer.height())) {
      for (; page < piece.Page; ++page) printer.newPage();
      painter.drawText(piece.X, piece.Y + metrics.ascent(), piece.Text);
    }
  }
  if (LastRequestFailed(error)) throw EOmbrixError(error);
  if (printer.printerState() == QPrinter::Error) throw EOmbrixError("Erreur d'impression");
}

}  // namespace ombrix
