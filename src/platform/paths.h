// Path helpers: the program's own folder, composing and splitting '/' paths, folder chains and
// the user's configuration and videos folders.
#pragma once

#include <cstddef>
#include <string>

namespace vidmora {

// Folder of the running program (from /proc/self/exe), without a trailing '/' except for the
// root itself; empty when it cannot be had.
std::string programFolder();
// The program's folder joined with the file name part of `name` (a folder part is ignored).
std::string pathNextToProgram(const std::string& name);

// Drops one trailing '/' of the folder, adds '/' unless the component begins with one, then
// the component.
std::string appendComponent(const std::string& folder, const std::string& component);
// Folder, '/' unless it ends with one, name, '.' unless the extension begins with one, the
// extension. Empty parts add nothing.
std::string joinPath(const std::string& folder, const std::string& name,
                     const std::string& extension);

struct PathParts {
  std::string folder;     // up to and including the last '/'
  std::string name;       // after the last '/' up to the last '.'
  std::string extension;  // from the last '.', point included
};
PathParts splitPath(const std::string& path);
// The folder part of splitPath, with its trailing '/'.
std::string folderOf(const std::string& path);

// The longest start of `text` of at most maxBytes bytes that does not cut a UTF-8 sequence (a
// file name stays valid UTF-8 when it is cut to fit).
std::string cutAtCharacter(const std::string& text, std::size_t maxBytes);

// True when something (file, folder, ...) of that name exists.
bool pathExists(const std::string& path);
// Creates every missing folder of the path, parent first. Returns whether the last creation
// succeeded; true when nothing had to be created.
bool createFolderChain(const std::string& path);

// The user's home folder ($HOME, else the password database); empty when neither has it.
std::string homeFolder();
// $XDG_CONFIG_HOME/vidmora when XDG_CONFIG_HOME is an absolute path, else ~/.config/vidmora.
std::string configFolder();
// The program's folder in the user's cache: $XDG_CACHE_HOME/vidmora when XDG_CACHE_HOME is
// absolute, else ~/.cache/vidmora; empty without a home folder.
std::string cacheFolder();
// $XDG_STATE_HOME/vidmora when XDG_STATE_HOME is an absolute path, else
// ~/.local/state/vidmora; empty when there is no home either.
std::string stateFolder();
// XDG_VIDEOS_DIR of user-dirs.dirs in the user's configuration folder, else ~/Videos.
std::string videosFolder();
// The XDG_VIDEOS_DIR value of a user-dirs.dirs text with $HOME expanded; empty when absent or
// not an absolute or $HOME path.
std::string videosFolderFromUserDirs(const std::string& text, const std::string& home);

}  // namespace vidmora
