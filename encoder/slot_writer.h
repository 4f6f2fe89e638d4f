// The encoder's side of the progress channel: opens the app's existing block (never creates one)
// and writes only its own slot's percent, scaled value and duration; reads only its stop byte.
#pragma once

#include <string>

#include "engine/encoder_contract.h"

namespace vidmora::encoder {

class SlotWriter {
 public:
  SlotWriter() = default;
  ~SlotWriter();
  SlotWriter(const SlotWriter&) = delete;
  SlotWriter& operator=(const SlotWriter&) = delete;

  // False (and no reporting) with slot -1, no map name, or no such block.
  bool open(const std::string& mapName, int slot);
  bool isOpen() const { return slot_ != nullptr; }

  void setPercent(double percent);
  void setScaledValue(double value);
  void setDuration(double seconds);
  bool stopRequested() const;

 private:
  void* view_ = nullptr;
  ProgressSlot* slot_ = nullptr;
};

}  // namespace vidmora::encoder
