// Engine benchmarks; each command prints "NAME VALUE UNIT" lines.
//   batch ENCODER FOLDER N        time of a batch over the clips FOLDER/clip*.mp4 (seconds)
//   lines ENCODER FOLDER OUT      the conversion lines of those clips, one shell command a line
//   probe-lines ENCODER FOLDER    the probe lines of those clips (what adding them runs)
//   next-start FAKE_ENCODER       gap from one conversion's end to the next one's start
//   add ENCODER FOLDER N          adds the folder's N media files (exit status only)
//   batch30000 FAKE_ENCODER       start time, memory and waiting CPU of a 30000-entry batch
//   paused ENCODER FOLDER         CPU of the whole program (the engine, its encoders and their
//                                 ffmpeg) while a batch of two real conversions of
//                                 FOLDER/long*.mp4 is paused
//   history30000                  saving and loading a history of 30000 entries, and in turn
//                                 with it the kept queue of 30000 rows (the engine's own save
//                                 and the start's load, which takes the rows over)
#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "engine/command_line.h"
#include "engine/engine_fixture.h"
#include "settings/profiles.h"
#include "videolist/history_file.h"

using namespace vidmora;
using Clock = std::chrono::steady_clock;

namespace {

double secondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

std::vector<std::string> clipsIn(const std::string& folder) {
  std::vector<std::string> out;
  if (DIR* d = opendir(folder.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string name = e->d_name;
      if (name.rfind("clip", 0) == 0 && name.size() > 4 && name.substr(name.size() - 4) == ".mp4")
        out.push_back(folder + "/" + name);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

double rssMb() {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
  }
  return 0;
}

double cpuSeconds() {
  rusage r{};
  getrusage(RUSAGE_SELF, &r);
  return r.ru_utime.tv_sec + r.ru_stime.tv_sec + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

int batch(const std::string& encoder, const std::string& folder) {
  test::TempFolder out;
  test::EngineRig rig(encoder, out.path());
  for (const std::string& clip : clipsIn(folder)) rig.addReady(clip);
  const auto t = Clock::now();
  rig.engine.batch().startBatch();
  if (!rig.waitBatch(3600000)) return 1;
  std::printf("%.3f\n", secondsSince(t));
  for (int i = 0; i < rig.engine.list().entries().count(); ++i)
    if (rig.engine.list().entries().at(i).stateValue() != Done)
      return 1;  // a failed run is no figure
  return 0;
}

// Adds a folder as a drop would (walk, parallel probes); fails unless every file was added.
int add(const std::string& encoder, const std::string& folder, int expected) {
  test::TempFolder out;
  test::EngineRig rig(encoder, out.path());
  const auto refused = rig.scan({folder});
  return refused.empty() && rig.engine.list().entries().count() == expected ? 0 : 1;
}

int lines(const std::string& encoder, const std::string& folder, const std::string& outFolder) {
  TSettings settings;
  setDefaults(settings);
  for (const std::string& clip : clipsIn(folder)) {
    ConversionSnapshot snapshot;
    takeSnapshot(snapshot, settings);
    const std::string output = outFolder + "/" + baseNameOf(clip) + ".3gp";
    // No slot: the encoder is told a block name but reports into no slot.
    const EncoderCommand c =
        buildConversionLine(encoder, clip, output, -1, "000000000000", snapshot, false);
    std::string line;
    for (const std::string& a : c.argv) line += shellQuote(a) + " ";
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int probeLines(const std::string& encoder, const std::string& folder) {
  for (const std::string& clip : clipsIn(folder)) {
    const EncoderCommand c = buildProbeLine(encoder, clip, -1, "000000000000");
    std::string line;
    for (const std::string& a : c.argv) line += shellQuote(a) + " ";
    std::printf("%s\n", line.c_str());
  }
  return 0;
}

int nextStart(const std::string& fake) {
  test::TempFolder dir;
  const std::string log = dir / "log.txt";
  test::EngineRig rig(fake, dir.path());
  rig.engine.settings().MaxConversions = 1;
  const int n = 40;
  for (int i = 0; i < n; ++i) {
    const std::string source = dir / ("s" + std::to_string(i) + ".avi");
    test::writeFile(source, "run_ms=20\nlog=" + log + "\n");
    rig.addReady(source);
  }
  rig.engine.batch().startBatch();
  if (!rig.waitBatch(600000)) return 1;
  std::vector<long long> starts, ends;
  for (const std::string& line : test::readLines(log)) {
    const long long us = std::stoll(line.substr(line.rfind(' ') + 1));
    (line.rfind("start", 0) == 0 ? starts : ends).push_back(us);
  }
  if (starts.size() != static_cast<std::size_t>(n) || ends.size() != starts.size()) return 1;
  std::vector<double> gaps;
  for (int i = 1; i < n; ++i) gaps.push_back((starts[i] - ends[i - 1]) / 1000.0);
  std::sort(gaps.begin(), gaps.end());
  std::printf("next_start_ms %.2f ms\n", gaps[gaps.size() / 2]);
  std::printf("next_start_max_ms %.2f ms\n", gaps.back());
  return 0;
}

// CPU clock ticks used so far by every process below this one (encoders and their ffmpeg).
long long descendantTicks() {
  std::vector<std::pair<int, int>> parents;  // (pid, ppid)
  std::vector<std::pair<int, long long>> ticks;
  if (DIR* d = opendir("/proc")) {
    while (dirent* e = readdir(d)) {
      const int pid = std::atoi(e->d_name);
      if (pid <= 0) continue;
      std::ifstream in(std::string("/proc/") + e->d_name + "/stat");
      std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const std::size_t close = text.rfind(')');
      if (close == std::string::npos) continue;
      std::istringstream fields(text.substr(close + 2));
      std::vector<std::string> f;  // from field 3 (state) on
      for (std::string w; fields >> w && f.size() < 13;) f.push_back(w);
      if (f.size() < 13) continue;
      parents.emplace_back(pid, std::atoi(f[1].c_str()));
      ticks.emplace_back(pid, std::atoll(f[11].c_str()) + std::atoll(f[12].c_str()));
    }
    closedir(d);
  }
  std::vector<int> below = {static_cast<int>(getpid())};
  for (std::size_t i = 0; i < below.size(); ++i)
    for (const auto& [pid, ppid] : parents)
      if (ppid == below[i]) below.push_back(pid);
  long long sum = 0;
  for (const auto& [pid, t] : ticks)
    if (pid != getpid() && std::find(below.begin(), below.end(), pid) != below.end()) sum += t;
  return sum;
}

int paused(const std::string& encoder, const std::string& folder) {
  test::TempFolder dir;
  test::EngineRig rig(encoder, dir.path());
  applyProfile(rig.engine.settings(), profileIndexById(9000));
  rig.engine.settingsChanged();
  for (const char* name : {"long1.mp4", "long2.mp4"}) rig.addReady(folder + "/" + name);
  if (!rig.engine.batch().startBatch()) return 1;
  // Both encoders running, ffmpeg under each, before the pause.
  rig.queue.serveUntil([&] { return rig.engine.batch().runningCount() == 2; }, 60000);
  rig.queue.serveUntil([] { return false; }, 2000);
  if (rig.engine.batch().runningCount() != 2 || !rig.engine.batch().pauseAll(true)) {
    std::fprintf(stderr, "paused: the two conversions were not running\n");
    return 1;
  }
  rig.queue.serveUntil([] { return false; }, 1000);  // the stop signal has reached every group
  const long long ticks0 = descendantTicks();
  const double self0 = cpuSeconds();
  const auto t = Clock::now();
  rig.queue.serveUntil([] { return false; }, 10000);
  const double used =
      static_cast<double>(descendantTicks() - ticks0) / static_cast<double>(sysconf(_SC_CLK_TCK)) +
      (cpuSeconds() - self0);
  const double wall = secondsSince(t);
  // Stop works on paused conversions: both end Cancelled, the batch ends.
  rig.engine.batch().stopAll(Answer::Yes);
  if (!rig.waitBatch(120000)) return 1;
  for (int i = 0; i < 2; ++i) {
    if (rig.engine.list().entries().at(i).stateValue() != Cancelled) {
      std::fprintf(stderr, "paused: row %d did not end Cancelled\n", i);
      return 1;
    }
  }
  std::printf("paused_cpu_pct %.3f %%\n", 100.0 * used / wall);
  return 0;
}

int batch30000(const std::string& fake) {
  test::TempFolder dir;
  const std::string instant = dir / "instant.avi";
  const std::string sleeping = dir / "sleeping.avi";
  test::writeFile(instant, "bytes=1\n");
  test::writeFile(sleeping, "run_ms=6000\nbytes=1\n");
  {
    // Start-up of the batch and its memory, with an encoder that ends at once.
    test::EngineRig rig(fake, dir.path());
    for (int i = 0; i < MaxEntries; ++i) rig.addReady(instant);
    bool started = false;
    rig.ui.onRepaint = [&](int) { started = true; };
    const auto t = Clock::now();
    rig.engine.batch().startBatch();
    rig.queue.serveUntil([&] { return started; }, 60000);
    std::printf("batch30000_start_s %.3f s\n", secondsSince(t));
    rig.queue.serveUntil([] { return false; }, 1000);
    std::printf("batch30000_rss_mb %.1f MB\n", rssMb());
    rig.engine.batch().stopAll(Answer::Yes);
    rig.waitBatch(120000);
  }
  {
    // CPU while two conversions run (sleeping encoders) and 29998 entries wait their turn.
    test::EngineRig rig(fake, dir.path());
    for (int i = 0; i < MaxEntries; ++i) rig.addReady(sleeping);
    rig.engine.batch().startBatch();
    rig.queue.serveUntil([&] { return rig.engine.batch().runningCount() == 2; }, 60000);
    rig.queue.serveUntil([] { return false; }, 300);
    const double cpu0 = cpuSeconds();
    const auto t = Clock::now();
    rig.queue.serveUntil([] { return false; }, 4000);
    const double pct = 100.0 * (cpuSeconds() - cpu0) / secondsSince(t);
    std::printf("batch30000_wait_cpu_pct %.2f %%\n", pct);
    rig.engine.batch().stopAll(Answer::Yes);
    rig.waitBatch(120000);
  }
  return 0;
}

int history30000() {
  test::TempFolder dir;
  VideoList list;
  for (int i = 0; i < MaxEntries; ++i) {
    auto e = std::make_unique<VideoEntry>("/home/someone/Videos/holidays/clip number " +
                                          std::to_string(i) + ".mp4");
    e->kind = 1;
    e->profileId = 600;
    e->outputName = "clip number " + std::to_string(i);
    e->outputPath = "/home/someone/Videos/Vidmora/clip number " + std::to_string(i) + ".3gp";
    e->setState(Done);
    e->sizeBytes = 1234567;
    e->durationSeconds = 61;
    list.append(std::move(e));
  }
  const std::string path = dir / "history.bin";
  // The queue: rows of every kept state, one in ten with settings of its own.
  EngineConfig config;
  config.queuePath = dir / "queue.bin";
  test::EngineRig rig("/nonexistent/encoder", dir.path(), config);
  auto own = std::make_shared<ConversionSnapshot>();
  takeSnapshot(*own, rig.engine.settings());
  const int16_t states[] = {Ready, Cancelled, ConversionError, NotFound};
  for (int i = 0; i < MaxEntries; ++i) {
    VideoEntry& e =
        rig.addReady("/home/someone/Videos/holidays/clip number " + std::to_string(i) + ".mp4");
    e.setState(states[i % 4]);
    e.durationSeconds = 61;
    e.sourceSizeBytes = 7654321;
    if (i % 10 == 0) e.ownSettings = own;
  }
  double save = 1e9, load = 1e9, queueSave = 1e9, queueLoad = 1e9;
  for (int round = 0; round < 5; ++round) {
    auto t = Clock::now();
    if (!saveHistory(list, path)) return 1;
    save = std::min(save, secondsSince(t) * 1000);
    t = Clock::now();
    if (!rig.engine.queueKeeper().saveNow()) return 1;
    queueSave = std::min(queueSave, secondsSince(t) * 1000);
    VideoList back;
    t = Clock::now();
    if (!loadHistory(back, path) || back.count() != MaxEntries) return 1;
    load = std::min(load, secondsSince(t) * 1000);
    test::EngineRig start("/nonexistent/encoder", dir.path(), config);
    t = Clock::now();
    if (start.engine.loadQueue() != MaxEntries) return 1;
    queueLoad = std::min(queueLoad, secondsSince(t) * 1000);
  }
  std::printf("history30000_save_ms %.2f ms\n", save);
  std::printf("history30000_load_ms %.2f ms\n", load);
  std::printf("queue30000_save_ms %.2f ms\n", queueSave);
  std::printf("queue30000_load_ms %.2f ms\n", queueLoad);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> a(argv + 1, argv + argc);
  if (a.size() == 3 && a[0] == "batch") return batch(a[1], a[2]);
  if (a.size() == 4 && a[0] == "add") return add(a[1], a[2], std::atoi(a[3].c_str()));
  if (a.size() == 4 && a[0] == "lines") return lines(a[1], a[2], a[3]);
  if (a.size() == 3 && a[0] == "probe-lines") return probeLines(a[1], a[2]);
  if (a.size() == 2 && a[0] == "next-start") return nextStart(a[1]);
  if (a.size() == 2 && a[0] == "batch30000") return batch30000(a[1]);
  if (a.size() == 3 && a[0] == "paused") return paused(a[1], a[2]);
  if (a.size() == 1 && a[0] == "history30000") return history30000();
  std::fprintf(stderr, "usage: see the comment at the top of engine_bench.cpp\n");
  return 2;
}
