// vidmora-player: Vidmora's internal player. Plays the one video it is given with FFmpeg's
// ffplay. The path stays exactly one argument and is read as a file name whatever it holds
// (blanks, quotes, '%', ':' or a leading '-').
//
// Before ffplay is started the file is opened with libavformat: a file that cannot be played,
// or a missing ffplay, is reported on standard error and, when a display is there, in a message
// box, instead of a player that closes without a word. Exit status: 3 for such a report
// (PlayerToldTheUser), 127 when ffplay cannot be started, 2 for a bad command line.
#include <unistd.h>

#include <QApplication>
#include <QMessageBox>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

#include "platform/qt/shell_dialogs.h"

namespace {

// Why the file cannot be played; empty when it has a picture or sound to play.
std::string unplayableReason(const std::string& input) {
  AVFormatContext* ic = nullptr;
  int err = avformat_open_input(&ic, input.c_str(), nullptr, nullptr);
  if (err >= 0) err = avformat_find_stream_info(ic, nullptr);
  if (err < 0) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, text, sizeof text);
    if (ic != nullptr) avformat_close_input(&ic);
    return std::string("It cannot be read as a video (") + text + ").";
  }
  bool playable = false;
  for (unsigned i = 0; i < ic->nb_streams; ++i) {
    const AVMediaType type = ic->streams[i]->codecpar->codec_type;
    playable = playable || type == AVMEDIA_TYPE_VIDEO || type == AVMEDIA_TYPE_AUDIO;
  }
  avformat_close_input(&ic);
  return playable ? std::string() : "It holds neither picture nor sound.";
}

// Standard error always; a message box when there is a display to show it on.
void report(int argc, char** argv, const std::string& path, const std::string& why) {
  std::fprintf(stderr, "vidmora-player: cannot play '%s'. %s\n", path.c_str(), why.c_str());
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 == nullptr || *x11 == '\0') && (wayland == nullptr || *wayland == '\0')) return;
  QApplication app(argc, argv);
  QMessageBox::warning(nullptr, QStringLiteral("Vidmora Player"),
                       QStringLiteral("This video cannot be played:\n%1\n\n%2")
                           .arg(QString::fromStdString(path), QString::fromStdString(why)));
}

}  // namespace

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
  av_log_set_level(AV_LOG_QUIET);
  const std::string why = unplayableReason(input);
  if (!why.empty()) {
    report(argc, argv, path, why);
    return vidmora::PlayerToldTheUser;
  }
  execlp("ffplay", "ffplay", "-hide_banner", "-loglevel", "error", "-autoexit", "-window_title",
         title.c_str(), input.c_str(), static_cast<char*>(nullptr));
  const std::string failure = std::string("ffplay could not be started (") + std::strerror(errno) +
                              "). Install the Debian package ffmpeg.";
  report(argc, argv, path, failure);
  return 127;
}
