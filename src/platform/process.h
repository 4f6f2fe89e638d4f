// Starting child processes: the encoder runs hidden and is waited for with a periodic tick; the
// player is launched detached. Every program gets an argument vector, never a shell line, so a
// path holding blanks, quotes, '%' or a leading '-' stays exactly one argument.
#pragma once

#include <sys/types.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vidmora {

// Called after every wait of runHidden, the last one (after the child ended) included. Returning
// false asks the runner to kill the child and its process group (SIGKILL); the runner still waits
// for it to end.
using TickRoutine = std::function<bool()>;

// Changes to a child's environment: "NAME=value" sets NAME (a name the caller's environment has
// already gets the new value); a bare "NAME" keeps the caller's NAME from the child.
using ExtraEnvironment = std::vector<std::string>;

// The process group of a child that runHidden runs, for other threads to suspend and continue.
// The child leads a group of its own (its children join it), so one signal reaches all of them.
// The group is signalled only while its leader is not yet reaped, so a reused id is never hit.
class ChildGroup {
 public:
  // Suspends (true) or continues (false) the group; a child started later is suspended at once.
  // False when no child runs now (the choice still holds for the next one).
  bool hold(bool suspended);
  bool held() const;
  // Sends sig to the group; false when no child runs.
  bool signal(int sig);

 private:
  friend struct ChildGroupAccess;
  mutable std::mutex mutex_;
  pid_t group_ = 0;
  bool held_ = false;
};

// Starts argv[0] with the arguments argv[1..], standard input from /dev/null, the caller's
// environment (with `extra` applied) and working folder, in a process group of its own (a
// terminal's Ctrl+C reaches the caller only, which stops the child its own way), and waits for it
// in periods of periodMs milliseconds, calling tick (when given) after every wait. Standard output
// and error are the caller's when outputFile is empty; otherwise the child's are appended to that
// file (/dev/null when it cannot be opened). Returns false when the program could not be started
// (exitCode is then left as it was). Otherwise exitCode gets the exit status read as a signed
// byte (255 -> -1, 236 -> -20); a child ended by signal s reports (signed byte) 128 + s.
// `group` (when given) lets other threads suspend and continue the child's group, and a kill
// ends the whole group.
bool runHidden(const std::vector<std::string>& argv, int* exitCode, unsigned periodMs,
               const TickRoutine& tick = {}, const ExtraEnvironment& extra = {},
               const std::string& outputFile = {}, ChildGroup* group = nullptr);

// Starts argv[0] in a session of its own without waiting for it (a helper thread reaps it).
// True when the program was started.
bool launchDetached(const std::vector<std::string>& argv);

// launchDetached that also watches the first moments of the program: a launcher such as
// xdg-open ends at once with a non-zero status when nothing can handle the request.
struct WatchedLaunch {
  bool started = false;  // the program could be started
  bool failed = false;   // it ended within the watch with a non-zero status (or a signal)
  int exitCode = 0;      // that status, read as runHidden reads it
};
// Waits at most watchMs for the program; one still running then counts as launched (a helper
// thread reaps it later).
WatchedLaunch launchWatched(const std::vector<std::string>& argv, unsigned watchMs);

}  // namespace vidmora
