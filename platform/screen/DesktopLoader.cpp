#include "DesktopLoader.h"

#include <xcb/xcb.h>

#include "PortalDesktop.h"
#include "X11Desktop.h"

namespace ombrix {

ScreenPlan PlanScreen(ScreenChoice choice, const char* display, const char* waylandDisplay) {
  ScreenPlan plan;
  const bool wayland = waylandDisplay != nullptr && *waylandDisplay != '\0';
  switch (choice) {
    case ScreenChoice::Automatic:
      // Under Xwayland the X server sees only X11 programs' windows: the screen cast sees all.
      plan.backend = wayland ? ScreenChoice::Portal : ScreenChoice::X11;
      break;
    case ScreenChoice::X11:
    case ScreenChoice::Portal:
      plan.backend = choice;
      break;
  }
  // Our windows are X11 windows with either backend: without an X server there is no start.
  plan.problem = DisplayProblem(display, waylandDisplay);
  plan.toolkitPlatform = "xcb";
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

std::unique_ptr<Desktop> OpenScreen(const ScreenPlan& plan, ScreenFailure& failure) {
  failure = {};
  switch (plan.backend) {
    case ScreenChoice::Automatic:
    case ScreenChoice::X11:
      // It says its reason on stderr itself.
      return X11Desktop::Open();
    case ScreenChoice::Portal: {
      TPortalFailure why;
      std::unique_ptr<PortalDesktop> screen = PortalDesktop::Open({}, why);
      if (!screen) failure = {PortalProblemLine(why), PortalProblemAdvice(why)};
      return screen;
    }
  }
  return nullptr;
}

ScreenFailure LossOf(Desktop& screen) {
  if (auto* cast = dynamic_cast<PortalDesktop*>(&screen)) {
    const TPortalFailure why{ppFailed, cast->Failure()};
    return {PortalProblemLine(why), PortalProblemAdvice(why)};
  }
  return {};
}

}  // namespace ombrix
