#include "settings/qt/options_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QShortcut>
#include <QSpinBox>
#include <QTabWidget>
#include <QVBoxLayout>
#include <cctype>

#include "platform/texts.h"
#include "settings/profiles.h"
#include "settings/qt/options_dialog_window.h"
#include "windows/help_pages.h"

namespace vidmora {

namespace {

constexpr int ChooserLines = 20;
constexpr int VolumeLines = 21;  // 0% .. 500% in steps of 25
constexpr int NormalVolumeLine = 4;
constexpr int VolumeStep = 25;

QString qs(const std::string& text) {
  return QString::fromStdString(text);
}

QComboBox* makeChooser(const char* name, int lines) {
  auto* box = new QComboBox;
  box->setObjectName(QString::fromLatin1(name));
  box->setMaxVisibleItems(lines);
  return box;
}

QCheckBox* makeCheck(const char* name, const char* caption) {
  auto* box = new QCheckBox(QString::fromUtf8(caption));
  box->setObjectName(QString::fromLatin1(name));
  return box;
}

// Line of a chooser, never outside its lines (an empty chooser gives -1).
int safeLine(const QComboBox* box) {
  const int line = box->currentIndex();
  if (line >= 0 && line < box->count()) return line;
  return box->count() > 0 ? 0 : -1;
}

void selectLine(QComboBox* box, int line) {
  box->setCurrentIndex(line >= 0 && line < box->count() ? line : 0);
}

bool hasTexts(const char* const* list) {
  return list != nullptr && list[0] != nullptr && *list[0];
}

std::string upper(const char* text) {
  std::string out = text != nullptr ? text : "";
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// The codec the record gets: the listed entry at the line (upper case, as shown), else the
// row's own codec, else none.
std::string codecAt(const char* const* list, const char* own, int line) {
  if (hasTexts(list)) {
    for (int i = 0; list[i] != nullptr && *list[i]; ++i) {
      if (i == line) return upper(list[i]).substr(0, CodecTextLimit);
    }
    return upper(list[0]).substr(0, CodecTextLimit);
  }
  return own != nullptr ? std::string(own).substr(0, CodecTextLimit) : std::string();
}

QLabel* addLabelled(QGridLayout* grid, int row, const char* label, QWidget* field) {
  auto* text = new QLabel(QString::fromUtf8(label));
  grid->addWidget(text, row, 0);
  grid->addWidget(field, row, 1);
  return text;
}

ProfileKind kindOf(const TOutputProfile& row) {
  return profileKind(row.Id);
}

// The sound profile offers levels for its bit rate (a VBR scale).
bool hasAudioQuality(const TOutputProfile& row) {
  const ProfileExtras* extras = profileExtras(row.Id);
  return extras != nullptr && extras->kind == ProfileKind::Sound && extras->qualityChoice;
}

void fillQualityLines(QComboBox* box) {
  for (int i = 0; i < QualityLevelCount; ++i)
    box->addItem(qs(qualityLabel(static_cast<QualityLevel>(i))));
}

int targetLine(int height) {
  int raw = -1;
  return indexOfInt16(TargetHeights, static_cast<int16_t>(height), &raw);
}

}  // namespace

OptionsDialog::OptionsDialog(QWidget* owner, const TSettings& settings, const QString& caption)
    : QDialog(owner) {
  setObjectName(QStringLiteral("TFOptions"));
  setWindowTitle(caption.isEmpty() ? QStringLiteral("Settings") : caption);
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* pages = new QTabWidget;
  pages->setObjectName(QStringLiteral("PageControl1"));
  auto* conversion = new QWidget;
  conversion->setObjectName(QStringLiteral("TabConversion"));
  auto* general = new QWidget;
  general->setObjectName(QStringLiteral("TabGeneral"));
  buildConversionTab(conversion);
  buildGeneralTab(general);
  auto* tracks = new QWidget;
  tracks->setObjectName(QStringLiteral("TabTracks"));
  buildTracksTab(tracks);
  pages->addTab(conversion, QStringLiteral("Conversion"));
  pages->addTab(general, QStringLiteral("General"));
  pages->addTab(tracks, QStringLiteral("Tracks and Picture"));

  auto* bOk = new QPushButton(QStringLiteral("&OK"));
  bOk->setObjectName(QStringLiteral("BOk"));
  bOk->setDefault(true);
  auto* bCancel = new QPushButton(QStringLiteral("&Cancel"));
  bCancel->setObjectName(QStringLiteral("BCancel"));
  connect(bOk, &QPushButton::clicked, this, &OptionsDialog::accept);
  connect(bCancel, &QPushButton::clicked, this, &OptionsDialog::reject);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(bOk);
  buttons->addWidget(bCancel);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(pages);
  layout->addLayout(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);  // fixed dialog border

  auto* help = new QShortcut(QKeySequence::HelpContents, this);
  connect(help, &QShortcut::activated, this, [this] { openHelpContents(this); });

  // Opening: default lists, the folder, the profile, its choosers, then the stored values.
  fillDefaultLists();
  edDir_->setText(QString::fromStdString(settings.DestDir));
  {
    const QSignalBlocker block(cbVideoFor_);
    for (int i = 0; i < ProfileCount; ++i)
      cbVideoFor_->addItem(QString::fromUtf8(OutputProfiles[i].Name));
    cbVideoFor_->setCurrentIndex(profileIndexById(settings.ProfileId));
  }
  profileChanged();
  selectStoredValues(settings);

  conversionsSpin_->setValue(settings.MaxConversions);
  cbSaveHist_->setChecked(settings.SaveHistory != 0);
  cbRemoveStop_->setChecked(settings.RemoveStopped != 0);
  cbInternalPlayer_->setChecked(settings.InternalPlayer != 0);
  cbShutdown_->setChecked(settings.ShutdownAfter != 0);
  cbExitAC_->setChecked(settings.ExitAfter != 0);
  cbAddToBatch_->setChecked(settings.AddToRunningBatch != 0);
  cbOnlyLanguages_->setChecked(settings.OnlyPreferredLanguages != 0);
  edLanguages_->setText(QString::fromStdString(settings.PreferredLanguages));
  cbKeepOriginal_->setChecked(settings.KeepOriginalLanguage != 0);
  cbDropCommentary_->setChecked(settings.DropCommentary != 0);
  cbRemoveBlackBars_->setChecked(settings.RemoveBlackBars != 0);
}

void OptionsDialog::buildConversionTab(QWidget* page) {
  edDir_ = new QLineEdit;
  edDir_->setObjectName(QStringLiteral("EdDir"));
  edDir_->setEnabled(false);  // changed only through the "..." button
  QFont bold = edDir_->font();
  bold.setBold(true);
  edDir_->setFont(bold);
  edDir_->setMinimumWidth(360);
  bSelectDir_ = new QPushButton(QStringLiteral("..."));
  bSelectDir_->setObjectName(QStringLiteral("BSelectDir"));
  bSelectDir_->setFixedWidth(32);
  connect(bSelectDir_, &QPushButton::clicked, this, &OptionsDialog::selectDestination);

  cbVideoFor_ = makeChooser("CBVideoFor", ChooserLines);
  connect(cbVideoFor_, &QComboBox::currentIndexChanged, this, &OptionsDialog::chooserChanged);

  groupVideo_ = new QGroupBox(QStringLiteral("Video"));
  groupVideo_->setObjectName(QStringLiteral("GroupVideo"));
  cbDisableVideo_ = makeCheck("CBDisableVideo", "Disable Video");
  frameSizeChooser_ = makeChooser("CBDxDy", ChooserLines);
  cbVideoBitrate_ = makeChooser("CBVideoBitrate", ChooserLines);
  cbVFrameRate_ = makeChooser("CBVFrameRate", ChooserLines);
  cbVCodec_ = makeChooser("CBVCodec", ChooserLines);
  auto* videoGrid = new QGridLayout(groupVideo_);
  videoGrid->addWidget(cbDisableVideo_, 0, 0, 1, 2);
  addLabelled(videoGrid, 1, "Frame Size:", frameSizeChooser_);
  addLabelled(videoGrid, 2, "Bitrate (Kbps):", cbVideoBitrate_);
  addLabelled(videoGrid, 3, "Frame Rate (fps):", cbVFrameRate_);
  addLabelled(videoGrid, 4, "Video Codec:", cbVCodec_);
  cbQuality_ = makeChooser("CBQuality", ChooserLines);
  lbQuality_ = addLabelled(videoGrid, 5, "Quality:", cbQuality_);
  videoGrid->setRowStretch(6, 1);

  groupAudio_ = new QGroupBox(QStringLiteral("Audio"));
  groupAudio_->setObjectName(QStringLiteral("GroupBox2"));
  cbDisableAudio_ = makeCheck("CBDisableAudio", "Disable Audio");
  cbAudioBitrate_ = makeChooser("CBAudioBitrate", ChooserLines);
  cbFreq_ = makeChooser("CBFreq", ChooserLines);
  cbChannels_ = makeChooser("CBChannels", ChooserLines);
  cbVolume_ = makeChooser("CBVolume", VolumeLines);
  cbACodec_ = makeChooser("CBACodec", ChooserLines);
  auto* audioGrid = new QGridLayout(groupAudio_);
  audioGrid->addWidget(cbDisableAudio_, 0, 0, 1, 2);
  addLabelled(audioGrid, 1, "Bitrate (Kbps):", cbAudioBitrate_);
  addLabelled(audioGrid, 2, "Sample Rate (Hz):", cbFreq_);
  addLabelled(audioGrid, 3, "Channels:", cbChannels_);
  addLabelled(audioGrid, 4, "Volume:", cbVolume_);
  addLabelled(audioGrid, 5, "Audio Codec:", cbACodec_);
  cbAudioQuality_ = makeChooser("CBAudioQuality", ChooserLines);
  lbAudioQuality_ = addLabelled(audioGrid, 6, "Quality:", cbAudioQuality_);
  audioGrid->setRowStretch(7, 1);
  connect(cbQuality_, &QComboBox::currentIndexChanged, this, &OptionsDialog::applyEnablingRule);
  connect(cbAudioQuality_, &QComboBox::currentIndexChanged, this,
          &OptionsDialog::applyEnablingRule);

  connect(cbDisableVideo_, &QCheckBox::clicked, this, &OptionsDialog::applyEnablingRule);
  connect(cbDisableAudio_, &QCheckBox::clicked, this, &OptionsDialog::applyEnablingRule);

  bDefault_ = new QPushButton(QStringLiteral("Set Defaults"));
  bDefault_->setObjectName(QStringLiteral("BDefault"));
  connect(bDefault_, &QPushButton::clicked, this, &OptionsDialog::applyDefaults);
  bSavePreset_ = new QPushButton(QStringLiteral("Save as Preset..."));
  bSavePreset_->setObjectName(QStringLiteral("BSavePreset"));
  bSavePreset_->hide();  // shown when the dialog has the presets
  connect(bSavePreset_, &QPushButton::clicked, this, [this] { savePreset(); });

  auto* layout = new QVBoxLayout(page);
  layout->addWidget(new QLabel(QStringLiteral("Destination Folder")));
  auto* dirRow = new QHBoxLayout;
  dirRow->addWidget(edDir_, 1);
  dirRow->addWidget(bSelectDir_);
  layout->addLayout(dirRow);
  layout->addWidget(new QLabel(QStringLiteral("Video Format:")));
  layout->addWidget(cbVideoFor_);
  auto* groups = new QHBoxLayout;
  groups->addWidget(groupVideo_, 1);
  groups->addWidget(groupAudio_, 1);
  layout->addLayout(groups);
  auto* defaultRow = new QHBoxLayout;
  defaultRow->addWidget(bSavePreset_);
  defaultRow->addStretch();
  defaultRow->addWidget(bDefault_);
  layout->addLayout(defaultRow);
}

void OptionsDialog::buildGeneralTab(QWidget* page) {
  conversionsSpin_ = new QSpinBox;
  conversionsSpin_->setObjectName(QStringLiteral("UpDownCnx"));
  conversionsSpin_->setRange(1, MaxConversionsLimit);
  conversionsSpin_->setSingleStep(1);
  conversionsSpin_->setWrapping(false);
  // The number changes only through the arrows (and the arrow keys): the text is read-only.
  edCnx_ = conversionsSpin_->findChild<QLineEdit*>();
  if (edCnx_ != nullptr) {
    edCnx_->setObjectName(QStringLiteral("EdCnx"));
    edCnx_->setReadOnly(true);
  }
  cbSaveHist_ = makeCheck("CBSaveHist", "Save History");
  cbRemoveStop_ = makeCheck("CBRemoveStop", "Remove Stoped videos (Destination)");
  cbInternalPlayer_ = makeCheck("CBInternalPlayer", "Use Internal video player");
  cbShutdown_ = makeCheck("CBShutdown", "Shutdown computer after conversion(s)");
  cbExitAC_ = makeCheck("CBExitAC", "Exit program after conversion(s)");
  cbAddToBatch_ = makeCheck("CBAddToBatch", "Add to the running batch");

  auto* layout = new QVBoxLayout(page);
  auto* cnxRow = new QHBoxLayout;
  cnxRow->addWidget(new QLabel(QStringLiteral("Max concurrent conversions (1-20):")));
  cnxRow->addWidget(conversionsSpin_);
  cnxRow->addStretch();
  layout->addLayout(cnxRow);
  for (QCheckBox* box :
       {cbSaveHist_, cbRemoveStop_, cbInternalPlayer_, cbShutdown_, cbExitAC_, cbAddToBatch_}) {
    layout->addWidget(box);
  }
  layout->addStretch();
}

// What goes out of rows that make no choice of their own (Trim... makes a row's own choice).
void OptionsDialog::buildTracksTab(QWidget* page) {
  cbOnlyLanguages_ = makeCheck("CBOnlyLanguages", "Keep only the sound in these &languages:");
  edLanguages_ = new QLineEdit;
  edLanguages_->setObjectName(QStringLiteral("EdLanguages"));
  edLanguages_->setPlaceholderText(QStringLiteral("the desktop's language"));
  edLanguages_->setToolTip(
      QStringLiteral("Language codes, most wanted first, such as \"eng, jpn\" or \"de, en\".\n"
                     "Subtitles in these languages are kept too."));
  edLanguages_->setMaxLength(200);
  // Codes and their separators only, as the choices file keeps them.
  edLanguages_->setValidator(new QRegularExpressionValidator(
      QRegularExpression(QStringLiteral("[A-Za-z ,;_-]*")), edLanguages_));
  cbKeepOriginal_ = makeCheck("CBKeepOriginal", "Keep the &original language's sound as well");
  cbDropCommentary_ = makeCheck("CBDropCommentary", "Drop &commentary tracks");
  cbRemoveBlackBars_ = makeCheck("CBRemoveBlackBars", "Remove &black bars");
  const auto follow = [this] {
    edLanguages_->setEnabled(cbOnlyLanguages_->isChecked());
    cbKeepOriginal_->setEnabled(cbOnlyLanguages_->isChecked());
  };
  connect(cbOnlyLanguages_, &QCheckBox::toggled, this, follow);

  auto* sound = new QGroupBox(QStringLiteral("Sound and subtitles"));
  sound->setObjectName(QStringLiteral("GroupTracks"));
  auto* soundLayout = new QVBoxLayout(sound);
  soundLayout->addWidget(cbOnlyLanguages_);
  soundLayout->addWidget(edLanguages_);
  soundLayout->addWidget(cbKeepOriginal_);
  soundLayout->addWidget(cbDropCommentary_);
  auto* picture = new QGroupBox(QStringLiteral("Picture"));
  picture->setObjectName(QStringLiteral("GroupPicture"));
  auto* pictureLayout = new QVBoxLayout(picture);
  pictureLayout->addWidget(cbRemoveBlackBars_);
  auto* layout = new QVBoxLayout(page);
  layout->addWidget(sound);
  layout->addWidget(picture);
  layout->addStretch();
  follow();
}

const TOutputProfile& OptionsDialog::currentRow() const {
  return OutputProfiles[profileByPosition(cbVideoFor_->currentIndex())];
}

void OptionsDialog::profileChanged() {
  fillChoosers();
  applyDefaults();
}

void OptionsDialog::fillChoosers() {
  const TOutputProfile& row = currentRow();
  for (QComboBox* box :
       {frameSizeChooser_, cbVideoBitrate_, cbVFrameRate_, cbVCodec_, cbAudioBitrate_, cbFreq_,
        cbChannels_, cbVolume_, cbACodec_, cbQuality_, cbAudioQuality_}) {
    const QSignalBlocker block(box);
    box->clear();
  }
  showModernChoosers();
  if (kindOf(row) == ProfileKind::QualityVideo) {
    // Targets that keep the source's shape rather than fixed sizes.
    for (const int16_t* h = TargetHeights; *h != 0; ++h)
      frameSizeChooser_->addItem(qs(targetHeightLabel(*h)));
    fillQualityLines(cbQuality_);
  } else if (row.FrameSizes != nullptr) {
    for (const FrameSize* s = row.FrameSizes; s->width != 0; ++s)
      frameSizeChooser_->addItem(qs(frameSizeLabel(*s)));
  }
  if (row.VideoBitrates != nullptr) {
    for (const int16_t* v = row.VideoBitrates; *v != 0; ++v)
      cbVideoBitrate_->addItem(qs(bitrateLabel(*v)));
  }
  if (row.FrameRates != nullptr) {
    for (const float* r = row.FrameRates; *r != 0.0f; ++r)
      cbVFrameRate_->addItem(qs(frameRateLabel(*r)));
  }
  if (row.AudioBitrates != nullptr) {
    for (const int16_t* v = row.AudioBitrates; *v != 0; ++v)
      cbAudioBitrate_->addItem(qs(bitrateLabel(*v)));
  }
  if (row.SampleRates != nullptr) {
    for (const int32_t* v = row.SampleRates; *v != 0; ++v) cbFreq_->addItem(qs(bitrateLabel(*v)));
  }
  for (const int16_t* c = channelChoices(row.Id); *c != 0; ++c)
    cbChannels_->addItem(qs(channelsLabel(*c)));
  for (int line = 0; line < VolumeLines; ++line) cbVolume_->addItem(qs(volumeLabel(line)));

  auto fillCodecs = [](QComboBox* box, const char* const* list, const char* own) {
    if (hasTexts(list)) {
      for (int i = 0; list[i] != nullptr && *list[i]; ++i) box->addItem(qs(codecLabel(list[i])));
    } else {
      box->addItem(qs(codecLabel(own)));
    }
  };
  fillCodecs(cbVCodec_, row.VideoCodecs, row.VideoCodec);
  fillCodecs(cbACodec_, row.AudioCodecs, row.AudioCodec);
  if (hasAudioQuality(row)) fillQualityLines(cbAudioQuality_);
}

void OptionsDialog::showModernChoosers() {
  const TOutputProfile& row = currentRow();
  const bool video = kindOf(row) == ProfileKind::QualityVideo;
  lbQuality_->setVisible(video);
  cbQuality_->setVisible(video);
  lbAudioQuality_->setVisible(hasAudioQuality(row));
  cbAudioQuality_->setVisible(hasAudioQuality(row));
}

void OptionsDialog::applyDefaults() {
  const TOutputProfile& row = currentRow();
  const ProfileExtras* extras = profileExtras(row.Id);
  if (kindOf(row) == ProfileKind::QualityVideo)
    selectLine(frameSizeChooser_, targetLine(extras->targetHeight));
  else
    selectLine(frameSizeChooser_,
               indexOfFrameSize(row.FrameSizes, row.FrameWidth, row.FrameHeight));
  if (extras != nullptr) {
    selectLine(cbQuality_, static_cast<int>(extras->quality));
    selectLine(cbAudioQuality_, static_cast<int>(extras->quality));
  }
  selectLine(cbVideoBitrate_, indexOfInt16(row.VideoBitrates, row.VideoBitrate));
  selectLine(cbVFrameRate_, indexOfFloat(row.FrameRates, row.FrameRate));
  selectLine(cbVCodec_, indexOfText(row.VideoCodecs, row.VideoCodec ? row.VideoCodec : ""));
  selectLine(cbAudioBitrate_, indexOfInt16(row.AudioBitrates, row.AudioBitrate));
  selectLine(cbFreq_, indexOfInt32(row.SampleRates, row.SampleRate));
  selectLine(cbChannels_, indexOfInt16(channelChoices(row.Id), row.Channels));
  selectLine(cbACodec_, indexOfText(row.AudioCodecs, row.AudioCodec ? row.AudioCodec : ""));
  selectLine(cbVolume_, NormalVolumeLine);

  if (row.AudioOnly) {
    cbDisableVideo_->setChecked(true);
    cbDisableAudio_->setChecked(false);
    cbDisableVideo_->setEnabled(false);
    cbDisableAudio_->setEnabled(false);
    groupVideo_->setVisible(false);
    cbDisableAudio_->setVisible(false);
  } else {
    cbDisableVideo_->setChecked(false);
    cbDisableAudio_->setChecked(false);
    cbDisableVideo_->setEnabled(true);
    cbDisableAudio_->setEnabled(true);
    cbDisableVideo_->setVisible(true);
    cbDisableAudio_->setVisible(true);
    groupVideo_->setVisible(true);
  }

  const bool adjustable = row.Adjustable != 0;
  for (QComboBox* box : {frameSizeChooser_, cbVideoBitrate_, cbVFrameRate_, cbVCodec_,
                         cbAudioBitrate_, cbFreq_, cbChannels_, cbVolume_, cbACodec_}) {
    box->setEnabled(adjustable);
  }
  applyEnablingRule();
}

void OptionsDialog::selectStoredValues(const TSettings& s) {
  const TOutputProfile& row = currentRow();
  selectLine(frameSizeChooser_, frameSizeLine(s));
  selectLine(cbQuality_, static_cast<int>(qualityFromStored(s.Quality)));
  selectLine(cbAudioQuality_, static_cast<int>(qualityFromStored(s.Quality)));
  selectLine(cbVideoBitrate_, indexOfInt16(row.VideoBitrates, s.VideoBitrate));
  selectLine(cbVFrameRate_, indexOfFloat(row.FrameRates, s.FrameRate));
  selectLine(cbVCodec_, indexOfText(row.VideoCodecs, s.VideoCodec));
  selectLine(cbAudioBitrate_, indexOfInt16(row.AudioBitrates, s.AudioBitrate));
  selectLine(cbFreq_, indexOfInt32(row.SampleRates, s.SampleRate));
  selectLine(cbChannels_, indexOfInt16(channelChoices(row.Id), s.Channels));
  // A volume between two lines selects the lower; one outside 0..500 (a damaged settings
  // file) selects the normal volume rather than an arbitrary extreme.
  const int volumeLine = s.Volume >= 0 ? s.Volume / VolumeStep : -1;
  cbVolume_->setCurrentIndex(volumeLine >= 0 && volumeLine < VolumeLines ? volumeLine
                                                                         : NormalVolumeLine);
  selectLine(cbACodec_, indexOfText(row.AudioCodecs, s.AudioCodec));
  cbDisableAudio_->setChecked(s.DisableAudio != 0);
  cbDisableVideo_->setChecked(s.DisableVideo != 0);
  applyEnablingRule();
}

void OptionsDialog::applyEnablingRule() {
  const TOutputProfile& row = currentRow();
  if (!row.Adjustable) return;
  const bool video = !cbDisableVideo_->isChecked();
  for (QComboBox* box : {frameSizeChooser_, cbVideoBitrate_, cbVFrameRate_, cbVCodec_, cbQuality_})
    box->setEnabled(video);
  if (!row.AudioOnly) {
    const bool audio = !cbDisableAudio_->isChecked();
    for (QComboBox* box : {cbAudioBitrate_, cbFreq_, cbChannels_, cbVolume_, cbACodec_}) {
      box->setEnabled(audio);
    }
  }
  // A modern profile's bit rate counts only when a fixed bit rate is chosen; FLAC has none.
  const auto fixed = [](const QComboBox* box) {
    return safeLine(box) == static_cast<int>(QualityLevel::FixedBitrate);
  };
  if (kindOf(row) == ProfileKind::QualityVideo)
    cbVideoBitrate_->setEnabled(video && fixed(cbQuality_));
  if (hasAudioQuality(row)) cbAudioBitrate_->setEnabled(fixed(cbAudioQuality_));
  if (const ProfileExtras* extras = profileExtras(row.Id); extras != nullptr && extras->lossless)
    cbAudioBitrate_->setEnabled(false);
}

void OptionsDialog::selectDestination() {
  const QString title = QString::fromUtf8(texts::SelectDestinationFolder);
  const QString chosen = browser_ ? browser_(title, edDir_->text())
                                  : QFileDialog::getExistingDirectory(this, title, edDir_->text());
  if (!chosen.isEmpty()) edDir_->setText(chosen);
}

void OptionsDialog::accept() {
  if (cbDisableVideo_->isChecked() && cbDisableAudio_->isChecked()) {
    const QString message = QString::fromUtf8(texts::CannotDisableBoth);
    if (notice_) {
      notice_(message);
    } else {
      QMessageBox::information(this, QString::fromUtf8(texts::AppTitle), message);
    }
    return;  // stays open with every value as it was
  }
  QDialog::accept();
}

void OptionsDialog::readBack(TSettings& s) const {
  const TOutputProfile& row = currentRow();
  s.DestDir = edDir_->text().toStdString();
  s.ProfileId = row.Id;

  setFrameSizeLine(s, safeLine(frameSizeChooser_));
  if (kindOf(row) == ProfileKind::QualityVideo)
    s.Quality = static_cast<int16_t>(std::max(safeLine(cbQuality_), 0));
  if (const int line = safeLine(cbVideoBitrate_); line >= 0 && row.VideoBitrates != nullptr) {
    s.VideoBitrate = row.VideoBitrates[line];
  }
  if (const int line = safeLine(cbVFrameRate_); line >= 0 && row.FrameRates != nullptr) {
    s.FrameRate = row.FrameRates[line];
  }
  if (const int line = safeLine(cbAudioBitrate_); line >= 0 && row.AudioBitrates != nullptr) {
    s.AudioBitrate = row.AudioBitrates[line];
  }
  if (const int line = safeLine(cbFreq_); line >= 0 && row.SampleRates != nullptr) {
    s.SampleRate = row.SampleRates[line];
  }
  if (const int line = safeLine(cbChannels_); line >= 0) s.Channels = channelChoices(row.Id)[line];
  s.Volume = static_cast<int16_t>(std::max(safeLine(cbVolume_), 0) * VolumeStep);
  s.VideoCodec = codecAt(row.VideoCodecs, row.VideoCodec, safeLine(cbVCodec_));
  s.AudioCodec = codecAt(row.AudioCodecs, row.AudioCodec, safeLine(cbACodec_));
  if (hasAudioQuality(row))
    s.Quality = static_cast<int16_t>(std::max(safeLine(cbAudioQuality_), 0));

  s.DisableAudio = cbDisableAudio_->isChecked() ? 1 : 0;
  s.DisableVideo = cbDisableVideo_->isChecked() ? 1 : 0;
  s.MaxConversions = static_cast<int16_t>(conversionsSpin_->value());
  s.SaveHistory = cbSaveHist_->isChecked() ? 1 : 0;
  s.RemoveStopped = cbRemoveStop_->isChecked() ? 1 : 0;
  s.InternalPlayer = cbInternalPlayer_->isChecked() ? 1 : 0;
  s.ShutdownAfter = cbShutdown_->isChecked() ? 1 : 0;
  s.ExitAfter = cbExitAC_->isChecked() ? 1 : 0;
  s.AddToRunningBatch = cbAddToBatch_->isChecked() ? 1 : 0;
  s.OnlyPreferredLanguages = cbOnlyLanguages_->isChecked() ? 1 : 0;
  s.PreferredLanguages = edLanguages_->text().trimmed().toStdString();
  s.KeepOriginalLanguage = cbKeepOriginal_->isChecked() ? 1 : 0;
  s.DropCommentary = cbDropCommentary_->isChecked() ? 1 : 0;
  s.RemoveBlackBars = cbRemoveBlackBars_->isChecked() ? 1 : 0;
}

bool runOptionsDialog(QWidget* owner, TSettings& settings, const QString& caption,
                      PresetStore* presets) {
  OptionsDialog dialog(owner, settings, caption);
  if (presets) dialog.setPresets(presets);
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.readBack(settings);
  return true;
}

}  // namespace vidmora
