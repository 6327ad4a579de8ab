#pragma once
// Picks the screen backend for the session and opens it, so that the program's start never
// names a backend. Today there is one, X11's (also under Xwayland); a second one joins as a
// new ScreenChoice, its check in ScreenProblem and its opening in OpenScreen.

#include <memory>
#include <string>

#include "Desktop.h"

namespace ombrix {

// Which backend the caller asks for: Automatic lets the session decide.
enum class ScreenChoice { Automatic, X11 };

// What the loader settled on for the session, before any toolkit starts.
struct ScreenPlan {
  ScreenChoice backend = ScreenChoice::X11;
  // Empty when the backend can run; otherwise the one line, newline-ended, that says what is
  // wrong and what to do.
  std::string problem;
  // The toolkit platform (QT_QPA_PLATFORM) the program must draw through: the backend leaves
  // out the program's own windows by their native ids, so they must be the backend's own.
  const char* toolkitPlatform = "xcb";
};

// Settles the backend for `choice` from the session's environment: `display` is the DISPLAY
// value and `waylandDisplay` WAYLAND_DISPLAY (null when unset). Opens and closes one
// connection to check that the display accepts us.
ScreenPlan PlanScreen(ScreenChoice choice, const char* display, const char* waylandDisplay);

// Empty when `display` names an X server that accepts us; otherwise the line that says what is
// wrong. `waylandDisplay` only shapes the message.
std::string DisplayProblem(const char* display, const char* waylandDisplay);

// Opens the planned backend on the session's display. Null, with the reason on stderr, when it
// cannot start.
std::unique_ptr<Desktop> OpenScreen(const ScreenPlan& plan);

}  // namespace ombrix
