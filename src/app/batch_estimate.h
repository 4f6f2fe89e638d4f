// What the Ready rows will take at the destination: each row's expected output size with the
// values it will be converted with, their total, and the panel's text with the free space.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "engine/engine.h"

namespace vidmora {

class BatchEstimate {
 public:
  explicit BatchEstimate(Engine& engine) : engine_(engine) {}

  // A Ready row's expected output size in bytes; 0 when it cannot be told beforehand.
  uint64_t expectedOutputBytes(int row) const;
  // The same with the values the row will be converted with.
  uint64_t expectedOutputBytes(int row, const ConversionSnapshot& values) const;
  // The expected bytes of the Ready rows whose size can be told, how many those are, and how
  // many rows are Ready.
  struct ReadyRows {
    uint64_t total = 0;
    int known = 0;
    int ready = 0;
  };
  ReadyRows readyRows() const;
  // The Ready rows' expected total and the destination's free space, as the panel shows them.
  QString text() const;
  // Bytes free for the user in the folder's file system; 0 when it cannot be told.
  static uint64_t freeBytesAt(const std::string& folder);

 private:
  Engine& engine_;
};

}  // namespace vidmora
