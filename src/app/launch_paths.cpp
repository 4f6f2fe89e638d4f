#include "app/launch_paths.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vidmora {

std::string currentFolder() {
  std::string buffer(4096, '\0');
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size())) return buffer.c_str();
    if (errno != ERANGE || buffer.size() > (1u << 20)) return {};
    buffer.resize(buffer.size() * 2);
  }
}

std::string absoluteCleanPath(const std::string& path, const std::string& base) {
  std::string full;
  if (!path.empty() && path[0] == '/')
    full = path;
  else if (!base.empty() && base[0] == '/')
    full = base + "/" + path;
  else
    return {};

  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    const std::string part = full.substr(start, end - start);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    start = end + 1;
  }
  std::string clean;
  for (const std::string& part : parts) clean += "/" + part;
  return clean.empty() ? "/" : clean;
}

std::vector<std::string> launchPaths(int argc, const char* const* argv,
                                     const std::string& workingFolder) {
  std::vector<std::string> paths;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    if (!argv[i] || !argv[i][0]) continue;
    if (options && std::strcmp(argv[i], "--") == 0) {
      options = false;
      continue;
    }
    std::string path = absoluteCleanPath(argv[i], workingFolder);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

LaunchRequest launchRequest(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    if (!argv[i]) continue;
    if (std::strcmp(argv[i], "--") == 0) break;
    if (std::strcmp(argv[i], "--help") == 0) return LaunchRequest::Help;
    if (std::strcmp(argv[i], "--version") == 0) return LaunchRequest::Version;
  }
  return LaunchRequest::Run;
}

std::string usageText() {
  return "Usage: vidmora [FILE|FOLDER]... [-- FILE|FOLDER...]\n"
         "       vidmora --help | --version\n"
         "\n"
         "Opens the Vidmora window with the named video and audio files, and those found in the\n"
         "named folders, in its list. When Vidmora already runs for this user, the files go to\n"
         "that window and this start ends.\n"
         "\n"
         "  --help     print this text and end\n"
         "  --version  print the version and end\n"
         "  --         what follows names files, even when it starts with -\n"
         "\n"
         "vidmora-cli converts from the command line. See vidmora(1) and vidmora-cli(1).\n";
}

}  // namespace vidmora
