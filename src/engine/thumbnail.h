// A small picture of a source for the list: a frame from a tenth into a video (or an audio file's
// cover art), decoded in-process with libavcodec, turned upright, scaled once, and kept in a cache
// folder keyed by the source's path, size and modification time.
#pragma once

#include <string>

#include "engine/frame_grabber.h"

namespace vidmora {

using ThumbnailStatus = GrabStatus;

// Decodes one picture of the source and scales it to fit maxWidth x maxHeight, keeping the
// displayed aspect. NoPicture: the source holds sound only and no cover art.
ThumbnailStatus extractThumbnail(const std::string& path, int maxWidth, int maxHeight,
                                 Thumbnail& out);

// Thumbnails kept as small PPM files in one folder (the XDG cache folder's vidmora/thumbnails).
// A source that changed (size or modification time) gets a new name, so a stale picture is never
// shown; files are written atomically and read with a size limit.
class ThumbnailCache {
 public:
  explicit ThumbnailCache(std::string folder) : folder_(std::move(folder)) {}

  const std::string& folder() const { return folder_; }
  // The cache file for the source as it is now; empty when the source cannot be looked at.
  std::string entryFor(const std::string& sourcePath, int maxWidth, int maxHeight) const;
  bool load(const std::string& entry, Thumbnail& out) const;
  bool store(const std::string& entry, const Thumbnail& picture) const;
  // From the cache, or extracted and stored.
  ThumbnailStatus get(const std::string& sourcePath, int maxWidth, int maxHeight,
                      Thumbnail& out) const;

 private:
  std::string folder_;
};

// $XDG_CACHE_HOME/vidmora/thumbnails (~/.cache/vidmora/thumbnails).
std::string thumbnailCacheFolder();

}  // namespace vidmora
