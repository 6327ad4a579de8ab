// The help window, the about box, the version and file date they show, and the main window's
// "Help" and "About" buttons, driven through the real modal windows.

#include <gtest/gtest.h>
#include <utime.h>

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest/QTest>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <ostream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>
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

// Environment variables changed for one test and put back afterwards.
class ScopedEnvironment {
 public:
  ScopedEnvironment() = default;
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;
  ~ScopedEnvironment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }
  void Set(const char* name, const QString& value) {
    Save(name);
    ::setenv(name, value.toLocal8Bit().constData(), 1);
  }
  void Unset(const char* name) {
    Save(name);
    ::unsetenv(name);
  }

 private:
  void Save(const char* name) {
    const char* value = std::getenv(name);
    saved_.emplace_back(name, value != nullptr ? std::optional<std::string>(value) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

QMessageBox* ShownMessageBox() {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(window); box != nullptr && box->isVisible())
      return box;
  }
  return nullptr;
}

struct MailCase {
  const char* name;
  int openerStatus;  // how the program that takes the address ends
  bool told;         // whether the user is told that no mail program answered
};

class MailLink : public ::testing::TestWithParam<MailCase> {};

// A desktop of the test's own with no display and no mail handler, where xdg-open's last
// resort, the browser, is a script that records the address and ends with the row's status.
TEST_P(MailLink, TellsWhomToWriteToWhenNoMailProgramAnswers) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString received = dir.filePath("received");
  QFile script(dir.filePath("browser"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write(QStringLiteral("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\nexit %2\n")
                   .arg(received)
                   .arg(GetParam().openerStatus)
                   .toUtf8());
  script.close();
  script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
  ScopedEnvironment environment;
  environment.Set("BROWSER", script.fileName());
  for (const char* name : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"})
    environment.Set(name, dir.path());
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                           "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID"})
    environment.Unset(name);

  TAboutBox about;
  about.show();
  QTest::mouseClick(about.Label3, Qt::LeftButton);
  // The opener has ended once the process that ran it is gone.
  const auto openers = [] {
    return QCoreApplication::instance()->findChildren<QProcess*>(Qt::FindDirectChildrenOnly);
  };
  ASSERT_TRUE(
      QTest::qWaitFor([&] { return QFile::exists(received) && openers().isEmpty(); }, 20000));
  QFile got(received);
  ASSERT_TRUE(got.open(QIODevice::ReadOnly));
  EXPECT_EQ(got.readAll().toStdString(), "mailto:ombrix@example.org");
  QMessageBox* box = ShownMessageBox();
  ASSERT_EQ(box != nullptr, GetParam().told);
  if (box != nullptr) {
    EXPECT_EQ(box->text().toStdString(),
              "No mail program answered.\nPlease write to ombrix@example.org.");
    box->close();
  }
}

INSTANTIATE_TEST_SUITE_P(About, MailLink,
                         ::testing::Values(MailCase{"NoMailProgramAnswers", 1, true},
                                           MailCase{"MailProgramAnswers", 0, false}),
                         [](const auto& row) { return std::string(row.param.name); });

// The keys and mouse actions, in the help window's text after its general note and in the
// README, each with the same names.
TEST(KeysAndMouse, HelpWindowAndReadmeNameEveryOne) {
  const std::string help = HelpText().toStdString();
  const std::size_t note = help.find("General note :");
  const std::size_t keys = help.find("Keys and mouse :");
  const std::size_t history = help.find("HISTORY :");
  ASSERT_NE(keys, std::string::npos);
  EXPECT_LT(note, keys);
  EXPECT_LT(keys, history);
  std::ifstream file(OMBRIX_README);
  std::stringstream text;
  text << file.rdbuf();
  const std::string readme = text.str();
  const std::size_t section = readme.find("\n## Keys and mouse\n");
  ASSERT_NE(section, std::string::npos);
  const std::string readmeKeys =
      readme.substr(section, readme.find("\n## ", section + 1) - section);
  for (const char* action : {"Space", "F", "Arrows", "Ctrl+M", "Ctrl+C",
                             "Left click on a frozen picture", "Right click on the window"}) {
    EXPECT_NE(help.find(std::string("\n- ") + action + ":", keys), std::string::npos) << action;
    EXPECT_NE(readmeKeys.find(std::string("\n| ") + action + " |"), std::string::npos) << action;
  }
  // The zoom's steps and the picture files the filters read, as the program has them.
  EXPECT_NE(readme.find("zoomed 1, 2, 4, 6 or 8 times"), std::string::npos);
  EXPECT_NE(readme.find("BMP of 16, 24 or 32 bits"), std::string::npos);
}

}  // namespace
}  // namespace ombrix::test
