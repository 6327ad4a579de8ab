#include "X11TestSupport.h"

#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/uio.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

extern char** environ;

namespace ombrix::test {

namespace {

struct FreeWithLibc {
  void operator()(void* p) const noexcept { std::free(p); }
};
template <typename T>
using Reply = std::unique_ptr<T, FreeWithLibc>;

}  // namespace

const char* TestDisplayName() {
  const char* name = std::getenv("OMBRIX_X11_DISPLAY");
  return name != nullptr && *name != '\0' ? name : nullptr;
}

uint32_t Pattern(int x, int y) {
  const auto red = static_cast<uint32_t>(x * 5 + y * 3) & 0xFF;
  const auto green = static_cast<uint32_t>((x * 7) ^ (y * 11)) & 0xFF;
  const auto blue = static_cast<uint32_t>(x + y * 17) & 0xFF;
  return red << 16 | green << 8 | blue;
}

uint32_t PixelAt(const TBitmap& bitmap, int x, int y) {
  uint32_t pixel;
  std::memcpy(&pixel, bitmap.ScanLine(y) + x * 4, 4);
  return pixel;
}

TestClient::TestClient(const char* displayName) : c_(xcb_connect(displayName, nullptr)) {
  if (!xcb_connection_has_error(c_)) screen_ = xcb_setup_roots_iterator(xcb_get_setup(c_)).data;
}

TestClient::~TestClient() {
  if (Ok() && !managed_.empty()) {
    for (const xcb_window_t window : managed_) xcb_destroy_window(c_, window);
    SyncWithWindowManager();
  }
  xcb_disconnect(c_);
}

bool TestClient::Ok() const {
  return screen_ != nullptr && !xcb_connection_has_error(c_);
}

TRect TestClient::RootRect() const {
  return {0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
}

xcb_window_t TestClient::CreateWindow(const TRect& outer, uint16_t border, bool managed) {
  const xcb_window_t window = xcb_generate_id(c_);
  const uint32_t values[] = {0, 0, managed ? 0u : 1u};
  xcb_create_window(c_, XCB_COPY_FROM_PARENT, window, screen_->root,
                    static_cast<int16_t>(outer.Left), static_cast<int16_t>(outer.Top),
                    static_cast<uint16_t>(outer.Width() - 2 * border),
                    static_cast<uint16_t>(outer.Height() - 2 * border), border,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                    XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
  if (managed) {
    managed_.push_back(window);
    // Ask the window manager to keep the position we chose.
    uint32_t hints[18] = {};
    hints[0] = 1 | 4;  // USPosition | PPosition
    hints[1] = static_cast<uint32_t>(outer.Left);
    hints[2] = static_cast<uint32_t>(outer.Top);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NORMAL_HINTS,
                        XCB_ATOM_WM_SIZE_HINTS, 32, 18, hints);
  }
  return window;
}

void TestClient::SetColours(xcb_window_t window, uint32_t background, uint32_t border) {
  const uint32_t values[] = {background, border};
  xcb_change_window_attributes(c_, window, XCB_CW_BACK_PIXEL | XCB_CW_BORDER_PIXEL, values);
  xcb_clear_area(c_, 0, window, 0, 0, 0, 0);
}

xcb_pixmap_t TestClient::PatternPixmap(const TRect& area) {
  const int width = area.Width();
  const int height = area.Height();
  const xcb_pixmap_t pixmap = xcb_generate_id(c_);
  xcb_create_pixmap(c_, screen_->root_depth, pixmap, screen_->root, static_cast<uint16_t>(width),
                    static_cast<uint16_t>(height));
  const xcb_gcontext_t gc = xcb_generate_id(c_);
  xcb_create_gc(c_, gc, pixmap, 0, nullptr);
  // As many rows per request as the server takes.
  const std::size_t maxBytes = static_cast<std::size_t>(xcb_get_maximum_request_length(c_)) * 4;
  const int rowsPerPut =
      std::max(1, static_cast<int>((maxBytes - 64) / (static_cast<std::size_t>(width) * 4)));
  std::vector<uint32_t> rows;
  for (int top = 0; top < height; top += rowsPerPut) {
    const int count = std::min(rowsPerPut, height - top);
    rows.resize(static_cast<std::size_t>(width * count));
    for (int y = 0; y < count; ++y)
      for (int x = 0; x < width; ++x)
        rows[static_cast<std::size_t>(y * width + x)] =
            0xFF000000 | Pattern(area.Left + x, area.Top + top + y);
    xcb_put_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, pixmap, gc, static_cast<uint16_t>(width),
                  static_cast<uint16_t>(count), 0, static_cast<int16_t>(top), 0,
                  screen_->root_depth, static_cast<uint32_t>(rows.size() * 4),
                  reinterpret_cast<const uint8_t*>(rows.data()));
  }
  xcb_free_gc(c_, gc);
  return pixmap;
}

void TestClient::SetPatternBackground(xcb_window_t window, TPoint origin, int width, int height) {
  const xcb_pixmap_t pixmap =
      PatternPixmap({origin.X, origin.Y, origin.X + width, origin.Y + height});
  xcb_change_window_attributes(c_, window, XCB_CW_BACK_PIXMAP, &pixmap);
  xcb_free_pixmap(c_, pixmap);
  xcb_clear_area(c_, 0, window, 0, 0, 0, 0);
}

void TestClient::Map(xcb_window_t window) {
  xcb_map_window(c_, window);
  xcb_flush(c_);
}

bool TestClient::Parent(xcb_window_t window, xcb_window_t& parent) {
  const Reply<xcb_query_tree_reply_t> r(
      xcb_query_tree_reply(c_, xcb_query_tree(c_, window), nullptr));
  if (!r) return false;
  parent = r->parent;
  return true;
}

bool TestClient::OuterRect(xcb_window_t window, TRect& outer) {
  const Reply<xcb_get_geometry_reply_t> g(
      xcb_get_geometry_reply(c_, xcb_get_geometry(c_, window), nullptr));
  if (!g) return false;
  const Reply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
      c_, xcb_translate_coordinates(c_, window, screen_->root, 0, 0), nullptr));
  if (!t) return false;
  const int left = t->dst_x - g->border_width;
  const int top = t->dst_y - g->border_width;
  outer = {left, top, left + g->width + 2 * g->border_width, top + g->height + 2 * g->border_width};
  return true;
}

xcb_atom_t TestClient::Atom(const char* name) {
  const Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(
      c_, xcb_intern_atom(c_, 0, static_cast<uint16_t>(std::strlen(name)), name), nullptr));
  return r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
}

bool TestClient::SetMonitor(const char* name, const TRect& area, bool withOutput) {
  const Reply<xcb_randr_query_version_reply_t> version(
      xcb_randr_query_version_reply(c_, xcb_randr_query_version(c_, 1, 5), nullptr));
  if (!version) return false;
  xcb_randr_output_t output = XCB_NONE;
  if (withOutput) {
    const Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
        xcb_randr_get_screen_resources_current_reply(
            c_, xcb_randr_get_screen_resources_current(c_, screen_->root), nullptr));
    if (!resources || resources->num_outputs == 0) return false;
    output = xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
  }
  // Sent by hand: libxcb 1.15's generated SetMonitor request trips over its own length check.
  struct {
    uint8_t major = 0;
    uint8_t minor = XCB_RANDR_SET_MONITOR;
    uint16_t length = 0;
    uint32_t window = 0;
  } head;
  head.window = screen_->root;
  xcb_randr_monitor_info_t info{};
  info.name = Atom(name);
  info.nOutput = withOutput ? 1 : 0;
  info.x = static_cast<int16_t>(area.Left);
  info.y = static_cast<int16_t>(area.Top);
  info.width = static_cast<uint16_t>(area.Width());
  info.height = static_cast<uint16_t>(area.Height());
  iovec parts[5];
  parts[2] = {&head, sizeof head};
  parts[3] = {&info, sizeof info};
  parts[4] = {&output, withOutput ? sizeof output : 0};
  xcb_protocol_request_t request{3, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
  const xcb_void_cookie_t cookie{xcb_send_request(c_, XCB_REQUEST_CHECKED, parts + 2, &request)};
  return Reply<xcb_generic_error_t>(xcb_request_check(c_, cookie)) == nullptr;
}

bool TestClient::ResizeRoot(int width, int height) {
  const Reply<xcb_randr_query_version_reply_t> version(
      xcb_randr_query_version_reply(c_, xcb_randr_query_version(c_, 1, 5), nullptr));
  const Reply<xcb_randr_get_screen_resources_reply_t> resources(
      xcb_randr_get_screen_resources_reply(c_, xcb_randr_get_screen_resources(c_, screen_->root),
                                           nullptr));
  if (!version || !resources) return false;
  const xcb_randr_crtc_t* crtcs = xcb_randr_get_screen_resources_crtcs(resources.get());
  for (int i = 0; i < resources->num_crtcs; ++i) {
    const Reply<xcb_randr_set_crtc_config_reply_t> off(xcb_randr_set_crtc_config_reply(
        c_,
        xcb_randr_set_crtc_config(c_, crtcs[i], XCB_CURRENT_TIME, resources->config_timestamp, 0, 0,
                                  XCB_NONE, XCB_RANDR_ROTATION_ROTATE_0, 0, nullptr),
        nullptr));
    if (!off || off->status != XCB_RANDR_SET_CONFIG_SUCCESS) return false;
  }
  // Millimetres at 96 dots per inch.
  const auto mm = [](int pixels) { return static_cast<uint32_t>(pixels * 254 / 960); };
  const xcb_void_cookie_t cookie =
      xcb_randr_set_screen_size_checked(c_, screen_->root, static_cast<uint16_t>(width),
                                        static_cast<uint16_t>(height), mm(width), mm(height));
  return Reply<xcb_generic_error_t>(xcb_request_check(c_, cookie)) == nullptr;
}

void TestClient::Sync() {
  Reply<xcb_get_input_focus_reply_t>(
      xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
}

bool TestClient::SyncWithWindowManager() {
  // No window manager claims the screen: nothing to wait for.
  const Reply<xcb_get_property_reply_t> check(xcb_get_property_reply(
      c_,
      xcb_get_property(c_, 0, screen_->root, Atom("_NET_SUPPORTING_WM_CHECK"), XCB_ATOM_WINDOW, 0,
                       1),
      nullptr));
  if (!check || xcb_get_property_value_length(check.get()) < 4) return true;
  const xcb_atom_t extents = Atom("_NET_FRAME_EXTENTS");
  if (probe_ == XCB_NONE) {
    probe_ = xcb_generate_id(c_);
    xcb_create_window(c_, XCB_COPY_FROM_PARENT, probe_, screen_->root, 0, 0, 8, 8, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  }
  xcb_delete_property(c_, probe_, extents);
  xcb_client_message_event_t request{};
  request.response_type = XCB_CLIENT_MESSAGE;
  request.format = 32;
  request.window = probe_;
  request.type = Atom("_NET_REQUEST_FRAME_EXTENTS");
  xcb_send_event(c_, 0, screen_->root,
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&request));
  return WaitUntil([&] {
    const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c_, xcb_get_property(c_, 0, probe_, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
    return reply && xcb_get_property_value_length(reply.get()) == 16;
  });
}

PrivateXServer::PrivateXServer(const std::vector<std::string>& arguments) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return;
  // Xvfb picks a free display itself and writes its number to descriptor 3 once it listens.
  std::vector<std::string> words = {"Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], 3);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (spawned != 0) {
    pid_ = -1;
    close(fds[0]);
    return;
  }
  std::string number;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (number.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd p{fds[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[16];
    const ssize_t n = read(fds[0], buffer, sizeof buffer);
    if (n <= 0) break;
    number.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  const std::size_t end = number.find('\n');
  if (end != std::string::npos) name_ = ":" + number.erase(end);
}

void PrivateXServer::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  int status;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

PrivateXServer::~PrivateXServer() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status;
  waitpid(pid_, &status, 0);
}

PrivateWindowManager::PrivateWindowManager(const std::string& displayName) {
  std::vector<std::string> variables;
  for (char** e = environ; *e != nullptr; ++e) {
    if (std::strncmp(*e, "DISPLAY=", 8) != 0) variables.emplace_back(*e);
  }
  variables.push_back("DISPLAY=" + displayName);
  std::vector<char*> envp;
  for (std::string& v : variables) envp.push_back(v.data());
  envp.push_back(nullptr);
  char name[] = "openbox";
  char* argv[] = {name, nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  const int spawned = posix_spawnp(&pid_, "openbox", &actions, nullptr, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    pid_ = -1;
    return;
  }
  TestClient client(displayName.c_str());
  if (!client.Ok()) return;
  const xcb_atom_t check = client.Atom("_NET_SUPPORTING_WM_CHECK");
  running_ = WaitUntil(
      [&] {
        xcb_connection_t* c = client.Connection();
        const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
            c, xcb_get_property(c, 0, client.Root(), check, XCB_ATOM_WINDOW, 0, 1), nullptr));
        return reply && xcb_get_property_value_length(reply.get()) == 4;
      },
      std::chrono::seconds(20));
  if (!running_) return;
  // openbox names itself before it starts answering, and a request that comes meanwhile goes
  // unanswered: ready once it has answered one, asked again until it does.
  xcb_connection_t* c = client.Connection();
  const xcb_atom_t extents = client.Atom("_NET_FRAME_EXTENTS");
  const xcb_window_t probe = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, client.Root(), 0, 0, 8, 8, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  xcb_client_message_event_t request{};
  request.response_type = XCB_CLIENT_MESSAGE;
  request.format = 32;
  request.window = probe;
  request.type = client.Atom("_NET_REQUEST_FRAME_EXTENTS");
  running_ = WaitUntil(
      [&] {
        xcb_send_event(c, 0, client.Root(),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&request));
        return WaitUntil(
            [&] {
              const Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
                  c, xcb_get_property(c, 0, probe, extents, XCB_ATOM_CARDINAL, 0, 4), nullptr));
              return reply && xcb_get_property_value_length(reply.get()) == 16;
            },
            std::chrono::milliseconds(100));
      },
      std::chrono::seconds(30));
  xcb_destroy_window(c, probe);
}

PrivateWindowManager::~PrivateWindowManager() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  int status;
  waitpid(pid_, &status, 0);
}

}  // namespace ombrix::test
