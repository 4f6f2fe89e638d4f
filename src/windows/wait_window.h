// The modeless "Please Wait" window shown while start-up checks for updates.
#pragma once

class QString;

namespace vidmora {
void showWaitWindow(const QString& caption, const QString& message);
// Harmless when no wait window is open.
void closeWaitWindow();
}  // namespace vidmora
