// Finding the black bars of a letterboxed or pillarboxed video: several frames across the source
// are looked at, a bar counts only where it is black in every one of them, and dark scenes (which
// look like bars everywhere) are left out of the vote, so a dark film is never cropped.
#pragma once

#include <string>
#include <vector>

#include "engine/frame_grabber.h"

namespace vidmora {

struct CropSides {
  int top = 0, bottom = 0, left = 0, right = 0;  // pixels of the stored picture

  bool any() const { return top > 0 || bottom > 0 || left > 0 || right > 0; }
  bool operator==(const CropSides&) const = default;
};

// The bars of one frame. False when the frame is too dark to say anything about bars.
bool blackBarsOfFrame(const LumaPlane& frame, CropSides& bars);
// What is black in every frame, as even values; no frame at all: no crop.
CropSides commonBars(const std::vector<CropSides>& frames);

struct CropDetection {
  bool ok = false;        // the source could be read
  CropSides crop;         // what to remove (nothing when no bars were found)
  int framesLooked = 0;   // frames decoded
  int framesCounted = 0;  // frames bright enough to vote
};
// Looks at `samples` frames spread over the source (from 5 % to 95 % of its length).
CropDetection detectBlackBars(const std::string& path, int samples = 9);

// "T:B:L:R", as vidmora-cli takes it.
std::string cropText(const CropSides& crop);
// Reads "T:B:L:R" (non-negative numbers); false for anything else.
bool parseCropText(const std::string& text, CropSides& crop);

}  // namespace vidmora
