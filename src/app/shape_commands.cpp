// The main window's commands about a source: Properties, the row tooltip's summary and the
// thumbnail column.
#include <sys/statvfs.h>

#include <algorithm>

#include <QAction>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>

#include "app/main_window.h"
#include "app/thumbnail_column.h"
#include "engine/job_shape.h"
#include "engine/output_estimate.h"
#include "lvdata/lvdata.h"
#include "platform/format.h"
#include "platform/paths.h"
#include "platform/texts.h"
#include "settings/profiles.h"
#include "windows/properties_window.h"
#include "windows/trim_crop_dialog.h"

namespace vidmora {
namespace {

constexpr const char* ViewChoicesFileName = "view";
constexpr const char* ThumbnailsOn = "thumbnails=1";

}  // namespace

void TFMain::propertiesCommand() {
  const int row = focusedRow();
  if (shuttingDown_ || row < 0 || row >= engine_->list().entries().count()) return;
  const VideoEntry& entry = engine_->list().entries().at(row);
  // A row read from the history has no details yet: the window reads them itself.
  PropertiesWindow* window =
      showPropertiesWindow(this, entry.sourcePath, entry.details, encoderPath_);
  if (const uint64_t bytes = expectedOutputBytes(row))
    window->setExpectedSize(tr("about %1").arg(QString::fromStdString(formatSize(bytes))));
}

std::vector<int> TFMain::shapeRows() {
  std::vector<int> rows;
  for (const int row : commandRows())
    if (engine_->list().entries().at(row).stateValue() == Ready) rows.push_back(row);
  return rows;
}

void TFMain::trimCommand() {
  const std::vector<int> rows = shapeRows();
  if (shuttingDown_ || rows.empty()) return;
  const VideoEntry& first = engine_->list().entries().at(rows.front());
  // The profile the first row will be converted with: its own, else the batch's.
  const std::shared_ptr<const ConversionSnapshot> values =
      engine_->list().rowSettings(rows.front());
  const int16_t profileId = values ? values->ProfileId : engine_->settings().ProfileId;
  const ProfileKind kind = profileKind(profileId);
  const ProfileExtras* extras = profileExtras(profileId);
  TrimCropOptions options;
  options.remux = kind == ProfileKind::Remux;
  // A target size and burned-in subtitles only where the conversion makes them: profiles with
  // quality levels reach a size, every profile but a copy draws subtitles into the picture.
  options.targetSize = kind == ProfileKind::QualityVideo && extras && extras->qualityChoice;
  options.severalRows = rows.size() > 1;
  options.burnIn = kind != ProfileKind::Remux;
  TrimCropDialog dialog(first.sourcePath, first.details, options, this);
  // The dialog starts from the first row's shape, its tracks from the settings' rules where the
  // row chose none; OK gives every chosen row the same one.
  const std::shared_ptr<const RowShape> own = engine_->list().rowShape(rows.front());
  if (const std::shared_ptr<const RowShape> ruled = shapeUnderRules(
          own, first.details.get(), shapeRulesOf(settings()), profileCarriesSubtitles(profileId)))
    dialog.setTracks(ruled->audioTracks, ruled->subtitleTracks, ruled->burnSubtitles);
  if (const std::shared_ptr<const RowShape>& shape = own) {
    dialog.setTrim(std::max(0.0, shape->trimStart), std::max(0.0, shape->trimEnd));
    std::optional<CropSides> crop;
    if (shape->crop)
      crop =
          CropSides{shape->crop->top, shape->crop->bottom, shape->crop->left, shape->crop->right};
    dialog.setCrop(shape->cropAuto, crop);
    dialog.setTargetSize(shape->targetSizeBytes);
  }
  if (dialog.exec() != QDialog::Accepted) return;
  // The tracks are the first row's; with several rows each keeps its own.
  for (const int row : rows) {
    const std::shared_ptr<const RowShape> before = engine_->list().rowShape(row);
    auto shape = before ? std::make_shared<RowShape>(*before) : std::make_shared<RowShape>();
    shape->trimStart = dialog.trimStart() > 0 ? dialog.trimStart() : -1;
    shape->trimEnd = dialog.trimEnd() > 0 ? dialog.trimEnd() : -1;
    shape->cropAuto = dialog.cropAuto();
    shape->crop.reset();
    if (const std::optional<CropSides> crop = dialog.crop())
      shape->crop = CropRect{crop->top, crop->bottom, crop->left, crop->right};
    if (!options.severalRows) {
      shape->audioTracks = dialog.audioTracks();
      shape->subtitleTracks = dialog.subtitleTracks();
    }
    shape->burnSubtitles = dialog.burnSubtitles();
    shape->targetSizeBytes = dialog.targetSizeBytes();
    engine_->list().setRowShape({row}, std::move(shape));
  }
  updateCommandStates();
}

QString TFMain::sourceTip(int row) {
  const VideoEntry& entry = engine_->list().entries().at(row);
  QStringList lines;
  if (entry.details) lines << QString::fromStdString(sourceSummary(*entry.details));
  if (const uint64_t bytes = expectedOutputBytes(row))
    lines << tr("Expected output: about %1").arg(QString::fromStdString(formatSize(bytes)));
  lines.removeAll(QString());
  return lines.join(QLatin1Char('\n'));
}

void TFMain::buildThumbnailColumn() {
  LVBook->addColumn(tr("Picture"), ThumbnailColumn::Width + 4, true);
  // Shown first, while the text columns keep their numbers.
  LVBook->header()->moveSection(LVBook->columnCountLv() - 1, 0);
  thumbnails_ = std::make_unique<ThumbnailColumn>(
      LVBook, LVBook->columnCountLv() - 1, [this](int row) -> std::string {
        if (shuttingDown_ || !engine_ || row < 0 || row >= engine_->list().entries().count())
          return {};
        return engine_->list().entries().at(row).sourcePath;
      });
}

// The view's choices that the settings file has no room for live in a small file of their own.
std::string TFMain::viewChoicesPath() const {
  return appendComponent(configFolder_, ViewChoicesFileName);
}

void TFMain::loadViewChoices() {
  const bool on = readSideFile(viewChoicesPath()).find(ThumbnailsOn) != std::string::npos;
  thumbnails_->setShown(on);
  command("ShowThumbnails1")->setChecked(on);
}

void TFMain::setThumbnailsShown(bool on) {
  thumbnails_->setShown(on);
  command("ShowThumbnails1")->setChecked(on);
  // The settings folder may not be there before the settings are first saved.
  createFolderChain(configFolder_);
  writeSideFile(viewChoicesPath(), std::string(on ? ThumbnailsOn : "thumbnails=0") + "\n");
}

}  // namespace vidmora

// ---------------------------------------------------------------- the estimate

namespace vidmora {
namespace {

uint64_t freeBytesAt(const std::string& folder) {
  struct statvfs info {};
  if (folder.empty() || ::statvfs(folder.c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.f_bavail) * info.f_frsize;
}

}  // namespace

uint64_t TFMain::expectedOutputBytes(int row) {
  if (!engine_ || row < 0 || row >= engine_->list().entries().count()) return 0;
  const std::shared_ptr<const ConversionSnapshot> settings = engine_->list().rowSettings(row);
  return settings ? expectedOutputBytes(row, *settings) : 0;
}

uint64_t TFMain::expectedOutputBytes(int row, const ConversionSnapshot& s) {
  const VideoEntry& entry = engine_->list().entries().at(row);
  if (entry.stateValue() != Ready) return 0;
  const std::shared_ptr<const RowShape> shape = engine_->list().rowShape(row);
  const ProfileKind kind = profileKind(s.ProfileId);
  const SourceDetails* source = entry.details.get();
  const double seconds =
      source && source->duration > 0 ? source->duration : double(entry.durationSeconds);
  EstimateInput in;
  in.seconds = shapedSeconds(shape.get(), seconds);
  in.targetSizeBytes = shape ? shape->targetSizeBytes : 0;
  in.remux = kind == ProfileKind::Remux;
  in.sourceBytes = source ? source->sizeBytes : 0;
  in.sourceSeconds = seconds;
  in.video = !s.DisableVideo && kind != ProfileKind::Sound;
  in.videoEncoder = s.VideoCodec;
  in.level = static_cast<QualityLevel>(s.Quality);
  in.audioBitrate = s.DisableAudio ? -1 : long(s.AudioBitrate) * 1000;
  const VideoStreamDetails* picture =
      source && !source->video.empty() ? &source->video[0] : nullptr;
  if (kind == ProfileKind::Classic) {
    // Fixed rates, one sound track.
    in.videoBitrate = long(s.VideoBitrate) * 1000;
    in.width = s.FrameWidth;
    in.height = s.FrameHeight;
    in.frameRate = s.FrameRate;
  } else {
    // A quality level: the picture's size decides (scaled to the profile's target height).
    if (picture) {
      in.width = picture->width;
      in.height = picture->height;
      if (s.TargetHeight > 0 && picture->height > s.TargetHeight) {
        in.width = int(double(picture->width) * s.TargetHeight / picture->height);
        in.height = s.TargetHeight;
      }
      in.frameRate = picture->frameRate;
    }
    in.audioTracks = shape && shape->audioTracks ? int(shape->audioTracks->size())
                     : source                    ? int(source->audio.size())
                                                 : 1;
  }
  return estimateOutputBytes(in);
}

TFMain::ReadyEstimate TFMain::readyRowsEstimate() {
  ReadyEstimate estimate;
  if (!engine_) return estimate;
  // The batch's values are taken once; rows with their own use theirs.
  ConversionSnapshot batchValues;
  takeSnapshot(batchValues, engine_->settings());
  const int count = engine_->list().entries().count();
  for (int row = 0; row < count; ++row) {
    const VideoEntry& entry = engine_->list().entries().at(row);
    if (entry.stateValue() != Ready) continue;
    ++estimate.ready;
    const std::shared_ptr<const ConversionSnapshot> own = engine_->list().ownSettings(row);
    if (const uint64_t bytes = expectedOutputBytes(row, own ? *own : batchValues)) {
      estimate.total += bytes;
      ++estimate.known;
    }
  }
  return estimate;
}

QString TFMain::batchEstimateText() {
  const auto [total, known, ready] = readyRowsEstimate();
  if (ready == 0 || known == 0) return {};
  QString text = tr("Expected: about %1").arg(QString::fromStdString(formatSize(total)));
  if (known < ready) text += tr(" for %1 of %2 videos").arg(known).arg(ready);
  const std::string folder = engine_->settings().DestDir;
  if (const uint64_t free = freeBytesAt(pathExists(folder) ? folder : folderOf(folder)))
    text += tr("; %1 free at the destination").arg(QString::fromStdString(formatSize(free)));
  return text;
}

void TFMain::buildEstimateLabel() {
  estimateLabel_ = new QLabel(PanelSettings);
  estimateLabel_->setObjectName(QStringLiteral("BatchEstimate"));
  estimateLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  if (auto* grid = qobject_cast<QGridLayout*>(PanelSettings->layout()))
    grid->addWidget(estimateLabel_, 2, 1);
  estimateTimer_ = new QTimer(this);
  estimateTimer_->setSingleShot(true);
  estimateTimer_->setInterval(100);
  connect(estimateTimer_, &QTimer::timeout, this, [this] {
    if (shuttingDown_) return;
    const QString text = batchEstimateText();
    estimateLabel_->setText(text);
    estimateLabel_->setVisible(!text.isEmpty());
  });
  estimateLabel_->hide();
}

void TFMain::scheduleEstimate() {
  if (estimateTimer_ && !estimateTimer_->isActive()) estimateTimer_->start();
}

bool TFMain::batchFitsOrConfirmed() {
  const uint64_t total = readyRowsEstimate().total;
  const std::string folder = engine_->settings().DestDir;
  const uint64_t free = freeBytesAt(folder);
  if (total == 0 || free == 0 || total <= free) return true;
  return askOkCancel(texts::fillText(texts::BatchTooBig, formatSize(total).c_str(),
                                     formatSize(free).c_str(), folder.c_str()));
}

}  // namespace vidmora
