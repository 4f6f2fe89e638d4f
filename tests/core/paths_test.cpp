#include "platform/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "support/temp_folder.h"

namespace vidmora {
namespace {

TEST(Paths, ComposeAndSplit) {
  EXPECT_EQ(joinPath("/out/", "clip", "3gp"), "/out/clip.3gp");
  EXPECT_EQ(joinPath("/out", "clip", ".3gp"), "/out/clip.3gp");
  EXPECT_EQ(joinPath("", "clip", ""), "clip");
  EXPECT_EQ(joinPath("/", "a b", "mp4"), "/a b.mp4");

  EXPECT_EQ(appendComponent("/home/u/", "Vidmora"), "/home/u/Vidmora");
  EXPECT_EQ(appendComponent("/home/u", "/Vidmora"), "/home/u/Vidmora");
  EXPECT_EQ(appendComponent("/", "Vidmora"), "/Vidmora");

  struct Case {
    const char* path;
    const char* folder;
    const char* name;
    const char* extension;
  };
  const Case cases[] = {
      {"/in/clip.avi", "/in/", "clip", ".avi"},
      {"/in/my.clip.avi", "/in/", "my.clip", ".avi"},
      {"/in.d/clip", "/in.d/", "clip", ""},
      {"clip.avi", "", "clip", ".avi"},
      {"/", "/", "", ""},
      {"/in/.hidden", "/in/", "", ".hidden"},
  };
  for (const Case& c : cases) {
    const PathParts p = splitPath(c.path);
    EXPECT_EQ(p.folder, c.folder) << c.path;
    EXPECT_EQ(p.name, c.name) << c.path;
    EXPECT_EQ(p.extension, c.extension) << c.path;
    EXPECT_EQ(folderOf(c.path), c.folder);
  }
}

TEST(Paths, CreateFolderChain) {
  test::TempFolder dir;
  ::mkdir((dir / "a").c_str(), 0777);
  EXPECT_TRUE(createFolderChain(dir / "a/b/c"));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_TRUE(createFolderChain(dir / "a/b/c/"));  // nothing to create
  EXPECT_TRUE(createFolderChain(dir / "x//y"));
  EXPECT_TRUE(pathExists(dir / "x/y"));
  test::writeFile(dir / "file", "x");
  EXPECT_FALSE(createFolderChain(dir / "file/sub/deeper"));
}

TEST(Paths, ProgramFolder) {
  const std::string folder = programFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.front(), '/');
  EXPECT_NE(folder.back(), '/');
  EXPECT_TRUE(pathExists(pathNextToProgram("ignored/folder/vidmora_core_tests")));
}

TEST(Paths, VideosFolderFromUserDirs) {
  const std::string home = "/home/ann";
  const std::pair<const char*, const char*> cases[] = {
      {"XDG_VIDEOS_DIR=\"$HOME/Filme\"\n", "/home/ann/Filme"},
      {"# c\nXDG_MUSIC_DIR=\"$HOME/M\"\n  XDG_VIDEOS_DIR=\"/data/my \\\"vids\\\"\"\n",
       "/data/my \"vids\""},
      {"XDG_VIDEOS_DIR=\"$HOME/\"\n", ""},  // the home folder itself means unset
      {"XDG_VIDEOS_DIR=\"relative/v\"\n", ""},
      {"XDG_VIDEOS_DIR=$HOME/v\n", ""},
      {"#XDG_VIDEOS_DIR=\"/x\"\n", ""},
      {"", ""},
  };
  for (const auto& [text, folder] : cases)
    EXPECT_EQ(videosFolderFromUserDirs(text, home), folder) << text;
}

TEST(Paths, XdgFolders) {
  test::TempFolder dir;
  ::setenv("HOME", dir.path().c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (dir / "conf").c_str(), 1);
  EXPECT_EQ(configFolder(), dir / "conf/vidmora");
  EXPECT_EQ(videosFolder(), dir / "Videos");
  createFolderChain(dir / "conf");
  test::writeFile(dir / "conf/user-dirs.dirs", "XDG_VIDEOS_DIR=\"$HOME/Clips\"\n");
  EXPECT_EQ(videosFolder(), dir / "Clips");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  EXPECT_EQ(configFolder(), dir / ".config/vidmora");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(configFolder(), dir / ".config/vidmora");
}

}  // namespace
}  // namespace vidmora
