// Pictures of a source decoded in process with libavcodec: the list's thumbnails, the trim
// dialog's preview and the black-bar detection all take their frames from here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vidmora {

struct Thumbnail {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // width * height * 3 bytes, rows top to bottom

  bool empty() const { return width <= 0 || height <= 0; }
};

// The brightness of a decoded frame as stored (no rotation, no pixel aspect), full range 0..255.
struct LumaPlane {
  int width = 0, height = 0;
  std::vector<uint8_t> values;  // width * height
};

enum class GrabStatus { Ok, NoPicture, Unreadable };

class FrameGrabber {
 public:
  FrameGrabber();
  ~FrameGrabber();
  FrameGrabber(const FrameGrabber&) = delete;
  FrameGrabber& operator=(const FrameGrabber&) = delete;

  // Opens the source's picture stream: its video, else its cover art. NoPicture: sound only.
  GrabStatus open(const std::string& path);
  double duration() const;  // seconds, 0 when unknown
  bool isCoverArt() const;
  int rotation() const;  // degrees clockwise that turn the picture upright
  int storedWidth() const;
  int storedHeight() const;

  // Decodes the frame shown at `seconds` (the first at or after it, within a few seconds of
  // decoding; cover art: the picture). With a slack, a keyframe the source's index places up to
  // `slack` seconds past `seconds` is taken instead: one frame decoded rather than a run of them
  // from the keyframe before. False when nothing could be decoded.
  bool grab(double seconds, double slack = 0);
  // The last grabbed frame scaled into maxWidth x maxHeight (never enlarged), displayed aspect
  // kept, turned upright.
  bool picture(int maxWidth, int maxHeight, Thumbnail& out) const;
  bool luma(LumaPlane& out) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vidmora
