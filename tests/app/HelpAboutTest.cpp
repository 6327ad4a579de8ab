// The help window, the about box, the version and file date they show, and the main window's
// "Help" and "About" buttons, driven through the real modal windows.

#include <gtest/gtest.h>
#include <utime.h>

#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ErrorReport.h"
#include "UHelp.h"
#include "Uglobal.h"
#include "WhileModal.h"
#include "WindowTestSupport.h"
#include "uAbout.h"

namespace ombrix::test {
namespace {

TEST(Version, FourNumbersJoinedWithoutLeadingZeros) {
  EXPECT_EQ(GetAppVersion({10, 0, 12, 345}), "10.0.12.345");
  EXPECT_EQ(GetAppVersion({0, 0, 0, 0}), "0.0.0.0");
  EXPECT_EQ(GetAppVersion({65535, 1, 2, 3}), "65535.1.2.3");
  EXPECT_EQ(GetAppVersion(), "1.5.2.0");
}

TEST(Version, HelpTitleAndAboutBoxShowTheProgramsVersion) {
  TFormHelp help;
  EXPECT_EQ(help.Label1->text(), QString("Ombrix - Ver.1.5.2.0"));
  TAboutBox about;
  EXPECT_EQ(about.Label7->text(), QString("Version 1.5.2.0"));
  EXPECT_EQ(about.Label8->text(), DateTimeToStr(GetFileDateTime(ProgramFileName())));
  EXPECT_NE(GetFileDateTime(ProgramFileName()), 0.0);
}

// A file changed at a known local time, its date as a number and as the about box writes it.
struct FileDateCase {
  const char* name;
  QTime modified;  // on 9 March 2024; invalid: no file at all
  double expectedDays;
  const char* expectedText;  // in the English (United States) formats
};

void PrintTo(const FileDateCase& c, std::ostream* os) {
  *os << c.name;
}

class FileDate : public ::testing::TestWithParam<FileDateCase> {};

TEST_P(FileDate, LocalTimeInTwoSecondStepsAndZeroWhenMissing) {
  const FileDateCase& c = GetParam();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const std::string file = dir.filePath("dated").toStdString();
  if (c.modified.isValid()) {
    ASSERT_TRUE(QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly));
    const QDateTime when(QDate(2024, 3, 9), c.modified, Qt::LocalTime);
    const utimbuf times{when.toSecsSinceEpoch(), when.toSecsSinceEpoch()};
    ASSERT_EQ(::utime(file.c_str(), &times), 0);
  }
  const TDateTime date = GetFileDateTime(file);
  EXPECT_DOUBLE_EQ(date, c.expectedDays);
  if (c.modified.isValid()) {
    EXPECT_EQ(DateTimeToStr(date, QLocale(QLocale::English, QLocale::UnitedStates)),
              QString(c.expectedText));
  }
}

// 9 March 2024 is day 45360 after 30 December 1899.
INSTANTIATE_TEST_SUITE_P(
    Files, FileDate,
    ::testing::Values(FileDateCase{"Afternoon", QTime(15, 4, 5),
                                   45360 + (15 * 3600 + 4 * 60 + 4) / 86400.0, "3/9/24 3:04:04 PM"},
                      FileDateCase{"OneSecondPastMidnight", QTime(0, 0, 1), 45360, "3/9/24"},
                      FileDateCase{"EvenSecondBeforeMidnight", QTime(23, 59, 58),
                                   45360 + (23 * 3600 + 59 * 60 + 58) / 86400.0,
                                   "3/9/24 11:59:58 PM"},
                      FileDateCase{"Missing", QTime(), 0, ""}),
    [](const auto& row) { return std::string(row.param.name); });

struct ModalCase {
  const char* name;
  QPushButton* TForm1::*button;
  const char* caption;
  QSize client;
};

void PrintTo(const ModalCase& c, std::ostream* os) {
  *os << c.name;
}

class ModalWindow : public ::testing::TestWithParam<ModalCase> {
 protected:
  MemoryDesktop desktop{1600, 1000};
};

TEST_P(ModalWindow, PausesTheFrozenPictureOffTheTopLayerAndRunsItAgainAfterwards) {
  const ModalCase& c = GetParam();
  auto form = OpenWindow(desktop, 361, 432, QPoint(10, 10));
  form->Timer1->SetInterval(0);  // frozen before the window opens
  form->SetTimerPeriod(75);
  QPointer<QWidget> opened;
  WhileModal whileOpen([&](QWidget& window) {
    opened = &window;
    EXPECT_EQ(window.windowTitle(), QString(c.caption));
    EXPECT_EQ(window.size(), c.client);
    EXPECT_EQ(window.parentWidget(), nullptr);
    EXPECT_TRUE(window.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(form->Frozen()) << "a frame cycle could run";
    EXPECT_FALSE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    if (auto* help = dynamic_cast<TFormHelp*>(&window)) {
      QTest::mouseClick(help->SpeedButton1, Qt::LeftButton);  // "Close"
      EXPECT_FALSE(window.isVisible());
    }
  });
  QTest::mouseClick(form.get()->*c.button, Qt::LeftButton);
  ASSERT_TRUE(whileOpen.Ran());
  EXPECT_TRUE(opened.isNull()) << "the window was not released";
  EXPECT_EQ(form->Timer1->Interval(), 75);
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, ModalWindow,
    ::testing::Values(ModalCase{"Help", &TForm1::BitBtn2, "Help...", QSize(573, 329)},
                      ModalCase{"About", &TForm1::BitBtn1, "About", QSize(383, 219)}),
    [](const auto& row) { return std::string(row.param.name); });

TEST(ModalWindowFailure, TimerRunsAndStayOnTopReturnsWhenShowingThrows) {
  MemoryDesktop desktop(1600, 1000);
  auto form = OpenWindow(desktop, 361, 432, QPoint(10, 10));
  form->Timer1->SetInterval(0);
  std::vector<std::string> reports;
  const TErrorReporter previous =
      SetErrorReporter([&reports](const std::string& text) { reports.push_back(text); });
  form->ModalRunner = [](QDialog&) { throw std::runtime_error("cannot show"); };
  QTest::mouseClick(form->BitBtn2, Qt::LeftButton);
  SetErrorReporter(previous);
  EXPECT_EQ(reports, std::vector<std::string>{"cannot show"});
  EXPECT_EQ(form->Timer1->Interval(), form->TimerPeriod());
  EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_EQ(QApplication::topLevelWidgets().size(), 1) << "the help window was not released";
}

}  // namespace
}  // namespace ombrix::test
