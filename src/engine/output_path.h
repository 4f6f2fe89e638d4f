// Choosing the output file of a conversion: folder/base.ext, made unique with "(n)"; the base is
// cut (by bytes, never inside a UTF-8 character) so that the whole name fits Linux's 255 bytes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "videolist/video_entry.h"

namespace vidmora {

struct OutputPath {
  std::string path;
  int counter = 0;  // 0 for the plain name, n for "base(n).ext"
};

// A path that no entry of the list claims (claimsOutputName; compared ignoring case) and that
// names nothing on disk. The caller holds the list lock when workers may run.
OutputPath makeOutputPath(const std::string& folder, const std::string& baseName, int16_t profileId,
                          const VideoList& list);

// An output name taken on disk for one conversion.
struct ReservedOutput {
  std::string path;
  bool reserved = false;  // path is the empty file created here (dev/ino name it)
  dev_t dev = 0;
  ino_t ino = 0;
  int error = 0;  // errno of the failed creation when not reserved
};

// makeOutputPath's name, reserved by creating it empty (O_CREAT | O_EXCL | O_NOFOLLOW, mode 0644
// less the umask): a name another program takes between the look and the creation gives way to
// the next free "(n)" name. When the folder refuses the creation for another reason the path
// comes back unreserved with the cause in `error`.
ReservedOutput reserveOutputPath(const std::string& folder, const std::string& baseName,
                                 int16_t profileId, const VideoList& list);

// Is the file at the reserved path still the empty reservation made for it?
bool isOwnReservation(const ReservedOutput& output);
// Removes the reservation when it is still the empty file made for it; anything else stays.
void dropReservation(const ReservedOutput& output);

}  // namespace vidmora
