// Probing a source through the encoder for its details (container, streams, chapters): the probe
// writes them to a private file it is handed through the environment, and they are read back here.
#pragma once

#include <memory>
#include <string>

#include "platform/process.h"
#include "videolist/source_details.h"

namespace vidmora {

// A private file for one probe's details: created exclusively (mode 0600) in the temporary
// folder, handed to the probe through DetailsFileVariable, read back, and removed when it goes.
class DetailsFile {
 public:
  DetailsFile();
  ~DetailsFile();
  DetailsFile(const DetailsFile&) = delete;
  DetailsFile& operator=(const DetailsFile&) = delete;

  bool ok() const { return !path_.empty(); }
  // "VIDMORA_DETAILS_FILE=path" for the probe's environment; empty when no file could be made.
  ExtraEnvironment environment() const;
  // What the probe wrote; empty when it wrote nothing readable.
  std::shared_ptr<const SourceDetails> read() const;
  // Why the probe refused the source, in a few words; empty when it did not say.
  std::string refusal() const;

 private:
  std::string text() const;

  std::string path_;
};

struct DetailsProbe {
  bool started = false;   // the encoder could be run
  bool timedOut = false;  // it ran past the limit and was killed
  int exitCode = 0;       // its status (0: a usable source; -20: not a video)
  std::shared_ptr<const SourceDetails> details;
};

// Runs the encoder's probe line on one file (reporting to no progress block) and reads its details.
DetailsProbe probeSourceDetails(const std::string& encoderPath, const std::string& sourcePath,
                                unsigned limitMs);

}  // namespace vidmora
