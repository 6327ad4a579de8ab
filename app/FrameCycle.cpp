#include "FrameCycle.h"

#include <algorithm>
#include <cstdio>

#include "CrossLine.h"
#include "Invert.h"
#include "PixelGrid.h"
#include "PlgBlt.h"
#include "Sharpen.h"
#include "Stereo3D.h"
#include "Zoom.h"
#include "ZoomCentre.h"
#include "iwProcess.h"

namespace ombrix {
namespace {

// The graphic operations as the destination corners, in the capture bitmap, of the zone's
// top-left, top-right and bottom-left corners.
void OperationPoints(int operation, int w, int h, TPoint (&p)[3]) {
  switch (operation) {
    case 1:  // vertical mirror
      p[0] = {0, h}, p[1] = {w, h}, p[2] = {0, 0};
      break;
    case 2:  // horizontal mirror
      p[0] = {w, 0}, p[1] = {0, 0}, p[2] = {w, h};
      break;
    case 3:  // quarter turn clockwise
      p[0] = {w, 0}, p[1] = {w, h}, p[2] = {0, 0};
      break;
    case 4:  // half turn
      p[0] = {w, h}, p[1] = {0, h}, p[2] = {w, 0};
      break;
    case 5:  // quarter turn counter-clockwise
      p[0] = {0, h}, p[1] = {0, 0}, p[2] = {w, h};
      break;
    default:  // copy
      p[0] = {0, 0}, p[1] = {w, 0}, p[2] = {0, h};
      break;
  }
}

bool Inside(const TRect& inner, const TRect& outer) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
         inner.Bottom <= outer.Bottom;
}

}  // namespace

TRect KeepOnDesktop(TRect zone, const TRect& desktop) {
  auto shift = [&zone](int dx, int dy) {
    zone.Left += dx, zone.Right += dx, zone.Top += dy, zone.Bottom += dy;
  };
  if (zone.Left < desktop.Left) shift(desktop.Left - zone.Left, 0);
  if (zone.Top < desktop.Top) shift(0, desktop.Top - zone.Top);
  if (zone.Right > desktop.Right) shift(desktop.Right - zone.Right, 0);
  if (zone.Bottom > desktop.Bottom) shift(0, desktop.Bottom - zone.Bottom);
  return zone;
}

std::string SizeCaption(int clientWidth, int clientHeight) {
  char caption[64];
  std::snprintf(caption, sizeof caption, "%s %d x %d", kApplicationTitle, clientWidth,
                clientHeight);
  return caption;
}

FrameCycle::FrameCycle(Desktop& desktop)
    : desktop_(desktop),
      imageWork_(std::make_unique<TImageWork>()),
      capture_(std::make_unique<TBitmap>()) {
  SetUpSharpen(*imageWork_);
}

FrameCycle::~FrameCycle() = default;

FrameResult FrameCycle::Run(const FrameSettings& settings) {
  FrameResult result;
  result.crossTiltX = settings.picture.crossTiltX;
  result.crossTiltY = settings.picture.crossTiltY;
  if (settings.window.minimized) {
    result.writeCaption = true;
    return result;
  }
  TPoint cursor;
  if (settings.zoneFixed) {
  } else if (settings.cursor) {
    zonePoint_ = *settings.cursor;
  } else if (desktop_.CursorPos(cursor)) {
    zonePoint_ = cursor;
  }
  // Still-cursor rule: only a zone point that stayed put since the last tick is drawn.
  if (zonePoint_ != prevZonePoint_) {
    prevZonePoint_ = zonePoint_;
    return result;
  }
  if (settings.forceCapture ||
      (!settings.window.nonClientActive && !settings.window.rect.Contains(zonePoint_))) {
    result.shows = FrameResult::Shows::View;
    const TBranchEnd end = CaptureBranch(settings, result);
    if (end == TBranchEnd::Unreadable) return result;  // silently: the next tick tries again
    result.viewDrawn = end == TBranchEnd::Drawn;
    // A tick that kept its still view took no time for events to wait on: the main loop runs
    // whatever comes right after the tick, and an idle window spends nothing on a pump.
    result.pumpEvents = end != TBranchEnd::Still;
    result.keptStill = end == TBranchEnd::Still;
  } else {
    result.shows = FrameResult::Shows::Panel;
    result.pumpEvents = true;
  }
  result.writeCaption = true;
  return result;
}

FrameCycle::TBranchEnd FrameCycle::CaptureBranch(const FrameSettings& settings,
                                                 FrameResult& result) {
  const FrameWindow& window = settings.window;
  FramePicture picture = settings.picture;
  const int w = window.clientWidth & ~1;
  const int h = window.clientHeight & ~1;
  view_.SetSize(w, h);

  TPoint centre = zonePoint_;
  if (window.rect.Contains(zonePoint_)) {
    // Only with forceCapture: the zone is the screen area under the view.
    zonePoint_ = window.clientOrigin;
    centre = {zonePoint_.X + w / 2, zonePoint_.Y + h / 2};
  }
  // Asked once a run: on a real screen every answer is a round trip.
  const TRect desktop = desktop_.VirtualScreen();
  const TRect zone = KeepOnDesktop(
      {centre.X - w / 2, centre.Y - h / 2, centre.X + w / 2, centre.Y + h / 2}, desktop);

  // A still zone drawn with unchanged settings gives the view it already shows, byte for byte:
  // keep it. Only the screen can tell that the zone's pixels are unchanged, and it is asked
  // last, as it costs a round trip.
  const bool mayKeep = settings.fromTimer && !settings.forceCapture;
  if (mayKeep && lastDrawnFrom_ && *lastDrawnFrom_ == DrawnFrom(zone, w, h, picture) &&
      Inside(zone, desktop) && view_.Stamp() == lastDrawnStamp_ &&
      capture_->PixelFormat() == pf32bit && capture_->Width() == w && capture_->Height() == h &&
      !desktop_.ZoneMayHaveChanged(zone))
    return TBranchEnd::Still;
  lastDrawnFrom_.reset();

  capture_->SetPixelFormat(pf32bit);
  capture_->SetSize(w, h);
  if (w == 0 || h == 0) return TBranchEnd::Kept;  // nothing to capture in a view that narrow
  TPoint points[3];
  OperationPoints(picture.operation, w, h, points);
  if (!CopyZone(zone, desktop, points, w, h)) return TBranchEnd::Unreadable;

  Compose3D(*capture_, picture.operation3D);
  // Near the desktop's edge the zone was shifted and the cursor is not in its middle: the zoom
  // enlarges about the cursor's pixel, where the graphic operation put it, and the cross-line
  // stands on that same pixel. Unshifted, this is the middle, as it always was.
  const TPoint marked = ZoomCentre(points, w, h, {centre.X - zone.Left, centre.Y - zone.Top});
  TZoomSettings zoom;
  zoom.SliderPosition = picture.zoom;
  zoom.HalveWidth = picture.halfWidth;
  zoom.HalveHeight = picture.halfHeight;
  zoom.Gamma = picture.gamma;
  zoom.Centre = marked;
  zoom.Nearest = picture.nearest;
  zoom.Colours = brightnessContrast_.Table(picture.brightness, picture.contrast);
  ZoomStage(*capture_, view_, w, h, zoom);
  if (OnSharpenStage) {
    OnSharpenStage(picture.sharpenLevel);
  } else {
    SharpenView(picture.sharpenLevel);
  }
  if (picture.grid) {
    TZoomAxis x, y;
    ZoomAxes(w, h, zoom, x, y);
    DrawPixelGrid(view_, w, h, x, y);
  }
  if (picture.invert) InvertColours(view_);
  if (picture.crossLine) {
    DrawCrossLine(view_.Canvas(), marked, 0, 0, w, h, picture.crossColor, picture.crossTiltX,
                  picture.crossTiltY);
    result.crossTiltX = picture.crossTiltX;
    result.crossTiltY = picture.crossTiltY;
  }
  // Not a copy of the view: its stamp tells whether anybody touched it since.
  lastDrawnStamp_ = view_.Stamp();
  // As the stages left them: the sharpen stage sets the filter's radius from the strength.
  lastDrawnFrom_ = DrawnFrom(zone, w, h, picture);
  return TBranchEnd::Drawn;
}

void FrameCycle::SharpenView(int level) {
  Sharpen(*imageWork_, view_, level);
}

FrameCycle::TDrawnFrom FrameCycle::DrawnFrom(const TRect& zone, int w, int h,
                                             const FramePicture& picture) const {
  TDrawnFrom from;
  from.zone = zone;
  from.zonePoint = zonePoint_;
  from.w = w;
  from.h = h;
  from.picture = picture;
  from.filter = imageWork_->Filter();
  if (const auto* gaussian = imageWork_->FilterAs<TGaussianBaseFilter>())
    from.radius = gaussian->Radius();
  return from;
}

bool FrameCycle::CopyZone(const TRect& zone, const TRect& desktop, const TPoint (&points)[3], int w,
                          int h) {
  if (Inside(zone, desktop)) return desktop_.CopyZone(zone, points, *capture_);
  // A view larger than the desktop: the screen gives what it has, the rest stays black, and
  // the graphic operation is done by a second copy.
  TBitmap whole(w, h, pf32bit);
  const TRect part{std::max(zone.Left, desktop.Left), std::max(zone.Top, desktop.Top),
                   std::min(zone.Right, desktop.Right), std::min(zone.Bottom, desktop.Bottom)};
  if (part.Width() > 0 && part.Height() > 0) {
    const TPoint at{part.Left - zone.Left, part.Top - zone.Top};
    const TPoint identity[3] = {at, {at.X + part.Width(), at.Y}, {at.X, at.Y + part.Height()}};
    if (!desktop_.CopyZone(part, identity, whole)) return false;
  }
  PlgBlt(*capture_, points, ViewOf(whole), 0, 0, w, h);
  return true;
}

std::string FrameCycle::Caption(int clientWidth, int clientHeight) const {
  char caption[96];
  std::snprintf(caption, sizeof caption, "%s [%d x %d] - [X=%d Y=%d]", kApplicationTitle,
                clientWidth, clientHeight, zonePoint_.X, zonePoint_.Y);
  return caption;
}

}  // namespace ombrix
