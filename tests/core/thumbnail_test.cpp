// The list's thumbnails: which picture is taken (a tenth in, upright, cover art for sound), and
// the cache that keeps them (keyed by the source as it is now, never trusting what it finds).
#include "engine/thumbnail.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "support/temp_folder.h"

namespace vidmora {
namespace {

bool ffmpeg(const std::string& args) {
  return std::system(("ffmpeg -nostdin -loglevel error -y " + args).c_str()) == 0;
}

// The colour in the middle of the picture.
std::array<int, 3> middle(const Thumbnail& t) {
  const std::size_t at = (static_cast<std::size_t>(t.height / 2) * t.width + t.width / 2) * 3;
  return {t.rgb[at], t.rgb[at + 1], t.rgb[at + 2]};
}

class Thumbnails : public ::testing::Test {
 protected:
  std::string file(const std::string& name) { return dir_ / name; }
  test::TempFolder dir_;
};

TEST_F(Thumbnails, TheFrameATenthInUprightAndFittedIntoTheBox) {
  // Red for the opening 0.12 s, green after: a tenth of 2 s is green.
  const std::string clip = file("clip.mp4"), turned = file("turned.mp4");
  ASSERT_TRUE(
      ffmpeg("-f lavfi -i color=c=red:s=320x240:r=25:d=0.12 -f lavfi -i "
             "color=c=green:s=320x240:r=25:d=1.88 -filter_complex concat=n=2 -c:v libx264 "
             "-g 250 '" +
             clip + "'"));
  ASSERT_TRUE(ffmpeg("-i '" + clip + "' -c copy -metadata:s:v:0 rotate=90 '" + turned + "'"));
  Thumbnail t;
  ASSERT_EQ(extractThumbnail(clip, 160, 160, t), ThumbnailStatus::Ok);
  EXPECT_EQ(t.width, 160);
  EXPECT_EQ(t.height, 120);
  const auto rgb = middle(t);
  EXPECT_LT(rgb[0], 60);
  EXPECT_GT(rgb[1], 90);
  ASSERT_EQ(extractThumbnail(turned, 160, 160, t), ThumbnailStatus::Ok);
  EXPECT_EQ(t.width, 120);
  EXPECT_EQ(t.height, 160);
  // Never larger than the source.
  ASSERT_EQ(extractThumbnail(clip, 1000, 1000, t), ThumbnailStatus::Ok);
  EXPECT_EQ(t.width, 320);
  // A keyframe between a tenth and a fifth in is taken as it is: red until 0.32 s, blue from the
  // keyframe at 0.32 s, a tenth of 2 s being 0.2 s.
  const std::string keyed = file("keyed.mkv");
  ASSERT_TRUE(
      ffmpeg("-f lavfi -i color=c=red:s=320x240:r=25:d=0.32 -f lavfi -i "
             "color=c=blue:s=320x240:r=25:d=1.68 -filter_complex concat=n=2 -c:v libx264 "
             "-g 250 -force_key_frames 0,0.32 '" +
             keyed + "'"));
  ASSERT_EQ(extractThumbnail(keyed, 160, 160, t), ThumbnailStatus::Ok);
  EXPECT_GT(middle(t)[2], 150);
  EXPECT_LT(middle(t)[0], 60);
}

TEST_F(Thumbnails, SoundShowsItsCoverOrNothingAndNonMediaIsUnreadable) {
  const std::string cover = file("cover.png"), song = file("song.mp3"), bare = file("bare.flac"),
                    text = file("notes.mkv");
  ASSERT_TRUE(ffmpeg("-f lavfi -i color=c=blue:s=64x64:d=1 -frames:v 1 '" + cover + "'"));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=d=0.5 -i '" + cover +
                     "' -map 0 -map 1 -c:a libmp3lame "
                     "-c:v png -disposition:v attached_pic '" +
                     song + "'"));
  ASSERT_TRUE(ffmpeg("-f lavfi -i sine=d=0.5 '" + bare + "'"));
  std::ofstream(text) << "not a film\n";
  Thumbnail t;
  ASSERT_EQ(extractThumbnail(song, 32, 32, t), ThumbnailStatus::Ok);
  EXPECT_EQ(t.width, 32);
  EXPECT_GT(middle(t)[2], 200);
  EXPECT_EQ(extractThumbnail(bare, 32, 32, t), ThumbnailStatus::NoPicture);
  EXPECT_EQ(extractThumbnail(text, 32, 32, t), ThumbnailStatus::Unreadable);
  EXPECT_EQ(extractThumbnail(file("missing.mp4"), 32, 32, t), ThumbnailStatus::Unreadable);
}

TEST_F(Thumbnails, TheCacheFollowsTheSourceAndTrustsNothingItFinds) {
  const std::string clip = file("a clip 100%.mkv");
  ASSERT_TRUE(ffmpeg("-f lavfi -i testsrc=s=160x120:d=0.4 -c:v mpeg4 '" + clip + "'"));
  const ThumbnailCache cache(dir_ / "cache");
  Thumbnail first;
  ASSERT_EQ(cache.get(clip, 80, 80, first), ThumbnailStatus::Ok);
  const std::string entry = cache.entryFor(clip, 80, 80);
  Thumbnail kept;
  ASSERT_TRUE(cache.load(entry, kept));
  EXPECT_EQ(kept.rgb, first.rgb);
  EXPECT_NE(cache.entryFor(clip, 40, 40), entry);
  // A changed source gets a new entry: the old picture is never shown for it.
  { std::ofstream(clip, std::ios::app) << "x"; }
  EXPECT_NE(cache.entryFor(clip, 80, 80), entry);
  EXPECT_EQ(cache.entryFor(file("missing.mkv"), 80, 80), "");

  const struct {
    const char* name;
    std::string content;
  } bad[] = {
      {"empty", ""},
      {"text", "hello"},
      {"short", "P6\n4 4\n255\nabc"},
      {"long", "P6\n1 1\n255\nabcdef"},
      {"huge", "P6\n100000 100000\n255\n"},
      {"depth", "P6\n1 1\n65535\nabcdef"},
  };
  for (const auto& b : bad) {
    const std::string path = dir_ / b.name;
    std::ofstream(path, std::ios::binary) << b.content;
    EXPECT_FALSE(cache.load(path, kept)) << b.name;
  }
  ASSERT_EQ(::symlink(entry.c_str(), (dir_ / "link").c_str()), 0);
  EXPECT_FALSE(cache.load(dir_ / "link", kept));
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  EXPECT_FALSE(cache.load(dir_ / "fifo", kept));  // and does not block
}

}  // namespace
}  // namespace vidmora
