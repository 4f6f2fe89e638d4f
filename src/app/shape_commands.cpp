// The main window's commands about a source: Properties, the row tooltip's summary and the
// thumbnail column.
#include <QAction>
#include <QHeaderView>

#include "app/main_window.h"
#include "app/thumbnail_column.h"
#include "lvdata/lvdata.h"
#include "platform/paths.h"
#include "windows/properties_window.h"

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
  showPropertiesWindow(this, entry.sourcePath, entry.details, encoderPath_);
}

QString TFMain::sourceTip(int row) {
  const VideoEntry& entry = engine_->list().entries().at(row);
  if (!entry.details) return {};
  return QString::fromStdString(sourceSummary(*entry.details));
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
