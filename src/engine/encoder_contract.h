// What the app and vidmora-encoder share: exit statuses, the progress block's name and layout.
// Both programs include this header; the layout is a cross-process format and must not change.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vidmora {

// Exit codes as the app reads them (the 8-bit status read back as a signed byte).
constexpr int ExitInvalidVideo = -20;   // probe: not a usable source (status 236)
constexpr int ExitAudioRejected = -25;  // audio options refused (status 231)
// A remux (copy of every stream) refused before anything was written: a stream's codec has no
// place in the output container (status 226). Retrying the same line cannot succeed.
constexpr int ExitRemuxRefused = -30;
// The output name was taken by another file (anything but the app's empty reservation) before
// the encoder could publish; that file was left alone. Another name can succeed.
constexpr int ExitOutputTaken = 3;
// Statuses as the encoder passes them to exit().
constexpr int ExitStatusInvalidVideo = ExitInvalidVideo & 0xFF;
constexpr int ExitStatusAudioRejected = ExitAudioRejected & 0xFF;
constexpr int ExitStatusRemuxRefused = ExitRemuxRefused & 0xFF;
static_assert(ExitStatusInvalidVideo == 236 && ExitStatusAudioRejected == 231);
static_assert(ExitStatusRemuxRefused == 226);

// Once its stop byte is set, the encoder ends within this time: ffmpeg gets most of it to close
// the file (its encoders give out the frames they hold, the container gets its index) and is
// killed when it has not. It polls the stop byte every EncoderStopPollMs. The app's stop grace
// must be longer, so a stop always ends the encoder's own way, with the partial file kept.
constexpr unsigned EncoderStopLimitMs = 4500;
constexpr unsigned EncoderStopPollMs = 50;

// Shared memory object: "/vidmora-" followed by the 12 digits of the map name.
constexpr const char* ProgressShmPrefix = "/vidmora-";
constexpr std::size_t ProgressMapNameLength = 12;
constexpr std::size_t ProgressBlockSize = 48100;
constexpr int ProgressSlotCount = 1000;

// One slot, little-endian, IEEE doubles. Each field has exactly one writer.
struct ProgressSlot {
  uint8_t inUse;  // app: 1 = taken
  uint8_t unused1[7];
  double percent;       // encoder: 0..100
  uint8_t stopRequest;  // app: 1 = stop now
  uint8_t unused2[7];
  double scaledValue;  // encoder: read as value / 1024, shown nowhere
  double reserved;
  double duration;  // encoder, probe: the source's duration in seconds
};

static_assert(sizeof(ProgressSlot) == 48);
static_assert(offsetof(ProgressSlot, inUse) == 0);
static_assert(offsetof(ProgressSlot, percent) == 8);
static_assert(offsetof(ProgressSlot, stopRequest) == 16);
static_assert(offsetof(ProgressSlot, scaledValue) == 24);
static_assert(offsetof(ProgressSlot, reserved) == 32);
static_assert(offsetof(ProgressSlot, duration) == 40);
static_assert(ProgressSlotCount * sizeof(ProgressSlot) <= ProgressBlockSize);
static_assert(sizeof(double) == 8 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the block is little-endian with IEEE doubles");

}  // namespace vidmora
