// The X11 screen's start and stop: the extensions the server offers, the redirection of
// the windows for the composed capture, Xwayland, and the connection's life.

#include <xcb/composite.h>
#include <xcb/randr.h>
#include <xcb/shape.h>
#include <xcb/shm.h>
#include <xcb/xinerama.h>

#include <cstdio>
#include <string>
#include <utility>

#include "X11DesktopImpl.h"

namespace ombrix {

using namespace x11;

namespace {

// Pixels must arrive as the capture bitmap holds them: 32 bits, blue in the low byte.
bool IsBgrx(const xcb_setup_t* setup, const xcb_screen_t* screen) {
  if (setup->image_byte_order != XCB_IMAGE_ORDER_LSB_FIRST) return false;
  if (screen->root_depth != 24 && screen->root_depth != 32) return false;
  bool bpp32 = false;
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth == screen->root_depth) bpp32 = it.data->bits_per_pixel == 32;
  }
  if (!bpp32) return false;
  for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
    for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
      if (v.data->visual_id != screen->root_visual) continue;
      return (v.data->_class == XCB_VISUAL_CLASS_TRUE_COLOR ||
              v.data->_class == XCB_VISUAL_CLASS_DIRECT_COLOR) &&
             v.data->red_mask == 0xFF0000 && v.data->green_mask == 0x00FF00 &&
             v.data->blue_mask == 0x0000FF;
    }
  }
  return false;
}

}  // namespace

bool X11Desktop::Impl::Start(const X11Options& options) {
  if (c == nullptr || xcb_connection_has_error(c)) return false;
  const xcb_setup_t* setup = xcb_get_setup(c);
  auto screens = xcb_setup_roots_iterator(setup);
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  if (!screens.rem) return false;
  screen = screens.data;
  if (!IsBgrx(setup, screen)) {
    std::fprintf(stderr, "Ombrix: the X display's pixel format (depth %d) is not supported\n",
                 screen->root_depth);
    return false;
  }

  // Ask about every extension at once, then read the answers.
  xcb_extension_t* const extensions[] = {&xcb_shm_id,    &xcb_composite_id, &xcb_render_id,
                                         &xcb_xfixes_id, &xcb_randr_id,     &xcb_xinerama_id,
                                         &xcb_shape_id};
  for (xcb_extension_t* e : extensions) xcb_prefetch_extension_data(c, e);
  const bool shm = Present(c, &xcb_shm_id);
  const bool composite = Present(c, &xcb_composite_id);
  const bool render = Present(c, &xcb_render_id);
  const bool xfixes = Present(c, &xcb_xfixes_id);
  const bool randr = Present(c, &xcb_randr_id);
  hasXinerama = Present(c, &xcb_xinerama_id);
  const bool shape = Present(c, &xcb_shape_id);

  xcb_shm_query_version_cookie_t shmCookie{};
  xcb_composite_query_version_cookie_t compositeCookie{};
  xcb_render_query_version_cookie_t renderCookie{};
  xcb_render_query_pict_formats_cookie_t formatsCookie{};
  xcb_xfixes_query_version_cookie_t xfixesCookie{};
  xcb_randr_query_version_cookie_t randrCookie{};
  if (shm) shmCookie = xcb_shm_query_version(c);
  if (composite) compositeCookie = xcb_composite_query_version(c, 0, 4);
  if (render) {
    renderCookie = xcb_render_query_version(c, 0, 11);
    formatsCookie = xcb_render_query_pict_formats(c);
  }
  if (xfixes) xfixesCookie = xcb_xfixes_query_version(c, 5, 0);
  if (randr) randrCookie = xcb_randr_query_version(c, 1, 5);
  const std::string managerName = "_NET_WM_CM_S" + std::to_string(screenNumber);
  const auto wallpaperCookie = xcb_intern_atom(c, 0, 13, "_XROOTPMAP_ID");
  const auto managerCookie =
      xcb_intern_atom(c, 0, static_cast<uint16_t>(managerName.size()), managerName.c_str());

  bool compositeOk = false;
  bool renderOk = false;
  bool xfixesRegions = false;
  if (shm)
    useShm = Reply<xcb_shm_query_version_reply_t>(
                 xcb_shm_query_version_reply(c, shmCookie, nullptr)) != nullptr;
  if (composite) {
    // Naming a window's pixmap came with version 0.2.
    const Reply<xcb_composite_query_version_reply_t> r(
        xcb_composite_query_version_reply(c, compositeCookie, nullptr));
    compositeOk = r && (r->major_version > 0 || r->minor_version >= 2);
  }
  if (render) {
    renderOk = Reply<xcb_render_query_version_reply_t>(
                   xcb_render_query_version_reply(c, renderCookie, nullptr)) != nullptr;
    formats.reset(xcb_render_query_pict_formats_reply(c, formatsCookie, nullptr));
  }
  if (xfixes) {
    // Regions came with version 2; the query also tells the server which version we speak.
    const Reply<xcb_xfixes_query_version_reply_t> r(
        xcb_xfixes_query_version_reply(c, xfixesCookie, nullptr));
    xfixesRegions = r && r->major_version >= 2;
  }
  if (randr) {
    // Monitors came with version 1.5.
    const Reply<xcb_randr_query_version_reply_t> r(
        xcb_randr_query_version_reply(c, randrCookie, nullptr));
    hasRandrMonitors = r && (r->major_version > 1 || r->minor_version >= 5);
    // The root's size is followed from notices, on our own connection.
    if (r && ownConnection) {
      screenChangeEvent = static_cast<uint8_t>(
          xcb_get_extension_data(c, &xcb_randr_id)->first_event + XCB_RANDR_SCREEN_CHANGE_NOTIFY);
      xcb_randr_select_input(c, screen->root, XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE);
    }
  }
  if (const Reply<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(c, wallpaperCookie, nullptr)})
    wallpaperAtom = r->atom;
  if (const Reply<xcb_intern_atom_reply_t> r{xcb_intern_atom_reply(c, managerCookie, nullptr)})
    managerAtom = r->atom;
  useShm = useShm && options.useShm;

  if (formats) {
    rootFormat = FormatOf(screen->root_visual);
    for (auto it = xcb_render_query_pict_formats_formats_iterator(formats.get()); it.rem;
         xcb_render_pictforminfo_next(&it)) {
      if (it.data->type == XCB_RENDER_PICT_TYPE_DIRECT && it.data->direct.alpha_mask != 0)
        alphaFormats.insert(it.data->id);
    }
  }
  xwayland = DetectXwayland(hasRandrMonitors || randr);
  if (!options.leaveOutOwnWindows) return true;

  const bool canCompose = compositeOk && renderOk && rootFormat != 0;
  if (canCompose) {
    // Every top-level window now keeps its own pixmap; the server still draws the screen.
    const Reply<xcb_generic_error_t> error(
        xcb_request_check(c, xcb_composite_redirect_subwindows_checked(
                                 c, screen->root, XCB_COMPOSITE_REDIRECT_AUTOMATIC)));
    redirected = error == nullptr;
  }
  if (!redirected) {
    std::fputs(
        "Ombrix: the X server offers no Composite and Render extensions; the capture shows "
        "Ombrix's own window where the zone meets it\n",
        stderr);
    return true;
  }
  // The screen as it is, the background where no wallpaper pixmap is published.
  rootPicture = Picture(c, xcb_generate_id(c));
  const uint32_t includeInferiors = XCB_SUBWINDOW_MODE_INCLUDE_INFERIORS;
  xcb_render_create_picture(c, rootPicture.Id(), screen->root, rootFormat,
                            XCB_RENDER_CP_SUBWINDOW_MODE, &includeInferiors);
  compose = true;
  // Without Shape every window is a rectangle; without XFixes regions shapes are not honoured.
  clipShapes = shape && xfixesRegions;
  return true;
}

void X11Desktop::Impl::Stop() {
  if (c == nullptr) return;
  compose = false;
  if (tracksChanges) {
    ForgetWatched(true);
    Quietly(xcb_damage_destroy_checked(c, rootDamage));
    Quietly(xcb_xfixes_destroy_region_checked(c, damageRegion));
    tracksChanges = false;
  }
  lastCopyValid = false;
  followsRoot = rootKnown = false;
  xinputOpcode = 0;
  rawSelected = rawConfirmed = pointerKnown = false;
  image.reset();
  zonePicture.Reset();
  zonePixmap.Reset();
  zoneWidth = zoneHeight = 0;
  rootPicture.Reset();
  segment.reset();
  if (redirected) {
    Quietly(xcb_composite_unredirect_subwindows_checked(c, screen->root,
                                                        XCB_COMPOSITE_REDIRECT_AUTOMATIC));
    redirected = false;
  }
  formats.reset();
  xcb_flush(c);
  ownConnection.reset();
  c = nullptr;
  screen = nullptr;
}

bool X11Desktop::Impl::DetectXwayland(bool randr) {
  static const char kName[] = "XWAYLAND";
  const auto extensionCookie = xcb_query_extension(c, sizeof kName - 1, kName);
  xcb_randr_get_screen_resources_current_cookie_t resourcesCookie{};
  if (randr) resourcesCookie = xcb_randr_get_screen_resources_current(c, screen->root);
  const Reply<xcb_query_extension_reply_t> extension(
      xcb_query_extension_reply(c, extensionCookie, nullptr));
  if (!randr) return extension && extension->present;
  const Reply<xcb_randr_get_screen_resources_current_reply_t> resources(
      xcb_randr_get_screen_resources_current_reply(c, resourcesCookie, nullptr));
  if (extension && extension->present) return true;
  if (!resources) return false;
  // Before the extension came (Xwayland 23.1), the outputs' names were the sign.
  const xcb_randr_output_t* outputs =
      xcb_randr_get_screen_resources_current_outputs(resources.get());
  const int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
  std::vector<xcb_randr_get_output_info_cookie_t> cookies;
  for (int i = 0; i < count; ++i)
    cookies.push_back(xcb_randr_get_output_info(c, outputs[i], resources->config_timestamp));
  bool named = false;
  for (const auto& cookie : cookies) {
    const Reply<xcb_randr_get_output_info_reply_t> info(
        xcb_randr_get_output_info_reply(c, cookie, nullptr));
    if (!info) continue;
    const std::string name(
        reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
        static_cast<std::size_t>(xcb_randr_get_output_info_name_length(info.get())));
    named = named || name.rfind(kName, 0) == 0;
  }
  return named;
}

X11Desktop::X11Desktop(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

X11Desktop::~X11Desktop() = default;

std::unique_ptr<X11Desktop> X11Desktop::Open(const char* displayName, X11Options options) {
  auto impl = std::make_unique<Impl>();
  impl->ownConnection.reset(xcb_connect(displayName, &impl->screenNumber));
  impl->c = impl->ownConnection.get();
  if (!impl->Start(options)) return nullptr;
  if (options.trackChanges) impl->StartTracking();
  impl->SelectRootEvents();
  impl->StartRawMotion();
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(impl)));
}

std::unique_ptr<X11Desktop> X11Desktop::Attach(xcb_connection_t* connection, int screen,
                                               X11Options options) {
  auto impl = std::make_unique<Impl>();
  impl->c = connection;
  impl->screenNumber = screen;
  if (!impl->Start(options)) return nullptr;
  return std::unique_ptr<X11Desktop>(new X11Desktop(std::move(impl)));
}

void X11Desktop::Stop() {
  impl_->Stop();
}

bool X11Desktop::UsesShm() const {
  return impl_->c != nullptr && impl_->useShm;
}

bool X11Desktop::LeavesOutOwnWindows() const {
  return impl_->c != nullptr && impl_->compose;
}

bool X11Desktop::IsXwayland() const {
  return impl_->c != nullptr && impl_->xwayland;
}

int X11Desktop::FileDescriptor() const {
  if (!impl_->ownConnection) return -1;
  return xcb_get_file_descriptor(impl_->c);
}

bool X11Desktop::ConnectionLost() {
  Impl& d = *impl_;
  if (d.c == nullptr) return false;
  d.DrainEvents();
  return xcb_connection_has_error(d.c) != 0;
}

void X11Desktop::SetOwnWindowsProvider(OwnWindowsProvider provider) {
  impl_->ownWindows = std::move(provider);
}

}  // namespace ombrix
