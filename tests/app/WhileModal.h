#pragma once
// Driving a modal window from a test: its event loop blocks the test's own flow, so the test's
// steps run from inside that loop.

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <utility>

namespace ombrix::test {

// Runs `action` on the modal window from inside its own event loop as soon as it is up (and
// exposed, on a platform that says so), then closes the window if the action left it open.
class WhileModal {
 public:
  explicit WhileModal(std::function<void(QWidget&)> action) : action_(std::move(action)) {
    timer_.setInterval(5);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      QWidget* window = QApplication::activeModalWidget();
      if (window == nullptr || window->windowHandle() == nullptr ||
          !window->windowHandle()->isExposed()) {
        return;
      }
      timer_.stop();
      ran_ = true;
      action_(*window);
      if (window->isVisible()) window->close();
    });
    timer_.start();
  }

  bool Ran() const { return ran_; }

 private:
  std::function<void(QWidget&)> action_;
  QTimer timer_;
  bool ran_ = false;
};

}  // namespace ombrix::test
