#include "X11Windows.h"

#include <cstdlib>
#include <vector>

namespace ombrix::test {

X11Session::X11Session(const char* display) : c_(xcb_connect(display, nullptr)) {}

X11Session::~X11Session() {
  xcb_disconnect(c_);
}

xcb_window_t X11Session::Root() const {
  return xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
}

xcb_window_t X11Session::Find(const std::string& prefix, TRect* rect, std::string* wholeName) {
  const xcb_window_t root = Root();
  std::vector<xcb_window_t> pending = {root};
  while (!pending.empty()) {
    const xcb_window_t w = pending.back();
    pending.pop_back();
    auto* name = xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, w, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 0, 256), nullptr);
    std::string text;
    if (name) {
      text.assign(static_cast<const char*>(xcb_get_property_value(name)),
                  static_cast<std::size_t>(xcb_get_property_value_length(name)));
      free(name);
    }
    auto* attributes =
        xcb_get_window_attributes_reply(c_, xcb_get_window_attributes(c_, w), nullptr);
    const bool viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    free(attributes);
    if (viewable && !text.empty() && text.rfind(prefix, 0) == 0) {
      if (rect) *rect = RectOf(w, root);
      if (wholeName) *wholeName = text;
      return w;
    }
    auto* tree = xcb_query_tree_reply(c_, xcb_query_tree(c_, w), nullptr);
    if (!tree) continue;
    const xcb_window_t* children = xcb_query_tree_children(tree);
    pending.insert(pending.end(), children, children + xcb_query_tree_children_length(tree));
    free(tree);
  }
  return 0;
}

bool X11Session::PressReturnIn(xcb_window_t window) {
  const std::string command = "xdotool windowactivate " + std::to_string(window) +
                              " >/dev/null 2>&1; xdotool key Return >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

TRect X11Session::RectOf(xcb_window_t w, xcb_window_t root) {
  auto* g = xcb_get_geometry_reply(c_, xcb_get_geometry(c_, w), nullptr);
  auto* t =
      xcb_translate_coordinates_reply(c_, xcb_translate_coordinates(c_, w, root, 0, 0), nullptr);
  TRect r;
  if (g && t) r = {t->dst_x, t->dst_y, t->dst_x + g->width, t->dst_y + g->height};
  free(g);
  free(t);
  return r;
}

}  // namespace ombrix::test
