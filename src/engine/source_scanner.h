// Which files an add of files and folders offers to the list, and probing many of them at once.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vidmora {

// The files named, in order, with every folder walked recursively (names sorted, each folder
// visited once even when links lead back to it). Only files with an accepted extension count;
// a path that does not exist is left out without a word. stop() is asked between files.
std::vector<std::string> collectSources(const std::vector<std::string>& paths,
                                        const std::function<bool()>& stop = {});

// Runs task(i) for every i below count on up to `threads` threads (the calling thread is one of
// them) and returns when all have run. Tasks are taken in order of i.
void runParallel(int count, int threads, const std::function<void(int)>& task);

// How many probes run at once: the number of cores, at least 1.
int probeThreads();

}  // namespace vidmora
