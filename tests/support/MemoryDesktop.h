#pragma once
// A desktop made of a picture in memory, for tests: its origin, monitors and cursor are set by
// the test, and the screen can be made unreadable.

#include <vector>

#include "Desktop.h"

namespace ombrix {

class MemoryDesktop : public Desktop {
 public:
  // The picture is the whole virtual desktop, its top-left pixel at `origin`; one monitor
  // covers it until SetMonitors says otherwise.
  MemoryDesktop(int width, int height, TPoint origin = {0, 0});

  // The desktop's pixels, 32 bits per pixel, row 0 at the top of the virtual desktop.
  TBitmap& Picture() { return picture_; }
  void SetCursor(TPoint position) { cursor_ = position; }
  void SetMonitors(std::vector<TRect> monitors) { monitors_ = std::move(monitors); }
  // While false, CopyZone fails as a screen that cannot be read does.
  void SetAvailable(bool available) { available_ = available; }
  // How many copies succeeded: lets a test see whether a cycle captured.
  int CopyCount() const { return copies_; }

  bool CursorPos(TPoint& position) override;
  TRect VirtualScreen() override;
  int MonitorCount() override { return static_cast<int>(monitors_.size()); }
  TRect NearestMonitor(const TRect& window) override;
  bool CopyZone(const TRect& zone, const TPoint (&points)[3], TBitmap& capture) override;

 private:
  TBitmap picture_;
  TPoint origin_;
  TPoint cursor_;
  std::vector<TRect> monitors_;
  bool available_ = true;
  int copies_ = 0;
};

}  // namespace ombrix
