#include "windows/wait_window.h"

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QVBoxLayout>

namespace vidmora {
namespace {
// The one open wait window, or none.
QPointer<QDialog> waitWindow;
}  // namespace

void showWaitWindow(const QString& caption, const QString& message) {
  closeWaitWindow();
  auto* window = new QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                          Qt::WindowStaysOnTopHint);
  window->setObjectName(QStringLiteral("TFQX2Disp"));
  window->setAttribute(Qt::WA_DeleteOnClose, false);
  window->setWindowTitle(caption);
  window->setMinimumSize(316, 70);
  auto* layout = new QVBoxLayout(window);
  auto* text = new QLabel(message, window);
  text->setObjectName(QStringLiteral("LBText"));
  text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  layout->addWidget(text);
  layout->addStretch();
  window->adjustSize();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    window->move(area.center() - window->rect().center());
  }
  waitWindow = window;
  window->show();
  // Paint it before the caller starts its long work.
  QApplication::processEvents();
}

void closeWaitWindow() {
  if (waitWindow) delete waitWindow.data();
  waitWindow = nullptr;
}
}  // namespace vidmora
