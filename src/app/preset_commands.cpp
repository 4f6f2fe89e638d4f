// The presets in the main window: the store, the main chooser's preset lines and the Options
// menu's rename, delete, export and import.
#include <QComboBox>
#include <QMenu>
#include <QSignalBlocker>

#include "app/main_window.h"
#include "app/window_commands.h"
#include "platform/texts.h"
#include "settings/presets.h"
#include "settings/profiles.h"

namespace vidmora {

namespace {

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

}  // namespace

void TFMain::initPresets() {
  presets_ = std::make_unique<PresetStore>(presetsFilePath(configFolder_));
  if (const PresetError error = presets_->load(); error != PresetError::None)
    std::fprintf(stderr, "vidmora: presets: %s\n", presetErrorText(error).c_str());
  if (auto* standard = dynamic_cast<StandardDialogs*>(dialogs_.get()))
    standard->presets = presets_.get();
}

void WindowCommands::buildPresetCommands(QMenu* options) {
  QMenu* menu = options->addMenu(tr("&Presets"));
  menu->setObjectName(QStringLiteral("Presets1"));
  const struct {
    const char* name;
    QString text;
    void (WindowCommands::*run)();
  } items[] = {{"RenamePreset1", tr("&Rename Preset..."), &WindowCommands::renamePresetCommand},
               {"DeletePreset1", tr("&Delete Preset..."), &WindowCommands::deletePresetCommand},
               {"ExportPresets1", tr("&Export Presets..."), &WindowCommands::exportPresetsCommand},
               {"ImportPresets1", tr("&Import Presets..."), &WindowCommands::importPresetsCommand}};
  for (const auto& item : items) menu->addAction(makeCommand(item.name, item.text, item.run));
  connect(menu, &QMenu::aboutToShow, this, [this] {
    const bool any = !window_.presets_->presets().empty();
    setEnabled({"RenamePreset1", "DeletePreset1", "ExportPresets1"}, any);
  });
}

void TFMain::fillPresetChoices() {
  if (!CBVideoFor) return;
  const QSignalBlocker block(CBVideoFor);
  while (CBVideoFor->count() > ProfileCount) CBVideoFor->removeItem(CBVideoFor->count() - 1);
  for (const Preset& p : presets_->presets()) CBVideoFor->addItem(qs(p.name));
}

bool TFMain::choosePreset(int index) {
  const int at = index - ProfileCount;
  if (at < 0 || at >= static_cast<int>(presets_->presets().size())) return false;
  // The preset's profile and values; the folders stay the user's.
  TSettings& s = engine_->settings();
  const TSettings folders = s;
  takeSnapshot(s, presets_->presets()[at].values);
  s.DestDir = folders.DestDir;
  s.ReservedDir = folders.ReservedDir;
  s.LastSourceDir = folders.LastSourceDir;
  engine_->settingsChanged();
  return true;
}

void WindowCommands::renamePresetCommand() {
  std::string name;
  // The preset the main chooser shows is offered first.
  if (window_.CBVideoFor && window_.CBVideoFor->currentIndex() >= ProfileCount)
    name = window_.CBVideoFor->currentText().toStdString();
  if (!window_.dialogs_->askNonEmptyText(&window_, tr("Rename Preset"), tr("Preset:"), name,
                                         PresetNameLimit))
    return;
  std::string newName = name;
  if (!window_.dialogs_->askNonEmptyText(&window_, tr("Rename Preset"), tr("New name:"), newName,
                                         PresetNameLimit))
    return;
  if (const PresetError e = window_.presets_->rename(name, newName); e != PresetError::None)
    return window_.showMessage(presetErrorText(e));
  window_.fillPresetChoices();
}

void WindowCommands::deletePresetCommand() {
  std::string name;
  if (window_.CBVideoFor && window_.CBVideoFor->currentIndex() >= ProfileCount)
    name = window_.CBVideoFor->currentText().toStdString();
  if (!window_.dialogs_->askNonEmptyText(&window_, tr("Delete Preset"), tr("Preset:"), name,
                                         PresetNameLimit))
    return;
  if (!window_.presets_->find(name))
    return window_.showMessage(presetErrorText(PresetError::NotFound));
  if (!window_.askOkCancel("Delete the preset \"" + name + "\"?")) return;
  if (const PresetError e = window_.presets_->remove(name); e != PresetError::None)
    return window_.showMessage(presetErrorText(e));
  window_.fillPresetChoices();
  window_.applyMainSettings();
}

void WindowCommands::exportPresetsCommand() {
  std::string path;
  if (!window_.dialogs_->choosePresetFile(&window_, tr("Export Presets"), true, path)) return;
  if (const PresetError e = window_.presets_->exportTo(path); e != PresetError::None)
    window_.showMessage(presetErrorText(e));
}

void WindowCommands::importPresetsCommand() {
  std::string path;
  if (!window_.dialogs_->choosePresetFile(&window_, tr("Import Presets"), false, path)) return;
  int imported = 0;
  if (const PresetError e = window_.presets_->importFrom(path, &imported); e != PresetError::None)
    return window_.showMessage(presetErrorText(e));
  window_.fillPresetChoices();
  window_.applyMainSettings();
  window_.showMessage(texts::fillText("%d preset(s) imported.", imported));
}

}  // namespace vidmora
