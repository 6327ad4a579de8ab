#pragma once
// The X11 side of a session (Xwayland in the headless GNOME session, or a plain X server): finds
// Ombrix's windows and answers them as a user would.

#include <xcb/xcb.h>

#include <string>

#include "Graphics.h"

namespace ombrix::test {

class X11Session {
 public:
  // On DISPLAY when `display` is null.
  explicit X11Session(const char* display = nullptr);
  ~X11Session();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  xcb_connection_t* Connection() const { return c_; }
  xcb_window_t Root() const;
  // A mapped window whose WM_NAME starts with `prefix`, with its rectangle on the root and its
  // whole name; 0 when there is none.
  xcb_window_t Find(const std::string& prefix, TRect* rect = nullptr,
                    std::string* wholeName = nullptr);
  // Answers the message box `window` with its default button, from the keyboard (XTEST).
  static bool PressReturnIn(xcb_window_t window);

 private:
  TRect RectOf(xcb_window_t w, xcb_window_t root);
  xcb_connection_t* c_;
};

}  // namespace ombrix::test
