// "Trim…": how one conversion is shaped beyond its profile. A start and an end with a frame
// preview slider, black bars found on the source and adjustable side by side, the audio and
// subtitle tracks that go out, subtitles burned in, and a target file size. Frames and the bar
// detection are decoded on a thread of the dialog's own; the dialog never waits for them.
#pragma once

#include <QDialog>
#include <QImage>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/black_bars.h"
#include "videolist/row_shape.h"
#include "videolist/source_details.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;

namespace vidmora {

struct TrimCropOptions {
  bool remux = false;        // streams copied: the cut starts at a keyframe
  bool targetSize = false;   // the profile offers a target file size
  bool severalRows = false;  // tracks differ between sources: the track lists are left out
  bool burnIn = false;       // the encoder can burn a subtitle into the picture
  // Why a target size cannot work for the row(s) shaped as chosen, in a few words with the
  // smallest size that works (empty: it can); OK keeps the dialog open while there is a reason.
  // Null: nothing is checked.
  std::function<std::string(const RowShape&)> targetSizeProblem;
};

class TrimCropDialog : public QDialog {
  Q_OBJECT
 public:
  // Target sizes offered, in MB (powers of 1000), before the free value.
  static constexpr int TargetChoicesMb[] = {10, 25, 50, 100, 500};

  TrimCropDialog(const std::string& sourcePath, std::shared_ptr<const SourceDetails> details,
                 TrimCropOptions options, QWidget* parent = nullptr);
  ~TrimCropDialog() override;

  // What the dialog starts with (the row's shape as it is).
  void setTrim(double start, double end);
  void setCrop(bool automatic, const std::optional<CropSides>& crop);
  void setTracks(const std::optional<std::vector<int>>& audio,
                 const std::optional<std::vector<int>>& subtitles, bool burn);
  void setTargetSize(uint64_t bytes);

  // What the user chose; valid after accept. End 0: to the end of the source.
  double trimStart() const { return start_; }
  double trimEnd() const { return end_; }
  std::optional<CropSides> crop() const;
  // The bars are to be found when converting (no sides set by hand).
  bool cropAuto() const { return cropAuto_ && !crop(); }
  // Positions among the source's audio (subtitle) streams; none: the profile's rules choose.
  std::optional<std::vector<int>> audioTracks() const;
  std::optional<std::vector<int>> subtitleTracks() const;
  bool burnSubtitles() const;
  uint64_t targetSizeBytes() const;
  // All of the above as a row's shape (tracks left to the rules with several rows).
  RowShape chosenShape() const;

  // Widgets, for tests and screenshots.
  QLineEdit* startEdit() const { return startEdit_; }
  QLineEdit* endEdit() const { return endEdit_; }
  QSlider* slider() const { return slider_; }
  QLabel* preview() const { return preview_; }
  QLabel* keyframeNote() const { return keyframeNote_; }
  QLabel* problem() const { return problem_; }
  QPushButton* detectButton() const { return detect_; }
  QSpinBox* side(int i) const { return sides_[i]; }  // top, bottom, left, right
  QListWidget* audioList() const { return audio_; }
  QListWidget* subtitleList() const { return subtitles_; }
  QCheckBox* burnBox() const { return burn_; }
  QComboBox* targetChoice() const { return target_; }
  QSpinBox* targetOther() const { return targetOther_; }
  // Frames decoded for the preview; detections ended (tests wait on them).
  int framesShown() const { return framesShown_; }
  int detections() const { return detections_; }

 public slots:
  void accept() override;
  void detectBlackBars();

 private:
  void requestFrame(double seconds);
  void showFrame(const QImage& frame, int storedWidth, int storedHeight);
  void drawPreview();
  void run(std::function<void()> task, bool preview);
  void work();

  std::string sourcePath_;
  std::shared_ptr<const SourceDetails> details_;
  TrimCropOptions options_;
  double duration_ = 0.0;
  double start_ = 0.0, end_ = 0.0;
  bool cropAuto_ = false;
  QImage frame_;
  int storedWidth_ = 0, storedHeight_ = 0;
  int framesShown_ = 0, detections_ = 0;

  QLineEdit* startEdit_;
  QLineEdit* endEdit_;
  QSlider* slider_;
  QLabel* preview_;
  QLabel* keyframeNote_;
  QLabel* problem_;
  QPushButton* detect_;
  QSpinBox* sides_[4];
  QListWidget* audio_ = nullptr;
  QListWidget* subtitles_ = nullptr;
  QCheckBox* burn_ = nullptr;
  QComboBox* target_ = nullptr;
  QSpinBox* targetOther_ = nullptr;

  // One thread decodes for the dialog: the latest preview asked for, then any other task.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::function<void()> previewTask_;
  std::vector<std::function<void()>> tasks_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace vidmora
