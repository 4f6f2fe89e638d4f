// The settings file: the settings record in a small binary file of the user's configuration
// folder, and the settings steps of start-up.
#pragma once

#include <string>

#include "settings/settings.h"

namespace vidmora {

class RecordStream;

// Folder texts are read back up to this many bytes; a longer or negative stored length leaves
// the field empty.
constexpr std::size_t FolderReadLimit = 4095;

// <configFolder>/settings.bin
std::string settingsFilePath(const std::string& configFolder);

// Fills the record from a stream positioned at the signature. A foreign signature leaves the
// record untouched; a stream that ends early leaves the remaining fields as they were (texts
// that were cut come back empty). Returns whether the signature matched.
bool readSettings(RecordStream& stream, TSettings& s);
// Missing, unreadable or foreign files leave the record as it was.
void loadSettings(TSettings& s, const std::string& path);
// Writes the record through a temporary file in the same folder (created when missing), made
// durable and then renamed over the old file, so a failed save leaves the old file whole.
// The result is for tests; callers report nothing.
bool saveSettings(const TSettings& s, const std::string& path);

// <configFolder>/choices.txt: the choices the settings file's fixed layout has no room for, one
// "name=value" line each: add-to-running-batch, only-preferred-languages, keep-original-language,
// drop-commentary, remove-black-bars (0 or 1) and preferred-languages (codes such as
// "eng, jpn"). Unknown names and bad values are passed over, a missing file keeps the defaults;
// the save replaces the file atomically.
std::string choicesFilePath(const std::string& configFolder);
void loadChoices(TSettings& s, const std::string& path);
bool saveChoices(const TSettings& s, const std::string& path);

// Start-up: defaults, then the settings and choices files of configFolder, then the destination
// folder: when DestDir is empty or names nothing that exists it becomes <videosFolder>/Vidmora,
// created with every missing parent (a failed creation is not reported; DestDir still names it).
void startupSettings(TSettings& s, const std::string& configFolder,
                     const std::string& videosFolder);
// The same with the user's XDG configuration and videos folders.
void startupSettings(TSettings& s);

}  // namespace vidmora
