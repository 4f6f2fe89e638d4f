// Leftovers of killed Vidmora processes: temporary files and progress blocks are removed only
// when they are provably this user's and their process is gone.
#include "platform/stale_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "engine/progress_channel.h"
#include "support/temp_folder.h"

namespace vidmora {
namespace {

// The id of a process that has ended and been reaped.
pid_t deadPid() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

std::vector<std::string> sorted(std::vector<std::string> v) {
  std::sort(v.begin(), v.end());
  return v;
}

TEST(StaleFiles, TemporaryNamesAreExclusiveAndCarryThePid) {
  test::TempFolder dir;
  std::string save, part;
  const int a = createSaveTemp(dir / "history.bin", save);
  const int b = createHiddenPartFile(dir / (std::string(300, 'x') + ".3gp"), part, O_CLOEXEC);
  ASSERT_GE(a, 0);
  ASSERT_GE(b, 0);
  close(a);
  close(b);
  long pid = 0;
  const std::string partName = part.substr(part.rfind('/') + 1);
  EXPECT_LE(partName.size(), 255u);
  EXPECT_EQ(partName[0], '.');
  for (const std::string& path : {save, part}) {
    EXPECT_TRUE(parseOwnTempName(path.substr(path.rfind('/') + 1), pid)) << path;
    EXPECT_EQ(pid, getpid());
  }
  // Two files for one final name never share a temporary name.
  std::string again;
  const int c = createSaveTemp(dir / "history.bin", again);
  ASSERT_GE(c, 0);
  close(c);
  EXPECT_NE(again, save);
}

TEST(StaleFiles, OnlyLeftoversOfEndedProcessesAreRemoved) {
  test::TempFolder dir;
  const std::string dead = std::to_string(deadPid());
  const std::string alive = std::to_string(getpid());
  const std::vector<std::string> removed = {
      "history.bin." + dead + ".a1B2c3.vidmora-tmp",
      "settings.bin." + dead + ".zzzzzz.vidmora-tmp",
      ".clip.3gp." + dead + ".Q9w8e7.vidmora-part",
  };
  const std::vector<std::string> kept = {
      "history.bin." + alive + ".a1B2c3.vidmora-tmp",  // its process runs
      ".clip.3gp." + alive + ".Q9w8e7.vidmora-part",
      "clip.3gp." + dead + ".Q9w8e7.vidmora-part",     // a part file is hidden
      "history.bin." + dead + ".short.vidmora-tmp",    // not six characters
      "history.bin.x" + dead + ".a1B2c3.vidmora-tmp",  // no pid
      "history.bin",
      "clip.3gp",
      "notes." + dead + ".txt",
  };
  for (const auto& name : removed) test::writeFile(dir / name, "x");
  for (const auto& name : kept) test::writeFile(dir / name, "x");
  // A link with a leftover's name is never followed nor taken for a file of ours.
  test::writeFile(dir / "victim", "precious");
  const std::string link = ".victim." + dead + ".abcdef.vidmora-part";
  ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / link).c_str()), 0);
  mkdir((dir / ("folder." + dead + ".abcdef.vidmora-tmp")).c_str(), 0700);

  EXPECT_EQ(removeStaleTempFiles(dir.path()), static_cast<int>(removed.size()));
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {"victim", link, "folder." + dead + ".abcdef.vidmora-tmp"});
  EXPECT_EQ(sorted(dir.entries()), sorted(expected));
  EXPECT_EQ(test::readFile(dir / "victim"), "precious");
  EXPECT_EQ(removeStaleTempFiles(dir / "missing"), 0);
}

TEST(StaleFiles, ScratchFoldersOfEndedProcessesGoWithWhatTheyHold) {
  test::TempFolder dir;
  const std::string dead = std::to_string(deadPid());
  const std::string mine = createScratchFolder(dir.path(), "sample");
  ASSERT_FALSE(mine.empty());
  EXPECT_EQ(mine.rfind(dir / ("vidmora-sample." + std::to_string(getpid()) + "."), 0), 0u);
  const std::string left = "vidmora-sample." + dead + ".a1B2c3";
  mkdir((dir / left).c_str(), 0700);
  test::writeFile(dir / left + "/piece-0.mp4", "x");
  // A link inside one is removed, never followed.
  test::writeFile(dir / "victim", "precious");
  ASSERT_EQ(symlink((dir / "victim").c_str(), (dir / left + "/link").c_str()), 0);
  const std::vector<std::string> kept = {
      "vidmora-sample." + dead + ".short",    // not six characters
      "vidmora-sample.x" + dead + ".a1B2c3",  // no pid
      "other." + dead + ".a1B2c3",
  };
  for (const auto& name : kept) mkdir((dir / name).c_str(), 0700);
  const std::string file = "vidmora-sample." + dead + ".zzzzzz";  // a file, not a folder
  test::writeFile(dir / file, "x");

  EXPECT_EQ(removeStaleScratchFolders(dir.path()), 1);
  std::vector<std::string> expected = kept;
  expected.insert(expected.end(), {mine.substr(dir.path().size() + 1), "victim", file});
  EXPECT_EQ(sorted(dir.entries()), sorted(expected));
  EXPECT_EQ(test::readFile(dir / "victim"), "precious");
}

TEST(StaleFiles, ProgressBlocksOfEndedAppsAreRemoved) {
  test::TempFolder shm;  // stands in for /dev/shm
  const std::vector<std::string> stale = {"vidmora-000000000001", "vidmora-123456789012"};
  for (const auto& name : stale) test::writeFile(shm / name, std::string(64, '\0'));
  for (const auto& name : {"vidmora-12345", "vidmora-abcdefghijkl", "other-123456789012"})
    test::writeFile(shm / name, "x");
  // A block held by a living app (here a child that keeps the lock).
  const std::string held = shm / "vidmora-999999999999";
  test::writeFile(held, std::string(64, '\0'));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t app = fork();
  if (app == 0) {
    const int fd = open(held.c_str(), O_RDWR);
    void* view = mmap(nullptr, 64, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const bool locked = markProgressBlockAlive(fd);
    close(fd);  // the mapping keeps the lock
    (void)!write(ready[1], locked ? "1" : "0", 1);
    pause();
    munmap(view, 64);
    _exit(0);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  EXPECT_EQ(c, '1');
  EXPECT_EQ(removeStaleProgressBlocks(shm.path()), 2);
  EXPECT_EQ(sorted(shm.entries()), sorted({"vidmora-12345", "vidmora-abcdefghijkl",
                                           "other-123456789012", "vidmora-999999999999"}));
  kill(app, SIGKILL);
  waitpid(app, nullptr, 0);
  EXPECT_EQ(removeStaleProgressBlocks(shm.path()), 1);  // its app is gone now
  close(ready[0]);
  close(ready[1]);
}

TEST(StaleFiles, AProgressBlockIsMarkedAliveWhileItsAppRuns) {
  ProgressBlock block;
  ASSERT_TRUE(block.create());
  const int fd = open(("/dev/shm/vidmora-" + block.mapName()).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock probe {};
  probe.l_type = F_WRLCK;
  probe.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd, F_OFD_GETLK, &probe), 0);
  EXPECT_NE(probe.l_type, F_UNLCK);
  close(fd);
}

std::vector<std::string> namesIn(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder, ec))
    names.push_back(e.path().filename().string());
  return names;
}

// An empty file made exclusively, as a conversion reserves its output name.
struct stat reserve(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  struct stat st {};
  if (fd >= 0) {
    ::fstat(fd, &st);
    ::close(fd);
  }
  return st;
}

TEST(StaleFiles, EmptyReservationsOfAKilledProgramGoAndNothingElse) {
  test::TempFolder dir;
  const std::string ledgers = dir / "reservations";
  // A program reserves four names and is killed before it settles them: one stays empty, one
  // was published over (another file now), one was filled, one was replaced by another program.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ReservationLedger ledger(ledgers);
    ::mkdir(ledgers.c_str(), 0700);
    for (const char* name : {"left.3gp", "published.3gp", "filled.3gp", "replaced.3gp"}) {
      const struct stat st = reserve(dir / name);
      if (st.st_ino == 0 || !ledger.record(dir / name, st.st_dev, st.st_ino)) _exit(1);
    }
    _exit(0);  // killed: no destructor runs
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  test::writeFile(dir / "new.tmp", "video");
  ASSERT_EQ(::rename((dir / "new.tmp").c_str(), (dir / "published.3gp").c_str()), 0);
  test::writeFile(dir / "filled.3gp", "partial");
  ::unlink((dir / "replaced.3gp").c_str());
  reserve(dir / "replaced.3gp");  // empty as well, but not the file the ledger names
  // A living program's reservation stays whatever its state.
  {
    ReservationLedger mine(ledgers);
    const struct stat st = reserve(dir / "mine.3gp");
    ASSERT_TRUE(mine.record(dir / "mine.3gp", st.st_dev, st.st_ino));
    EXPECT_EQ(removeStaleReservations(ledgers), 1);
    EXPECT_EQ(sorted(dir.entries()),
              sorted({"reservations", "published.3gp", "filled.3gp", "replaced.3gp", "mine.3gp"}));
    EXPECT_EQ(namesIn(ledgers).size(), 1u);  // the living program's ledger
  }
  EXPECT_TRUE(namesIn(ledgers).empty());  // a ledger goes with its program
}

}  // namespace
}  // namespace vidmora
