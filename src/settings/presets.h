// Presets: a profile and its conversion values kept under a name the user chose, in
// presets.json of the configuration folder; exported and imported as JSON files of the same
// schema (docs/presets.md). They follow the built-in profiles in both choosers.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"

namespace vidmora {

constexpr int PresetFileVersion = 1;
constexpr std::size_t PresetNameLimit = 100;  // bytes

struct Preset {
  std::string name;
  ConversionSnapshot values;  // values.ProfileId names the profile; folders are not kept
  bool operator==(const Preset&) const = default;
};

enum class PresetError {
  None,
  EmptyName,       // a name of blanks only, or too long
  NameTaken,       // another preset or a built-in profile has it (case ignored)
  NotFound,        // no preset of that name
  UnknownProfile,  // the values name no built-in profile
  BadFile,         // not a preset file, or a value out of range
  NewerVersion,    // written by a newer program: left alone
  ReadFailed,
  WriteFailed,
};
// One sentence for the user.
std::string presetErrorText(PresetError error);

// The JSON text of the presets (schema in docs/presets.md).
std::string presetsToJson(const std::vector<Preset>& presets);
// Reads a preset file's text. Fields a preset leaves out take its profile's defaults. On any
// error `out` is left as it was.
PresetError presetsFromJson(const std::string& text, std::vector<Preset>& out);

// The user's presets and their file. Main thread.
class PresetStore {
 public:
  explicit PresetStore(std::string path) : path_(std::move(path)) {}
  // A missing file is an empty list (None). Any other error keeps the list empty and the
  // file as it is: a save then refuses to replace a file it could not read.
  PresetError load();
  const std::vector<Preset>& presets() const { return presets_; }
  // The preset of that name, case ignored; null when there is none.
  const Preset* find(const std::string& name) const;

  // Each change is saved at once; a failed save leaves the list as it was.
  PresetError add(const std::string& name, const ConversionSnapshot& values);
  PresetError rename(const std::string& oldName, const std::string& newName);
  PresetError remove(const std::string& name);
  // Export writes every preset to a file of the user's choice; import adds a file's presets,
  // a taken name getting " (2)", " (3)", ... so nothing the user has is replaced. `imported`
  // (when given) gets how many came.
  PresetError exportTo(const std::string& path) const;
  PresetError importFrom(const std::string& path, int* imported = nullptr);

 private:
  PresetError checkName(const std::string& name, const Preset* except) const;
  PresetError commit(std::vector<Preset> next);

  std::string path_;
  std::vector<Preset> presets_;
  bool fileUnreadable_ = false;
};

// <configFolder>/presets.json
std::string presetsFilePath(const std::string& configFolder);

}  // namespace vidmora
