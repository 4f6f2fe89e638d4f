#include "app/launch_paths.h"

#include <unistd.h>

#include <cerrno>

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
  for (int i = 1; i < argc; ++i) {
    if (!argv[i] || !argv[i][0]) continue;
    std::string path = absoluteCleanPath(argv[i], workingFolder);
    if (!path.empty()) paths.push_back(std::move(path));
  }
  return paths;
}

}  // namespace vidmora
