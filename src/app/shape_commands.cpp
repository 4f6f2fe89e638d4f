// The main window's commands about a source: Properties, Trim…, Estimate Size, the row tooltip's
// summary and the thumbnail column.
#include <sys/statvfs.h>

#include <algorithm>

#include <QAction>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QTimer>

#include "app/batch_estimate.h"
#include "app/main_window.h"
#include "app/thumbnail_column.h"
#include "app/window_commands.h"
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

void WindowCommands::propertiesCommand() {
  const int row = window_.focusedRow();
  if (closing() || row < 0 || row >= engine().list().entries().count()) return;
  const VideoEntry& entry = engine().list().entries().at(row);
  // A row read from the history has no details yet: the window reads them itself.
  PropertiesWindow* window =
      showPropertiesWindow(&window_, entry.sourcePath, entry.details, window_.encoderPath_);
  window->setExpectedSize(window_.estimate().rowText(row));
  std::erase_if(openProperties_, [](const auto& open) { return open.first.isNull(); });
  openProperties_.emplace_back(window, entry.sourcePath);
}

void WindowCommands::refreshPropertiesEstimates() {
  const VideoList& list = engine().list().entries();
  for (const auto& [window, source] : openProperties_) {
    if (window.isNull()) continue;
    for (int row = 0; row < list.count(); ++row) {
      if (list.at(row).sourcePath != source) continue;
      window->setExpectedSize(window_.estimate().rowText(row));
      break;
    }
  }
}

void WindowCommands::estimateSizeCommand() {
  const std::vector<int> rows = shapeRows();
  if (closing() || rows.empty()) return;
  // The rows show "Estimating…" from now on (the announcement repaints them).
  window_.estimate().sampleRows(rows);
}

std::vector<int> WindowCommands::shapeRows() {
  std::vector<int> rows;
  for (const int row : commandRows())
    if (engine().list().entries().at(row).stateValue() == Ready) rows.push_back(row);
  return rows;
}

void WindowCommands::trimCommand() {
  const std::vector<int> rows = shapeRows();
  if (closing() || rows.empty()) return;
  const VideoEntry& first = engine().list().entries().at(rows.front());
  // The profile the first row will be converted with: its own, else the batch's.
  const std::shared_ptr<const ConversionSnapshot> values =
      engine().list().rowSettings(rows.front());
  const int16_t profileId = values ? values->ProfileId : engine().settings().ProfileId;
  const ProfileKind kind = profileKind(profileId);
  const ProfileExtras* extras = profileExtras(profileId);
  TrimCropOptions options;
  options.remux = kind == ProfileKind::Remux;
  // A target size and burned-in subtitles only where the conversion makes them: profiles with
  // quality levels reach a size, every profile but a copy draws subtitles into the picture.
  options.targetSize = kind == ProfileKind::QualityVideo && extras && extras->qualityChoice;
  options.severalRows = rows.size() > 1;
  options.burnIn = kind != ProfileKind::Remux;
  // The shape each row gets from the dialog's choice; the tracks are the first row's, with
  // several rows each keeps its own.
  const auto shapeOf = [this, several = options.severalRows](int row, const RowShape& chosen) {
    const std::shared_ptr<const RowShape> before = engine().list().rowShape(row);
    RowShape shape = before ? *before : RowShape();
    shape.trimStart = chosen.trimStart;
    shape.trimEnd = chosen.trimEnd;
    shape.cropAuto = chosen.cropAuto;
    shape.crop = chosen.crop;
    if (!several) {
      shape.audioTracks = chosen.audioTracks;
      shape.subtitleTracks = chosen.subtitleTracks;
    }
    shape.burnSubtitles = chosen.burnSubtitles;
    shape.targetSizeBytes = chosen.targetSizeBytes;
    return shape;
  };
  // Each row's target size as the encoder would check it: its part, its tracks under the
  // settings' rules, its values. Bars that are found only when converting leave the picture's
  // size unknown, and the encoder checks it then.
  options.targetSizeProblem = [this, rows, shapeOf](const RowShape& chosen) -> std::string {
    for (const int row : rows) {
      const VideoEntry& entry = engine().list().entries().at(row);
      const std::shared_ptr<const ConversionSnapshot> values = engine().list().rowSettings(row);
      if (!entry.details || !values) continue;
      const std::shared_ptr<const RowShape> ruled = shapeUnderRules(
          std::make_shared<RowShape>(shapeOf(row, chosen)), entry.details.get(),
          shapeRulesOf(engine().settings()), profileCarriesSubtitles(values->ProfileId));
      if (!ruled || (ruled->cropAuto && !ruled->crop)) continue;
      if (std::string problem = targetSizeProblem(*entry.details, *ruled, *values);
          !problem.empty())
        return problem;
    }
    return {};
  };
  TrimCropDialog dialog(first.sourcePath, first.details, options, &window_);
  // The dialog starts from the first row's shape, its tracks from the settings' rules where the
  // row chose none; OK gives every chosen row the same one.
  const std::shared_ptr<const RowShape> own = engine().list().rowShape(rows.front());
  if (const std::shared_ptr<const RowShape> ruled =
          shapeUnderRules(own, first.details.get(), shapeRulesOf(engine().settings()),
                          profileCarriesSubtitles(profileId)))
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
  const RowShape chosen = dialog.chosenShape();
  for (const int row : rows)
    engine().list().setRowShape({row}, std::make_shared<RowShape>(shapeOf(row, chosen)));
  updateStates();
}

QString TFMain::sourceTip(int row) {
  const VideoEntry& entry = engine_->list().entries().at(row);
  QStringList lines;
  if (entry.details) lines << QString::fromStdString(sourceSummary(*entry.details));
  if (const QString expected = estimate_->rowText(row); !expected.isEmpty())
    lines << tr("Expected output: %1").arg(expected);
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
  commands_->command("ShowThumbnails1")->setChecked(on);
}

void TFMain::setThumbnailsShown(bool on) {
  thumbnails_->setShown(on);
  commands_->command("ShowThumbnails1")->setChecked(on);
  // The settings folder may not be there before the settings are first saved.
  createFolderChain(configFolder_);
  writeSideFile(viewChoicesPath(), std::string(on ? ThumbnailsOn : "thumbnails=0") + "\n");
}

}  // namespace vidmora

// ---------------------------------------------------------------- the estimate

namespace vidmora {

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
    const QString text = estimate_->text();
    estimateLabel_->setText(text);
    estimateLabel_->setVisible(!text.isEmpty());
  });
  estimateLabel_->hide();
}

void TFMain::scheduleEstimate() {
  if (estimateTimer_ && !estimateTimer_->isActive()) estimateTimer_->start();
}

bool TFMain::batchFitsOrConfirmed() {
  const uint64_t total = estimate_->readyRows().total;
  const std::string folder = engine_->settings().DestDir;
  const uint64_t free = BatchEstimate::freeBytesAt(folder);
  if (total == 0 || free == 0 || total <= free) return true;
  return askOkCancel(texts::fillText(texts::BatchTooBig, formatSize(total).c_str(),
                                     formatSize(free).c_str(), folder.c_str()));
}

}  // namespace vidmora
