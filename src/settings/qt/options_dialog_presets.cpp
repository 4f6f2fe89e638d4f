// The settings dialog's presets: listed after the profiles in its chooser, and "Save as
// Preset..." keeping the dialog's profile and values under a name.
#include <QComboBox>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>

#include "platform/texts.h"
#include "settings/presets.h"
#include "settings/profiles.h"
#include "settings/qt/options_dialog_window.h"

namespace vidmora {

void OptionsDialog::setPresets(PresetStore* presets) {
  presets_ = presets;
  bSavePreset_->setVisible(presets_ != nullptr);
  if (!presets_) return;
  const QSignalBlocker block(cbVideoFor_);
  for (const Preset& p : presets_->presets()) cbVideoFor_->addItem(QString::fromStdString(p.name));
}

void OptionsDialog::chooserChanged(int index) {
  if (index < ProfileCount || !presets_ ||
      index - ProfileCount >= static_cast<int>(presets_->presets().size())) {
    profileChanged();
    return;
  }
  // A preset: its profile with its values; the chooser shows the profile.
  const Preset preset = presets_->presets()[index - ProfileCount];
  {
    const QSignalBlocker block(cbVideoFor_);
    cbVideoFor_->setCurrentIndex(profileIndexById(preset.values.ProfileId));
  }
  profileChanged();
  selectStoredValues(preset.values);
}

bool OptionsDialog::savePreset() {
  if (!presets_) return false;
  QString name;
  if (namePrompt_) {
    if (!namePrompt_(name)) return false;
  } else {
    bool ok = false;
    name = QInputDialog::getText(this, QStringLiteral("Save as Preset"),
                                 QStringLiteral("Preset name:"), QLineEdit::Normal, {}, &ok);
    if (!ok) return false;
  }
  TSettings values;
  readBack(values);
  const PresetError error = presets_->add(name.toStdString(), values);
  if (error != PresetError::None) {
    const QString message = QString::fromStdString(presetErrorText(error));
    if (notice_)
      notice_(message);
    else
      QMessageBox::information(this, QString::fromUtf8(texts::AppTitle), message);
    return false;
  }
  const QSignalBlocker block(cbVideoFor_);
  cbVideoFor_->addItem(QString::fromStdString(presets_->presets().back().name));
  return true;
}

}  // namespace vidmora
