#pragma once
// Picks the screen backend for the session and opens it, so that the program's start never
// names a backend: X11's in an X11 session, the desktop's screen cast in a Wayland session
// (the program's windows stay X11 windows under Xwayland there).

#include <memory>
#include <string>

#include "Desktop.h"

namespace ombrix {

// Which backend the caller asks for: Automatic lets the session decide.
enum class ScreenChoice { Automatic, X11, Portal };

// What the loader settled on for the session, before any toolkit starts.
struct ScreenPlan {
  ScreenChoice backend = ScreenChoice::X11;
  // Empty when the backend can run; otherwise the one line, newline-ended, that says what is
  // wrong and what to do.
  std::string problem;
  // The toolkit platform (QT_QPA_PLATFORM) the program must draw through: the backends leave
  // out the program's own windows by their X11 ids, so they must be X11 windows.
  const char* toolkitPlatform = "xcb";
};

// Settles the backend for `choice` from the session's environment: `display` is the DISPLAY
// value and `waylandDisplay` WAYLAND_DISPLAY (null when unset). Automatic takes the screen cast
// when both are set (a Wayland session with Xwayland), X11 when only DISPLAY is. Every backend
// needs the X11 display for the program's windows. Opens and closes one connection to check
// that the display accepts us.
ScreenPlan PlanScreen(ScreenChoice choice, const char* display, const char* waylandDisplay);

// Empty when `display` names an X server that accepts us; otherwise the line that says what is
// wrong. `waylandDisplay` only shapes the message.
std::string DisplayProblem(const char* display, const char* waylandDisplay);

// Why a screen could not start or was lost: the one line for stderr (newline-ended) and, when
// the user can do something about it, the text of a message box that says what.
struct ScreenFailure {
  std::string line;
  std::string advice;
};

// Opens the planned backend on the session's display; the screen cast may first ask the user
// for consent, and takes one frame of every monitor before it returns. Null, with `failure`
// filled, when it cannot start. Call it before the program's windows show.
std::unique_ptr<Desktop> OpenScreen(const ScreenPlan& plan, ScreenFailure& failure);

// Why `screen` was lost once its ConnectionLost said so. An empty line means that its server
// itself has gone (then no window can show anything either).
ScreenFailure LossOf(Desktop& screen);

}  // namespace ombrix
