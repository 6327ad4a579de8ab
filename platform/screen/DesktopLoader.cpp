#include "DesktopLoader.h"

#include <xcb/xcb.h>

#include "X11Desktop.h"

namespace ombrix {

ScreenPlan PlanScreen(ScreenChoice choice, const char* display, const char* waylandDisplay) {
  ScreenPlan plan;
  switch (choice) {
    case ScreenChoice::Automatic:
    case ScreenChoice::X11:
      // X11 also serves a Wayland session that has Xwayland; without it there is no screen.
      plan.backend = ScreenChoice::X11;
      plan.problem = DisplayProblem(display, waylandDisplay);
      plan.toolkitPlatform = "xcb";
      break;
  }
  return plan;
}

std::string DisplayProblem(const char* display, const char* waylandDisplay) {
  const bool wayland = waylandDisplay != nullptr && *waylandDisplay != '\0';
  if (display == nullptr || *display == '\0') {
    if (wayland)
      return "ombrix: this is a Wayland session without X11 (WAYLAND_DISPLAY is set, DISPLAY is "
             "not); log in to an X11 session, or start Ombrix under Xwayland (DISPLAY set), "
             "knowing that the windows of Wayland programs cannot be magnified\n";
    return "ombrix: no X11 display (DISPLAY is not set); start Ombrix inside an X11 session, or "
           "set DISPLAY to a running X server, for example DISPLAY=:0\n";
  }
  xcb_connection_t* connection = xcb_connect(display, nullptr);
  const int error = xcb_connection_has_error(connection);
  xcb_disconnect(connection);
  if (error == 0) return {};
  return std::string("ombrix: cannot open the X11 display \"") + display +
         "\"; check that an X server runs there and that you may use it (DISPLAY, XAUTHORITY)\n";
}

std::unique_ptr<Desktop> OpenScreen(const ScreenPlan& plan) {
  switch (plan.backend) {
    case ScreenChoice::Automatic:
    case ScreenChoice::X11:
      return X11Desktop::Open();
  }
  return nullptr;
}

}  // namespace ombrix
