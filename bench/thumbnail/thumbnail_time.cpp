// vidmora_thumbnail_time SOURCE WIDTH HEIGHT: decodes one thumbnail as the list does (no cache)
// and prints the seconds the call took; exit status 1 when no picture came out.
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "engine/thumbnail.h"

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: vidmora_thumbnail_time SOURCE WIDTH HEIGHT\n");
    return 2;
  }
  vidmora::Thumbnail picture;
  const auto start = std::chrono::steady_clock::now();
  const auto status =
      vidmora::extractThumbnail(argv[1], std::atoi(argv[2]), std::atoi(argv[3]), picture);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (status != vidmora::ThumbnailStatus::Ok || picture.empty()) return 1;
  std::printf("%.6f\n", took.count());
  return 0;
}
