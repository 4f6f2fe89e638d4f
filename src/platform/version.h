#pragma once

namespace vidmora {
// The program's version, four numbers with points, set once in CMake.
const char* programVersion();
}  // namespace vidmora
