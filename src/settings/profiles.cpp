#include "settings/profiles.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace vidmora {

namespace {

// Lists that rows carry themselves.
const FrameSize SizesA[] = {{128, 96}, {176, 144}, {352, 288}, {704, 576}, {1408, 1152}, {0, 0}};
const FrameSize SizesB[] = {{128, 96}, {176, 144}, {0, 0}};
const FrameSize SizesC[] = {{240, 160}, {320, 240}, {480, 272}, {640, 480}, {800, 600}, {0, 0}};
const FrameSize SizesD[] = {{720, 480}, {720, 576}, {0, 0}};
const FrameSize SizesE[] = {{352, 240}, {352, 288}, {0, 0}};
const FrameSize SizesF[] = {{480, 480}, {480, 576}, {0, 0}};
const float RatesB[] = {15.0f, 23.976f, 25.0f, 29.976f, 30.0f, 0.0f};
const float RatesC[] = {20.0f, 23.976f, 24.0f, 25.0f, 29.976f, 30.0f, 0.0f};
const int16_t VideoKbitB[] = {96, 128, 160, 216, 384, 0};
const int16_t VideoKbitC[] = {256, 384, 512, 640, 768, 900, 1500, 2000, 0};
const int16_t AudioKbitB[] = {32, 64, 96, 128, 0};
const int16_t AudioKbitC[] = {64, 80, 96, 128, 160, 196, 0};
const int32_t SampleRatesB[] = {22050, 32000, 44100, 48000, 0};
const int32_t SampleRatesC[] = {22050, 32000, 44100, 48000, 0};
const char* const VideoCodecsV[] = {"MP4", "H263", nullptr};
const char* const VideoCodecsW[] = {"MP4", "H264", nullptr};
const char* const AudioCodecsX[] = {"MP3", "AC3", nullptr};

// Lists given to every row without its own.
const FrameSize DefaultFrameSizes[] = {{80, 60},   {128, 96},  {160, 120},  {176, 96},  {176, 144},
                                       {208, 160}, {240, 160}, {320, 180},  {320, 240}, {368, 192},
                                       {368, 208}, {480, 320}, {640, 360},  {640, 480}, {720, 480},
                                       {720, 576}, {800, 600}, {1024, 768}, {-1, -1},   {0, 0}};
const float DefaultFrameRates[] = {12.0f,   15.0f, 20.0f, 23.976f, 25.0f,
                                   29.976f, 30.0f, -1.0f, 0.0f};
const int16_t DefaultVideoBitrates[] = {90,   150,  190,  216,  384,  400,  500,  512,  700,
                                        768,  800,  1000, 1150, 1200, 1300, 1400, 1500, 2000,
                                        2376, 2400, 3000, 4000, 8000, -1,   0};
const int16_t DefaultAudioBitrates[] = {16,  32,  48,  56,  64,  96,  112,
                                        128, 160, 192, 224, 256, 320, 0};
const int32_t DefaultSampleRates[] = {8000, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 0};

// Lists of the modern profiles.
const int16_t ModernVideoKbit[] = {1000, 1500, 2000,  2500,  3000,  4000,  5000,
                                   6000, 8000, 10000, 12000, 16000, 20000, 0};
const int16_t ModernAudioKbit[] = {64, 96, 128, 160, 192, 256, 320, 0};
const int16_t OpusKbit[] = {32, 48, 64, 96, 128, 160, 192, 256, 0};
// Sound choices of the modern profiles: "Original" (-1) first, the default, keeps what the
// source has wherever the codec can carry it.
const int32_t ModernSampleRates[] = {-1, 44100, 48000, 0};
const int32_t OpusSampleRates[] = {-1, 8000, 12000, 16000, 24000, 48000, 0};
const int32_t FlacSampleRates[] = {-1, 22050, 32000, 44100, 48000, 88200, 96000, 0};
const int32_t Mp3SampleRates[] = {-1, 22050, 32000, 44100, 48000, 0};

constexpr float Orig = -1.0f;

}  // namespace

const int16_t ChannelChoices[] = {1, 2, 0};
const int16_t ModernChannelChoices[] = {-1, 1, 2, 0};
const float ModernFrameRates[] = {23.976f, 24.0f, 25.0f, 29.976f, 30.0f, 50.0f, 60.0f, Orig, 0.0f};

// clang-format off
TOutputProfile OutputProfiles[] = {
  {600, 0, "Mobile Phone 3GP Video (*.3gp)", 176, 144, 15.0f, 190, 32, 2, 0, 8000,
   "MP4", "AAC", nullptr, "3gp", nullptr, 1, 0, {0, 0},
   SizesA, nullptr, nullptr, VideoCodecsV, nullptr, nullptr, nullptr},
  {610, 0, "Mobile Phone 3G2 Video (*.3g2)", 320, 240, 15.0f, 190, 32, 2, 0, 16000,
   "MP4", "AAC", nullptr, "3g2", nullptr, 1, 0, {0, 0},
   SizesA, nullptr, nullptr, VideoCodecsV, nullptr, nullptr, nullptr},
  {620, 0, "BlackBerry 3GP Video (*.3gp)", 176, 144, 15.0f, 128, 64, 2, 0, 32000,
   "MP4", "AAC", nullptr, "3gp", nullptr, 1, 0, {0, 0},
   SizesB, RatesB, VideoKbitB, VideoCodecsV, AudioKbitB, SampleRatesB, nullptr},
  {630, 0, "Pocket PC Video (*.wmv)", 320, 240, 24.0f, 768, 160, 2, 0, 32000,
   "WMV2", "WMAV2", nullptr, "wmv", nullptr, 1, 0, {0, 0},
   SizesC, RatesC, VideoKbitC, nullptr, AudioKbitC, SampleRatesC, nullptr},
  {700, 0, "Handheld Player MP4 Video (*.mp4)", -1, -1, 29.976f, 1200, 128, 2, 0, 48000,
   "MP4", "AAC", nullptr, "mp4", nullptr, 1, 0, {0, 0},
   nullptr, nullptr, nullptr, VideoCodecsW, nullptr, nullptr, nullptr},
  {8000, 0, "DVD Video (*.vob)", 720, 480, 29.976f, 1500, 128, 2, 0, 48000,
   "MPEG2", "MP3", nullptr, "vob", nullptr, 1, 0, {0, 0},
   SizesD, nullptr, nullptr, nullptr, nullptr, nullptr, AudioCodecsX},
  {8010, 0, "Video CD MPEG-1 Video (*.mpg)", -1, -1, 29.976f, 1150, 224, 2, 0, 44100,
   "MPEG1", "MP3", nullptr, "mpg", nullptr, 1, 0, {0, 0},
   SizesE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {8020, 0, "Super Video CD MPEG-2 Video (*.mpg)", -1, -1, 29.976f, 4000, 224, 2, 0, 48000,
   "MPEG2", "MP3", nullptr, "mpg", nullptr, 1, 0, {0, 0},
   SizesF, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {7000, 0, "MPEG-4 V2 AVI Video (*.avi)", 320, 240, 25.0f, 4000, 128, 2, 0, 44100,
   "msmpeg4v2", "MP3", nullptr, "avi", nullptr, 1, 0, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {7010, 0, "DivX AVI Video (*.avi)", -1, -1, 29.976f, 4000, 128, 2, 0, 48000,
   "DIVX", "MP3", nullptr, "avi", nullptr, 1, 0, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {7020, 0, "XviD AVI Video (*.avi)", -1, -1, 29.976f, 4000, 128, 2, 0, 48000,
   "XVID", "MP3", nullptr, "avi", nullptr, 1, 0, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {5000, 0, "MP3 Audio (*.mp3)", -1, -1, Orig, -1, 192, 2, 0, 48000,
   "", "MP3", nullptr, "mp3", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {5020, 0, "AC3 Audio (*.ac3)", -1, -1, Orig, -1, 128, 2, 0, 48000,
   "", "AC3", nullptr, "ac3", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {5030, 0, "AAC Audio (*.m4a)", -1, -1, Orig, -1, 128, 2, 0, 44100,
   "", "AAC", nullptr, "m4a", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {5050, 0, "WAV Audio (*.wav)", -1, -1, Orig, -1, 128, 2, 0, 44100,
   nullptr, "pcm", nullptr, "wav", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {5060, 0, "WMA Audio (*.wma)", -1, -1, Orig, -1, 128, 2, 0, 44100,
   nullptr, "WMA", nullptr, "wma", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {5070, 0, "MP2 Audio (*.mp2)", -1, -1, Orig, -1, 128, 2, 0, 44100,
   nullptr, "MP2", nullptr, "mp2", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  // Modern profiles.
  {9000, 0, "MP4 H.264 Video, plays everywhere (*.mp4)", -1, -1, Orig, 4000, 128, -1, 0, -1,
   "H264", "AAC", nullptr, "mp4", nullptr, 1, 0, {0, 0},
   nullptr, ModernFrameRates, ModernVideoKbit, nullptr, ModernAudioKbit, ModernSampleRates, nullptr},
  {9010, 0, "MP4 H.265/HEVC Video, half the size (*.mp4)", -1, -1, Orig, 2500, 128, -1, 0, -1,
   "H265", "AAC", nullptr, "mp4", nullptr, 1, 0, {0, 0},
   nullptr, ModernFrameRates, ModernVideoKbit, nullptr, ModernAudioKbit, ModernSampleRates, nullptr},
  {9020, 0, "WebM VP9 Video for the web (*.webm)", -1, -1, Orig, 3000, 128, -1, 0, -1,
   "VP9", "OPUS", nullptr, "webm", nullptr, 1, 0, {0, 0},
   nullptr, ModernFrameRates, ModernVideoKbit, nullptr, OpusKbit, OpusSampleRates, nullptr},
  {9030, 0, "MKV AV1 Video, smallest files (*.mkv)", -1, -1, Orig, 2000, 96, -1, 0, -1,
   "AV1", "OPUS", nullptr, "mkv", nullptr, 1, 0, {0, 0},
   nullptr, ModernFrameRates, ModernVideoKbit, nullptr, OpusKbit, OpusSampleRates, nullptr},
  {9040, 0, "MKV Remux, copy without re-encoding (*.mkv)", -1, -1, Orig, -1, -1, -1, 0, -1,
   "COPY", "COPY", nullptr, "mkv", nullptr, 0, 0, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {9050, 0, "MP4 Remux, copy without re-encoding (*.mp4)", -1, -1, Orig, -1, -1, -1, 0, -1,
   "COPY", "COPY", nullptr, "mp4", nullptr, 0, 0, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
  {9100, 0, "Opus Audio (*.opus)", -1, -1, Orig, -1, 128, -1, 0, -1,
   "", "OPUS", nullptr, "opus", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, OpusKbit, OpusSampleRates, nullptr},
  {9110, 0, "FLAC Lossless Audio (*.flac)", -1, -1, Orig, -1, 128, -1, 0, -1,
   "", "FLAC", nullptr, "flac", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, FlacSampleRates, nullptr},
  {9120, 0, "MP3 VBR Audio (*.mp3)", -1, -1, Orig, -1, 192, -1, 0, -1,
   "", "MP3", nullptr, "mp3", nullptr, 1, 1, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, Mp3SampleRates, nullptr},
  {-1, 0, nullptr, 0, 0, 0.0f, 0, 0, 0, 0, 0,
   nullptr, nullptr, nullptr, nullptr, nullptr, 0, 0, {0, 0},
   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
// clang-format on

static_assert(sizeof(OutputProfiles) / sizeof(OutputProfiles[0]) == ProfileCount + 1);

namespace {

constexpr ProfileExtras Extras[] = {
    {9000, ProfileKind::QualityVideo, 1080, QualityLevel::Balanced, true, false},
    {9010, ProfileKind::QualityVideo, 1080, QualityLevel::Balanced, true, false},
    {9020, ProfileKind::QualityVideo, 1080, QualityLevel::Balanced, true, false},
    {9030, ProfileKind::QualityVideo, 1080, QualityLevel::Balanced, true, false},
    {9040, ProfileKind::Remux, -1, DefaultQuality, false, false},
    {9050, ProfileKind::Remux, -1, DefaultQuality, false, false},
    {9100, ProfileKind::Sound, -1, DefaultQuality, false, false},
    {9110, ProfileKind::Sound, -1, DefaultQuality, false, true},
    {9120, ProfileKind::Sound, -1, QualityLevel::High, true, false},
};

}  // namespace

const ProfileExtras* profileExtras(int16_t id) {
  for (const ProfileExtras& x : Extras)
    if (x.id == id) return &x;
  return nullptr;
}

ProfileKind profileKind(int16_t id) {
  const ProfileExtras* x = profileExtras(id);
  return x != nullptr ? x->kind : ProfileKind::Classic;
}

const int16_t* channelChoices(int16_t id) {
  const ProfileKind kind = profileKind(id);
  return kind == ProfileKind::QualityVideo || kind == ProfileKind::Sound ? ModernChannelChoices
                                                                         : ChannelChoices;
}

void fillDefaultLists() {
  for (TOutputProfile* p = OutputProfiles; p->Id != -1; ++p) {
    if (!p->FrameSizes) p->FrameSizes = DefaultFrameSizes;
    if (!p->FrameRates) p->FrameRates = DefaultFrameRates;
    if (!p->VideoBitrates) p->VideoBitrates = DefaultVideoBitrates;
    if (!p->AudioBitrates) p->AudioBitrates = DefaultAudioBitrates;
    if (!p->SampleRates) p->SampleRates = DefaultSampleRates;
  }
}

const char* profileAlias(int16_t id) {
  static constexpr struct {
    int16_t id;
    const char* alias;
  } Aliases[] = {{9000, "h264"}, {9010, "h265"},      {9020, "vp9"},
                 {9030, "av1"},  {9040, "mkv-remux"}, {9050, "mp4-remux"},
                 {9100, "opus"}, {9110, "flac"},      {9120, "mp3"}};
  for (const auto& a : Aliases)
    if (a.id == id) return a.alias;
  return nullptr;
}

std::string profileShortName(const char* name) {
  std::string s = name ? name : "";
  const std::size_t open = s.rfind(" (");
  if (open != std::string::npos && !s.empty() && s.back() == ')') s.resize(open);
  return s;
}

int profileIndexById(int16_t id) {
  for (int i = 0; OutputProfiles[i].Id != -1; ++i) {
    if (OutputProfiles[i].Id == id) return i;
  }
  return 0;
}

int profileByPosition(int position) {
  if (position < 0) return 0;
  for (int i = 0; OutputProfiles[i].Id != -1; ++i) {
    if (i == position) return position;
  }
  return 0;
}

const TOutputProfile& profileById(int16_t id) {
  return OutputProfiles[profileIndexById(id)];
}

namespace {

template <typename T, typename Equal>
int indexOf(const T* list, Equal equal, bool (*isEnd)(const T&), int* rawOut) {
  int raw = -1;
  if (list) {
    for (int i = 0; !isEnd(list[i]); ++i) {
      if (equal(list[i])) {
        raw = i;
        break;
      }
    }
  }
  if (rawOut) *rawOut = raw;
  return raw < 0 ? 0 : raw;
}

bool sameTextNoCase(const char* a, const std::string& b) {
  std::size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return a[i] == '\0' && i == b.size();
}

}  // namespace

int indexOfInt16(const int16_t* list, int16_t value, int* rawOut) {
  return indexOf<int16_t>(
      list, [value](int16_t v) { return v == value; }, [](const int16_t& v) { return v == 0; },
      rawOut);
}

int indexOfInt32(const int32_t* list, int32_t value, int* rawOut) {
  return indexOf<int32_t>(
      list, [value](int32_t v) { return v == value; }, [](const int32_t& v) { return v == 0; },
      rawOut);
}

int indexOfFloat(const float* list, float value, int* rawOut) {
  return indexOf<float>(
      list, [value](float v) { return v == value; }, [](const float& v) { return v == 0.0f; },
      rawOut);
}

int indexOfFrameSize(const FrameSize* list, int16_t width, int16_t height) {
  return indexOf<FrameSize>(
      list,
      [width, height](const FrameSize& s) {
        return s.width == int32_t{width} && s.height == int32_t{height};
      },
      [](const FrameSize& s) { return s.width == 0; }, nullptr);
}

int indexOfText(const char* const* list, const std::string& value) {
  if (!list || value.empty()) return 0;
  for (int i = 0; list[i] && list[i][0] != '\0'; ++i) {
    if (sameTextNoCase(list[i], value)) return i;
  }
  return 0;
}

std::string frameSizeLabel(const FrameSize& size) {
  if (size.width == -1) return "Original";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d x %d", static_cast<int>(size.width),
                static_cast<int>(size.height));
  return buf;
}

std::string bitrateLabel(int value) {
  if (value == -1) return "Original";
  return std::to_string(value);
}

std::string frameRateText(float rate) {
  double whole = 0.0;
  const double fraction = std::modf(static_cast<double>(rate), &whole);
  char buf[64];
  if (fraction >= 0.00001)
    std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(rate));
  else
    std::snprintf(buf, sizeof buf, "%.0f", whole);
  return buf;
}

std::string frameRateLabel(float rate) {
  if (rate < 0.0f) return "Original";
  std::string label = frameRateText(rate);
  // The product is taken in double precision: the float 29.976 is just below 29.976 and must
  // give 29975, which single precision would round up to 29976.
  const double milli = std::trunc(static_cast<double>(rate) * 1000.0);
  if (milli == 25000.0)
    label += "         (PAL)";
  else if (milli == 29975.0)
    label += "  (NTSC)";
  return label;
}

std::string channelsLabel(int channels) {
  if (channels == 1) return "Mono (1)";
  if (channels == 2) return "Stereo (2)";
  return "Original";
}

std::string volumeLabel(int lineIndex) {
  const int percent = lineIndex * 25;
  std::string label = std::to_string(percent) + "%";
  if (percent == 100) label += "  (normal)";
  return label;
}

std::string codecLabel(const char* codec) {
  if (!codec || codec[0] == '\0') return "(Default)";
  std::string label;
  for (std::size_t i = 0; codec[i] != '\0' && i < 49; ++i)
    label += static_cast<char>(std::toupper(static_cast<unsigned char>(codec[i])));
  return label;
}

}  // namespace vidmora
