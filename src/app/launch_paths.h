// The files and folders named on the program's command line, as absolute paths.
//
// Arguments are taken byte for byte: a file name that is not valid UTF-8 names the same file
// as when it is found through its folder.
#pragma once

#include <string>
#include <vector>

namespace vidmora {

// The working folder as the system reports it; empty when it cannot be had (removed, ...).
std::string currentFolder();

// `path` made absolute against `base` and cleaned lexically: repeated '/' and "." components
// dropped, ".." taking away the component before it (never above the root), no trailing '/'
// except for the root itself. Empty when `path` is relative and `base` is not absolute.
std::string absoluteCleanPath(const std::string& path, const std::string& base);

// Every argument after the program's name, made absolute against `workingFolder`. Empty
// arguments, and relative ones when there is no working folder, are left out. The first "--"
// only ends the options (a file named "--help" goes after it).
std::vector<std::string> launchPaths(int argc, const char* const* argv,
                                     const std::string& workingFolder);

// What the command line asks for: "--help" or "--version" before any "--" print and end;
// anything else names files and folders.
enum class LaunchRequest { Run, Help, Version };
LaunchRequest launchRequest(int argc, const char* const* argv);
// The text "--help" prints.
std::string usageText();

}  // namespace vidmora
