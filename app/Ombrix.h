#pragma once
// Start-up: the program's windows, created in their order. GUI thread only.

#include <QSocketNotifier>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "Desktop.h"
#include "Ucmdprocess.h"
#include "Unit2.h"
#include "uZoom.h"

namespace ombrix {

// The windows of one run. Destroyed in reverse order of creation, the main window last.
struct TApplicationWindows {
  std::unique_ptr<TForm1> Form1;
  std::unique_ptr<TFormCmd> FormCmd;
  std::unique_ptr<TForm2> Form2;
};

// Sets the application's title, then creates the main window on `desktop` (its FormCreate
// starts the frame timer), the command window and the statistics window, all hidden and
// belonging to the main window (SetOwner), and tells `desktop` which windows are ours
// (OwnWindowIds), so that no capture shows them. Closing the main window ends the message
// loop even while the others are shown. Needs a QApplication; `desktop` must outlive the
// windows.
TApplicationWindows CreateApplicationWindows(Desktop& desktop);

// Watches the screen's own connection, when it has one (else null): at each news the screen
// reads it; once the screen has gone for good the watch ends and `lost` runs, else the news
// wake `form`'s timer when it rests.
std::unique_ptr<QSocketNotifier> WatchScreen(Desktop& screen, TForm1& form,
                                             std::function<void()> lost);

// The native ids of every top-level window of this program that has one now: the windows
// above, and the tool tips, message boxes and dialogs that come and go.
std::vector<uint32_t> OwnWindowIds();

}  // namespace ombrix
