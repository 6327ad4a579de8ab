#include "Startup.h"

#include <QString>
#include <QtGlobal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "Version.h"

namespace ombrix {

const char* const kXwaylandLine =
    "ombrix: the X server is Xwayland: only the windows of X11 programs can be magnified; the "
    "windows of Wayland programs show black\n";
const char* const kXwaylandTitle = "Ombrix under Xwayland";
const char* const kXwaylandNotice =
    "Ombrix runs under Xwayland, inside a Wayland session.\n\n"
    "Only the windows of X11 programs can be magnified. The windows of Wayland programs, and "
    "the desktop itself, cannot be seen by an X11 program and show black.\n\n"
    "To magnify everything, log in to an X11 session.";

namespace {

QtMessageHandler toolkitHandler = nullptr;

void WatchToolkitMessages(QtMsgType type, const QMessageLogContext& context,
                          const QString& message) {
  // The xcb platform's words when its connection breaks; it exits right after them.
  if (message.startsWith(QLatin1String("The X11 connection broke"))) LeaveForLostDisplay();
  if (toolkitHandler != nullptr) toolkitHandler(type, context, message);
}

}  // namespace

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine line;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--help" || argument == "-h") {
      line.action = saHelp;
    } else if (argument == "--version" || argument == "-V") {
      if (line.action != saHelp) line.action = saVersion;
    } else {
      line.action = saBadOption;
      line.badOption = argument;
      break;
    }
  }
  return line;
}

std::string UsageText() {
  return "Usage: ombrix [--help | --version]\n"
         "A screen magnifier and live image filter for X11 desktops.\n"
         "Runs on the X11 display named by DISPLAY; it takes no other arguments.\n"
         "  -h, --help     show this help and exit\n"
         "  -V, --version  show the version and exit\n";
}

std::string VersionText() {
  std::string text = "Ombrix ";
  for (std::size_t i = 0; i < kProgramVersion.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(kProgramVersion[i]);
  }
  return text + "\n";
}

void ExitCleanlyWhenTheDisplayIsLost() {
  toolkitHandler = qInstallMessageHandler(WatchToolkitMessages);
}

void LeaveForLostDisplay() {
  std::fputs("ombrix: the connection to the X server was lost (the X server ended); Ombrix ends\n",
             stderr);
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace ombrix
