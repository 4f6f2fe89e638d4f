#include "app/open_filter.h"

#include <cctype>
#include <vector>

#include "platform/texts.h"

namespace vidmora {
namespace {

constexpr std::size_t TokenLimit = 99;

// Tokens separated by runs of blanks and commas.
std::vector<std::string> tokens(const char* list) {
  std::vector<std::string> out;
  std::string token;
  for (const char* p = list;; ++p) {
    const char c = *p;
    if (c == '\0' || c == ' ' || c == ',' || c == '\t') {
      if (!token.empty()) out.push_back(token);
      token.clear();
      if (c == '\0') break;
    } else if (token.size() < TokenLimit) {
      token.push_back(c);
    }
  }
  return out;
}

std::string patterns(const std::vector<std::string>& list, bool upper) {
  std::string out;
  for (const std::string& token : list) {
    if (!out.empty()) out += ';';
    out += "*.";
    for (char c : token)
      out += static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(c))
                                     : std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace

std::string buildOpenFilter(std::size_t capacity) {
  struct Pair {
    const char* label;
    const char* list;
  };
  const Pair pairs[] = {
      {"All supported files", texts::AcceptedExtensions},
      {"Video Files", texts::VideoFileExtensions},
      {"Windows Media Files", texts::WindowsMediaExtensions},
      {"DVD Files", texts::DvdExtensions},
      {"Audio Files", texts::AudioFileExtensions},
      {"Real Media Files", texts::RealMediaExtensions},
      {"All Files", nullptr},
  };
  const std::size_t limit = capacity > 0 ? capacity - 1 : 0;
  std::string text;
  bool first = true;
  for (const Pair& pair : pairs) {
    std::string piece = pair.label;
    if (pair.list == nullptr) {
      // Every file, with a dot in its name or without: "*.*" would hide "README" or "clip".
      piece += " (*)|*|";
    } else {
      const std::vector<std::string> list = tokens(pair.list);
      if (!first) piece += " (" + patterns(list, false) + ")";
      piece += "|" + patterns(list, true) + "|";
    }
    first = false;
    if (text.size() + piece.size() > limit) piece.resize(limit - text.size());
    text += piece;
  }
  return text;
}

}  // namespace vidmora
