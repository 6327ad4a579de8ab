#pragma once
// The statistics window (unit Unit2): created hidden at start; the pixel statistics fill it.
// GUI thread only.

#include <QWidget>

namespace ombrix {

class TForm2 : public QWidget {
 public:
  TForm2();
};

}  // namespace ombrix
