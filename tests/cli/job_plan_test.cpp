// Job plans and the records beside their outputs: the line's schema and job id, path mapping,
// shard arithmetic, done records and claims.
#include "cli/job_plan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>

#include "cli/job_records.h"
#include "settings/profiles.h"
#include "support/temp_folder.h"

namespace vidmora::cli {
namespace {

PlanJob sampleJob() {
  PlanJob job;
  job.source = "/data/in/holiday clip.avi";
  job.sourceSize = 123456;
  job.sourceMtimeNs = 1700000000123456789;
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(9000));
  takeSnapshot(job.values, s);
  job.output = "/data/out/holiday clip.mp4";
  job.checks = checksForDuration(12.5);
  job.id = computeJobId(job);
  return job;
}

// `line` with the first `from` in it replaced by `to`.
std::string replacedIn(std::string line, const std::string& from, const std::string& to) {
  const std::size_t at = line.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? line : line.replace(at, from.size(), to);
}

struct Refusal {
  std::string line;
  const char* reason;
};
void expectRefused(const std::vector<Refusal>& cases) {
  for (const Refusal& c : cases) {
    PlanJob job;
    std::string error;
    EXPECT_FALSE(parsePlanLine(c.line, job, error)) << c.line;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error << " / " << c.line;
  }
}

// Each change to the job `make` gives makes an id of its own, unlike the unchanged job's.
void expectEachChangesTheId(
    const std::function<PlanJob()>& make,
    const std::vector<std::pair<const char*, std::function<void(PlanJob&)>>>& changes) {
  std::set<std::string> ids = {make().id};
  for (const auto& [name, change] : changes) {
    PlanJob job = make();
    change(job);
    EXPECT_TRUE(ids.insert(computeJobId(job)).second) << name;
  }
}

TEST(JobPlan, ALineReadsBackAsTheSameJob) {
  const PlanJob job = sampleJob();
  const std::string line = planLine(job);
  EXPECT_EQ(line.rfind("{\"schema\":1,\"job\":\"" + job.id + "\",", 0), 0u) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos);
  PlanJob back;
  std::string error;
  ASSERT_TRUE(parsePlanLine(line, back, error)) << error;
  EXPECT_EQ(back.id, job.id);
  EXPECT_EQ(back.source, job.source);
  EXPECT_EQ(back.sourceSize, job.sourceSize);
  EXPECT_EQ(back.sourceMtimeNs, job.sourceMtimeNs);
  EXPECT_EQ(back.output, job.output);
  EXPECT_TRUE(back.values == job.values);  // every conversion value, the frame rate exactly
  EXPECT_EQ(back.checks.duration, 12.5);
  EXPECT_EQ(back.checks.tolerance, 1.0);
  EXPECT_EQ(planLine(back), line);
}

// Plans already handed to nodes must keep their ids when the program changes: a change of the
// digest or of the values' text shows here.
TEST(JobPlan, TheJobIdIsFixedByItsInputsAndChangedByEachOfThem) {
  const PlanJob base = sampleJob();
  EXPECT_EQ(base.id, computeJobId(sampleJob()));
  EXPECT_EQ(base.id.size(), 16u);
  expectEachChangesTheId(sampleJob,
                         {
                             {"source", [](PlanJob& j) { j.source += "x"; }},
                             {"size", [](PlanJob& j) { ++j.sourceSize; }},
                             {"mtime", [](PlanJob& j) { ++j.sourceMtimeNs; }},
                             {"output", [](PlanJob& j) { j.output = "/data/out/other.mp4"; }},
                             {"profile", [](PlanJob& j) { j.values.ProfileId = 9010; }},
                             {"disable video", [](PlanJob& j) { j.values.DisableVideo = 1; }},
                             {"width", [](PlanJob& j) { ++j.values.FrameWidth; }},
                             {"height", [](PlanJob& j) { ++j.values.FrameHeight; }},
                             {"rate", [](PlanJob& j) { j.values.FrameRate += 0.001f; }},
                             {"video bit rate", [](PlanJob& j) { ++j.values.VideoBitrate; }},
                             {"aspect", [](PlanJob& j) { j.values.AspectMode = 1; }},
                             {"video codec", [](PlanJob& j) { j.values.VideoCodec = "H265"; }},
                             {"disable audio", [](PlanJob& j) { j.values.DisableAudio = 1; }},
                             {"audio bit rate", [](PlanJob& j) { ++j.values.AudioBitrate; }},
                             {"channels", [](PlanJob& j) { j.values.Channels = 1; }},
                             {"sample rate", [](PlanJob& j) { j.values.SampleRate = 22050; }},
                             {"volume", [](PlanJob& j) { j.values.Volume = 150; }},
                             {"audio codec", [](PlanJob& j) { j.values.AudioCodec = "MP3"; }},
                             {"quality", [](PlanJob& j) { j.values.Quality = 0; }},
                             {"target height", [](PlanJob& j) { j.values.TargetHeight = 720; }},
                         });
}

TEST(JobPlan, LinesThatAreNotAJobOfThisSchemaAreRefusedWithTheReason) {
  const std::string good = planLine(sampleJob());
  const auto replaced = [&](const std::string& from, const std::string& to) {
    return replacedIn(good, from, to);
  };
  expectRefused({
      {"", "not a JSON object"},
      {"[1,2]", "not a JSON object"},
      {good.substr(0, good.size() - 1), "not a JSON object"},
      {replaced("\"schema\":1", "\"schema\":3"), "schema 3 (this program reads schema 1 and 2)"},
      {replaced("\"source\":", "\"src\":"), "no \"source\""},
      {replaced("\"source_size\":123456", "\"source_size\":\"123456\""), "not a whole number"},
      {replaced("\"volume\":100", "\"volume\":70000"), "\"volume\" is out of range"},
      {replaced("\"source_size\":123456", "\"source_size\":-1"), "out of range"},
      {replaced("\"id\":9000", "\"id\":4242"), "no profile with the Id 4242"},
      {replaced("\"frame_rate\":", "\"frame_rate\":\"x\",\"y\":"), "not a number"},
      {replaced("\"video_codec\":\"H264\"", "\"video_codec\":\"" + std::string(50, 'A') + "\""),
       "too long"},
      // An edited value: the line no longer matches its id.
      {replaced("\"volume\":100", "\"volume\":120"), "the job id does not match"},
      {replaced("\"checks\":{", "\"checks\":[{"), "not a JSON object"},
  });
}

PlanJob shapedJob() {
  PlanJob job = sampleJob();
  job.shape.trimStart = 10;
  job.shape.trimEnd = 20.5;
  job.shape.crop = CropRect{8, 8, 0, 0};
  job.shape.audioTracks = std::vector<int>{1, 0};
  job.shape.subtitleTracks = std::vector<int>{};
  job.burnSubtitle = 1;
  job.shape.targetSizeBytes = 25000000;
  job.checks = checksForDuration(10.5);
  job.id = computeJobId(job);
  return job;
}

// A shaped job is schema 2 (a node that reads schema 1 only refuses it rather than convert the
// whole source); its shape reads back whole and each part of it is in the id.
TEST(JobPlan, AShapedJobReadsBackWholeAndEachPartOfItsShapeChangesTheId) {
  const PlanJob job = shapedJob();
  const std::string line = planLine(job);
  EXPECT_EQ(line.rfind("{\"schema\":2,", 0), 0u) << line;
  EXPECT_NE(line.find(",\"shape\":{\"start\":10.0,\"end\":20.5,\"crop\":{\"top\":8,\"bottom\":8,"
                      "\"left\":0,\"right\":0},\"audio_tracks\":[1,0],\"subtitle_tracks\":[],"
                      "\"burn_subtitle\":1,\"target_size\":25000000}}"),
            std::string::npos)
      << line;
  PlanJob back;
  std::string error;
  ASSERT_TRUE(parsePlanLine(line, back, error)) << error;
  EXPECT_TRUE(back.shape == job.shape);
  EXPECT_EQ(back.burnSubtitle, 1);
  EXPECT_EQ(planLine(back), line);

  expectEachChangesTheId(
      shapedJob, {
                     {"no shape", [](PlanJob& j) { j = sampleJob(); }},
                     {"start", [](PlanJob& j) { j.shape.trimStart = 10.04; }},
                     {"no end", [](PlanJob& j) { j.shape.trimEnd = -1; }},
                     {"crop", [](PlanJob& j) { j.shape.crop->left = 2; }},
                     {"track order",
                      [](PlanJob& j) {
                        j.shape.audioTracks = std::vector<int>{0, 1};
                      }},
                     {"every subtitle", [](PlanJob& j) { j.shape.subtitleTracks.reset(); }},
                     {"burn", [](PlanJob& j) { j.burnSubtitle = -1; }},
                     {"target size", [](PlanJob& j) { j.shape.targetSizeBytes = 50000000; }},
                 });
}

TEST(JobPlan, AShapeThatIsNotWhollyUnderstoodIsRefusedWithTheReason) {
  const std::string good = planLine(shapedJob());
  const auto replaced = [&](const std::string& from, const std::string& to) {
    return replacedIn(good, from, to);
  };
  expectRefused({
      {replaced("\"schema\":2", "\"schema\":1"), "a schema 1 line carries no \"shape\""},
      {replaced("\"shape\":{", "\"shape\":[{"), "not a JSON object"},
      {replaced("\"shape\":{", "\"shape\":7,\"x\":{"), "\"shape\" is not an object"},
      {good.substr(0, good.find(",\"shape\"")) + ",\"shape\":{}}", "\"shape\" is empty"},
      {replaced("\"start\":10.0", "\"speed\":2,\"start\":10.0"), "does not know: \"speed\""},
      {replaced("\"start\":10.0", "\"start\":-1"), "\"start\" is out of range"},
      {replaced("\"start\":10.0", "\"start\":\"10\""), "\"start\" is not a number"},
      {replaced("\"end\":20.5", "\"end\":-3"), "\"end\" is out of range"},
      {replaced("\"end\":20.5", "\"end\":10.0"), "\"end\" does not come after \"start\""},
      {replaced("\"top\":8", "\"top\":7"), "even sides"},
      {replaced("\"top\":8", "\"top\":-8"), "even sides"},
      {replaced("\"top\":8,", ""), "no \"top\""},
      {replaced("\"top\":8,\"bottom\":8", "\"top\":0,\"bottom\":0"), "removes nothing"},
      {replaced("[1,0]", "[1,-1]"), "\"audio_tracks\" holds something other than a stream's place"},
      {replaced("[1,0]", "\"1,0\""), "\"audio_tracks\" is not a list"},
      {replaced("\"subtitle_tracks\":[]", "\"subtitle_tracks\":[0.5]"),
       "\"subtitle_tracks\" holds"},
      {replaced("\"burn_subtitle\":1", "\"burn_subtitle\":-1"), "\"burn_subtitle\" is out"},
      {replaced("\"target_size\":25000000", "\"target_size\":0"), "\"target_size\" is out"},
      // An edited shape that is sound in itself: the line no longer matches its id.
      {replaced("\"start\":10.0", "\"start\":12.0"), "the job id does not match"},
  });
}

TEST(JobPlan, AFileNamesTheLineOfABadJob) {
  test::TempFolder dir;
  test::writeFile(dir / "jobs.jsonl", planLine(sampleJob()) + "\n\n{\"schema\":1}\n");
  std::vector<PlanJob> jobs;
  std::string error;
  EXPECT_FALSE(readPlanFile(dir / "jobs.jsonl", jobs, error));
  EXPECT_NE(error.find("line 3: no \"job\""), std::string::npos) << error;
  EXPECT_FALSE(readPlanFile(dir / "missing.jsonl", jobs, error));
  EXPECT_NE(error.find("cannot read the plan"), std::string::npos) << error;
}

TEST(JobPlan, OnlyUtf8PathsGoIntoAPlan) {
  EXPECT_TRUE(isUtf8("/data/\xc3\xa9t\xc3\xa9/clip.avi"));
  EXPECT_FALSE(isUtf8("/data/\xe9t\xe9/clip.avi"));
  EXPECT_FALSE(isUtf8("/data/\xc3"));
}

TEST(PathMap, RewritesWholeLeadingComponentsByTheFirstRuleThatFits) {
  PathMap map;
  std::string error;
  for (const char* rule : {"/data/=/mnt/data", "/data/in=/never", "/scratch=./", "/=/root-view"})
    ASSERT_TRUE(map.add(rule, error)) << rule;
  const std::pair<const char*, const char*> cases[] = {
      {"/data", "/mnt/data"},
      {"/data/in/a.avi", "/mnt/data/in/a.avi"},  // the earlier rule wins
      {"/database/a.avi", "/root-view/database/a.avi"},
      {"/scratch/x/a.avi", "./x/a.avi"},
      {"/other/a.avi", "/root-view/other/a.avi"},
      {"relative/a.avi", "relative/a.avi"},
  };
  for (const auto& [from, to] : cases) EXPECT_EQ(map.apply(from), to) << from;

  PathMap none;
  EXPECT_EQ(none.apply("/data/a.avi"), "/data/a.avi");
  for (const char* bad : {"/data", "=/x", "/x=", ""}) {
    EXPECT_FALSE(none.add(bad, error)) << bad;
    EXPECT_NE(error.find("FROM=TO"), std::string::npos);
  }
}

TEST(Shard, TextsAndPositions) {
  int index = -1, count = -1;
  EXPECT_TRUE(parseShard("0/1", index, count));
  EXPECT_TRUE(parseShard("3/4", index, count));
  EXPECT_EQ(index, 3);
  EXPECT_EQ(count, 4);
  for (const char* bad : {"", "1", "4/4", "5/4", "-1/4", "1/0", "a/4", "1/4x", "1//4", " 1/4"})
    EXPECT_FALSE(parseShard(bad, index, count)) << bad;

  // The shards of a plan take every job exactly once, whether there are more shards than jobs
  // or not.
  for (const int jobs : {0, 1, 7, 12}) {
    for (const int shards : {1, 2, 5, 13}) {
      std::vector<int> taken(jobs, 0);
      for (int i = 0; i < shards; ++i)
        for (const int k : shardPositions(jobs, i, shards)) ++taken[k];
      for (int k = 0; k < jobs; ++k) EXPECT_EQ(taken[k], 1) << jobs << " " << shards << " " << k;
    }
  }
  EXPECT_EQ(shardPositions(7, 1, 3), (std::vector<int>{1, 4}));
}

class JobRecords : public ::testing::Test {
 protected:
  std::string output() const { return dir_ / "clip.mp4"; }
  RecordPaths records() const { return recordPaths(output(), "00112233aabbccdd"); }
  test::TempFolder dir_;
};

TEST_F(JobRecords, ADoneRecordCountsOnlyForItsJobAndAnOutputOfItsSize) {
  EXPECT_EQ(records().done, dir_ / ".vidmora-00112233aabbccdd.done");
  test::writeFile(output(), "0123456789");
  EXPECT_FALSE(doneRecordMatches(output(), "00112233aabbccdd", nullptr));
  ASSERT_TRUE(writeDoneRecord(records().done, {"00112233aabbccdd", output(), 10, 2.5, "n1", 7}));
  DoneRecord read;
  ASSERT_TRUE(doneRecordMatches(output(), "00112233aabbccdd", &read));
  EXPECT_EQ(read.duration, 2.5);
  EXPECT_EQ(read.host, "n1");
  struct stat st {};
  ASSERT_EQ(::stat(records().done.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // other nodes' users read it
  // Another job's record under this name, a replaced output, a damaged record.
  EXPECT_FALSE(doneRecordMatches(output(), "ffffffffffffffff", nullptr));
  test::writeFile(output(), "012345678");
  EXPECT_FALSE(doneRecordMatches(output(), "00112233aabbccdd", nullptr));
  test::writeFile(output(), "0123456789");
  test::writeFile(records().done, "{\"job\":\"00112233aabbccdd\",\"state\":\"done\"");
  EXPECT_FALSE(doneRecordMatches(output(), "00112233aabbccdd", nullptr));
  // Only the record itself is left: no temporary files of its writing.
  for (const std::string& name : dir_.entries())
    EXPECT_EQ(name.find("vidmora-tmp"), std::string::npos) << name;
}

TEST_F(JobRecords, AClaimLivesAsLongAsItsProcessOrItsHeartbeat) {
  const std::string path = records().claim;
  const std::time_t now = std::time(nullptr);
  EXPECT_EQ(claimState(path, 120, now), ClaimState::None);

  Claim mine = ownClaim("00112233aabbccdd", output());
  ASSERT_TRUE(writeClaim(path, mine));
  EXPECT_EQ(claimState(path, 120, now), ClaimState::Alive);
  // However old its heartbeat: a process of this host and boot is asked directly.
  EXPECT_EQ(claimState(path, 120, now + 3600), ClaimState::Alive);

  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ::waitpid(child, nullptr, 0);
  Claim gone = mine;
  gone.pid = child;
  ASSERT_TRUE(writeClaim(path, gone));
  EXPECT_EQ(claimState(path, 120, now), ClaimState::Dead);
  // The same id, now another process (its start time differs).
  Claim reused = mine;
  reused.pidStart = mine.pidStart + 1;
  ASSERT_TRUE(writeClaim(path, reused));
  EXPECT_EQ(claimState(path, 120, now), ClaimState::Dead);

  Claim foreign = mine;
  foreign.host = "elsewhere";
  ASSERT_TRUE(writeClaim(path, foreign));
  EXPECT_EQ(claimState(path, 120, now), ClaimState::Alive);
  EXPECT_EQ(claimState(path, 120, now + 121), ClaimState::Dead);
  ASSERT_TRUE(touchClaim(path));
  EXPECT_EQ(claimState(path, 120, std::time(nullptr)), ClaimState::Alive);

  // A claim that cannot be read (its writer died while writing) falls back on its age.
  test::writeFile(path, "{\"job\":");
  EXPECT_EQ(claimState(path, 120, now), ClaimState::Alive);
  EXPECT_EQ(claimState(path, 120, now + 121), ClaimState::Dead);
}

TEST_F(JobRecords, OnlyThisOutputsPartFilesAreRemoved) {
  const std::vector<std::string> mine = {".clip.mp4.4242.a1B2c3.vidmora-part",
                                         ".clip.mp4.77.zzzzzz.vidmora-part"};
  const std::vector<std::string> others = {
      ".clip.mp4.1.mp4.4242.a1B2c3.vidmora-part",  // the part file of "clip.mp4.1.mp4"
      ".clip.mp3.4242.a1B2c3.vidmora-part",
      "clip.mp4.4242.a1B2c3.vidmora-part",
      ".clip.mp4.4242.a1B2c3.vidmora-tmp",
      ".clip.mp4.x.a1B2c3.vidmora-part",
      "clip.mp4"};
  for (const std::string& n : mine) test::writeFile(dir_ / n, "x");
  for (const std::string& n : others) test::writeFile(dir_ / n, "x");
  EXPECT_EQ(removePartFiles(output()), 2);
  std::set<std::string> left;
  for (const std::string& n : dir_.entries()) left.insert(n);
  EXPECT_EQ(left, std::set<std::string>(others.begin(), others.end()));
}

}  // namespace
}  // namespace vidmora::cli
