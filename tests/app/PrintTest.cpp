// Printing the help text: the text device's layout with a font of fixed widths, and the real
// thing on a CUPS server that each test starts for itself, whose one queue keeps what it gets
// (the PDF that Qt's CUPS engine sends) in a file that pdftotext reads back.

#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "TextDevice.h"
#include "UHelp.h"

namespace ombrix::test {
namespace {

// Every character 10 units wide, 20 high.
const TTextDeviceFont kFixedFont{
    20, 10, [](const QString& text) { return 10 * static_cast<int>(text.size()); }};

struct LayoutCase {
  const char* name;
  QStringList lines;
  int pageWidth;
  int pageHeight;
  std::vector<std::string> expected;  // "page x,y text"
};

void PrintTo(const LayoutCase& c, std::ostream* os) {
  *os << c.name;
}

class TextDeviceLayout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(TextDeviceLayout, PlacesEveryPieceWhereTheDeviceWritesIt) {
  const LayoutCase& c = GetParam();
  std::vector<std::string> placed;
  for (const TPlacedText& piece :
       LayoutTextDevice(c.lines, kFixedFont, c.pageWidth, c.pageHeight)) {
    placed.push_back(std::to_string(piece.Page) + " " + std::to_string(piece.X) + "," +
                     std::to_string(piece.Y) + " " + piece.Text.toStdString());
  }
  EXPECT_EQ(placed, c.expected);
}

// Lines with text are 20 + 2 high, empty ones 20.
INSTANTIATE_TEST_SUITE_P(
    Rules, TextDeviceLayout,
    ::testing::Values(
        LayoutCase{"FromTheTopLeftOneLineUnderTheOther",
                   {"ab", "cd"},
                   100,
                   1000,
                   {"0 0,0 ab", "0 0,22 cd"}},
        LayoutCase{
            "EmptyLineIsOneCharacterHigh", {"a", "", "b"}, 100, 1000, {"0 0,0 a", "0 0,42 b"}},
        LayoutCase{"LongLineBreaksAfterTheLastCharacterThatFits",
                   {"abcdefgh", "i"},
                   35,
                   1000,
                   {"0 0,0 abc", "0 0,22 def", "0 0,44 gh", "0 0,66 i"}},
        LayoutCase{"LineExactlyAsWideAsThePageStaysWhole", {"abcd"}, 40, 1000, {"0 0,0 abcd"}},
        LayoutCase{
            "CharacterWiderThanThePageStandsAlone", {"ab"}, 5, 1000, {"0 0,0 a", "0 0,22 b"}},
        LayoutCase{"TabsGoToMultiplesOfEightAverageWidths",
                   {"a\tb", "abcdefghi\tj", "\tk"},
                   300,
                   1000,
                   {"0 0,0 a", "0 80,0 b", "0 0,22 abcdefghi", "0 160,22 j", "0 80,44 k"}},
        LayoutCase{"TabPastTheEdgeBreaksTheNextText", {"a\tb"}, 85, 1000, {"0 0,0 a", "0 0,22 b"}},
        // After the third line the next would start at 66, below 100 - 2 x 22.
        LayoutCase{"NewPageBelowHeightLessTwiceTheLineJustEnded",
                   {"1", "2", "3", "4"},
                   100,
                   100,
                   {"0 0,0 1", "0 0,22 2", "0 0,44 3", "1 0,0 4"}},
        // Empty lines end higher on the page: 20 + 20 + 20 = 60 is not below 100 - 2 x 20.
        LayoutCase{"EmptyLinesUseTheirOwnHeightForTheNewPageRule",
                   {"", "", "", "a", "b"},
                   100,
                   100,
                   {"0 0,60 a", "1 0,0 b"}}),
    [](const auto& row) { return std::string(row.param.name); });

// A CUPS server of the test's own, in the foreground on a socket in a private folder, with no
// queue or one default queue whose backend keeps each job's data in a file.
class PrivateCups {
 public:
  enum class Queue { None, Accepting, Rejecting };

  explicit PrivateCups(Queue queue) {
    if (!dir_.isValid()) return;
    const QString root = dir_.path();
    QDir(root).mkpath("etc");
    QDir(root).mkpath("bin/backend");
    QDir(root).mkpath("bin/daemon");
    for (const char* folder : {"spool", "tmp", "cache", "state", "log"}) QDir(root).mkpath(folder);
    QFile::link("/usr/lib/cups/daemon/cups-exec", root + "/bin/daemon/cups-exec");
    Write("etc/cupsd.conf", "Listen " + Socket() +
                                "\nLogLevel warn\n<Location />\nOrder allow,deny\nAllow all\n"
                                "</Location>\n");
    Write("etc/cups-files.conf", "ServerRoot " + root + "/etc\nServerBin " + root +
                                     "/bin\nRequestRoot " + root + "/spool\nTempDir " + root +
                                     "/tmp\nCacheDir " + root + "/cache\nStateDir " + root +
                                     "/state\nErrorLog " + root + "/log/error_log\nAccessLog " +
                                     root + "/log/access_log\nPageLog " + root +
                                     "/log/page_log\nPrintcap " + root + "/printcap\n");
    // Writes the job's data whole, then renames it: the file appears complete or not at all.
    Write("bin/backend/keep",
          "#!/bin/sh\n[ $# -eq 0 ] && { echo 'file keep \"Unknown\" \"Keep\"'; exit 0; }\n"
          "out=${DEVICE_URI#keep:}\ncat \"${6:-/dev/stdin}\" > \"$out.part\" && "
          "mv \"$out.part\" \"$out\"\n");
    // Only the owner may run it: the server then runs it as that owner, who may write here.
    QFile::setPermissions(root + "/bin/backend/keep", QFile::ReadOwner | QFile::ExeOwner);
    QString printers;
    if (queue != Queue::None) {
      printers = "<DefaultPrinter Ombrix>\nDeviceURI keep:" + OutputFile() +
                 "\nState Idle\nAccepting " + (queue == Queue::Accepting ? "Yes" : "No") +
                 "\nShared No\n</DefaultPrinter>\n";
    }
    Write("etc/printers.conf", printers);

    server_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // Root finds it on its path; others may not have the system folder there.
    QString cupsd = QStandardPaths::findExecutable("cupsd");
    if (cupsd.isEmpty()) cupsd = QStandardPaths::findExecutable("cupsd", {"/usr/sbin"});
    server_.start(cupsd,
                  {"-f", "-c", root + "/etc/cupsd.conf", "-s", root + "/etc/cups-files.conf"});
    if (!server_.waitForStarted(10000)) return;
    ready_ =
        QTest::qWaitFor([&] { return server_.state() == QProcess::Running && Answers(); }, 20000);
    const std::string socket = Socket().toStdString();
    ::setenv("CUPS_SERVER", socket.c_str(), 1);
    ::unsetenv("LPDEST");
    ::unsetenv("PRINTER");
    cupsSetServer(socket.c_str());
  }

  ~PrivateCups() {
    server_.terminate();
    if (!server_.waitForFinished(10000)) {
      server_.kill();
      server_.waitForFinished(10000);
    }
  }

  bool Ready() const { return ready_; }
  QString OutputFile() const { return dir_.path() + "/printed.pdf"; }
  // The jobs the server took, by their control files.
  int Jobs() const {
    return static_cast<int>(QDir(dir_.path() + "/spool").entryList({"c*"}).size());
  }

 private:
  QString Socket() const { return dir_.path() + "/cups.sock"; }

  void Write(const QString& name, const QString& text) {
    QFile file(dir_.path() + "/" + name);
    if (file.open(QIODevice::WriteOnly)) file.write(text.toUtf8());
  }

  bool Answers() const {
    const std::string path = Socket().toStdString();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof(address.sun_path)) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool connected =
        fd >= 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    return connected;
  }

  QTemporaryDir dir_;
  QProcess server_;
  bool ready_ = false;
};

// Clicks "Print..." on a shown help window; returns the error texts it reported.
std::vector<std::string> ClickPrint(TFormHelp& help) {
  std::vector<std::string> reports;
  const TErrorReporter previous =
      SetErrorReporter([&reports](const std::string& text) { reports.push_back(text); });
  QTest::mouseClick(help.SpeedButton2, Qt::LeftButton);
  SetErrorReporter(previous);
  return reports;
}

// The printed text, line by line, right blanks and page breaks left out.
QStringList PrintedLines(const QString& pdf) {
  QProcess reader;
  reader.start("pdftotext", {"-layout", pdf, "-"});
  if (!reader.waitForFinished(30000)) return {};
  QStringList lines = QString::fromUtf8(reader.readAllStandardOutput()).split('\n');
  for (QString& line : lines) {
    line.remove('\f');
    while (!line.isEmpty() && line.back().isSpace()) line.chop(1);
  }
  while (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
  return lines;
}

// Without blanks and with ligatures ("ff" as one glyph) as their letters: the reader may space
// words differently and gives ligatures back as they were drawn.
std::string Letters(const QString& text) {
  QString letters = text.normalized(QString::NormalizationForm_KC);
  letters.remove(' ');
  return letters.toStdString();
}

TEST(Printing, EveryLineOfTheHelpTextInOrderBlankLinesKeptLongLinesContinued) {
  PrivateCups cups(PrivateCups::Queue::Accepting);
  ASSERT_TRUE(cups.Ready());
  TFormHelp help;
  help.show();
  EXPECT_EQ(ClickPrint(help), std::vector<std::string>{});
  EXPECT_TRUE(help.isVisible());
  ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(cups.OutputFile()); }, 30000));

  const QStringList printed = PrintedLines(cups.OutputFile());
  const QStringList memo = HelpText().split('\n');
  qsizetype at = 0;
  int mostPieces = 0;
  for (const QString& line : memo) {
    ASSERT_LT(at, printed.size()) << "missing from the printout: " << line.toStdString();
    if (line.isEmpty()) {
      EXPECT_EQ(printed[at++], QString()) << "no blank line before " << printed[at].toStdString();
      continue;
    }
    // Pieces of one long line follow each other; the reader may space words differently.
    const std::string wanted = Letters(line);
    std::string got;
    int pieces = 0;
    while (at < printed.size() && got.size() < wanted.size()) {
      got += Letters(printed[at++]);
      ++pieces;
    }
    EXPECT_EQ(got, wanted);
    mostPieces = std::max(mostPieces, pieces);
  }
  EXPECT_EQ(at, printed.size());
  EXPECT_GT(mostPieces, 1) << "no line was wider than the page";
}

TEST(Printing, WithoutADefaultPrinterTheErrorIsShownAndNoJobStarts) {
  PrivateCups cups(PrivateCups::Queue::None);
  ASSERT_TRUE(cups.Ready());
  TFormHelp help;
  help.show();
  EXPECT_EQ(ClickPrint(help),
            std::vector<std::string>{"Aucune imprimante par défaut sélectionnée"});
  EXPECT_TRUE(help.isVisible());
  EXPECT_EQ(cups.Jobs(), 0);
}

TEST(Printing, APrinterThatRefusesTheJobShowsItsError) {
  PrivateCups cups(PrivateCups::Queue::Rejecting);
  ASSERT_TRUE(cups.Ready());
  TFormHelp help;
  help.show();
  EXPECT_EQ(ClickPrint(help),
            std::vector<std::string>{"Destination \"Ombrix\" is not accepting jobs."});
  EXPECT_TRUE(help.isVisible());
  EXPECT_EQ(cups.Jobs(), 0);
  EXPECT_FALSE(QFile::exists(cups.OutputFile()));
}

}  // namespace
}  // namespace ombrix::test
