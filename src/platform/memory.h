// Running out of memory ends the program at once with a short note instead of an exception that
// no caller is prepared for.
#pragma once

namespace vidmora {

// Prints "ERM" on standard error and ends the process with status 1.
[[noreturn]] void outOfMemoryHandler();
// Makes every failed allocation of the program go through outOfMemoryHandler; called first
// thing by every program.
void installOutOfMemoryHandler();

}  // namespace vidmora
