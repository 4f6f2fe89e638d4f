#include "platform/paths.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/texts.h"

namespace vidmora {

std::string programFolder() {
  std::vector<char> buf(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buf.size()) {
      const std::string exe(buf.data(), static_cast<std::size_t>(n));
      const std::size_t slash = exe.rfind('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? std::string("/") : exe.substr(0, slash);
    }
    buf.resize(buf.size() * 2);
  }
}

std::string pathNextToProgram(const std::string& name) {
  const std::string folder = programFolder();
  if (folder.empty()) return {};
  const std::size_t slash = name.rfind('/');
  return appendComponent(folder, slash == std::string::npos ? name : name.substr(slash + 1));
}

std::string appendComponent(const std::string& folder, const std::string& component) {
  std::string out = folder;
  if (!out.empty() && out.back() == '/') out.pop_back();
  if (component.empty() || component.front() != '/') out += '/';
  out += component;
  return out;
}

std::string joinPath(const std::string& folder, const std::string& name,
                     const std::string& extension) {
  std::string out = folder;
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  if (!extension.empty()) {
    if (extension.front() != '.') out += '.';
    out += extension;
  }
  return out;
}

std::string cutAtCharacter(const std::string& text, std::size_t maxBytes) {
  if (text.size() <= maxBytes) return text;
  std::size_t end = maxBytes;
  // Step back over continuation bytes (10xxxxxx) to the start of the character that is cut.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

PathParts splitPath(const std::string& path) {
  PathParts parts;
  const std::size_t slash = path.rfind('/');
  const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
  parts.folder = path.substr(0, nameStart);
  const std::size_t dot = path.rfind('.');
  if (dot != std::string::npos && dot >= nameStart) {
    parts.name = path.substr(nameStart, dot - nameStart);
    parts.extension = path.substr(dot);
  } else {
    parts.name = path.substr(nameStart);
  }
  return parts;
}

std::string folderOf(const std::string& path) {
  return splitPath(path).folder;
}

bool pathExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool createFolderChain(const std::string& path) {
  bool result = true;
  // Each prefix ending before a '/' (and the whole path) names one level; the root needs nothing.
  std::size_t from = 0;
  while (from <= path.size()) {
    std::size_t slash = path.find('/', from);
    if (slash == std::string::npos) slash = path.size();
    const std::string level = path.substr(0, slash);
    from = slash + 1;
    if (level.empty() || level.back() == '/') continue;  // root or a doubled '/'
    if (pathExists(level)) continue;
    result = ::mkdir(level.c_str(), 0777) == 0 || errno == EEXIST;
  }
  return result;
}

std::string homeFolder() {
  const char* home = std::getenv("HOME");
  if (home && home[0] != '\0') return home;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

namespace {

std::string userConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // Relative values are to be ignored.
  if (xdg && xdg[0] == '/') return xdg;
  const std::string home = homeFolder();
  return home.empty() ? std::string() : appendComponent(home, ".config");
}

}  // namespace

std::string configFolder() {
  const std::string base = userConfigHome();
  if (base.empty()) return {};
  return appendComponent(base, texts::ConfigFolderName);
}

std::string cacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  std::string base;
  if (xdg && xdg[0] == '/') {
    base = xdg;
  } else {
    const std::string home = homeFolder();
    if (home.empty()) return {};
    base = appendComponent(home, ".cache");
  }
  return appendComponent(base, texts::ConfigFolderName);
}

std::string stateFolder() {
  // Relative values are to be ignored.
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && xdg[0] == '/') return appendComponent(xdg, texts::ConfigFolderName);
  const std::string home = homeFolder();
  if (home.empty()) return {};
  return appendComponent(appendComponent(home, ".local/state"), texts::ConfigFolderName);
}

std::string videosFolderFromUserDirs(const std::string& text, const std::string& home) {
  std::istringstream in(text);
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos || line[i] == '#') continue;
    const std::string key = "XDG_VIDEOS_DIR=";
    if (line.compare(i, key.size(), key) != 0) continue;
    std::string value = line.substr(i + key.size());
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
      value.pop_back();
    if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
    value = value.substr(1, value.size() - 2);
    // Backslash escapes a character inside the quotes.
    std::string unescaped;
    for (std::size_t k = 0; k < value.size(); ++k) {
      if (value[k] == '\\' && k + 1 < value.size()) ++k;
      unescaped += value[k];
    }
    if (unescaped.rfind("$HOME", 0) == 0 && (unescaped.size() == 5 || unescaped[5] == '/')) {
      if (home.empty()) continue;
      found = home + unescaped.substr(5);
    } else if (!unescaped.empty() && unescaped.front() == '/') {
      found = unescaped;
    } else {
      continue;
    }
  }
  // The whole home folder is not a videos folder of its own (the tool's way of saying "unset").
  if (!found.empty() && found.back() == '/' && found.size() > 1) found.pop_back();
  if (found == home) return {};
  return found;
}

std::string videosFolder() {
  const std::string home = homeFolder();
  const std::string base = userConfigHome();
  if (!base.empty()) {
    const std::string dirsFile = appendComponent(base, "user-dirs.dirs");
    struct stat st {};
    // Only a regular file is read: anything else in its place could block the reader.
    std::ifstream file;
    if (::stat(dirsFile.c_str(), &st) == 0 && S_ISREG(st.st_mode)) file.open(dirsFile);
    if (file.is_open()) {
      std::ostringstream text;
      text << file.rdbuf();
      const std::string folder = videosFolderFromUserDirs(text.str(), home);
      if (!folder.empty()) return folder;
    }
  }
  return home.empty() ? std::string() : appendComponent(home, "Videos");
}

}  // namespace vidmora
