#include "platform/memory.h"

#include <unistd.h>

#include <cstdlib>
#include <new>

namespace vidmora {

void outOfMemoryHandler() {
  // No allocation and no stream here: the heap is exhausted.
  static const char note[] = "ERM\n";
  ssize_t ignored = ::write(STDERR_FILENO, note, sizeof note - 1);
  (void)ignored;
  std::_Exit(1);
}

void installOutOfMemoryHandler() {
  std::set_new_handler(&outOfMemoryHandler);
}

}  // namespace vidmora
