#include "app/batch_display.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QTimer>

#include "app/window_images.h"
#include "platform/texts.h"

namespace vidmora {

BatchDisplay::BatchDisplay(QStatusBar* bar, QLabel* image, BusyIndicator* busy, int tickMs,
                           std::function<void()> tick, QObject* parent)
    : QObject(parent), image_(image), busy_(busy) {
  bar->setObjectName(QStringLiteral("StatusBar1"));
  // No grip: the three panels alone must fit the narrowest window (400 pixels).
  bar->setSizeGripEnabled(false);
  const int widths[2] = {70, 120};
  for (int i = 0; i < 2; ++i) {
    panels_[i] = new QLabel(bar);
    panels_[i]->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panels_[i]->setAlignment(Qt::AlignCenter);
    panels_[i]->setFixedWidth(widths[i]);
    bar->addWidget(panels_[i]);
  }
  panels_[0]->setText(QString::fromLatin1(texts::StatusHelpHint));
  // Panel 2 hosts the batch progress bar, 12 pixels narrower than the panel.
  auto* panel = new QWidget(bar);
  panel->setFixedWidth(170);
  auto* layout = new QHBoxLayout(panel);
  layout->setContentsMargins(6, 0, 6, 0);
  progressBar_ = new QProgressBar(panel);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setTextVisible(false);
  progressBar_->setFixedWidth(158);
  progressBar_->setMaximumHeight(14);
  progressBar_->hide();
  layout->addWidget(progressBar_);
  bar->addWidget(panel);
  // During a batch: how many of its rows are converted ("2 of 13 converted").
  countPanel_ = new QLabel(bar);
  countPanel_->setObjectName(QStringLiteral("StatusCount"));
  countPanel_->hide();
  bar->addWidget(countPanel_);
  // The rest of the bar: why the focused row's conversion failed.
  reasonPanel_ = new QLabel(bar);
  reasonPanel_->setObjectName(QStringLiteral("StatusReason"));
  reasonPanel_->setMinimumWidth(0);
  reasonPanel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  bar->addWidget(reasonPanel_, 1);

  fullBarTimer_ = new QTimer(this);
  fullBarTimer_->setSingleShot(true);
  fullBarTimer_->setInterval(300);
  connect(fullBarTimer_, &QTimer::timeout, this, [this] { progressBar_->hide(); });
  refreshTimer_ = new QTimer(this);
  refreshTimer_->setInterval(tickMs);
  connect(refreshTimer_, &QTimer::timeout, this, std::move(tick));
  leaveConversionLook(false);
}

void BatchDisplay::showTexts() {
  panels_[1]->setText(QString::fromStdString(presenter_.statusText()));
  countPanel_->setText(QString::fromStdString(presenter_.countText()));
  countPanel_->setVisible(presenter_.batchRunning());
}

void BatchDisplay::rowsCounted(int count) {
  presenter_.rowsCounted(count);
  showTexts();
}

void BatchDisplay::batchStarted(const BatchCounts& counts) {
  presenter_.batchStarted(counts);
  fullBarTimer_->stop();
  progressBar_->setValue(presenter_.progress());
  progressBar_->show();
  refreshTimer_->start();
  image_->hide();
  busy_->show();
  busy_->start();
  showTexts();
}

void BatchDisplay::batchProgressed(const BatchCounts& counts) {
  presenter_.batchProgressed(counts);
  progressBar_->setValue(presenter_.progress());
  showTexts();
}

void BatchDisplay::batchEnded(const BatchResult& result, int rowCount, bool closing) {
  presenter_.batchEnded(result, rowCount);
  showTexts();
  leaveConversionLook(result.ranToEnd && !closing);
}

void BatchDisplay::leaveConversionLook(bool showFullBar) {
  refreshTimer_->stop();
  countPanel_->hide();
  busy_->stop();
  busy_->hide();
  image_->show();
  // The full bar stays a moment after a batch that ended by itself, without holding the thread.
  if (showFullBar) {
    progressBar_->setValue(presenter_.progress());
    fullBarTimer_->start();
  } else {
    progressBar_->hide();
  }
}

void BatchDisplay::showReason(const QString& reason) {
  reasonPanel_->setText(reason);
  reasonPanel_->setToolTip(reason);
}

void BatchDisplay::shutDown() {
  refreshTimer_->stop();
  fullBarTimer_->stop();
  progressBar_->hide();
}

QString BatchDisplay::panelText(int panel) const {
  if (panel == 2) return reasonPanel_->text();
  if (panel == 3)
    return countPanel_->isVisibleTo(countPanel_->window()) ? countPanel_->text() : QString();
  return panel >= 0 && panel < 2 ? panels_[panel]->text() : QString();
}

bool BatchDisplay::progressBarVisible() const {
  return progressBar_->isVisibleTo(progressBar_->window());
}

bool BatchDisplay::animationRunning() const {
  return busy_->isAnimating();
}

}  // namespace vidmora
