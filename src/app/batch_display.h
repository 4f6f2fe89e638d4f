// The window's batch display: the status bar's panels (help hint, list count or batch progress,
// the progress bar, the batch's count, the focused row's failure reason) and the conversion look
// (the busy animation in the program image's place, a refresh tick). It shows what the
// presenter makes of the engine's events.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

#include "engine/batch_presenter.h"

class QLabel;
class QProgressBar;
class QStatusBar;
class QTimer;

namespace vidmora {

class BusyIndicator;

class BatchDisplay : public QObject {
  Q_OBJECT

 public:
  // Fills the status bar; `image` and `busy` swap places during a batch. `tick` runs every
  // tickMs while a batch converts.
  BatchDisplay(QStatusBar* bar, QLabel* image, BusyIndicator* busy, int tickMs,
               std::function<void()> tick, QObject* parent);

  void rowsCounted(int count);
  void batchStarted(const BatchCounts& counts);
  void batchProgressed(const BatchCounts& counts);
  // A batch that ran to its end shows the full bar a moment (not while the window closes).
  void batchEnded(const BatchResult& result, int rowCount, bool closing);
  // The focused row's failure reason; empty clears it.
  void showReason(const QString& reason);
  // The window closes: the timers stop and the bar goes.
  void shutDown();

  // Panel texts as the user sees them: 0 the help hint, 1 the count or progress, 2 the focused
  // row's failure reason, 3 the batch's count ("2 of 13 converted", empty without a batch).
  QString panelText(int panel) const;
  bool progressBarVisible() const;
  bool animationRunning() const;

 private:
  void showTexts();
  void leaveConversionLook(bool showFullBar);

  BatchPresenter presenter_;
  QLabel* panels_[2] = {nullptr, nullptr};
  QProgressBar* progressBar_ = nullptr;
  QLabel* countPanel_ = nullptr;
  QLabel* reasonPanel_ = nullptr;
  QLabel* image_ = nullptr;
  BusyIndicator* busy_ = nullptr;
  QTimer* refreshTimer_ = nullptr;  // shows the running conversions during a batch
  QTimer* fullBarTimer_ = nullptr;  // the full bar shows a moment after a batch
};

}  // namespace vidmora
