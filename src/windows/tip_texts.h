// The tips of the tip window, in display order, ended by an empty text. A tip may be written
// over several lines: the window joins single line breaks and keeps empty lines as paragraphs.
#pragma once

namespace vidmora {

inline constexpr const char* TipTexts[] = {
    "You can drop video files or whole folders onto the\n"
    "list to add them. A folder brings in every video\n"
    "Vidmora can convert, including those in its subfolders.",

    "Press Ctrl+E or the \">>\" button to fine-tune the\n"
    "frame size, bitrates, codecs and volume within the\n"
    "chosen Video Format.\n"
    "\n"
    "\"Set Defaults\" brings back the format's own values.",

    "Vidmora can convert up to 20 videos at the same time.\n"
    "Set the number under Settings, General: two to four\n"
    "suit most computers.",

    "Leaving a long batch running? Tick \"Shutdown computer\n"
    "after conversion(s)\" in the Settings, and the computer\n"
    "powers off when the last video is done.",

    "Double-click a converted video to play it. F6 renames\n"
    "it and F8 deletes the file; right-click the list to\n"
    "see every command.",

    "",
};

}  // namespace vidmora
