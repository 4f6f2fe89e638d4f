// The app side of the progress channel: one shared memory block of 1000 slots through which every
// running encoder reports its percentage (and, on a probe, the source's duration) and reads its
// stop byte. The engine owns one ProgressBlock; the encoder opens the same object by name.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

#include "engine/encoder_contract.h"

namespace vidmora {

// 12 decimal digits from the kernel's random source: another user cannot guess the name.
std::string randomMapName();
// The POSIX shared memory object name of a map name: "/vidmora-" + the 12 digits.
std::string progressShmName(const std::string& mapName);

class ProgressBlock {
 public:
  ProgressBlock() = default;
  ~ProgressBlock();
  ProgressBlock(const ProgressBlock&) = delete;
  ProgressBlock& operator=(const ProgressBlock&) = delete;

  // Creates the object under a random name (mode 0600, never an existing one: a taken name draws
  // new digits, a bounded number of times), maps it and clears every slot. False when no block
  // could be made, error() then says why; every operation below does nothing and reports false,
  // -1 or 0. nextName (tests) gives the map names to try instead of randomMapName.
  bool create();
  bool create(const std::function<std::string()>& nextName);
  const std::string& error() const { return error_; }
  // Unmaps and unlinks the object. Safe to call twice.
  void close();
  bool isOpen() const { return slots_ != nullptr; }
  // The 12 digits passed to the encoder after -qxmap; empty without a block.
  const std::string& mapName() const { return mapName_; }

  // First free slot below the slot count, else a new one; -1 without a block or when 999 slots
  // are taken. Indices 0..998 are handed out.
  int acquireSlot();
  // Clears the slot (taken flag, percent, stop byte, every value); an invalid index does nothing.
  void releaseSlot(int index);
  // Called when a batch has ended: the scan starts again from slot 0.
  void resetSlotCount();

  // Percent clamped to 0..100 (not-a-number counts as 0); scaled gets scaledValue / 1024
  // truncated. False without a block or with an index outside 0..999.
  bool readSlotPercent(int index, double& percent, int* scaled = nullptr) const;
  // Number of taken slots below the slot count; average gets the mean of their clamped percent.
  int averagePercent(double& average) const;
  // The duration a probe wrote, unchanged.
  bool readSlotDuration(int index, double& duration) const;
  // Sets the slot's stop byte; the encoder polls it.
  void requestSlotStop(int index);

  // Direct view of a slot (tests and diagnostics); nullptr for an invalid index or no block.
  ProgressSlot* slot(int index) const;

 private:
  mutable std::mutex mutex_;  // guards slotCount_ and the taken flags
  ProgressSlot* slots_ = nullptr;
  std::string mapName_;
  std::string shmName_;
  std::string error_;
  int slotCount_ = 0;
};

}  // namespace vidmora
