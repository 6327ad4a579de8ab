#include "CastScreen.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

#include "PlgBlt.h"

namespace ombrix {
namespace {

// How long a frame may take from being made to being taken in, at most.
constexpr std::chrono::seconds kFrameAge{10};

}  // namespace

TPoint StreamToDesktop(const CastMonitor& monitor, int physicalWidth, int physicalHeight,
                       TPoint streamPoint) {
  const auto scale = [](int physical, int physicalSize, int logicalSize) {
    const int64_t p = std::clamp(physical, 0, physicalSize - 1);
    const int64_t logical = p * logicalSize / physicalSize;
    return static_cast<int32_t>(std::clamp<int64_t>(logical, 0, logicalSize - 1));
  };
  const TRect& m = monitor.logical;
  return {m.Left + scale(streamPoint.X, physicalWidth, m.Width()),
          m.Top + scale(streamPoint.Y, physicalHeight, m.Height())};
}

int DesktopToStream(int logical, int logicalSize, int physicalSize) {
  // The first stream pixel at or right of the logical pixel's left edge: StreamToDesktop brings
  // it back to the same logical pixel, so the pixel under the cursor is the one shown there.
  const int64_t p = (int64_t{logical} * physicalSize + logicalSize - 1) / int64_t{logicalSize};
  return static_cast<int>(std::clamp<int64_t>(p, 0, physicalSize - 1));
}

CastFrames::CastFrames(std::size_t streams)
    : slots_(streams), failureEvent_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CastFrames::~CastFrames() {
  if (failureEvent_ >= 0) close(failureEvent_);
}

void CastFrames::PutImage(std::size_t stream, const uint8_t* rows, int width, int height,
                          std::ptrdiff_t stride, bool redFirst,
                          std::chrono::steady_clock::time_point made) {
  const std::lock_guard lock(mutex_);
  Slot& slot = slots_.at(stream);
  CastFrame& frame = slot.newest;
  const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
  frame.width = width;
  frame.height = height;
  frame.made = made;
  frame.pixels.resize(rowBytes * static_cast<std::size_t>(height));
  uint8_t* out = frame.pixels.data();
  for (int y = 0; y < height; ++y, rows += stride, out += rowBytes) {
    if (!redFirst) {
      std::memcpy(out, rows, rowBytes);
      continue;
    }
    for (std::size_t x = 0; x < rowBytes; x += 4) {
      out[x] = rows[x + 2];
      out[x + 1] = rows[x + 1];
      out[x + 2] = rows[x];
      out[x + 3] = rows[x + 3];
    }
  }
  slot.fresh = true;
  slot.everDelivered = true;
  ++images_;
  changed_.notify_all();
}

void CastFrames::PutCursor(std::size_t stream, bool onMonitor, TPoint position, int physicalWidth,
                           int physicalHeight) {
  const std::lock_guard lock(mutex_);
  Slot& slot = slots_.at(stream);
  slot.cursorOnMonitor = onMonitor && physicalWidth > 0 && physicalHeight > 0;
  slot.cursor = position;
  slot.cursorPhysicalWidth = physicalWidth;
  slot.cursorPhysicalHeight = physicalHeight;
  slot.cursorSerial = ++serial_;
}

void CastFrames::PutFailure(const std::string& reason) {
  const std::lock_guard lock(mutex_);
  if (!failure_.empty()) return;
  failure_ = reason.empty() ? "the screen cast ended" : reason;
  changed_.notify_all();
  if (failureEvent_ >= 0) {
    const uint64_t one = 1;
    // Nothing to do when it fails: the failure can still be asked for.
    [[maybe_unused]] const ssize_t written = write(failureEvent_, &one, sizeof(one));
  }
}

bool CastFrames::Delivered(std::size_t stream) const {
  const std::lock_guard lock(mutex_);
  return slots_.at(stream).everDelivered;
}

bool CastFrames::HasNewImage(std::size_t stream) const {
  const std::lock_guard lock(mutex_);
  return slots_.at(stream).fresh;
}

bool CastFrames::TakeImage(std::size_t stream, CastFrame& frame) {
  const std::lock_guard lock(mutex_);
  Slot& slot = slots_.at(stream);
  if (!slot.fresh) return false;
  std::swap(frame, slot.newest);
  slot.fresh = false;
  return true;
}

CastFrames::CursorReport CastFrames::Cursor() const {
  const std::lock_guard lock(mutex_);
  CursorReport report;
  uint64_t newest = 0;
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    const Slot& slot = slots_[i];
    if (!slot.cursorOnMonitor || slot.cursorSerial < newest) continue;
    newest = slot.cursorSerial;
    report = {true, i, slot.cursor, slot.cursorPhysicalWidth, slot.cursorPhysicalHeight};
  }
  return report;
}

CastFrames::Counts CastFrames::Arrived() const {
  const std::lock_guard lock(mutex_);
  return {images_, serial_};
}

std::string CastFrames::Failure() const {
  const std::lock_guard lock(mutex_);
  return failure_;
}

bool CastFrames::WaitForEveryStream(std::chrono::milliseconds timeout) const {
  std::unique_lock lock(mutex_);
  const auto everyStream = [this] {
    return std::all_of(slots_.begin(), slots_.end(),
                       [](const Slot& slot) { return slot.everDelivered; });
  };
  changed_.wait_for(lock, timeout, [&] { return !failure_.empty() || everyStream(); });
  return failure_.empty() && everyStream();
}

CastScreen::CastScreen(std::vector<CastMonitor> monitors, CastScreenOptions options)
    : monitors_(std::move(monitors)),
      frames_(std::make_unique<CastFrames>(monitors_.size())),
      options_(std::move(options)),
      seen_(monitors_.size(), false) {
  virtualScreen_ = monitors_.front().logical;
  for (const CastMonitor& m : monitors_) {
    monitorRects_.push_back(m.logical);
    virtualScreen_.Left = std::min(virtualScreen_.Left, m.logical.Left);
    virtualScreen_.Top = std::min(virtualScreen_.Top, m.logical.Top);
    virtualScreen_.Right = std::max(virtualScreen_.Right, m.logical.Right);
    virtualScreen_.Bottom = std::max(virtualScreen_.Bottom, m.logical.Bottom);
  }
  // Black where no monitor is, as on any desktop whose monitors leave a gap.
  picture_.assign(static_cast<std::size_t>(virtualScreen_.Width()) *
                      static_cast<std::size_t>(virtualScreen_.Height()) * 4,
                  0);
}

bool CastScreen::CursorPos(TPoint& position) {
  const CastFrames::CursorReport report = frames_->Cursor();
  if (!report.known || report.stream >= monitors_.size()) return false;
  position = StreamToDesktop(monitors_[report.stream], report.physicalWidth, report.physicalHeight,
                             report.position);
  return true;
}

TRect CastScreen::NearestMonitor(const TRect& window) {
  return NearestMonitorOf(monitorRects_, window, virtualScreen_);
}

void CastScreen::FollowOwnWindows() {
  const auto now = options_.clock();
  std::vector<TRect> current = ownRects_ ? ownRects_() : std::vector<TRect>{};
  for (const TRect& r : lastRects_) {
    if (std::find(current.begin(), current.end(), r) == current.end()) trails_.push_back({r, now});
  }
  lastRects_ = std::move(current);
  // A trail no frame can need any more: frames are made before they arrive.
  std::erase_if(trails_,
                [&](const Trail& t) { return t.left + options_.windowTrail < now - kFrameAge; });
}

std::vector<TRect> CastScreen::CoveredRects(std::chrono::steady_clock::time_point made) const {
  std::vector<TRect> covered = lastRects_;
  for (const Trail& t : trails_) {
    if (made < t.left + options_.windowTrail) covered.push_back(t.rect);
  }
  return covered;
}

void CastScreen::TakeIn(std::size_t monitor, const CastFrame& frame,
                        const std::vector<TRect>& covered) {
  const TRect& m = monitors_[monitor].logical;
  const int lw = m.Width();
  const int lh = m.Height();
  if (lw <= 0 || lh <= 0 || frame.width <= 0 || frame.height <= 0) return;
  const bool sameSize = frame.width == lw && frame.height == lh;
  std::vector<int> columns;
  if (!sameSize) {
    columns.resize(static_cast<std::size_t>(lw));
    for (int x = 0; x < lw; ++x)
      columns[static_cast<std::size_t>(x)] = DesktopToStream(x, lw, frame.width);
  }
  const std::size_t pictureRow = static_cast<std::size_t>(virtualScreen_.Width()) * 4;
  const std::size_t frameRow = static_cast<std::size_t>(frame.width) * 4;
  std::vector<std::pair<int, int>> holes;  // covered columns of a row, from the monitor's left
  for (int y = 0; y < lh; ++y) {
    const int desktopY = m.Top + y;
    holes.clear();
    for (const TRect& r : covered) {
      if (desktopY < r.Top || desktopY >= r.Bottom) continue;
      const int from = std::max(r.Left, m.Left) - m.Left;
      const int to = std::min(r.Right, m.Right) - m.Left;
      if (from < to) holes.emplace_back(from, to);
    }
    std::sort(holes.begin(), holes.end());
    const int sy = sameSize ? y : DesktopToStream(y, lh, frame.height);
    const uint8_t* in = frame.pixels.data() + static_cast<std::size_t>(sy) * frameRow;
    uint8_t* out = picture_.data() +
                   static_cast<std::size_t>(desktopY - virtualScreen_.Top) * pictureRow +
                   static_cast<std::size_t>(m.Left - virtualScreen_.Left) * 4;
    const auto copySpan = [&](int from, int to) {
      if (from >= to) return;
      if (sameSize) {
        std::memcpy(out + static_cast<std::size_t>(from) * 4,
                    in + static_cast<std::size_t>(from) * 4,
                    static_cast<std::size_t>(to - from) * 4);
        return;
      }
      for (int x = from; x < to; ++x) {
        std::memcpy(out + static_cast<std::size_t>(x) * 4,
                    in + static_cast<std::size_t>(columns[static_cast<std::size_t>(x)]) * 4, 4);
      }
    };
    int x = 0;
    for (const auto& [from, to] : holes) {
      copySpan(x, from);
      x = std::max(x, to);
    }
    copySpan(x, lw);
  }
}

bool CastScreen::TakeInNewFrames() {
  bool any = false;
  for (std::size_t i = 0; i < monitors_.size() && !any; ++i) any = frames_->HasNewImage(i);
  // A still screen sends nothing: then our windows are not even asked about.
  if (!any) return false;
  FollowOwnWindows();
  for (std::size_t i = 0; i < monitors_.size(); ++i) {
    if (!frames_->TakeImage(i, taken_)) continue;
    TakeIn(i, taken_, CoveredRects(taken_.made));
    seen_[i] = true;
  }
  return true;
}

bool CastScreen::CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) {
  if (!frames_->Failure().empty()) return false;
  TakeInNewFrames();
  if (std::find(seen_.begin(), seen_.end(), false) != seen_.end()) return false;
  const int width = virtualScreen_.Width();
  const TPixelView view{picture_.data(), static_cast<std::ptrdiff_t>(width) * 4, width,
                        virtualScreen_.Height()};
  PlgBlt(capture, points, view, zone.Left - virtualScreen_.Left, zone.Top - virtualScreen_.Top,
         zone.Width(), zone.Height());
  lastZone_ = zone;
  const TRect part = OnPicture(zone);
  lastZonePixels_.resize(static_cast<std::size_t>(std::max(part.Width(), 0)) *
                         static_cast<std::size_t>(std::max(part.Height(), 0)) * 4);
  for (int y = part.Top; y < part.Bottom; ++y) {
    std::memcpy(&lastZonePixels_[static_cast<std::size_t>((y - part.Top) * part.Width()) * 4],
                &picture_[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                           static_cast<std::size_t>(part.Left)) *
                          4],
                static_cast<std::size_t>(part.Width()) * 4);
  }
  return true;
}

TRect CastScreen::OnPicture(const TRect& zone) const {
  const TRect part{std::max(zone.Left, virtualScreen_.Left), std::max(zone.Top, virtualScreen_.Top),
                   std::min(zone.Right, virtualScreen_.Right),
                   std::min(zone.Bottom, virtualScreen_.Bottom)};
  if (part.Left >= part.Right || part.Top >= part.Bottom) return {0, 0, 0, 0};
  return {part.Left - virtualScreen_.Left, part.Top - virtualScreen_.Top,
          part.Right - virtualScreen_.Left, part.Bottom - virtualScreen_.Top};
}

bool CastScreen::SameAsLastCopy() const {
  const TRect part = OnPicture(lastZone_);
  const auto width = static_cast<std::size_t>(virtualScreen_.Width());
  for (int y = part.Top; y < part.Bottom; ++y) {
    if (std::memcmp(
            &lastZonePixels_[static_cast<std::size_t>((y - part.Top) * part.Width()) * 4],
            &picture_[(static_cast<std::size_t>(y) * width + static_cast<std::size_t>(part.Left)) *
                      4],
            static_cast<std::size_t>(part.Width()) * 4) != 0)
      return false;
  }
  return true;
}

bool CastScreen::ZoneMayHaveChanged(const TRect& zone) {
  if (!(zone == lastZone_) || !frames_->Failure().empty()) return true;
  // Taken in now, the frames are not taken in again by the copy that may follow.
  return TakeInNewFrames() && !SameAsLastCopy();
}

}  // namespace ombrix
