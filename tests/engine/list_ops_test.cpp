// The list operations behind the list commands: remove, delete video, remove missing, rename.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/list_texts.h"
#include "engine_fixture.h"
#include "platform/texts.h"
#include "videolist/history_file.h"

namespace vidmora {
namespace {

using test::EngineRig;
using test::TempFolder;

TEST(ListOperations, RemoveRenumbersMovesTheFocusAndRefusesBusyStates) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  for (const char* name : {"a", "b", "c"}) rig.addReady(dir / (std::string(name) + ".avi"));
  rig.engine.list().entries().at(1).setState(NotFound);  // only a history file brings this state
  EXPECT_EQ(rig.engine.list().removeEntry(1), RemoveResult::Refused);
  EXPECT_EQ(rig.engine.list().removeEntry(3), RemoveResult::Refused);
  EXPECT_FALSE(rig.engine.list().listModified());

  EXPECT_EQ(rig.engine.list().removeEntry(0), RemoveResult::Removed);
  ASSERT_EQ(rig.engine.list().entries().count(), 2);
  EXPECT_EQ(rig.engine.list().entries().at(0).sourcePath, dir / "b.avi");
  EXPECT_EQ(rig.engine.list().entries().at(1).listIndex, 1);
  EXPECT_EQ(rig.ui.removedRows, std::vector<int>{0});
  EXPECT_EQ(rig.ui.gotoRows.back(), 0);  // the entry that took the removed one's place
  EXPECT_EQ(rig.ui.status, texts::fillText(texts::EntryCount, 2));
  EXPECT_TRUE(rig.engine.list().listModified());

  EXPECT_EQ(rig.engine.list().removeEntry(1), RemoveResult::Removed);  // the last row
  EXPECT_EQ(rig.ui.gotoRows.back(), 0);
}

TEST(ListOperations, DeleteVideoRemovesTheFileOfADoneEntryOnly) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  VideoEntry& done = rig.addReady(dir / "done.avi");
  done.setState(Done);
  done.outputPath = dir / "done.3gp";
  test::writeFile(done.outputPath, "x");
  VideoEntry& stuck = rig.addReady(dir / "stuck.avi");
  stuck.setState(Done);
  stuck.outputPath = dir / "stuck.3gp";
  ::mkdir(stuck.outputPath.c_str(), 0700);  // cannot be unlinked
  test::writeFile(stuck.outputPath + "/f", "x");
  VideoEntry& cancelled = rig.addReady(dir / "cancelled.avi");
  cancelled.setState(Cancelled);
  cancelled.outputPath = dir / "partial.3gp";
  test::writeFile(cancelled.outputPath, "x");

  EXPECT_EQ(rig.engine.list().removeEntry(1, true), RemoveResult::DeleteFailed);
  EXPECT_EQ(rig.engine.list().entries().count(), 3);
  EXPECT_EQ(rig.engine.list().removeEntry(2, true), RemoveResult::Removed);
  EXPECT_TRUE(test::exists(dir / "partial.3gp"));  // only a Done entry's file is deleted
  EXPECT_EQ(rig.engine.list().removeEntry(0, true), RemoveResult::Removed);
  EXPECT_FALSE(test::exists(dir / "done.3gp"));
  EXPECT_EQ(rig.engine.list().entries().count(), 1);
}

TEST(ListOperations, RemoveMissingAndRename) {
  TempFolder dir;
  EngineRig rig(dir / "no-encoder", dir.path());
  rig.addReady(dir / "ready.avi");
  VideoEntry& done = rig.addReady(dir / "clip.avi");
  done.setState(Done);
  done.outputName = "clip";
  done.outputPath = dir / "clip.3gp";
  test::writeFile(done.outputPath, "video");
  VideoEntry& gone = rig.addReady(dir / "gone.avi");
  gone.setState(Done);
  gone.outputPath = dir / "gone.3gp";

  EXPECT_EQ(rig.engine.list().removeMissing(), 2);
  ASSERT_EQ(rig.engine.list().entries().count(), 1);
  EXPECT_EQ(rig.ui.gotoRows.back(), 0);

  // The row always names the file on disk: a taken name is refused, a failed move changes
  // nothing, a move that worked takes the row along.
  using Outcome = VideoListStore::RenameOutcome;
  test::writeFile(dir / "taken.3gp", "someone else's");
  VideoEntry& other = rig.addReady(dir / "other.avi");
  other.setState(Converting);
  other.outputPath = dir / "busy.3gp";
  struct Case {
    const char* name;
    Outcome outcome;
    const char* path;  // the entry's outputPath afterwards
  } cases[] = {
      {"clip", Outcome::Unchanged, "clip.3gp"},  // its own name: nothing to do
      {"taken", Outcome::Taken, "clip.3gp"},     // a file of that name
      {"BUSY", Outcome::Taken, "clip.3gp"},      // another entry's output (any case)
      {"holiday \"best\"", Outcome::Moved, "holiday \"best\".3gp"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(rig.engine.list().renameOutput(0, c.name), c.outcome) << c.name;
    EXPECT_EQ(done.outputPath, dir / c.path) << c.name;
    EXPECT_EQ(done.outputName, baseNameOf(done.outputPath)) << c.name;
    EXPECT_EQ(test::readFile(done.outputPath), "video") << c.name;
  }
  EXPECT_EQ(test::readFile(dir / "taken.3gp"), "someone else's");
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnName), "holiday \"best\".3gp");

  // The file went away behind the list's back: the move fails and the row keeps its name.
  std::filesystem::remove(done.outputPath);
  EXPECT_EQ(rig.engine.list().renameOutput(0, "later"), Outcome::Failed);
  EXPECT_EQ(done.outputName, "holiday \"best\"");
  EXPECT_EQ(done.outputPath, dir / "holiday \"best\".3gp");

  done.setState(Ready);
  EXPECT_EQ(rig.engine.list().renameOutput(0, "other"), Outcome::NotDone);
  EXPECT_EQ(done.outputName, "holiday \"best\"");
}

TEST(ListOperations, EveryReadyRowShowsTheCurrentProfilesExtension) {
  // Ready rows loaded from the history and Cancelled rows queued again were made under another
  // profile: they take the one chosen now, as rows present when it was chosen did.
  TempFolder dir;
  {
    VideoList saved;
    for (const int16_t state : {Ready, Cancelled}) {
      auto e = std::make_unique<VideoEntry>(dir / "clip.avi");
      e->profileId = 600;
      e->outputName = "clip";
      e->setState(state);
      saved.append(std::move(e));
    }
    ASSERT_TRUE(saveHistory(saved, dir / "history.bin"));
  }
  EngineConfig config;
  config.historyPath = dir / "history.bin";
  EngineRig rig(dir / "no-encoder", dir.path(), config);
  rig.engine.settings().ProfileId = 700;
  rig.engine.settingsChanged();
  ASSERT_TRUE(rig.engine.list().loadHistory());
  EXPECT_EQ(rig.engine.list().cellText(0, ColumnName), "clip (.mp4)");  // loaded Ready
  EXPECT_EQ(rig.engine.list().cellText(1, ColumnName), "clip (.3gp)");  // Cancelled keeps its own
  rig.engine.list().requeueCancelled();
  EXPECT_EQ(rig.engine.list().cellText(1, ColumnName), "clip (.mp4)");  // queued again
}

}  // namespace
}  // namespace vidmora
