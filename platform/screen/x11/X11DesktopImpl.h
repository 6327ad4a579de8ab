#pragma once
// The X11 screen's inner state, shared by the backend's sources: start and stop
// (X11Desktop.cpp), the direct root grab (X11RootGrab.cpp), the composed capture
// (X11ComposedCapture.cpp), change tracking (X11ChangeTracking.cpp), and the pointer and
// monitors (X11PointerAndMonitors.cpp). Private to the X11 backend.

#include <xcb/damage.h>
#include <xcb/render.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "X11Desktop.h"
#include "X11Owners.h"

namespace ombrix {

using x11::Picture;
using x11::Pixmap;
using x11::Reply;
using x11::SharedSegment;

namespace x11 {

// Grabs ask for the 24 colour planes only: the server then returns the fourth byte as 0, on a
// depth-32 root as well.
constexpr uint32_t kColourPlanes = 0x00FFFFFF;
// Shared memory grows in steps, so that resizing the window does not re-create it every time.
constexpr std::size_t kSegmentStep = std::size_t{1} << 20;
// A reparenting window manager nests a client a few levels deep; more means a broken tree.
constexpr int kMaxNesting = 16;
// X requests carry 16-bit coordinates and sizes.
constexpr int kMaxExtent = std::numeric_limits<int16_t>::max();

struct ConnectionCloser {
  void operator()(xcb_connection_t* connection) const noexcept { xcb_disconnect(connection); }
};

inline bool Present(xcb_connection_t* c, xcb_extension_t* extension) {
  const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, extension);
  return data != nullptr && data->present != 0;
}

inline bool Intersect(const TRect& a, const TRect& b, TRect& out) {
  out = {std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
         std::min(a.Bottom, b.Bottom)};
  return out.Left < out.Right && out.Top < out.Bottom;
}

}  // namespace x11

struct X11Desktop::Impl {
  std::unique_ptr<xcb_connection_t, x11::ConnectionCloser> ownConnection;
  xcb_connection_t* c = nullptr;
  int screenNumber = 0;
  xcb_screen_t* screen = nullptr;

  bool hasRandrMonitors = false;
  bool hasXinerama = false;
  bool useShm = false;
  bool compose = false;
  bool clipShapes = false;
  bool redirected = false;
  bool xwayland = false;

  Reply<xcb_render_query_pict_formats_reply_t> formats;
  xcb_render_pictformat_t rootFormat = 0;
  std::unordered_map<xcb_visualid_t, xcb_render_pictformat_t> visualFormats;
  std::unordered_set<xcb_render_pictformat_t> alphaFormats;
  xcb_atom_t wallpaperAtom = XCB_ATOM_NONE;
  xcb_atom_t managerAtom = XCB_ATOM_NONE;

  Picture rootPicture;
  Pixmap zonePixmap;
  Picture zonePicture;
  int zoneWidth = 0;
  int zoneHeight = 0;
  std::unique_ptr<SharedSegment> segment;
  Reply<xcb_get_image_reply_t> image;
  // Ids of last frame's freed resources, reused so that the id range never runs out.
  std::vector<uint32_t> spareIds;

  OwnWindowsProvider ownWindows;

  // Change tracking: damage on the root (what the screen shows) and on every window that the
  // last composed copy took from its own pixmap (also where ours hid it on screen).
  bool tracksChanges = false;
  xcb_damage_damage_t rootDamage = 0;
  xcb_xfixes_region_t damageRegion = 0;
  struct WatchedWindow {
    xcb_damage_damage_t damage;
    TPoint origin;  // of its pixmap's inside, on the root
  };
  std::unordered_map<xcb_window_t, WatchedWindow> watched;
  // Our own windows' rectangles in the last copy, whose changes on screen do not count.
  std::vector<TRect> ownRects;
  // The server's damage notice, and whether one came since the damage was last taken: without
  // one nothing was drawn, and a still zone is told from a changed one without a round trip.
  uint8_t damageNotifyEvent = 0;
  bool damageNoticed = true;
  // A window was mapped, moved, restacked, ... or the wallpaper changed since the last copy.
  bool sceneChanged = true;
  bool lastCopyValid = false;
  TRect lastZone;

  // The root's size as last asked, kept while no notice of a change arrived (our own
  // connection only: a borrowed one's events are not ours to read, so its size is asked each
  // time). A size that changed meanwhile costs no wrong picture: every copy checks the zone
  // against the root as the server has it.
  bool followsRoot = false;
  bool rootKnown = false;
  TRect knownRoot;
  // RandR's screen-change notice; 0 without RandR.
  uint8_t screenChangeEvent = 0;

  // The pointer between two answers of the server. Every move of a pointing device (and every
  // XTest move) sends raw events, which are listened to while the pointer rests: while none
  // came since the last answer, the pointer is still where that answer put it. A warp sends
  // none, so the server is asked anyway every kPollsPerAsk-th poll. Own connection only, not
  // under Xwayland (whose pointer leaves the X windows unseen).
  uint8_t xinputOpcode = 0;   // 0: no XInput 2, always ask
  bool rawTouch = false;      // XInput 2.2: a touch moves the pointer too
  bool rawSelected = false;   // the raw events are asked for
  bool rawConfirmed = false;  // ... and an answer came after that request
  bool motionSeen = false;    // a raw event (or a new root size) since the last question
  bool pointerKnown = false;
  TPoint lastPointer;
  int pollsSinceAsk = 0;
  // When the pointer poll last read the connection: the same tick's later questions (the
  // root's size, the zone's damage) take what came with it rather than read again.
  std::chrono::steady_clock::time_point pollRead;

  ~Impl() { Stop(); }

  bool Start(const X11Options& options);
  void Stop();
  void Quietly(xcb_void_cookie_t cookie) { xcb_discard_reply(c, cookie.sequence); }
  // Handles the events that arrived: read from the connection, or only those already read
  // (`read` false).
  void DrainEvents(bool read = true);
  // DrainEvents, reading the connection only when the pointer poll did not just do so: news
  // younger than a millisecond count as the next tick's.
  void DrainFreshEvents();
  // Selects the root's own changes, and with change tracking also its children's and its
  // properties, on our own connection.
  void SelectRootEvents();
  // XInput 2 and its raw events, when the server has them.
  void StartRawMotion();
  void SelectRawMotion(bool on);
  // Asks the server where the pointer is (a round trip).
  bool AskPointer(TPoint& position);
  bool DetectXwayland(bool randr);
  void StartTracking();
  void ForgetWatched(bool all, const std::unordered_set<xcb_window_t>& keep = {});
  bool ChangedSinceLastCopy(const TRect& zone);
  TRect RootRect();
  std::vector<TRect> Monitors();
  xcb_render_pictformat_t FormatOf(xcb_visualid_t visual);
  bool EnsureZonePicture(int width, int height);
  std::vector<xcb_window_t> TopLevelsOf(const std::vector<uint32_t>& windows,
                                        std::vector<xcb_query_tree_cookie_t> cookies);
  const uint8_t* Read(xcb_drawable_t drawable, int x, int y, int width, int height);
  const uint8_t* ComposeZone(const TRect& zone);
};

}  // namespace ombrix
