#include "settings/settings_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "platform/paths.h"
#include "platform/record_stream.h"
#include "platform/stale_files.h"
#include "platform/texts.h"

namespace vidmora {

namespace {

constexpr std::size_t ReservedBytes = 100;

// The modern profiles' choices follow the last classic field as a block of their own: its
// marker, the length of what follows, then the fields. A reader of the classic layout stops
// before it; a later version may append fields, which this reader passes over.
constexpr const char* ExtensionMarker = "VidmoraExt";
constexpr uint16_t ExtensionLength = 4;

bool hasExtensionValues(const TSettings& s) {
  const TSettings defaults;
  return s.Quality != defaults.Quality || s.TargetHeight != defaults.TargetHeight;
}

// Numbers are only copied into the record when all their bytes arrived.
template <typename T>
bool readInto(RecordStream& in, T& field) {
  return in.readNumber(field) == static_cast<int>(sizeof(T));
}

void writeBody(RecordStream& out, const TSettings& s) {
  out.writeSignature(texts::SettingsSignature);
  const unsigned char zeros[ReservedBytes] = {};
  out.write(zeros, sizeof zeros);
  out.writeText16(s.DestDir);
  out.writeText16(s.ReservedDir);
  out.writeText16(s.LastSourceDir);
  out.writeNumber(s.ProfileId);
  out.writeNumber(s.ShowToolbar);
  out.writeNumber(s.ReservedFlag);
  out.writeNumber(s.ShowSettingsPanel);
  out.writeNumber(s.ShowStatusBar);
  out.writeNumber(s.LastUpdateCheckDay);
  out.writeNumber(s.TipAtStartup);
  out.writeNumber(s.MaxConversions);
  out.writeNumber(s.SaveHistory);
  out.writeNumber(s.RemoveStopped);
  out.writeNumber(s.DisableVideo);
  out.writeNumber(s.FrameWidth);
  out.writeNumber(s.FrameHeight);
  out.writeNumber(s.FrameRate);
  out.writeNumber(s.VideoBitrate);
  out.writeNumber(s.AspectMode);
  out.writeNumber(s.DisableAudio);
  out.writeNumber(s.AudioBitrate);
  out.writeNumber(s.Channels);
  out.writeNumber(s.SampleRate);
  out.writeNumber(s.Volume);
  // Codec texts longer than their limit are stored cut, as every copy into the field cuts.
  out.writeText16(s.VideoCodec.substr(0, CodecTextLimit));
  out.writeText16(s.AudioCodec.substr(0, CodecTextLimit));
  out.writeNumber(s.InternalPlayer);
  out.writeNumber(s.ShutdownAfter);
  out.writeNumber(s.ExitAfter);
  // A user of the classic profiles alone keeps the classic file, byte for byte.
  if (!hasExtensionValues(s)) return;
  out.writeSignature(ExtensionMarker);
  out.writeNumber(ExtensionLength);
  out.writeNumber(s.Quality);
  out.writeNumber(s.TargetHeight);
}

void readExtension(RecordStream& in, TSettings& s) {
  uint16_t length = 0;
  if (!in.checkSignature(ExtensionMarker) || !readInto(in, length)) return;
  int16_t quality = 0, targetHeight = 0;
  if (length < ExtensionLength || !readInto(in, quality) || !readInto(in, targetHeight)) return;
  s.Quality = static_cast<int16_t>(qualityFromStored(quality));
  s.TargetHeight = targetHeight;
  in.skip(length - ExtensionLength);
}

}  // namespace

std::string settingsFilePath(const std::string& configFolder) {
  if (configFolder.empty()) return {};
  return appendComponent(configFolder, texts::SettingsFileName);
}

bool readSettings(RecordStream& in, TSettings& s) {
  if (!in.checkSignature(texts::SettingsSignature)) return false;
  if (in.skip(ReservedBytes) != ReservedBytes) return true;
  // A text field the file does not reach comes back empty; a number keeps its value. Reading
  // stops at the first field the file does not hold.
  in.readText16(s.DestDir, FolderReadLimit);
  in.readText16(s.ReservedDir, FolderReadLimit);
  in.readText16(s.LastSourceDir, FolderReadLimit);
  const bool whole =
      readInto(in, s.ProfileId) && readInto(in, s.ShowToolbar) && readInto(in, s.ReservedFlag) &&
      readInto(in, s.ShowSettingsPanel) && readInto(in, s.ShowStatusBar) &&
      readInto(in, s.LastUpdateCheckDay) && readInto(in, s.TipAtStartup) &&
      readInto(in, s.MaxConversions) && readInto(in, s.SaveHistory) &&
      readInto(in, s.RemoveStopped) && readInto(in, s.DisableVideo) && readInto(in, s.FrameWidth) &&
      readInto(in, s.FrameHeight) && readInto(in, s.FrameRate) && readInto(in, s.VideoBitrate) &&
      readInto(in, s.AspectMode) && readInto(in, s.DisableAudio) && readInto(in, s.AudioBitrate) &&
      readInto(in, s.Channels) && readInto(in, s.SampleRate) && readInto(in, s.Volume);
  if (!whole) {
    s.VideoCodec.clear();
    s.AudioCodec.clear();
    return true;
  }
  in.readText16(s.VideoCodec, CodecTextLimit);
  in.readText16(s.AudioCodec, CodecTextLimit);
  if (readInto(in, s.InternalPlayer) && readInto(in, s.ShutdownAfter) && readInto(in, s.ExitAfter))
    readExtension(in, s);
  return true;
}

void loadSettings(TSettings& s, const std::string& path) {
  auto in = RecordStream::open(path, RecordStream::Mode::Read);
  if (!in) return;
  readSettings(*in, s);
}

bool saveSettings(const TSettings& s, const std::string& path) {
  if (path.empty()) return false;
  const std::string folder = folderOf(path);
  if (!folder.empty() && !pathExists(folder)) createFolderChain(folder);
  std::string temp;
  const int fd = createSaveTemp(path, temp);
  if (fd < 0) return false;
  ::fchmod(fd, 0644);
  auto out = RecordStream::fromFd(fd, RecordStream::Mode::Write);
  writeBody(*out, s);
  const bool written = out->sync() && out->close();
  if (!written || std::rename(temp.c_str(), path.c_str()) != 0) {
    ::unlink(temp.c_str());
    return false;
  }
  // Make the rename itself durable.
  const int dir = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

namespace {
constexpr std::size_t ChoicesFileLimit = 64 * 1024;
constexpr std::size_t LanguagesLimit = 200;

// The choices kept in the side file: a name, and the field a "0" or "1" sets.
struct ChoiceFlag {
  const char* name;
  uint8_t TSettings::*field;
};
constexpr ChoiceFlag ChoiceFlags[] = {
    {"add-to-running-batch", &TSettings::AddToRunningBatch},
    {"only-preferred-languages", &TSettings::OnlyPreferredLanguages},
    {"keep-original-language", &TSettings::KeepOriginalLanguage},
    {"drop-commentary", &TSettings::DropCommentary},
    {"remove-black-bars", &TSettings::RemoveBlackBars},
};
constexpr const char* PreferredLanguagesKey = "preferred-languages";

// Letters, blanks and the separators of a list of language codes; nothing else is kept.
bool isLanguageListText(const std::string& text) {
  if (text.size() > LanguagesLimit) return false;
  for (const char c : text)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == ',' || c == ' ' || c == ';' ||
          c == '-' || c == '_'))
      return false;
  return true;
}

}  // namespace

std::string choicesFilePath(const std::string& configFolder) {
  return appendComponent(configFolder, texts::ChoicesFileName);
}

void loadChoices(TSettings& s, const std::string& path) {
  std::string text;
  if (path.empty() || readRegularFile(path, text, ChoicesFileLimit) != FileRead::Ok) return;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    const std::string name = line.substr(0, eq), value = line.substr(eq + 1);
    for (const ChoiceFlag& flag : ChoiceFlags)
      if (name == flag.name && (value == "0" || value == "1")) s.*flag.field = value == "1";
    if (name == PreferredLanguagesKey && isLanguageListText(value)) s.PreferredLanguages = value;
  }
}

bool saveChoices(const TSettings& s, const std::string& path) {
  if (path.empty()) return false;
  createFolderChain(folderOf(path));
  std::string text;
  for (const ChoiceFlag& flag : ChoiceFlags)
    text += std::string(flag.name) + "=" + (s.*flag.field ? "1" : "0") + "\n";
  if (isLanguageListText(s.PreferredLanguages))
    text += std::string(PreferredLanguagesKey) + "=" + s.PreferredLanguages + "\n";
  return replaceFileAtomically(path, text);
}

void startupSettings(TSettings& s, const std::string& configFolder,
                     const std::string& videosFolder) {
  setDefaults(s);
  if (!configFolder.empty()) {
    loadSettings(s, settingsFilePath(configFolder));
    loadChoices(s, choicesFilePath(configFolder));
  }
  if (s.DestDir.empty() || !pathExists(s.DestDir)) {
    // Without a videos folder (no home folder at all) the program's own folder serves.
    const std::string base = videosFolder.empty() ? programFolder() : videosFolder;
    s.DestDir = appendComponent(base, texts::DefaultOutputSubfolder);
    createFolderChain(s.DestDir);
  }
}

void startupSettings(TSettings& s) {
  startupSettings(s, configFolder(), videosFolder());
}

}  // namespace vidmora
