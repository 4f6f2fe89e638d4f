// Tip of the day.
#pragma once

class QWidget;

namespace vidmora {
// Shows the tips modally; returns the state of "Show at startup" when the window closed,
// whichever way it was closed.
bool runTipOfTheDay(QWidget* owner, bool showAtStartup);
}  // namespace vidmora
