// vidmora-player: Vidmora's internal player. Plays the one video it is given with FFmpeg's
// ffplay. The path stays exactly one argument and is read as a file name whatever it holds
// (blanks, quotes, '%', ':' or a leading '-').
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
  if (argc < 2 || argv[1][0] == '\0') {
    std::fprintf(stderr, "usage: vidmora-player VIDEO\n");
    return 2;
  }
  const std::string path = argv[1];
  const std::size_t slash = path.find_last_of('/');
  const std::string title = slash == std::string::npos ? path : path.substr(slash + 1);
  // "file:" keeps ffplay from reading a protocol or an option out of the name.
  const std::string input = "file:" + path;
  execlp("ffplay", "ffplay", "-hide_banner", "-loglevel", "error", "-autoexit", "-window_title",
         title.c_str(), input.c_str(), static_cast<char*>(nullptr));
  std::fprintf(stderr, "vidmora-player: cannot start ffplay (Debian package ffmpeg): %s\n",
               std::strerror(errno));
  return 127;
}
