// The modal settings dialog over the settings record.
#pragma once

#include <QString>

#include "settings/settings.h"

class QWidget;

namespace vidmora {
class PresetStore;
// Edits `settings` in place; true when the user confirmed with OK (the record is changed only
// then). An empty caption keeps the dialog's own caption "Settings".
// With presets, the chooser offers them and "Save as Preset..." adds to them.
bool runOptionsDialog(QWidget* owner, TSettings& settings, const QString& caption = QString(),
                      PresetStore* presets = nullptr);
}  // namespace vidmora
