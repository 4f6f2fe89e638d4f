#include "slot_writer.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace vidmora::encoder {

SlotWriter::~SlotWriter() {
  if (view_ != nullptr) munmap(view_, ProgressBlockSize);
}

bool SlotWriter::open(const std::string& mapName, int slot) {
  if (slot < 0 || slot >= ProgressSlotCount || mapName.empty() || view_ != nullptr) return false;
  const std::string name = ProgressShmPrefix + mapName;
  const int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return false;
  struct stat st {};
  void* view = MAP_FAILED;
  if (fstat(fd, &st) == 0 && st.st_size >= static_cast<off_t>(ProgressBlockSize))
    view = mmap(nullptr, ProgressBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (view == MAP_FAILED) return false;
  view_ = view;
  slot_ = static_cast<ProgressSlot*>(view) + slot;
  return true;
}

void SlotWriter::setPercent(double percent) {
  if (slot_ == nullptr) return;
  if (!(percent >= 0.0)) percent = 0.0;
  if (percent > 100.0) percent = 100.0;
  std::atomic_ref<double>(slot_->percent).store(percent, std::memory_order_relaxed);
}

void SlotWriter::setScaledValue(double value) {
  if (slot_ != nullptr)
    std::atomic_ref<double>(slot_->scaledValue).store(value, std::memory_order_relaxed);
}

void SlotWriter::setDuration(double seconds) {
  if (slot_ != nullptr)
    std::atomic_ref<double>(slot_->duration).store(seconds, std::memory_order_relaxed);
}

bool SlotWriter::stopRequested() const {
  return slot_ != nullptr &&
         std::atomic_ref<uint8_t>(slot_->stopRequest).load(std::memory_order_relaxed) != 0;
}

}  // namespace vidmora::encoder
