// Times the core's hot paths and prints one "NAME VALUE UNIT" line each.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/command_line.h"
#include "platform/format.h"
#include "platform/record_stream.h"
#include "settings/settings.h"
#include "settings/settings_file.h"

namespace {

using Clock = std::chrono::steady_clock;

template <typename Work>
double microsecondsPerRun(int runs, Work work) {
  work();  // warm-up
  const auto start = Clock::now();
  for (int i = 0; i < runs; ++i) work();
  const std::chrono::duration<double, std::micro> took = Clock::now() - start;
  return took.count() / runs;
}

vidmora::TSettings sampleSettings() {
  vidmora::TSettings s;
  vidmora::setDefaults(s);
  s.DestDir = "/home/user/Videos/Vidmora";
  s.LastSourceDir = "/home/user/Downloads/holiday clips";
  s.VideoCodec = "MP4";
  s.AudioCodec = "AAC";
  return s;
}

}  // namespace

int main() {
  const char* tmp = std::getenv("TMPDIR");
  std::string folder = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/vidmora-bench-XXXXXX";
  if (!::mkdtemp(folder.data())) return 1;
  const std::string path = folder + "/settings.bin";
  const vidmora::TSettings s = sampleSettings();

  // Save (temporary file, fsync, rename) and load again: what a settings dialog OK costs.
  const double roundtrip = microsecondsPerRun(200, [&] {
    vidmora::saveSettings(s, path);
    vidmora::TSettings back;
    vidmora::loadSettings(back, path);
  });

  const std::string bytes = [&] {
    FILE* f = std::fopen(path.c_str(), "rb");
    std::string b(4096, '\0');
    b.resize(f ? std::fread(b.data(), 1, b.size(), f) : 0);
    if (f) std::fclose(f);
    return b;
  }();
  const double parse = microsecondsPerRun(100000, [&] {
    vidmora::TSettings back;
    auto in = vidmora::RecordStream::fromMemory(bytes.data(), bytes.size());
    vidmora::readSettings(*in, back);
  });

  vidmora::ConversionSnapshot snap;
  vidmora::takeSnapshot(snap, s);
  const double line = microsecondsPerRun(100000, [&] {
    vidmora::ConversionSnapshot copy = snap;
    auto cmd = vidmora::buildConversionLine("/usr/bin/vidmora-encoder", "/in/clip one.avi",
                                            "/out/clip one.3gp", 5, "123456789012", copy, false);
    if (cmd.argv.empty()) std::abort();
  });

  const double texts = microsecondsPerRun(100000, [&] {
    const std::string a = vidmora::formatSize(734003200);
    const std::string b = vidmora::formatTimeLeft(0, 25.0, 30000);
    if (a.empty() || b.empty()) std::abort();
  });

  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
  std::printf("settings_roundtrip_us %.1f us\n", roundtrip);
  std::printf("settings_parse_us %.3f us\n", parse);
  std::printf("conversion_line_us %.3f us\n", line);
  std::printf("status_texts_us %.3f us\n", texts);
  return 0;
}
