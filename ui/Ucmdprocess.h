#pragma once
// The command window (unit Ucmdprocess): created hidden at start, it belongs to the main window
// (SetOwner), comes up beside it rather than over it, and stays where the user moves it. It
// keeps the snapshot of the last freeze with a stretched preview, redraws the frozen view from
// it with its gamma bar (whose position the live view reads on every frame too), keeps memo
// tabs that each hold the snapshot of their making, and saves the main window's picture.
// GUI thread only; every handler that Qt calls enters through the error report guard.

#include <QWidget>
#include <memory>
#include <vector>

#include "Controls.h"
#include "Graphics.h"

class QFrame;
class QGroupBox;
class QLabel;
class QScrollBar;
class QSlider;
class QTabBar;
class QToolButton;

namespace ombrix {

class TSaveDialog;

// What the command window asks of the main window, which implements this.
class TCmdMainWindow {
 public:
  // A redraw request: `picture` drawn into the view at its own size, unzoomed, unsharpened,
  // with `gamma` (0: no adjustment), and shown.
  virtual void RedrawView(const TBitmap& picture, float gamma) = 0;
  // The picture the main window shows now, which "Save as.." writes.
  virtual const TBitmap& CurrentView() = 0;
  virtual bool Frozen() const = 0;
  // A key typed while the command window itself has the keyboard focus.
  virtual void FormKeyDown(int key, Qt::KeyboardModifiers shift) = 0;
  // Hands the keyboard focus back to the main window.
  virtual void FocusMainWindow() = 0;

  virtual ~TCmdMainWindow() = default;
};

// What the command window publishes for the live view, read on every frame.
struct TCmdAdjustments {
  // The gamma bar's position / 100 (0: no adjustment).
  float gamma = 0.0f;
  // The brightness and contrast bars' positions, -100..100.
  int brightness = 0;
  int contrast = 0;
};

class TFormCmd : public QWidget {
 public:
  TFormCmd();
  ~TFormCmd() override;

  // Controls, owned by the window. Only the gamma bar is read by the program; the brightness,
  // contrast, zoom and sharpen controls can be moved and change nothing.
  QTabBar* TabControl1;
  QFrame* Panel1;
  QLabel* Label1;
  // 0..500, start 0: the gamma of the live view and of the redraw is its position / 100.
  QScrollBar* ScrollBarGamma;
  QLabel* Label7;
  QScrollBar* ScrollBarBrightness;
  QLabel* Label8;
  QScrollBar* ScrollBar2;
  QGroupBox* GroupBoxZoom;
  QSlider* Slider;
  QGroupBox* GroupBoxSharpen;
  QScrollBar* ScrollBarLevel;
  // The preview of the selected tab's snapshot, stretched to the control.
  TImage* Image1;
  QToolButton* SpeedButtonMemo;
  QToolButton* SpeedButtonSave;
  std::unique_ptr<TSaveDialog> SaveDialog1;

  // The last frozen zone (empty until the first freeze), owned by the window.
  TBitmap& Snapshot() { return *Snapshot_; }
  // Called by the freeze: `capture` becomes the snapshot and the preview, and tab "0", which
  // stands for it, the selected tab.
  void TakeSnapshot(const TBitmap& capture);

  // The main window this one works with, attached by it (TForm1::SetFormCmd); it must outlive
  // this window or detach itself. Null: no main window, keys and redraws go nowhere.
  void SetMainWindow(TCmdMainWindow* mainWindow) { mainWindow_ = mainWindow; }
  // The gamma, brightness and contrast that the bars stand at now.
  TCmdAdjustments Adjustments() const;

  // Handlers, connected at creation; public so that tests and other windows run them as the
  // controls do. Each raises for its caller's guard.
  // Every scroll event of the gamma bar: a redraw request of the selected tab's snapshot (the
  // last freeze for tab "0") with gamma `position` / 100; then the focus goes to the main
  // window.
  void ScrollBarGammaScroll(TScrollCode scrollCode, int position);
  // Adds the tab " n " (n: the number of tabs before), keeping the snapshot, and selects it.
  void SpeedButtonMemoClick();
  // Asks for a file name and writes the main window's view bitmap under it.
  void SpeedButtonSaveClick();
  // A tab selected by the user: its snapshot becomes the preview and, while the main window is
  // frozen, is drawn into the view with the current gamma.
  void TabControl1Change(int index);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void ConnectHandlers();
  // The snapshot that tab `index` stands for.
  const TBitmap& TabSnapshot(int index) const;
  void ShowPreview(const TBitmap& picture);
  void FocusMainWindow();

  TCmdMainWindow* mainWindow_ = nullptr;
  std::unique_ptr<TBitmap> Snapshot_;
  // The snapshots of tabs 1, 2, ...; tab 0 is always Snapshot_.
  std::vector<std::unique_ptr<TBitmap>> memos_;
  bool placed_ = false;
};

}  // namespace ombrix
