#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include "modal_helper.h"
#include "settings/profiles.h"
#include "settings/qt/options_dialog.h"
#include "settings/qt/options_dialog_window.h"
#include "settings/settings.h"

using namespace vidmora;

namespace {

TSettings settingsWithProfile(int16_t id) {
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(id));
  s.DestDir = "/tmp/out folder";
  return s;
}

template <typename T>
T* control(QWidget* dialog, const char* name) {
  T* found = dialog->findChild<T*>(QString::fromLatin1(name));
  if (found == nullptr) qFatal("control %s is missing", name);
  return found;
}

QComboBox* chooser(QWidget* d, const char* name) {
  return control<QComboBox>(d, name);
}
QCheckBox* check(QWidget* d, const char* name) {
  return control<QCheckBox>(d, name);
}

const char* const VideoChoosers[] = {"CBDxDy", "CBVideoBitrate", "CBVFrameRate", "CBVCodec"};
const char* const AudioChoosers[] = {"CBAudioBitrate", "CBFreq", "CBChannels", "CBVolume",
                                     "CBACodec"};

}  // namespace

class OptionsDialogTest : public QObject {
  Q_OBJECT

 private slots:
  void everyControlIsThereWithItsCaption() {
    const TSettings s = settingsWithProfile(600);
    OptionsDialog dialog(nullptr, s);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Settings"));
    for (const char* name : {"EdDir", "EdCnx"}) control<QLineEdit>(&dialog, name);
    for (const char* name : {"BSelectDir", "BDefault", "BOk", "BCancel"}) {
      control<QPushButton>(&dialog, name);
    }
    QCOMPARE(control<QGroupBox>(&dialog, "GroupVideo")->title(), QStringLiteral("Video"));
    QCOMPARE(control<QGroupBox>(&dialog, "GroupBox2")->title(), QStringLiteral("Audio"));
    QCOMPARE(check(&dialog, "CBRemoveStop")->text(),
             QStringLiteral("Remove Stoped videos (Destination)"));
    QCOMPARE(check(&dialog, "CBShutdown")->text(),
             QStringLiteral("Shutdown computer after conversion(s)"));
    QCOMPARE(chooser(&dialog, "CBVideoFor")->count(), ProfileCount);
    QCOMPARE(chooser(&dialog, "CBVolume")->count(), 21);
    QCOMPARE(chooser(&dialog, "CBVolume")->maxVisibleItems(), 21);
    QCOMPARE(chooser(&dialog, "CBDxDy")->currentText(), QStringLiteral("176 x 144"));
    QCOMPARE(chooser(&dialog, "CBVCodec")->count(), 2);  // MP4, H263
    QCOMPARE(control<QLineEdit>(&dialog, "EdDir")->text(), QStringLiteral("/tmp/out folder"));
    QVERIFY(!control<QLineEdit>(&dialog, "EdDir")->isEnabled());
    QCOMPARE(control<QSpinBox>(&dialog, "UpDownCnx")->minimum(), 1);
    QCOMPARE(control<QSpinBox>(&dialog, "UpDownCnx")->maximum(), 20);

    OptionsDialog withCaption(nullptr, s, QStringLiteral("Settings - 3 video(s) to convert"));
    QCOMPARE(withCaption.windowTitle(), QStringLiteral("Settings - 3 video(s) to convert"));
  }

  // A stored value that the profile's list lacks selects the list's first entry.
  void storedSizeOutsideTheListSelectsTheFirst_data() {
    QTest::addColumn<int>("profile");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::newRow("610 keeps 320 x 240") << 610 << "128 x 96" << 128 << 96;
    QTest::newRow("8010 original") << 8010 << "352 x 240" << 352 << 240;
    QTest::newRow("8020 original") << 8020 << "480 x 480" << 480 << 480;
    QTest::newRow("700 original") << 700 << "Original" << -1 << -1;
  }
  void storedSizeOutsideTheListSelectsTheFirst() {
    QFETCH(int, profile);
    QFETCH(QString, shown);
    QFETCH(int, width);
    QFETCH(int, height);
    TSettings s = settingsWithProfile(static_cast<int16_t>(profile));
    TSettings core = s;
    OptionsDialog dialog(nullptr, s);
    QCOMPARE(chooser(&dialog, "CBDxDy")->currentText(), shown);
    dialog.readBack(s);
    QCOMPARE(int(s.FrameWidth), width);
    QCOMPARE(int(s.FrameHeight), height);
    QCOMPARE(int(s.ProfileId), profile);
    // vidmora-cli applies the same read-back without the dialog.
    readBackFrameSize(core);
    QCOMPARE(int(core.FrameWidth), width);
    QCOMPARE(int(core.FrameHeight), height);
  }

  void soundOnlyProfileHidesTheVideoSide() {
    TSettings s = settingsWithProfile(600);
    OptionsDialog dialog(nullptr, s);
    dialog.show();
    chooser(&dialog, "CBVideoFor")->setCurrentIndex(profileIndexById(5000));
    QVERIFY(control<QGroupBox>(&dialog, "GroupVideo")->isHidden());
    QVERIFY(check(&dialog, "CBDisableAudio")->isHidden());
    QVERIFY(check(&dialog, "CBDisableVideo")->isChecked());
    QVERIFY(!check(&dialog, "CBDisableVideo")->isEnabled());
    QVERIFY(!check(&dialog, "CBDisableAudio")->isChecked());
    for (const char* name : AudioChoosers) QVERIFY2(chooser(&dialog, name)->isEnabled(), name);
    QCOMPARE(chooser(&dialog, "CBAudioBitrate")->currentText(), QStringLiteral("192"));
    QCOMPARE(chooser(&dialog, "CBACodec")->currentText(), QStringLiteral("MP3"));
    dialog.readBack(s);
    QCOMPARE(int(s.ProfileId), 5000);
    QCOMPARE(int(s.DisableVideo), 1);
    QCOMPARE(int(s.DisableAudio), 0);

    // Back to a video profile: everything shows again, unchecked.
    chooser(&dialog, "CBVideoFor")->setCurrentIndex(profileIndexById(620));
    QVERIFY(!control<QGroupBox>(&dialog, "GroupVideo")->isHidden());
    QVERIFY(!check(&dialog, "CBDisableAudio")->isHidden());
    QVERIFY(!check(&dialog, "CBDisableVideo")->isChecked());
    QVERIFY(check(&dialog, "CBDisableVideo")->isEnabled());
    QCOMPARE(chooser(&dialog, "CBDxDy")->count(), 2);
  }

  void codecsFollowTheProfile() {
    TSettings s = settingsWithProfile(600);
    OptionsDialog dialog(nullptr, s);
    chooser(&dialog, "CBVideoFor")->setCurrentIndex(profileIndexById(5050));
    QCOMPARE(chooser(&dialog, "CBVCodec")->currentText(), QStringLiteral("(Default)"));
    dialog.readBack(s);
    QCOMPARE(s.VideoCodec, std::string());
    QCOMPARE(s.AudioCodec, std::string("pcm"));

    chooser(&dialog, "CBVideoFor")->setCurrentIndex(profileIndexById(600));
    chooser(&dialog, "CBVCodec")->setCurrentIndex(1);
    dialog.readBack(s);
    QCOMPARE(s.VideoCodec, std::string("H263"));

    chooser(&dialog, "CBVideoFor")->setCurrentIndex(profileIndexById(7000));
    QCOMPARE(chooser(&dialog, "CBVCodec")->currentText(), QStringLiteral("MSMPEG4V2"));
    dialog.readBack(s);
    QCOMPARE(s.VideoCodec, std::string("msmpeg4v2"));  // the row's own codec as it is
  }

  void setDefaultsLeavesFolderAndGeneralTab() {
    TSettings s = settingsWithProfile(620);
    OptionsDialog dialog(nullptr, s);
    dialog.setFolderBrowser([](const QString& title, const QString& shown) {
      return title == QStringLiteral("Select Destination Folder") && shown == "/tmp/out folder"
                 ? QStringLiteral("/tmp/chosen %d 'folder'")
                 : QString();
    });
    QTest::mouseClick(control<QPushButton>(&dialog, "BSelectDir"), Qt::LeftButton);
    chooser(&dialog, "CBDxDy")->setCurrentIndex(0);
    chooser(&dialog, "CBVideoBitrate")->setCurrentIndex(4);
    chooser(&dialog, "CBFreq")->setCurrentIndex(0);
    chooser(&dialog, "CBVolume")->setCurrentIndex(12);
    check(&dialog, "CBDisableAudio")->click();
    QVERIFY(!chooser(&dialog, "CBFreq")->isEnabled());
    control<QSpinBox>(&dialog, "UpDownCnx")->setValue(7);
    check(&dialog, "CBSaveHist")->setChecked(false);
    check(&dialog, "CBExitAC")->setChecked(true);

    QTest::mouseClick(control<QPushButton>(&dialog, "BDefault"), Qt::LeftButton);

    TSettings after = s;
    dialog.readBack(after);
    QCOMPARE(after.DestDir, std::string("/tmp/chosen %d 'folder'"));
    QCOMPARE(int(after.FrameWidth), 176);
    QCOMPARE(int(after.VideoBitrate), 128);
    QCOMPARE(after.SampleRate, 32000);
    QCOMPARE(int(after.Volume), 100);
    QCOMPARE(int(after.DisableAudio), 0);
    QVERIFY(chooser(&dialog, "CBFreq")->isEnabled());
    QCOMPARE(int(after.MaxConversions), 7);
    QCOMPARE(int(after.SaveHistory), 0);
    QCOMPARE(int(after.ExitAfter), 1);
  }

  void volumeLines_data() {
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("readBack");
    QTest::newRow("110") << 110 << 4 << 100;
    QTest::newRow("150") << 150 << 6 << 150;
    QTest::newRow("0") << 0 << 0 << 0;
    QTest::newRow("500") << 500 << 20 << 500;
    QTest::newRow("damaged 600") << 600 << 4 << 100;
    QTest::newRow("damaged -25") << -25 << 4 << 100;
  }
  void volumeLines() {
    QFETCH(int, stored);
    QFETCH(int, line);
    QFETCH(int, readBack);
    TSettings s = settingsWithProfile(600);
    s.Volume = static_cast<int16_t>(stored);
    OptionsDialog dialog(nullptr, s);
    QCOMPARE(chooser(&dialog, "CBVolume")->currentIndex(), line);
    dialog.readBack(s);
    QCOMPARE(int(s.Volume), readBack);
  }

  void enablingRuleFollowsTheChecks() {
    TSettings s = settingsWithProfile(630);
    s.DisableVideo = 1;
    OptionsDialog dialog(nullptr, s);
    for (const char* name : VideoChoosers) QVERIFY2(!chooser(&dialog, name)->isEnabled(), name);
    for (const char* name : AudioChoosers) QVERIFY2(chooser(&dialog, name)->isEnabled(), name);
    check(&dialog, "CBDisableVideo")->click();
    check(&dialog, "CBDisableAudio")->click();
    for (const char* name : VideoChoosers) QVERIFY2(chooser(&dialog, name)->isEnabled(), name);
    for (const char* name : AudioChoosers) QVERIFY2(!chooser(&dialog, name)->isEnabled(), name);
  }

  void bothDisabledKeepsTheDialogOpen() {
    const TSettings s = settingsWithProfile(600);
    OptionsDialog dialog(nullptr, s);
    QStringList notices;
    dialog.setNoticeHandler([&](const QString& text) { notices << text; });
    dialog.show();
    check(&dialog, "CBDisableVideo")->click();
    check(&dialog, "CBDisableAudio")->click();
    QTest::mouseClick(control<QPushButton>(&dialog, "BOk"), Qt::LeftButton);
    QCOMPARE(notices, QStringList{QStringLiteral("Cannot disable both video and audio")});
    QVERIFY(dialog.isVisible());
    QVERIFY(dialog.result() != QDialog::Accepted);
    QVERIFY(check(&dialog, "CBDisableVideo")->isChecked());
    QVERIFY(check(&dialog, "CBDisableAudio")->isChecked());

    // Cancel is allowed with both checked.
    QTest::mouseClick(control<QPushButton>(&dialog, "BCancel"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(notices.size(), 1);
  }

  // The real run: the information box comes up over the dialog, which stays open.
  void bothDisabledShowsTheInformationBox() {
    TSettings s = settingsWithProfile(600);
    const TSettings before = s;
    QString message;
    bool stillOpen = false;
    whenModal<OptionsDialog>([&](OptionsDialog* dialog) {
      check(dialog, "CBDisableVideo")->click();
      check(dialog, "CBDisableAudio")->click();
      whenModal<QMessageBox>([&, dialog](QMessageBox* box) {
        message = box->text();
        QCOMPARE(box->windowTitle(), QStringLiteral("Vidmora"));
        QCOMPARE(box->icon(), QMessageBox::Information);
        box->accept();
        whenModal<OptionsDialog>([&, dialog](OptionsDialog* same) {
          stillOpen = same == dialog;
          control<QPushButton>(same, "BCancel")->click();
        });
      });
      control<QPushButton>(dialog, "BOk")->click();
    });
    QVERIFY(!runOptionsDialog(nullptr, s));
    QCOMPARE(message, QStringLiteral("Cannot disable both video and audio"));
    QVERIFY(stillOpen);
    QVERIFY(s == before);
  }

  void cancelChangesNothingAndOkStores() {
    TSettings s = settingsWithProfile(600);
    const TSettings before = s;
    auto changeEverything = [](OptionsDialog* dialog, const char* button) {
      chooser(dialog, "CBVideoFor")->setCurrentIndex(profileIndexById(630));
      chooser(dialog, "CBDxDy")->setCurrentIndex(3);
      control<QSpinBox>(dialog, "UpDownCnx")->setValue(20);
      check(dialog, "CBShutdown")->setChecked(true);
      control<QPushButton>(dialog, button)->click();
    };
    whenModal<OptionsDialog>([&](OptionsDialog* d) { changeEverything(d, "BCancel"); });
    QVERIFY(!runOptionsDialog(nullptr, s));
    QVERIFY(s == before);

    whenModal<OptionsDialog>([](OptionsDialog* d) { d->reject(); });  // Escape / close box
    QVERIFY(!runOptionsDialog(nullptr, s));
    QVERIFY(s == before);

    whenModal<OptionsDialog>([&](OptionsDialog* d) { changeEverything(d, "BOk"); });
    QVERIFY(runOptionsDialog(nullptr, s));
    QCOMPARE(int(s.ProfileId), 630);
    QCOMPARE(int(s.FrameWidth), 640);
    QCOMPARE(int(s.FrameHeight), 480);
    QCOMPARE(int(s.FrameRate * 1000), 24000);
    QCOMPARE(s.VideoCodec, std::string("WMV2"));
    QCOMPARE(int(s.MaxConversions), 20);
    QCOMPARE(int(s.ShutdownAfter), 1);
    QCOMPARE(s.DestDir, before.DestDir);
  }

  void classicProfilesShowNoModernChoosers() {
    OptionsDialog dialog(nullptr, settingsWithProfile(700));
    dialog.show();
    QVERIFY(!chooser(&dialog, "CBQuality")->isVisible());
    QVERIFY(!chooser(&dialog, "CBAudioQuality")->isVisible());
    QCOMPARE(chooser(&dialog, "CBDxDy")->itemText(0), QStringLiteral("80 x 60"));
    QVERIFY(chooser(&dialog, "CBVideoBitrate")->isEnabled());
  }

  void modernVideoProfileOffersLevelsTargetsAndFixedBitrate() {
    TSettings s = settingsWithProfile(9000);
    OptionsDialog dialog(nullptr, s);
    dialog.show();
    QComboBox* quality = chooser(&dialog, "CBQuality");
    QComboBox* size = chooser(&dialog, "CBDxDy");
    QVERIFY(quality->isVisible());
    QCOMPARE(quality->count(), 5);
    QCOMPARE(quality->currentText(), QStringLiteral("Balanced"));
    QCOMPARE(size->count(), 7);
    QCOMPARE(size->itemText(0), QStringLiteral("2160p"));
    QCOMPARE(size->itemText(6), QStringLiteral("Original"));
    QCOMPARE(size->currentText(), QStringLiteral("1080p"));
    // The bit rate counts only with a fixed bit rate.
    QVERIFY(!chooser(&dialog, "CBVideoBitrate")->isEnabled());
    quality->setCurrentIndex(quality->findText(QStringLiteral("Fixed bitrate")));
    QVERIFY(chooser(&dialog, "CBVideoBitrate")->isEnabled());
    chooser(&dialog, "CBVideoBitrate")
        ->setCurrentIndex(chooser(&dialog, "CBVideoBitrate")->findText(QStringLiteral("8000")));
    size->setCurrentIndex(size->findText(QStringLiteral("720p")));
    QComboBox* rate = chooser(&dialog, "CBVFrameRate");
    rate->setCurrentIndex(rate->findText(QStringLiteral("29.976  (NTSC)")));
    dialog.readBack(s);
    QCOMPARE(int(s.Quality), int(QualityLevel::FixedBitrate));
    QCOMPARE(int(s.TargetHeight), 720);
    QCOMPARE(int(s.VideoBitrate), 8000);
    QCOMPARE(s.FrameRate, 29.976f);
    QCOMPARE(int(s.FrameWidth), -1);

    // Opened again, the dialog shows every choice as stored.
    OptionsDialog again(nullptr, s);
    QCOMPARE(chooser(&again, "CBQuality")->currentText(), QStringLiteral("Fixed bitrate"));
    QCOMPARE(chooser(&again, "CBDxDy")->currentText(), QStringLiteral("720p"));
    QCOMPARE(chooser(&again, "CBVideoBitrate")->currentText(), QStringLiteral("8000"));
    TSettings back = s;
    again.readBack(back);
    QVERIFY(back == s);

    // Set Defaults brings back the profile's level and target.
    control<QPushButton>(&again, "BDefault")->click();
    QCOMPARE(chooser(&again, "CBQuality")->currentText(), QStringLiteral("Balanced"));
    QCOMPARE(chooser(&again, "CBDxDy")->currentText(), QStringLiteral("1080p"));
  }

  void soundProfilesQualityAndLossless() {
    TSettings s = settingsWithProfile(9120);
    OptionsDialog mp3(nullptr, s);
    mp3.show();
    QComboBox* quality = chooser(&mp3, "CBAudioQuality");
    QVERIFY(quality->isVisible());
    QCOMPARE(quality->currentText(), QStringLiteral("High"));
    QVERIFY(!chooser(&mp3, "CBAudioBitrate")->isEnabled());
    quality->setCurrentIndex(quality->findText(QStringLiteral("Small")));
    mp3.readBack(s);
    QCOMPARE(int(s.Quality), int(QualityLevel::Small));

    OptionsDialog flac(nullptr, settingsWithProfile(9110));
    flac.show();
    QVERIFY(!chooser(&flac, "CBAudioQuality")->isVisible());
    QVERIFY(!chooser(&flac, "CBAudioBitrate")->isEnabled());
    QVERIFY(chooser(&flac, "CBFreq")->isEnabled());
  }

  // The modern profiles keep the source's sound unless the user picks channels and a rate;
  // the classic ones keep their fixed choices.
  void modernSoundStartsAsTheOriginal() {
    for (const int16_t id : {9000, 9030, 9100, 9110, 9120}) {
      TSettings s = settingsWithProfile(id);
      OptionsDialog dialog(nullptr, s);
      QComboBox* channels = chooser(&dialog, "CBChannels");
      QComboBox* rate = chooser(&dialog, "CBFreq");
      QCOMPARE(channels->currentText(), QStringLiteral("Original"));
      QCOMPARE(rate->currentText(), QStringLiteral("Original"));
      TSettings back = s;
      dialog.readBack(back);
      QCOMPARE(int(back.Channels), -1);
      QCOMPARE(int(back.SampleRate), -1);

      channels->setCurrentIndex(channels->findText(QStringLiteral("Mono (1)")));
      rate->setCurrentIndex(rate->findText(QStringLiteral("48000")));
      dialog.readBack(s);
      QCOMPARE(int(s.Channels), 1);
      QCOMPARE(int(s.SampleRate), 48000);
      OptionsDialog again(nullptr, s);
      QCOMPARE(chooser(&again, "CBChannels")->currentText(), QStringLiteral("Mono (1)"));
      QCOMPARE(chooser(&again, "CBFreq")->currentText(), QStringLiteral("48000"));
    }
    OptionsDialog classic(nullptr, settingsWithProfile(5000));
    QCOMPARE(chooser(&classic, "CBChannels")->findText(QStringLiteral("Original")), -1);
  }

  void remuxProfileLocksTheValues() {
    OptionsDialog dialog(nullptr, settingsWithProfile(9040));
    for (const char* name : AudioChoosers) QVERIFY(!chooser(&dialog, name)->isEnabled());
    for (const char* name : VideoChoosers) QVERIFY(!chooser(&dialog, name)->isEnabled());
    QCOMPARE(chooser(&dialog, "CBVCodec")->currentText(), QStringLiteral("COPY"));
  }
};

QTEST_MAIN(OptionsDialogTest)
#include "options_dialog_qtest.moc"
