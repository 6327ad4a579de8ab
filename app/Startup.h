#pragma once
// What the program checks before the toolkit opens a display: the command line (whether there
// is a screen to work on is the screen loader's question). Also its one way out when that
// display goes away while it runs. Everything here runs on the main thread, before or beside the
// message loop.

#include <string>

namespace ombrix {

enum TStartAction { saRun, saHelp, saVersion, saBadOption };

struct TCommandLine {
  TStartAction action = saRun;
  // The first argument that is no option of ours (saBadOption).
  std::string badOption;
};

// The program knows --help (-h) and --version (-V); anything else is a bad option.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage lines of --help, and the line of --version ("Ombrix 1.5.2.0"), newline-ended.
std::string UsageText();
std::string VersionText();

// The line said once at start when the X server turns out to be Xwayland, and the title and
// text of the message box that says the same.
extern const char* const kXwaylandLine;
extern const char* const kXwaylandTitle;
extern const char* const kXwaylandNotice;

// From now on, when the toolkit reports that its X11 connection broke, the program says so in
// one line and ends with status 1 instead of the toolkit's own exit. Call once, before the
// QApplication is made.
void ExitCleanlyWhenTheDisplayIsLost();

// The end of the program when its X server has gone: one line on stderr, exit status 1. Never
// returns. Runs no destructors, which would only talk to the server that is no longer there;
// nothing of ours is being written then (files are written on this thread, between events).
[[noreturn]] void LeaveForLostDisplay();

}  // namespace ombrix
