// The batch's progress on the program's launcher / task-bar entry: the
// com.canonical.Unity.LauncherEntry "Update" signal on the session bus, which docks and panels
// (KDE Plasma, Dash to Dock and others) read for the entry of the desktop file it names.
#pragma once

#include <QDBusConnection>
#include <QString>

namespace vidmora {

class LauncherProgress {
 public:
  // desktopId: the desktop file's name, e.g. "org.vidmora.Vidmora.desktop".
  LauncherProgress(QDBusConnection bus, QString desktopId);

  // Shows the fraction (clamped to 0..1). Repeats of the same value, to the per-mille, are not
  // sent again.
  void show(double fraction);
  // Hides the progress; nothing is sent when none is shown.
  void hide();

 private:
  void send(double fraction, bool visible);

  QDBusConnection bus_;
  QString appUri_;
  int shownPerMille_ = -1;  // -1: hidden
};

}  // namespace vidmora
