// The settings dialog window behind runOptionsDialog(). Every control carries its object name
// so tests (and style sheets) can find it.
#pragma once

#include <QDialog>
#include <functional>

#include "settings/settings.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace vidmora {

struct TOutputProfile;
class PresetStore;

class OptionsDialog : public QDialog {
  Q_OBJECT

 public:
  // Shows `settings`; the record itself is never touched (see readBack()).
  OptionsDialog(QWidget* owner, const TSettings& settings, const QString& caption = QString());

  // Writes the dialog's values into the record (the OK path).
  void readBack(TSettings& settings) const;

  // Replaces the information box of the close check (tests record the text instead).
  void setNoticeHandler(std::function<void(const QString&)> notice) { notice_ = std::move(notice); }
  // Replaces the folder browser: gets the title and the shown folder, returns the chosen
  // folder or an empty text when the user cancelled.
  void setFolderBrowser(std::function<QString(const QString&, const QString&)> browser) {
    browser_ = std::move(browser);
  }
  // The user's presets: they follow the profiles in the chooser (picking one selects its
  // profile and values) and "Save as Preset..." adds the dialog's values under a name.
  void setPresets(PresetStore* presets);
  // Replaces the name prompt of "Save as Preset..." (false: cancelled).
  void setNamePrompt(std::function<bool(QString&)> prompt) { namePrompt_ = std::move(prompt); }
  // "Save as Preset...": false when cancelled or refused (the reason went to the notice).
  bool savePreset();

 public slots:
  void accept() override;  // keeps the dialog open when both video and audio are disabled

 private:
  void buildConversionTab(QWidget* page);
  void buildGeneralTab(QWidget* page);
  void buildTracksTab(QWidget* page);
  const TOutputProfile& currentRow() const;
  void profileChanged();           // CBVideoForChange
  void chooserChanged(int index);  // a profile, or a preset after them
  void fillChoosers();
  void applyDefaults();  // BDefaultClick
  void selectStoredValues(const TSettings& s);
  void applyEnablingRule();
  void showModernChoosers();  // the quality and target choosers of the modern profiles
  void selectDestination();   // BSelectDirClick

  QLineEdit* edDir_ = nullptr;
  QPushButton* bSelectDir_ = nullptr;
  QComboBox* cbVideoFor_ = nullptr;
  QGroupBox* groupVideo_ = nullptr;
  QCheckBox* cbDisableVideo_ = nullptr;
  QComboBox* frameSizeChooser_ = nullptr;
  QComboBox* cbVideoBitrate_ = nullptr;
  QComboBox* cbVFrameRate_ = nullptr;
  QComboBox* cbVCodec_ = nullptr;
  QLabel* lbQuality_ = nullptr;
  QComboBox* cbQuality_ = nullptr;  // levels or a fixed bitrate, modern video profiles
  QLabel* lbAudioQuality_ = nullptr;
  QComboBox* cbAudioQuality_ = nullptr;  // the same for a sound profile with a VBR scale
  QGroupBox* groupAudio_ = nullptr;
  QCheckBox* cbDisableAudio_ = nullptr;
  QComboBox* cbAudioBitrate_ = nullptr;
  QComboBox* cbFreq_ = nullptr;
  QComboBox* cbChannels_ = nullptr;
  QComboBox* cbVolume_ = nullptr;
  QComboBox* cbACodec_ = nullptr;
  QPushButton* bDefault_ = nullptr;
  QSpinBox* conversionsSpin_ = nullptr;
  QLineEdit* edCnx_ = nullptr;
  QCheckBox* cbSaveHist_ = nullptr;
  QCheckBox* cbRemoveStop_ = nullptr;
  QCheckBox* cbInternalPlayer_ = nullptr;
  QCheckBox* cbShutdown_ = nullptr;
  QCheckBox* cbExitAC_ = nullptr;
  QCheckBox* cbAddToBatch_ = nullptr;
  QCheckBox* cbOnlyLanguages_ = nullptr;
  QLineEdit* edLanguages_ = nullptr;
  QCheckBox* cbKeepOriginal_ = nullptr;
  QCheckBox* cbDropCommentary_ = nullptr;
  QCheckBox* cbRemoveBlackBars_ = nullptr;
  QPushButton* bSavePreset_ = nullptr;
  PresetStore* presets_ = nullptr;
  std::function<bool(QString&)> namePrompt_;

  std::function<void(const QString&)> notice_;
  std::function<QString(const QString&, const QString&)> browser_;
};

}  // namespace vidmora
