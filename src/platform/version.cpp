#include "platform/version.h"

namespace vidmora {
const char* programVersion() {
  return VIDMORA_VERSION;
}
}  // namespace vidmora
