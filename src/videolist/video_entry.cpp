// List primitives, bulk state operations and the accepted-extension test.
#include "videolist/video_entry.h"

#include <strings.h>
#include <unistd.h>

#include "platform/texts.h"

namespace vidmora {

std::unique_ptr<VideoEntry> VideoList::removeAt(int i) {
  if (i < 0 || i >= count()) return nullptr;
  std::unique_ptr<VideoEntry> out = std::move(entries_[static_cast<std::size_t>(i)]);
  entries_.erase(entries_.begin() + i);
  return out;
}

int countReady(const VideoList& list, int* cancelledCount) {
  int ready = 0, cancelled = 0;
  for (int i = 0; i < list.count(); ++i) {
    const int16_t s = list.at(i).stateValue();
    if (s == Ready) ++ready;
    if (s == Cancelled) ++cancelled;
  }
  if (cancelledCount) *cancelledCount = cancelled;
  return ready;
}

int requeueCancelled(VideoList& list) {
  for (int i = 0; i < list.count(); ++i) {
    if (list.at(i).stateValue() == Cancelled) list.at(i).setState(Ready);
  }
  return countReady(list);
}

void reindex(VideoList& list) {
  for (int i = 0; i < list.count(); ++i) list.at(i).listIndex = i;
}

int trimToMax(VideoList& list, int maxEntries) {
  const int excess = list.count() - maxEntries;
  if (excess <= 0) return 0;
  for (int i = 0; i < excess; ++i) list.removeAt(0);
  reindex(list);
  return excess;
}

int removeMissingEntries(VideoList& list) {
  int removed = 0;
  for (int i = list.count() - 1; i >= 0; --i) {
    const std::string& path = list.at(i).outputPath;
    if (path.empty() || access(path.c_str(), F_OK) != 0) {
      list.removeAt(i);
      ++removed;
    }
  }
  reindex(list);
  return removed;
}

bool isAcceptedExtension(const std::string& extension) {
  std::string ext = extension;
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  if (ext.empty()) return false;
  const std::string accepted = texts::AcceptedExtensions;
  std::size_t pos = 0;
  while (pos < accepted.size()) {
    while (pos < accepted.size() && (accepted[pos] == ' ' || accepted[pos] == '\t')) ++pos;
    std::size_t end = pos;
    while (end < accepted.size() && accepted[end] != ' ' && accepted[end] != '\t') ++end;
    if (end > pos && end - pos == ext.size() &&
        strncasecmp(accepted.c_str() + pos, ext.c_str(), ext.size()) == 0) {
      return true;
    }
    pos = end;
  }
  return false;
}

std::string extensionOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot + 1);
}

std::string baseNameOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace vidmora
