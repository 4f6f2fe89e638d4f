#include "engine/source_details_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "engine/command_line.h"
#include "engine/encoder_contract.h"
#include "platform/format.h"
#include "platform/job_log.h"

namespace vidmora {

namespace {

// The details of one source are a few KiB; a file far larger is not the probe's.
constexpr off_t MaxDetailsBytes = 4 << 20;

std::string temporaryFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp == '/' ? std::string(tmp) : std::string("/tmp");
}

}  // namespace

DetailsFile::DetailsFile() {
  std::string name = temporaryFolder() + "/.vidmora-details-XXXXXX";
  std::vector<char> buffer(name.begin(), name.end());
  buffer.push_back('\0');
  const int fd = mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return;
  close(fd);
  path_ = buffer.data();
}

DetailsFile::~DetailsFile() {
  if (!path_.empty()) unlink(path_.c_str());
}

ExtraEnvironment DetailsFile::environment() const {
  if (path_.empty()) return {};
  return {std::string(DetailsFileVariable) + "=" + path_};
}

std::string DetailsFile::text() const {
  if (path_.empty()) return {};
  const int fd = open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return {};
  struct stat st {};
  std::string text;
  if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0 &&
      st.st_size <= MaxDetailsBytes) {
    text.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t n = ::read(fd, text.data() + done, text.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    text.resize(done);
  }
  close(fd);
  return text;
}

std::shared_ptr<const SourceDetails> DetailsFile::read() const {
  const std::string json = text();
  if (json.empty()) return nullptr;
  auto details = std::make_shared<SourceDetails>();
  if (!sourceDetailsFromJson(json, *details, nullptr)) return nullptr;
  return details;
}

std::string DetailsFile::refusal() const {
  std::string words = text();
  const std::string prefix = DetailsRefusalPrefix;
  if (words.compare(0, prefix.size(), prefix) != 0) return {};
  words.erase(0, prefix.size());
  // One short line of printable text, whatever the file holds.
  constexpr std::size_t MaxReason = 200;
  if (const auto end = words.find('\n'); end != std::string::npos) words.resize(end);
  if (words.size() > MaxReason) words.resize(MaxReason);
  for (char& c : words)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) c = ' ';
  return words;
}

DetailsProbe probeSourceDetails(const std::string& encoderPath, const std::string& sourcePath,
                                unsigned limitMs) {
  DetailsProbe result;
  DetailsFile file;
  const EncoderCommand command =
      buildProbeLine(encoderPath, sourcePath, -1, std::string(ProgressMapNameLength, '0'));
  const uint32_t start = tickCount();
  bool killed = false;
  // A probe writes no log, whatever the caller's environment says.
  ExtraEnvironment environment = file.environment();
  environment.push_back(LogFileVariable);
  result.started = runHidden(
      command.argv, &result.exitCode, 50,
      [&] {
        killed = killed || tickCount() - start >= limitMs;
        return !killed;
      },
      environment);
  result.timedOut = killed;
  if (result.started && !killed && result.exitCode == 0) result.details = file.read();
  return result;
}

}  // namespace vidmora
