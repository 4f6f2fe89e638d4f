#include "app/window_images.h"

#include <QFileInfo>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace vidmora {
namespace {

QPixmap blankPixmap(int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  return pixmap;
}

QIcon rowImage(int kind) {
  constexpr int size = 16;
  QPixmap pixmap = blankPixmap(size);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF disc(1.5, 1.5, 13, 13);
  QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
  switch (kind) {
    case 0:  // ready: a blue disc with a play mark
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x35, 0x84, 0xe4));
      p.drawEllipse(disc);
      p.setBrush(Qt::white);
      p.drawPolygon(QPolygonF({{6.0, 4.5}, {11.5, 8.0}, {6.0, 11.5}}));
      break;
    case 1:  // in progress: an amber disc with clock hands
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xe5, 0xa5, 0x0a));
      p.drawEllipse(disc);
      p.setPen(pen);
      p.drawLine(QPointF(8, 8), QPointF(8, 4.5));
      p.drawLine(QPointF(8, 8), QPointF(10.5, 9.5));
      break;
    case 2:  // done: a green disc with a tick
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0x2e, 0xa0, 0x43));
      p.drawEllipse(disc);
      p.setPen(pen);
      p.drawPolyline(QPolygonF({{4.5, 8.5}, {7.0, 11.0}, {11.5, 5.5}}));
      break;
    default:  // stopped or failed: a red disc with a cross
      p.setPen(Qt::NoPen);
      p.setBrush(QColor(0xd0, 0x30, 0x30));
      p.drawEllipse(disc);
      p.setPen(pen);
      p.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
      p.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
      break;
  }
  return QIcon(pixmap);
}

}  // namespace

void chooseIconTheme() {
  if (QIcon::hasThemeIcon(QStringLiteral("list-add"))) return;
  if (QFileInfo::exists(QStringLiteral("/usr/share/icons/Adwaita/index.theme")))
    QIcon::setThemeName(QStringLiteral("Adwaita"));
}

QList<QIcon> makeRowImages() {
  return {rowImage(0), rowImage(1), rowImage(2), rowImage(3)};
}

QIcon themedIcon(const char* themeName, QStyle::StandardPixmap fallback, const QStyle* style) {
  const QString name = QString::fromLatin1(themeName);
  if (QIcon::hasThemeIcon(name)) return QIcon::fromTheme(name);
  return style->standardIcon(fallback);
}

QIcon programIcon() {
  QIcon icon;
  for (int size : {16, 32, 48}) {
    QPixmap pixmap = blankPixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    // A film frame with a play mark.
    QPainterPath frame;
    frame.addRoundedRect(QRectF(1 * u, 2.5 * u, 14 * u, 11 * u), 2 * u, 2 * u);
    p.fillPath(frame, QColor(0x24, 0x3b, 0x55));
    p.setBrush(QColor(0xf6, 0xf5, 0xf4));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 4; ++i) {
      p.drawRect(QRectF((2.2 + i * 3.3) * u, 3.3 * u, 1.6 * u, 1.2 * u));
      p.drawRect(QRectF((2.2 + i * 3.3) * u, 11.5 * u, 1.6 * u, 1.2 * u));
    }
    p.setBrush(QColor(0xff, 0x8c, 0x1a));
    p.drawPolygon(QPolygonF({{6.2 * u, 5.4 * u}, {11 * u, 8 * u}, {6.2 * u, 10.6 * u}}));
    p.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

BusyIndicator::BusyIndicator(QWidget* parent) : QWidget(parent), timer_(new QTimer(this)) {
  timer_->setInterval(80);
  connect(timer_, &QTimer::timeout, this, [this] {
    step_ = (step_ + 1) % 12;
    update();
  });
  setFixedSize(32, 32);
}

void BusyIndicator::start() {
  if (!timer_->isActive()) timer_->start();
}

void BusyIndicator::stop() {
  timer_->stop();
}

bool BusyIndicator::isAnimating() const {
  return timer_->isActive();
}

void BusyIndicator::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.translate(width() / 2.0, height() / 2.0);
  const QColor base = palette().color(QPalette::Highlight);
  // Twelve spokes, the brightest one moving round.
  for (int i = 0; i < 12; ++i) {
    QColor c = base;
    c.setAlphaF(0.15 + 0.85 * ((i + 12 - step_) % 12 == 0
                                   ? 1.0
                                   : ((12 - (i + 12 - step_) % 12) / 12.0) * 0.7));
    p.setPen(QPen(c, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.save();
    p.rotate(i * 30.0);
    p.drawLine(QPointF(0, -7), QPointF(0, -13));
    p.restore();
  }
}

}  // namespace vidmora
