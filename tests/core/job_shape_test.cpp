// Shaping a job: trim times, target sizes and their bit rates, and which tracks go out.
#include "engine/job_shape.h"

#include <gtest/gtest.h>
#include <stdlib.h>

namespace vidmora {
namespace {

TEST(JobShape, TimeTexts) {
  const struct {
    const char* text;
    double seconds;  // < 0: refused
  } cases[] = {
      {"90", 90},        {"1:30", 90}, {"00:01:30.250", 90.25},
      {"1:02:03", 3723}, {"0.5", 0.5}, {"2:00:00.001", 7200.001},
      {"", -1},          {"-5", -1},   {"1:60", -1},
      {"1.5:30", -1},    {"1e3", -1},  {"1:2:3:4", -1},
      {"12:", -1},       {":12", -1},  {"5.", -1},
      {" 5", -1},        {"nan", -1},  {"1:30.5.2", -1},
  };
  for (const auto& c : cases) {
    const auto v = parseTimeText(c.text);
    EXPECT_EQ(v.has_value(), c.seconds >= 0) << c.text;
    if (v && c.seconds >= 0) {
      EXPECT_NEAR(*v, c.seconds, 1e-9) << c.text;
    }
  }
  EXPECT_EQ(timeText(90.25), "00:01:30.250");
  EXPECT_EQ(timeText(3723.0004), "01:02:03.000");
}

TEST(JobShape, TrimRanges) {
  const struct {
    const char *start, *end, *duration;
    double expectStart, expectEnd, length;  // length < 0: refused
  } cases[] = {
      {"60", "", "", 60, 0, 540},   {"", "1:00", "", 0, 60, 60},
      {"10", "", "30", 10, 40, 30}, {"10", "20.5", "", 10, 20.5, 10.5},
      {"0", "", "", 0, 0, 600},     {"10", "15:00", "", 10, 0, 590},  // past the end: to the end
      {"20", "10", "", 0, 0, -1},   {"10", "20", "5", 0, 0, -1},
      {"700", "", "", 0, 0, -1},    {"", "", "0", 0, 0, -1},
      {"abc", "", "", 0, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.start) + "|" + c.end + "|" + c.duration);
    TrimRange r;
    std::string reason;
    const bool ok = makeTrimRange(c.start, c.end, c.duration, 600, r, reason);
    EXPECT_EQ(ok, c.length >= 0) << reason;
    if (!ok) {
      EXPECT_FALSE(reason.empty());
      continue;
    }
    EXPECT_DOUBLE_EQ(r.start, c.expectStart);
    EXPECT_DOUBLE_EQ(r.end, c.expectEnd);
    EXPECT_NEAR(r.length(600), c.length, 1e-9);
  }
}

TEST(JobShape, SizeTexts) {
  const struct {
    const char* text;
    uint64_t bytes;
  } cases[] = {{"25M", 25'000'000},
               {"25MB", 25'000'000},
               {"700 mb", 700'000'000},
               {"1.5G", 1'500'000'000},
               {"800k", 800'000},
               {"123456", 123'456},
               {"", 0},
               {"M", 0},
               {"-5M", 0},
               {"0M", 0},
               {"5T", 0},
               {"1e6", 0},
               {"25MiB", 0}};
  for (const auto& c : cases) EXPECT_EQ(parseSizeText(c.text), c.bytes) << c.text;
}

TEST(JobShape, TargetSizeGivesThePictureWhatTheSoundAndContainerLeave) {
  TargetSizeInput in;
  in.targetBytes = 25'000'000;
  in.durationSeconds = 120;
  in.width = 1280;
  in.height = 720;
  in.frameRate = 30;
  TargetSizePlan plan = planTargetSize(in);
  ASSERT_TRUE(plan.ok) << plan.reason;
  EXPECT_EQ(plan.audioBitrate, 128000);
  // Everything that goes out fits in the target, with the container's share left over.
  const double total = (plan.videoBitrate + plan.audioBitrate) * 120.0 / 8.0;
  EXPECT_LT(total, 25e6 * 0.99);
  EXPECT_GT(total, 25e6 * 0.97);

  // A tight target: the sound gives way before the picture is refused.
  in.targetBytes = 7'000'000;
  plan = planTargetSize(in);
  ASSERT_TRUE(plan.ok) << plan.reason;
  EXPECT_LT(plan.audioBitrate, 128000);
  EXPECT_GE(plan.audioBitrate, in.lowestAudioBitrate);

  // Too small to watch: refused with the smallest size that works, which itself is accepted.
  in.targetBytes = 1'000'000;
  plan = planTargetSize(in);
  EXPECT_FALSE(plan.ok);
  EXPECT_NE(plan.reason.find("the smallest size that works is"), std::string::npos) << plan.reason;
  in.targetBytes = plan.smallestBytes;
  EXPECT_TRUE(planTargetSize(in).ok);
  in.targetBytes = plan.smallestBytes - 20000;
  EXPECT_FALSE(planTargetSize(in).ok);

  in.durationSeconds = 0;
  EXPECT_FALSE(planTargetSize(in).ok);
}

TEST(JobShape, ACorrectedPassAimsJustUnderTheTarget) {
  // 10 % over at 1 Mbit/s for 100 s with one 128 kbit/s track: an encoder that overshoots the
  // same way again lands between 95 and 100 % of the target.
  const uint64_t target = 14'000'000;
  const long corrected = correctedVideoBitrate(1'000'000, 128'000, 1, 100, 15'400'000, target);
  const double audioBytes = 128'000 * 100 / 8.0;
  const double predicted = (15'400'000 - audioBytes) * corrected / 1'000'000 + audioBytes;
  EXPECT_LT(predicted, target);
  EXPECT_GT(predicted, target * 0.95);
}

// An encoder whose file does not grow in step with the rate: the next try lies between the
// tries that missed on either side; a still picture that takes no more bytes at a higher rate
// gets no higher one.
TEST(JobShape, TheNextTryFollowsTheTriesThatMissed) {
  const uint64_t target = 400'000;  // aim: 390000 bytes
  const struct {
    const char* name;
    std::vector<SizeTrial> trials;
    long low, high;  // the next rate lies within
  } cases[] = {
      {"over, then under: between", {{900'000, 540'000}, {600'000, 300'000}}, 700'000, 740'000},
      {"under, then over: between", {{600'000, 300'000}, {900'000, 540'000}}, 700'000, 740'000},
      {"far under: four times at most", {{100'000, 5'000}}, 400'000, 400'000},
      {"no more bytes at a higher rate", {{100'000, 5'000}, {400'000, 5'100}}, 400'000, 400'000},
      {"one over: scaled down", {{900'000, 440'000}}, 750'000, 800'000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const long next = nextVideoBitrate(c.trials, 0, 0, 3, target);
    EXPECT_GE(next, c.low);
    EXPECT_LE(next, c.high);
  }
}

SourceDetails film() {
  SourceDetails d;
  auto audio = [&](int index, const char* lang, bool isDefault, bool commentary) {
    AudioStreamDetails a;
    a.index = index;
    a.language = lang;
    a.isDefault = isDefault;
    a.commentary = commentary;
    d.audio.push_back(a);
  };
  audio(1, "jpn", true, false);
  audio(2, "eng", false, false);
  audio(3, "ger", false, false);
  audio(4, "eng", false, true);
  auto sub = [&](int index, const char* lang, bool text, bool forced) {
    SubtitleStreamDetails s;
    s.index = index;
    s.language = lang;
    s.text = text;
    s.forced = forced;
    d.subtitles.push_back(s);
  };
  sub(5, "eng", true, false);
  sub(6, "eng", true, true);
  sub(7, "deu", false, false);
  sub(8, "fra", true, false);
  return d;
}

TEST(JobShape, TracksFollowTheLanguageRules) {
  const struct {
    const char* name;
    std::vector<std::string> languages;
    bool keepOriginal, dropCommentary, burn, carries;
    std::vector<int> audio, subtitles;
    int burned;
  } cases[] = {
      {"english reader", {"en"}, true, false, false, true, {2, 4, 1}, {5, 6}, -1},
      {"no commentary", {"eng"}, true, true, false, true, {2, 1}, {5, 6}, -1},
      {"original off", {"eng"}, false, true, false, true, {2}, {5, 6}, -1},
      {"german first", {"de", "en"}, true, true, false, true, {3, 2, 1}, {5, 6}, -1},
      {"no match keeps the original", {"ita"}, false, false, false, true, {1}, {}, -1},
      {"forced burned where none are carried", {"eng"}, false, true, false, false, {2}, {}, 6},
      {"burn asked", {"eng"}, false, true, true, true, {2}, {5}, 6},
      {"burn asked, no forced: the first readable", {"fra"}, false, false, true, true, {1}, {}, 8},
  };
  const SourceDetails source = film();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TrackRules rules;
    rules.preferredLanguages = c.languages;
    rules.keepOriginalLanguage = c.keepOriginal;
    rules.dropCommentary = c.dropCommentary;
    rules.burnSubtitles = c.burn;
    const TrackChoice choice = chooseTracks(source, rules, c.carries);
    EXPECT_EQ(choice.audio, c.audio);
    EXPECT_EQ(choice.subtitles, c.subtitles);
    EXPECT_EQ(choice.burnSubtitle, c.burned);
  }
}

// The settings' rules shape only what a row left open; a row the rules leave alone stays
// unshaped. Places are among the film's sound (jpn, eng, ger, eng commentary) and subtitles.
TEST(JobShape, TheSettingsRulesFillWhatARowLeftOpen) {
  const SourceDetails source = film();
  RowShape ownTracks;
  ownTracks.audioTracks = std::vector<int>{2};
  RowShape ownCrop;
  ownCrop.crop = CropRect{8, 8, 0, 0};
  const struct {
    const char* name;
    ShapeRules rules;
    const RowShape* own;
    bool shaped;
    std::optional<std::vector<int>> audio, subtitles;
    bool cropAuto;
  } cases[] = {
      {"defaults keep everything", {}, nullptr, false, {}, {}, false},
      {"english only, original kept",
       {true, {"eng"}, true, false, false},
       nullptr,
       true,
       std::vector<int>{1, 3, 0},
       std::vector<int>{0, 1},
       false},
      {"commentary dropped, every language kept",
       {false, {"eng"}, true, true, false},
       nullptr,
       true,
       std::vector<int>{0, 1, 2},
       {},
       false},
      {"a row's own tracks win",
       {true, {"eng"}, false, true, false},
       &ownTracks,
       true,
       std::vector<int>{2},
       std::vector<int>{0, 1},
       false},
      {"black bars", {false, {}, true, false, true}, nullptr, true, {}, {}, true},
      {"a row's own crop wins", {false, {}, true, false, true}, &ownCrop, true, {}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::shared_ptr<const RowShape> own;
    if (c.own) own = std::make_shared<RowShape>(*c.own);
    const std::shared_ptr<const RowShape> got = shapeUnderRules(own, &source, c.rules, true);
    ASSERT_EQ(got != nullptr, c.shaped);
    if (!got) continue;
    EXPECT_EQ(got->audioTracks, c.audio);
    EXPECT_EQ(got->subtitleTracks, c.subtitles);
    EXPECT_EQ(got->cropAuto, c.cropAuto);
    if (c.own) {
      EXPECT_EQ(got->crop, c.own->crop);
    }
  }
  // Without the source's details no track is chosen; a list the user typed is read leniently.
  EXPECT_EQ(shapeUnderRules(nullptr, nullptr, {true, {"eng"}, true, true, false}, true), nullptr);
  EXPECT_EQ(parseLanguageList(" en, jpn;de,,en x"),
            (std::vector<std::string>{"eng", "jpn", "deu"}));
}

TEST(JobShape, LanguagesFromTheLocale) {
  const struct {
    const char *language, *lcAll, *lang;
    std::vector<std::string> expected;
  } cases[] = {
      {"", "", "de_DE.UTF-8", {"deu"}},  {"fr:en", "", "de_DE.UTF-8", {"fra", "eng", "deu"}},
      {"", "C", "de_DE.UTF-8", {"eng"}}, {"", "", "", {"eng"}},
      {"", "pt_BR", "", {"por"}},
  };
  for (const auto& c : cases) {
    setenv("LANGUAGE", c.language, 1);
    setenv("LC_ALL", c.lcAll, 1);
    unsetenv("LC_MESSAGES");
    setenv("LANG", c.lang, 1);
    EXPECT_EQ(localeLanguages(), c.expected) << c.language << "|" << c.lcAll << "|" << c.lang;
  }
  EXPECT_EQ(normalizeLanguage("ger"), "deu");
  EXPECT_EQ(normalizeLanguage("EN"), "eng");
  EXPECT_EQ(normalizeLanguage("tlh"), "tlh");
  EXPECT_EQ(normalizeLanguage("x"), "");
}

}  // namespace
}  // namespace vidmora
