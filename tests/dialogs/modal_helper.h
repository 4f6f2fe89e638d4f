// Drives modal windows from inside their event loop: the action runs as soon as a modal window
// of the wanted kind is active (polled by a timer, so it also works for nested message boxes).
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

template <typename Window>
void whenModal(std::function<void(Window*)> action, int attempts = 500) {
  QTimer::singleShot(10, qApp, [action, attempts] {
    if (auto* window = qobject_cast<Window*>(QApplication::activeModalWidget())) {
      action(window);
    } else if (attempts > 0) {
      whenModal<Window>(action, attempts - 1);
    }
  });
}
