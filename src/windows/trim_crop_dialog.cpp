#include "windows/trim_crop_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

#include "engine/frame_grabber.h"
#include "engine/job_shape.h"

namespace vidmora {
namespace {

constexpr int PreviewWidth = 384, PreviewHeight = 216;
constexpr uint64_t Megabyte = 1000 * 1000;

QString qs(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString trackText(int index, const std::string& language, const std::string& codec,
                  const std::string& extra) {
  QStringList parts{QStringLiteral("#%1").arg(index)};
  parts << (language.empty() ? QStringLiteral("und") : qs(language)) << qs(codecDisplayName(codec));
  if (!extra.empty()) parts << qs(extra);
  return parts.join(QLatin1Char(' '));
}

QListWidget* trackList(QWidget* parent, const QString& name) {
  auto* list = new QListWidget(parent);
  list->setObjectName(name);
  list->setMaximumHeight(90);
  return list;
}

void addTrack(QListWidget* list, const QString& text, int index) {
  auto* item = new QListWidgetItem(text, list);
  item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
  item->setCheckState(Qt::Checked);
  item->setData(Qt::UserRole, index);
}

// The checked tracks; none when every one is checked (the profile's rules then decide).
std::optional<std::vector<int>> checkedTracks(const QListWidget* list) {
  if (list == nullptr) return std::nullopt;
  std::vector<int> chosen;
  for (int i = 0; i < list->count(); ++i)
    if (list->item(i)->checkState() == Qt::Checked)
      chosen.push_back(list->item(i)->data(Qt::UserRole).toInt());
  if (static_cast<int>(chosen.size()) == list->count()) return std::nullopt;
  return chosen;
}

void checkTracks(QListWidget* list, const std::optional<std::vector<int>>& chosen) {
  if (list == nullptr) return;
  for (int i = 0; i < list->count(); ++i) {
    const int index = list->item(i)->data(Qt::UserRole).toInt();
    const bool on = !chosen || std::find(chosen->begin(), chosen->end(), index) != chosen->end();
    list->item(i)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

}  // namespace

TrimCropDialog::TrimCropDialog(const std::string& sourcePath,
                               std::shared_ptr<const SourceDetails> details,
                               TrimCropOptions options, QWidget* parent)
    : QDialog(parent), sourcePath_(sourcePath), details_(std::move(details)), options_(options) {
  setObjectName(QStringLiteral("TrimCropDialog"));
  setWindowTitle(QStringLiteral("Trim - %1").arg(QFileInfo(qs(sourcePath)).fileName()));
  duration_ = details_ ? details_->duration : 0.0;

  // --- trim and preview
  auto* trim = new QGroupBox(QStringLiteral("Trim"), this);
  startEdit_ = new QLineEdit(qs(timeText(0)), trim);
  startEdit_->setObjectName(QStringLiteral("TrimStart"));
  endEdit_ = new QLineEdit(qs(timeText(duration_)), trim);
  endEdit_->setObjectName(QStringLiteral("TrimEnd"));
  auto* setStart = new QPushButton(QStringLiteral("Set &Start"), trim);
  auto* setEnd = new QPushButton(QStringLiteral("Set &End"), trim);
  slider_ = new QSlider(Qt::Horizontal, trim);
  slider_->setObjectName(QStringLiteral("PreviewSlider"));
  slider_->setRange(0, static_cast<int>(duration_ * 1000));
  slider_->setSingleStep(100);
  slider_->setPageStep(std::max(1000, slider_->maximum() / 20));
  preview_ = new QLabel(trim);
  preview_->setObjectName(QStringLiteral("Preview"));
  preview_->setFixedSize(PreviewWidth, PreviewHeight);
  preview_->setAlignment(Qt::AlignCenter);
  preview_->setStyleSheet(QStringLiteral("background: black"));
  keyframeNote_ = new QLabel(
      QStringLiteral("The streams are copied: the cut starts at the keyframe before the start."),
      trim);
  keyframeNote_->setObjectName(QStringLiteral("KeyframeNote"));
  keyframeNote_->setWordWrap(true);
  keyframeNote_->setVisible(options_.remux);
  auto* trimGrid = new QGridLayout(trim);
  trimGrid->addWidget(preview_, 0, 0, 1, 4, Qt::AlignCenter);
  trimGrid->addWidget(slider_, 1, 0, 1, 4);
  trimGrid->addWidget(new QLabel(QStringLiteral("Start:"), trim), 2, 0);
  trimGrid->addWidget(startEdit_, 2, 1);
  trimGrid->addWidget(setStart, 2, 2);
  trimGrid->addWidget(new QLabel(QStringLiteral("End:"), trim), 3, 0);
  trimGrid->addWidget(endEdit_, 3, 1);
  trimGrid->addWidget(setEnd, 3, 2);
  trimGrid->addWidget(keyframeNote_, 4, 0, 1, 4);
  connect(slider_, &QSlider::valueChanged, this, [this](int ms) { requestFrame(ms / 1000.0); });
  connect(setStart, &QPushButton::clicked, this,
          [this] { startEdit_->setText(qs(timeText(slider_->value() / 1000.0))); });
  connect(setEnd, &QPushButton::clicked, this,
          [this] { endEdit_->setText(qs(timeText(slider_->value() / 1000.0))); });

  // --- crop
  auto* crop = new QGroupBox(QStringLiteral("Crop"), this);
  detect_ = new QPushButton(QStringLiteral("&Detect black bars"), crop);
  detect_->setObjectName(QStringLiteral("DetectBlackBars"));
  auto* cropRow = new QHBoxLayout(crop);
  cropRow->addWidget(detect_);
  const char* sideNames[4] = {"Top", "Bottom", "Left", "Right"};
  for (int i = 0; i < 4; ++i) {
    sides_[i] = new QSpinBox(crop);
    sides_[i]->setObjectName(QStringLiteral("Crop%1").arg(QLatin1String(sideNames[i])));
    sides_[i]->setRange(0, 4096);
    sides_[i]->setSingleStep(2);
    cropRow->addWidget(new QLabel(QLatin1String(sideNames[i]) + QLatin1Char(':'), crop));
    cropRow->addWidget(sides_[i]);
    connect(sides_[i], &QSpinBox::valueChanged, this, [this] {
      cropAuto_ = false;
      drawPreview();
    });
  }
  connect(detect_, &QPushButton::clicked, this, &TrimCropDialog::detectBlackBars);

  // --- tracks
  auto* tracks = new QGroupBox(QStringLiteral("Tracks"), this);
  auto* trackForm = new QFormLayout(tracks);
  if (details_ && !options_.severalRows) {
    audio_ = trackList(tracks, QStringLiteral("AudioTracks"));
    for (std::size_t i = 0; i < details_->audio.size(); ++i) {
      const AudioStreamDetails& a = details_->audio[i];
      addTrack(audio_,
               trackText(a.index, a.language, a.codec, channelsDisplayName(a.channels, a.layout)),
               static_cast<int>(i));
    }
    subtitles_ = trackList(tracks, QStringLiteral("SubtitleTracks"));
    for (std::size_t i = 0; i < details_->subtitles.size(); ++i) {
      const SubtitleStreamDetails& s = details_->subtitles[i];
      addTrack(subtitles_, trackText(s.index, s.language, s.codec, s.forced ? "forced" : ""),
               static_cast<int>(i));
    }
    trackForm->addRow(QStringLiteral("Audio:"), audio_);
    trackForm->addRow(QStringLiteral("Subtitles:"), subtitles_);
  }
  burn_ = new QCheckBox(QStringLiteral("&Burn in subtitles"), tracks);
  burn_->setObjectName(QStringLiteral("BurnSubtitles"));
  burn_->setEnabled(!options_.remux);
  burn_->setVisible(options_.burnIn);
  trackForm->addRow(burn_);

  // --- target size
  auto* size = new QGroupBox(QStringLiteral("Size"), this);
  auto* sizeRow = new QHBoxLayout(size);
  target_ = new QComboBox(size);
  target_->setObjectName(QStringLiteral("TargetSize"));
  target_->addItem(QStringLiteral("Quality of the profile"), 0);
  for (const int mb : TargetChoicesMb)
    target_->addItem(QStringLiteral("Target size %1 MB").arg(mb), mb);
  target_->addItem(QStringLiteral("Target size, other:"), -1);
  targetOther_ = new QSpinBox(size);
  targetOther_->setObjectName(QStringLiteral("TargetSizeOther"));
  targetOther_->setRange(1, 1000000);
  targetOther_->setValue(200);
  targetOther_->setSuffix(QStringLiteral(" MB"));
  targetOther_->setEnabled(false);
  sizeRow->addWidget(target_, 1);
  sizeRow->addWidget(targetOther_);
  // Offered only where it is made: a choice the conversion would ignore is not shown.
  size->setEnabled(options_.targetSize);
  size->setVisible(options_.targetSize);
  connect(target_, &QComboBox::currentIndexChanged, this,
          [this] { targetOther_->setEnabled(target_->currentData().toInt() < 0); });

  problem_ = new QLabel(this);
  problem_->setObjectName(QStringLiteral("Problem"));
  problem_->setStyleSheet(QStringLiteral("color: #b00000"));
  problem_->setWordWrap(true);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &TrimCropDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(trim);
  layout->addWidget(crop);
  layout->addWidget(tracks);
  layout->addWidget(size);
  layout->addWidget(problem_);
  layout->addWidget(buttons);

  thread_ = std::thread([this] { work(); });
  // The first frame worth showing: a tenth into the source.
  slider_->setValue(slider_->maximum() / 10);
  if (slider_->value() == 0) requestFrame(0);
}

TrimCropDialog::~TrimCropDialog() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void TrimCropDialog::run(std::function<void()> task, bool preview) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (preview)
      previewTask_ = std::move(task);  // an older frame nobody waits for any more is dropped
    else
      tasks_.push_back(std::move(task));
  }
  wake_.notify_one();
}

void TrimCropDialog::work() {
  for (;;) {
    std::function<void()> task;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || previewTask_ || !tasks_.empty(); });
      if (stopping_) return;
      if (previewTask_) {
        task = std::move(previewTask_);
        previewTask_ = nullptr;
      } else {
        task = std::move(tasks_.front());
        tasks_.erase(tasks_.begin());
      }
    }
    task();
  }
}

void TrimCropDialog::requestFrame(double seconds) {
  run(
      [this, seconds, path = sourcePath_] {
        FrameGrabber grabber;
        Thumbnail picture;
        QImage image;
        int storedWidth = 0, storedHeight = 0;
        if (grabber.open(path) == GrabStatus::Ok && grabber.grab(seconds) &&
            grabber.picture(PreviewWidth, PreviewHeight, picture) && !picture.empty()) {
          image = QImage(picture.rgb.data(), picture.width, picture.height, picture.width * 3,
                         QImage::Format_RGB888)
                      .copy();
          const bool turned = grabber.rotation() == 90 || grabber.rotation() == 270;
          storedWidth = turned ? grabber.storedHeight() : grabber.storedWidth();
          storedHeight = turned ? grabber.storedWidth() : grabber.storedHeight();
        }
        // The dialog joins this thread before it goes: the call finds it alive or is dropped.
        QMetaObject::invokeMethod(
            this,
            [this, image, storedWidth, storedHeight] {
              showFrame(image, storedWidth, storedHeight);
            },
            Qt::QueuedConnection);
      },
      true);
}

void TrimCropDialog::showFrame(const QImage& frame, int storedWidth, int storedHeight) {
  ++framesShown_;
  frame_ = frame;
  storedWidth_ = storedWidth;
  storedHeight_ = storedHeight;
  if (storedWidth > 0) {
    sides_[0]->setMaximum(storedHeight / 2);
    sides_[1]->setMaximum(storedHeight / 2);
    sides_[2]->setMaximum(storedWidth / 2);
    sides_[3]->setMaximum(storedWidth / 2);
  }
  drawPreview();
}

void TrimCropDialog::drawPreview() {
  if (frame_.isNull()) {
    preview_->setText(QStringLiteral("No picture"));
    return;
  }
  QPixmap canvas = QPixmap::fromImage(frame_);
  if (storedWidth_ > 0 && storedHeight_ > 0) {
    // The crop as the output will have it: what goes is dimmed, the kept part framed.
    const double sx = double(frame_.width()) / storedWidth_;
    const double sy = double(frame_.height()) / storedHeight_;
    const QRectF kept(sides_[2]->value() * sx, sides_[0]->value() * sy,
                      frame_.width() - (sides_[2]->value() + sides_[3]->value()) * sx,
                      frame_.height() - (sides_[0]->value() + sides_[1]->value()) * sy);
    QPainter painter(&canvas);
    QPainterPath outside;
    outside.addRect(canvas.rect());
    QPainterPath inside;
    inside.addRect(kept);
    painter.fillPath(outside.subtracted(inside), QColor(255, 0, 0, 90));
    painter.setPen(QPen(Qt::red, 1));
    painter.drawRect(kept.adjusted(0, 0, -1, -1));
  }
  preview_->setPixmap(canvas);
}

void TrimCropDialog::detectBlackBars() {
  detect_->setEnabled(false);
  detect_->setText(QStringLiteral("Looking for black bars..."));
  run(
      [this, path = sourcePath_] {
        const CropDetection found = vidmora::detectBlackBars(path);
        QMetaObject::invokeMethod(
            this,
            [this, found] {
              ++detections_;
              detect_->setEnabled(true);
              detect_->setText(QStringLiteral("&Detect black bars"));
              if (!found.ok) {
                problem_->setText(QStringLiteral("The source could not be read."));
                return;
              }
              const int values[4] = {found.crop.top, found.crop.bottom, found.crop.left,
                                     found.crop.right};
              for (int i = 0; i < 4; ++i) {
                sides_[i]->setMaximum(std::max(sides_[i]->maximum(), values[i]));
                sides_[i]->setValue(values[i]);
              }
              problem_->setText(found.crop.any() ? QString()
                                                 : QStringLiteral("No black bars were found."));
              drawPreview();
            },
            Qt::QueuedConnection);
      },
      false);
}

void TrimCropDialog::setTrim(double start, double end) {
  startEdit_->setText(qs(timeText(start)));
  endEdit_->setText(qs(timeText(end > 0 ? end : duration_)));
}

void TrimCropDialog::setCrop(bool automatic, const std::optional<CropSides>& crop) {
  const CropSides sides = crop.value_or(CropSides{});
  const int values[4] = {sides.top, sides.bottom, sides.left, sides.right};
  for (int i = 0; i < 4; ++i) {
    sides_[i]->setMaximum(std::max(sides_[i]->maximum(), values[i]));
    sides_[i]->setValue(values[i]);
  }
  cropAuto_ = automatic && !crop;
}

void TrimCropDialog::setTracks(const std::optional<std::vector<int>>& audio,
                               const std::optional<std::vector<int>>& subtitles, bool burn) {
  checkTracks(audio_, audio);
  checkTracks(subtitles_, subtitles);
  burn_->setChecked(burn && burn_->isEnabled());
}

void TrimCropDialog::setTargetSize(uint64_t bytes) {
  if (bytes == 0) {
    target_->setCurrentIndex(0);
    return;
  }
  const int index = target_->findData(static_cast<int>(bytes / Megabyte));
  if (bytes % Megabyte == 0 && index > 0) {
    target_->setCurrentIndex(index);
    return;
  }
  target_->setCurrentIndex(target_->count() - 1);
  targetOther_->setValue(static_cast<int>(std::max<uint64_t>(1, bytes / Megabyte)));
}

std::optional<CropSides> TrimCropDialog::crop() const {
  const CropSides sides{sides_[0]->value(), sides_[1]->value(), sides_[2]->value(),
                        sides_[3]->value()};
  if (!sides.any()) return std::nullopt;
  return sides;
}

std::optional<std::vector<int>> TrimCropDialog::audioTracks() const {
  return checkedTracks(audio_);
}

std::optional<std::vector<int>> TrimCropDialog::subtitleTracks() const {
  return checkedTracks(subtitles_);
}

bool TrimCropDialog::burnSubtitles() const {
  return options_.burnIn && burn_->isChecked();
}

uint64_t TrimCropDialog::targetSizeBytes() const {
  if (!target_->isEnabled() || !target_->parentWidget()->isEnabled()) return 0;
  const int mb = target_->currentData().toInt();
  return static_cast<uint64_t>(mb < 0 ? targetOther_->value() : mb) * Megabyte;
}

RowShape TrimCropDialog::chosenShape() const {
  RowShape shape;
  shape.trimStart = start_ > 0 ? start_ : -1;
  shape.trimEnd = end_ > 0 ? end_ : -1;
  shape.cropAuto = cropAuto();
  if (const std::optional<CropSides> sides = crop())
    shape.crop = CropRect{sides->top, sides->bottom, sides->left, sides->right};
  if (!options_.severalRows) {
    shape.audioTracks = audioTracks();
    shape.subtitleTracks = subtitleTracks();
  }
  shape.burnSubtitles = burnSubtitles();
  shape.targetSizeBytes = targetSizeBytes();
  return shape;
}

void TrimCropDialog::accept() {
  const auto start = parseTimeText(startEdit_->text().trimmed().toStdString());
  const auto end = parseTimeText(endEdit_->text().trimmed().toStdString());
  if (!start || !end) {
    problem_->setText(QStringLiteral("Write the times as HH:MM:SS.mmm or in seconds."));
    return;
  }
  if (*end <= *start) {
    problem_->setText(QStringLiteral("The end must come after the start."));
    return;
  }
  if (duration_ > 0 && *start >= duration_) {
    problem_->setText(QStringLiteral("The start lies after the end of the source."));
    return;
  }
  for (QSpinBox* side : sides_)
    if (side->value() % 2 != 0) {
      problem_->setText(QStringLiteral("Crop by even numbers of pixels."));
      return;
    }
  if (storedWidth_ > 0 && (sides_[2]->value() + sides_[3]->value() >= storedWidth_ ||
                           sides_[0]->value() + sides_[1]->value() >= storedHeight_)) {
    problem_->setText(QStringLiteral("The crop leaves no picture."));
    return;
  }
  start_ = *start;
  // An end at (or past) the source's end keeps the whole rest.
  end_ = duration_ > 0 && *end >= duration_ - 0.0005 ? 0.0 : *end;
  // A target size too small for the part chosen is refused now, not when converting.
  if (targetSizeBytes() > 0 && options_.targetSizeProblem) {
    std::string why = options_.targetSizeProblem(chosenShape());
    if (!why.empty()) {
      why[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(why[0])));
      problem_->setText(QString::fromStdString(why + "."));
      return;
    }
  }
  QDialog::accept();
}

}  // namespace vidmora
