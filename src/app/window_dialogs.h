// Every dialog the main window opens, behind one interface: the window uses the standard
// implementation, tests a scripted one, so commands can be driven without a person.
#pragma once

#include <QString>
#include <functional>
#include <string>
#include <vector>

#include "platform/qt/shell_dialogs.h"
#include "settings/settings.h"

class QWidget;

namespace vidmora {

class PresetStore;

class WindowDialogs {
 public:
  virtual ~WindowDialogs() = default;
  // Notice with an OK button and the information icon; caption: the application title.
  virtual void notice(QWidget* owner, const QString& text) = 0;
  // OK/Cancel question with the question icon; true only on OK.
  virtual bool question(QWidget* owner, const QString& text) = 0;
  // The one-line prompt, asked again while confirmed empty; false on cancel.
  virtual bool askNonEmptyText(QWidget* owner, const QString& caption, const QString& prompt,
                               std::string& text, std::size_t capacity) = 0;
  // The settings dialog over `settings`; true on OK.
  virtual bool settingsDialog(QWidget* owner, TSettings& settings, const QString& caption) = 0;
  // Multi-select open dialog (at most maxCount paths); false on cancel.
  virtual bool openFiles(QWidget* owner, const QString& title, const std::string& initialFolder,
                         const std::string& filterText, std::vector<std::string>& paths,
                         std::size_t maxCount) = 0;
  // Folder chooser; `path` changes only on OK.
  virtual bool browseFolder(QWidget* owner, const QString& title, std::string& path) = 0;
  // Tip of the day; returns the new "show at startup" state.
  virtual bool tipOfTheDay(QWidget* owner, bool showAtStartup) = 0;
  // Opens a file or folder with the desktop's default program; a failure says what to install.
  // The outcome goes to `done` later, on the main thread, while the owner lives: the launch is
  // watched for a moment, and the window's thread does not wait for it.
  using LaunchDone = std::function<void(const LaunchOutcome&)>;
  virtual void openWithDesktop(QWidget* owner, const std::string& path, LaunchTarget kind,
                               LaunchDone done) = 0;
  // Starts the player with the video's path as its one argument; the outcome as above.
  virtual void launchPlayer(QWidget* owner, const std::string& playerPath,
                            const std::string& videoPath, LaunchDone done) = 0;
  // A presets file to export to (save) or import from; false on cancel.
  virtual bool choosePresetFile(QWidget*, const QString& /*title*/, bool /*save*/,
                                std::string& /*path*/) {
    return false;
  }
};

// The real dialogs.
class StandardDialogs : public WindowDialogs {
 public:
  void notice(QWidget* owner, const QString& text) override;
  bool question(QWidget* owner, const QString& text) override;
  bool askNonEmptyText(QWidget* owner, const QString& caption, const QString& prompt,
                       std::string& text, std::size_t capacity) override;
  bool settingsDialog(QWidget* owner, TSettings& settings, const QString& caption) override;
  bool openFiles(QWidget* owner, const QString& title, const std::string& initialFolder,
                 const std::string& filterText, std::vector<std::string>& paths,
                 std::size_t maxCount) override;
  bool browseFolder(QWidget* owner, const QString& title, std::string& path) override;
  bool tipOfTheDay(QWidget* owner, bool showAtStartup) override;
  void openWithDesktop(QWidget* owner, const std::string& path, LaunchTarget kind,
                       LaunchDone done) override;
  void launchPlayer(QWidget* owner, const std::string& playerPath, const std::string& videoPath,
                    LaunchDone done) override;
  bool choosePresetFile(QWidget* owner, const QString& title, bool save,
                        std::string& path) override;
  // The settings dialog offers these presets (the window's store).
  PresetStore* presets = nullptr;
};

}  // namespace vidmora
