// The main window's "About" and "Help" buttons: their modal windows.

#include <QDialog>
#include <memory>

#include "UHelp.h"
#include "WindowPlacement.h"
#include "uAbout.h"
#include "uZoom.h"

namespace ombrix {
namespace {

template <class Window>
void ShowModal(TForm1& form) {
  // Out of the stay-on-top layer for as long as the window is open, back in on every path.
  SetStayOnTop(form, false);
  struct TBackOnTop {
    TForm1& form;
    ~TBackOnTop() { SetStayOnTop(form, true); }
  } const backOnTop{form};

  auto window = std::make_unique<Window>();
  form.Timer1->SetInterval(0);
  // The picture runs again, a frozen one included, and the window goes, however showing ends.
  struct TResume {
    TForm1& form;
    std::unique_ptr<Window>& window;
    ~TResume() {
      form.Timer1->SetInterval(form.TimerPeriod());
      window.reset();
    }
  } const resume{form, window};

  if (form.ModalRunner) {
    form.ModalRunner(*window);
  } else {
    window->exec();
  }
}

}  // namespace

void TForm1::BitBtn1Click() {
  ShowModal<TAboutBox>(*this);
}

void TForm1::BitBtn2Click() {
  ShowModal<TFormHelp>(*this);
}

}  // namespace ombrix
