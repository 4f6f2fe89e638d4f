#include "output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vidmora::encoder {

TempOutput::TempOutput(std::string finalPath) : finalPath_(std::move(finalPath)) {
  const auto slash = finalPath_.rfind('/');
  const std::string dir =
      slash == std::string::npos ? std::string() : finalPath_.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? finalPath_ : finalPath_.substr(slash + 1);
  // Keep the hidden name within the 255-byte limit of a file name.
  if (base.size() > 200) base.resize(200);
  tempPath_ = dir + "." + base + "." + std::to_string(getpid()) + ".vidmora-part";
}

TempOutput::~TempOutput() {
  if (!committed_) unlink(tempPath_.c_str());
}

bool TempOutput::hasData() const {
  struct stat st {};
  return stat(tempPath_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0;
}

bool TempOutput::commit(std::string* error) {
  if (std::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
    if (error != nullptr)
      *error = "cannot rename the output to '" + finalPath_ + "': " + std::strerror(errno);
    return false;
  }
  committed_ = true;
  return true;
}

}  // namespace vidmora::encoder
