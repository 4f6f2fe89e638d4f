// Pictures of the main window: the four row images, the toolbar images and the busy animation.
#pragma once

#include <QIcon>
#include <QList>
#include <QStyle>
#include <QWidget>

class QTimer;

namespace vidmora {

// The toolbar asks the desktop's icon theme first; without a desktop session Qt knows no theme,
// so the one Debian installs with GTK is taken when it exists. Called once, before the first icon.
void chooseIconTheme();

// Row images in list order: 0 ready, 1 in progress, 2 done, 3 stopped or failed.
QList<QIcon> makeRowImages();

// An icon of the desktop's theme, or the style's standard picture when the theme has none.
QIcon themedIcon(const char* themeName, QStyle::StandardPixmap fallback, const QStyle* style);

// The program's own picture (a film frame), shown at the toolbar's right while idle and used as
// the window icon.
QIcon programIcon();

// A small spinning indicator shown while a batch converts.
class BusyIndicator : public QWidget {
  Q_OBJECT
 public:
  explicit BusyIndicator(QWidget* parent = nullptr);
  void start();
  void stop();
  bool isAnimating() const;
  QSize sizeHint() const override { return {32, 32}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QTimer* timer_;
  int step_ = 0;
};

}  // namespace vidmora
