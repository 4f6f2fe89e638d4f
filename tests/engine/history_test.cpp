// The history file: round trip, the older format, foreign and damaged files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

#include "engine_fixture.h"
#include "platform/record_stream.h"
#include "platform/texts.h"
#include "videolist/history_file.h"

namespace vidmora {
namespace {

// Hand-made file bytes.
struct Bytes {
  std::string out;
  Bytes& raw(const std::string& s) { return out += s, *this; }
  template <typename T>
  Bytes& num(T v) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
      out.push_back(static_cast<char>(static_cast<uint64_t>(v) >> (8 * i)));
    return *this;
  }
  Bytes& text(const std::string& s) { return num(static_cast<uint32_t>(s.size())).raw(s); }
  // One record; format 1 stores the size in 4 bytes.
  Bytes& record(int format, const std::string& source, int16_t state, uint64_t size,
                uint32_t duration = 7) {
    raw(std::string(12, '\0')).num<int16_t>(1).num<int16_t>(600);
    text(source).text("name").text("/out/name.3gp").num<int16_t>(state).num<int16_t>(0);
    if (format == 2)
      num<uint64_t>(size);
    else
      num<uint32_t>(static_cast<uint32_t>(size));
    return num<uint32_t>(duration);
  }
};

bool loadBytes(VideoList& list, const std::string& bytes) {
  const auto in = RecordStream::fromMemory(bytes.data(), bytes.size());
  return readHistory(list, *in);
}

TEST(HistoryFile, ThreeDoneEntriesRoundTrip) {
  test::TempFolder dir;
  VideoList list;
  list.headerValue = 0xA5A5A5A5u;
  const char* sources[] = {"/v/one.avi", "/v/t w o \"%s\".mkv", "/v/ünï.mp4"};
  for (int i = 0; i < 3; ++i) {
    auto e = std::make_unique<VideoEntry>(sources[i]);
    e->kind = 1;
    e->profileId = static_cast<int16_t>(600 + i);
    e->outputName = "name" + std::to_string(i);
    e->outputPath = "/out/name" + std::to_string(i) + ".3gp";
    e->setState(Done);
    e->transferPhase = static_cast<int16_t>(i);
    e->sizeBytes = (1ull << 40) + static_cast<uint64_t>(i);
    e->durationSeconds = 3725u + static_cast<uint32_t>(i);
    e->listIndex = 99;  // run-time fields are not stored
    e->sourceSizeBytes = 5;
    list.append(std::move(e));
  }
  const std::string path = dir / "history.bin";
  ASSERT_TRUE(saveHistory(list, path));
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"history.bin"});  // no temporary file left
  EXPECT_EQ(test::readFile(path).substr(0, std::strlen(texts::HistorySignature2)),
            texts::HistorySignature2);

  VideoList back;
  ASSERT_TRUE(loadHistory(back, path));
  EXPECT_EQ(back.headerValue, 0xA5A5A5A5u);
  ASSERT_EQ(back.count(), 3);
  for (int i = 0; i < 3; ++i) {
    const VideoEntry& a = list.at(i);
    const VideoEntry& b = back.at(i);
    EXPECT_EQ(b.kind, a.kind);
    EXPECT_EQ(b.profileId, a.profileId);
    EXPECT_EQ(b.sourcePath, a.sourcePath);
    EXPECT_EQ(b.outputName, a.outputName);
    EXPECT_EQ(b.outputPath, a.outputPath);
    EXPECT_EQ(b.stateValue(), Done);
    EXPECT_EQ(b.transferPhase, a.transferPhase);
    EXPECT_EQ(b.sizeBytes, a.sizeBytes);
    EXPECT_EQ(b.durationSeconds, a.durationSeconds);
    EXPECT_EQ(b.listIndex, i);
    EXPECT_EQ(b.sourceSizeBytes, 0u);
  }
}

TEST(HistoryFile, EmptyListAndPendingEntries) {
  VideoList empty;
  EXPECT_EQ(historyBytes(empty),
            Bytes().raw(texts::HistorySignature2).num<uint32_t>(0).num<int16_t>(0).out);
  VideoList none;
  EXPECT_TRUE(loadBytes(none, historyBytes(empty)));
  EXPECT_EQ(none.count(), 0);

  // Pending is stored and read as Cancelled (the writer also changes it in memory).
  VideoList list;
  list.append(std::make_unique<VideoEntry>("/v/a.avi"));
  list.at(0).setState(Pending);
  const std::string written = historyBytes(list);
  EXPECT_EQ(list.at(0).stateValue(), Cancelled);
  const std::string file = Bytes()
                               .raw(texts::HistorySignature2)
                               .num<uint32_t>(0)
                               .num<int16_t>(1)
                               .record(2, "/v/p.avi", Pending, 1)
                               .out;
  VideoList back;
  ASSERT_TRUE(loadBytes(back, file));
  ASSERT_EQ(back.count(), 1);
  EXPECT_EQ(back.at(0).stateValue(), Cancelled);
}

TEST(HistoryFile, FormatOneSizeIsSignExtended) {
  const std::string file = Bytes()
                               .raw(texts::HistorySignature1)
                               .num<uint32_t>(3)
                               .num<int16_t>(2)
                               .record(1, "/v/a.avi", Done, 0xFFFFFFFFu)
                               .record(1, "/v/b.avi", Done, 1000)
                               .out;
  VideoList list;
  ASSERT_TRUE(loadBytes(list, file));
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.headerValue, 3u);
  EXPECT_EQ(list.at(0).sizeBytes, 0xFFFFFFFFFFFFFFFFull);
  EXPECT_EQ(list.at(1).sizeBytes, 1000u);
  EXPECT_EQ(list.at(1).durationSeconds, 7u);
}

TEST(HistoryFile, ForeignOrMissingFileLeavesTheListAlone) {
  test::TempFolder dir;
  VideoList list;
  list.append(std::make_unique<VideoEntry>("/v/kept.avi"));
  EXPECT_FALSE(loadBytes(list, "VidmoraHistory3 and more bytes here"));
  EXPECT_FALSE(loadBytes(list, ""));
  EXPECT_FALSE(loadHistory(list, dir / "missing.bin"));
  EXPECT_EQ(list.count(), 1);
  EXPECT_FALSE(saveHistory(list, dir / "no/such/folder/history.bin"));
}

TEST(HistoryFile, FileCutInsideARecordKeepsTheWholeRecordsBeforeIt) {
  const Bytes head = Bytes().raw(texts::HistorySignature2).num<uint32_t>(0).num<int16_t>(3);
  const std::string two =
      Bytes(head).record(2, "/v/a.avi", Done, 1).record(2, "/v/b.avi", Done, 2).out;
  const std::string full = Bytes().raw(two).record(2, "/v/c.avi", Done, 3).out;
  for (std::size_t cut = two.size(); cut < full.size(); ++cut) {
    VideoList list;
    ASSERT_TRUE(loadBytes(list, full.substr(0, cut))) << cut;
    ASSERT_EQ(list.count(), 2) << cut;
    EXPECT_EQ(list.at(1).sourcePath, "/v/b.avi");
    EXPECT_EQ(list.at(1).sizeBytes, 2u);
  }
  VideoList all;
  ASSERT_TRUE(loadBytes(all, full));
  EXPECT_EQ(all.count(), 3);
}

TEST(HistoryFile, LongPathsComeBackWhole) {
  test::TempFolder dir;
  VideoList list;
  auto e = std::make_unique<VideoEntry>("/v/" + std::string(2440, 's'));
  e->outputName = std::string(255, 'n');
  e->outputPath = "/o/" + std::string(1235, 'o');
  e->setState(Done);
  list.append(std::move(e));
  const std::string path = dir / "history.bin";
  ASSERT_TRUE(saveHistory(list, path));
  VideoList back;
  ASSERT_TRUE(loadHistory(back, path));
  ASSERT_EQ(back.count(), 1);
  EXPECT_EQ(back.at(0).sourcePath, list.at(0).sourcePath);
  EXPECT_EQ(back.at(0).outputName, list.at(0).outputName);
  EXPECT_EQ(back.at(0).outputPath, list.at(0).outputPath);
}

TEST(HistoryFile, ANonRegularFileNeverBlocksTheLoad) {
  test::TempFolder dir;
  const std::string fifo = dir / "history.bin";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  auto load = std::async(std::launch::async, [&] {
    VideoList list;
    return loadHistory(list, fifo);
  });
  if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    // Let the blocked open go before failing.
    const int writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (writer >= 0) close(writer);
    ADD_FAILURE() << "loading a FIFO blocked";
  }
  EXPECT_FALSE(load.get());
  VideoList list;
  EXPECT_FALSE(loadHistory(list, dir.path()));  // a folder
}

// A save that fails while writing (the file size limit makes write() fail with EFBIG) leaves
// the previous file as it was and no temporary file behind.
TEST(HistoryFile, AFailedSaveKeepsTheOldFile) {
  test::TempFolder dir;
  const std::string path = dir / "history.bin";
  VideoList small;
  ASSERT_TRUE(saveHistory(small, path));
  const std::string before = test::readFile(path);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64, 64};
    setrlimit(RLIMIT_FSIZE, &limit);
    VideoList big;
    for (int i = 0; i < 20; ++i)
      big.append(std::make_unique<VideoEntry>("/v/clip" + std::to_string(i) + ".avi"));
    _exit(saveHistory(big, path) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the save reported success";
  EXPECT_EQ(test::readFile(path), before);
  EXPECT_EQ(dir.entries(), std::vector<std::string>{"history.bin"});
}

TEST(HistoryFile, OverlongTextsAreCutAndTheRestIsSkipped) {
  const std::string longSource(HistorySourceLimit + 900, 's');
  const std::string file = Bytes()
                               .raw(texts::HistorySignature2)
                               .num<uint32_t>(0)
                               .num<int16_t>(2)
                               .record(2, longSource, Done, 11, 21)
                               .record(2, "/v/next.avi", Done, 12, 22)
                               .out;
  VideoList list;
  ASSERT_TRUE(loadBytes(list, file));
  ASSERT_EQ(list.count(), 2);
  EXPECT_EQ(list.at(0).sourcePath, std::string(HistorySourceLimit, 's'));
  EXPECT_EQ(list.at(0).sizeBytes, 11u);
  EXPECT_EQ(list.at(0).durationSeconds, 21u);
  EXPECT_EQ(list.at(1).sourcePath, "/v/next.avi");
  // A length far beyond the file ends the load at that record.
  const std::string huge = Bytes()
                               .raw(texts::HistorySignature2)
                               .num<uint32_t>(0)
                               .num<int16_t>(1)
                               .raw(std::string(16, '\0'))
                               .num<uint32_t>(0xFFFFFFF0u)
                               .raw("abc")
                               .out;
  VideoList none;
  EXPECT_TRUE(loadBytes(none, huge));
  EXPECT_EQ(none.count(), 0);
}

}  // namespace
}  // namespace vidmora

namespace vidmora {
namespace {

// The window and vidmora-cli (two engines here) share one history file: what each converted
// stays when both save at exit, in either order; an entry the user removed does not come back.
TEST(HistoryFile, TwoProgramsSavingOneHistoryKeepEachOthersDoneEntries) {
  test::TempFolder dir;
  const std::string path = dir / "history.bin";
  {
    VideoList start;
    for (const char* name : {"kept", "removed"}) {
      auto e = std::make_unique<VideoEntry>(dir / (std::string(name) + ".avi"));
      e->setState(Done);
      e->outputPath = dir / (std::string(name) + ".3gp");
      start.append(std::move(e));
    }
    ASSERT_TRUE(saveHistory(start, path));
  }
  EngineConfig config;
  config.historyPath = path;
  auto window = std::make_unique<test::EngineRig>(dir / "no-encoder", dir.path(), config);
  auto cli = std::make_unique<test::EngineRig>(dir / "no-encoder", dir.path(), config);
  for (test::EngineRig* rig : {window.get(), cli.get()}) {
    ASSERT_TRUE(rig->engine.list().loadHistory());
    ASSERT_EQ(rig->engine.list().entries().count(), 2);
  }
  ASSERT_EQ(window->engine.list().removeEntry(1), RemoveResult::Removed);
  const auto converted = [&](test::EngineRig& rig, const char* name) {
    VideoEntry& e = rig.addReady(dir / (std::string(name) + ".avi"));
    e.setState(Done);
    e.outputPath = dir / (std::string(name) + ".3gp");
    rig.engine.list().setListModified();
  };
  converted(*window, "by-window");
  converted(*cli, "by-cli");
  cli->engine.exitTidyUp();  // the first to end
  window->engine.exitTidyUp();
  VideoList saved;
  ASSERT_TRUE(loadHistory(saved, path));
  std::vector<std::string> sources;
  for (int i = 0; i < saved.count(); ++i) sources.push_back(saved.at(i).sourcePath);
  std::sort(sources.begin(), sources.end());
  EXPECT_EQ(sources, (std::vector<std::string>{dir / "by-cli.avi", dir / "by-window.avi",
                                               dir / "kept.avi"}));
}

}  // namespace
}  // namespace vidmora
