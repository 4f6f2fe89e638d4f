#include "engine/progress_channel.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "platform/stale_files.h"

namespace vidmora {

namespace {

// Slots are written by other processes without a lock: every field is read and written whole.
template <typename T>
T loadField(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

template <typename T>
void storeField(T& field, T value) {
  std::atomic_ref<T>(field).store(value, std::memory_order_relaxed);
}

double clampPercent(double value) {
  if (!(value >= 0.0)) return 0.0;  // negative or not a number
  return value > 100.0 ? 100.0 : value;
}

void clearSlot(ProgressSlot& s) {
  storeField<uint8_t>(s.inUse, 0);
  storeField(s.percent, 0.0);
  storeField<uint8_t>(s.stopRequest, 0);
  storeField(s.scaledValue, 0.0);
  storeField(s.reserved, 0.0);
  storeField(s.duration, 0.0);
}

}  // namespace

std::string randomMapName() {
  unsigned char bytes[ProgressMapNameLength];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return {};
    }
    got += static_cast<std::size_t>(n);
  }
  std::string name;
  // 250 is the largest multiple of 10 below 256: higher bytes are drawn again, so every digit
  // is equally likely.
  for (unsigned char byte : bytes) {
    while (byte >= 250) {
      if (::getrandom(&byte, 1, 0) != 1) return {};
    }
    name.push_back(static_cast<char>('0' + byte % 10));
  }
  return name;
}

std::string progressShmName(const std::string& mapName) {
  return ProgressShmPrefix + mapName;
}

ProgressBlock::~ProgressBlock() {
  close();
}

bool ProgressBlock::create() {
  return create(randomMapName);
}

bool ProgressBlock::create(const std::function<std::string()>& nextName) {
  close();
  // A taken name (another copy of the program, a stale object, or names planted by someone who
  // wants us to fail) is never reused: draw again. Random names are taken by chance only, so a
  // few attempts suffice.
  constexpr int Attempts = 64;
  for (int attempt = 0; attempt < Attempts; ++attempt) {
    const std::string map = nextName();
    if (map.size() != ProgressMapNameLength) {
      error_ = "no random name could be drawn";
      return false;
    }
    const std::string shm = progressShmName(map);
    const int fd = shm_open(shm.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      error_ = std::string("cannot create ") + shm + ": " + std::strerror(errno);
      return false;
    }
    // The lock lives as long as the mapping: a later start sees a block without it as stale.
    markProgressBlockAlive(fd);
    void* view = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(ProgressBlockSize)) == 0)
      view = mmap(nullptr, ProgressBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int why = errno;
    ::close(fd);
    if (view == MAP_FAILED) {
      shm_unlink(shm.c_str());
      error_ = std::string("cannot map ") + shm + ": " + std::strerror(why);
      return false;
    }
    std::lock_guard lock(mutex_);
    slots_ = static_cast<ProgressSlot*>(view);
    mapName_ = map;
    shmName_ = shm;
    error_.clear();
    slotCount_ = 0;
    for (int i = 0; i < ProgressSlotCount; ++i) clearSlot(slots_[i]);
    return true;
  }
  error_ = "every name tried was taken";
  return false;
}

void ProgressBlock::close() {
  std::lock_guard lock(mutex_);
  if (slots_ == nullptr) return;
  munmap(slots_, ProgressBlockSize);
  shm_unlink(shmName_.c_str());
  slots_ = nullptr;
  mapName_.clear();
  shmName_.clear();
  slotCount_ = 0;
}

ProgressSlot* ProgressBlock::slot(int index) const {
  if (slots_ == nullptr || index < 0 || index >= ProgressSlotCount) return nullptr;
  return &slots_[index];
}

int ProgressBlock::acquireSlot() {
  std::lock_guard lock(mutex_);
  if (slots_ == nullptr) return -1;
  for (int i = 0; i < slotCount_; ++i) {
    if (loadField(slots_[i].inUse) == 0) {
      storeField<uint8_t>(slots_[i].inUse, 1);
      return i;
    }
  }
  // After a reset a slot above the count may still be taken (a probe that outlived the batch):
  // it is never handed out twice.
  while (slotCount_ + 1 < ProgressSlotCount && loadField(slots_[slotCount_].inUse) != 0)
    ++slotCount_;
  if (slotCount_ + 1 < ProgressSlotCount) {
    const int index = slotCount_++;
    storeField<uint8_t>(slots_[index].inUse, 1);
    return index;
  }
  return -1;
}

void ProgressBlock::releaseSlot(int index) {
  std::lock_guard lock(mutex_);
  if (ProgressSlot* s = slot(index)) clearSlot(*s);
}

void ProgressBlock::resetSlotCount() {
  std::lock_guard lock(mutex_);
  slotCount_ = 0;
}

bool ProgressBlock::readSlotPercent(int index, double& percent, int* scaled) const {
  const ProgressSlot* s = slot(index);
  if (s == nullptr) return false;
  percent = clampPercent(loadField(s->percent));
  if (scaled != nullptr) {
    const double value = std::trunc(loadField(s->scaledValue) / 1024.0);
    // Garbage from the encoder must not overflow the conversion.
    *scaled = (value >= -2147483648.0 && value <= 2147483647.0) ? static_cast<int>(value) : 0;
  }
  return true;
}

int ProgressBlock::averagePercent(double& average) const {
  std::lock_guard lock(mutex_);
  average = 0.0;
  if (slots_ == nullptr) return 0;
  int count = 0;
  double sum = 0.0;
  for (int i = 0; i < slotCount_; ++i) {
    if (loadField(slots_[i].inUse) == 0) continue;
    sum += clampPercent(loadField(slots_[i].percent));
    ++count;
  }
  if (count > 0) average = sum / count;
  return count;
}

bool ProgressBlock::readSlotDuration(int index, double& duration) const {
  const ProgressSlot* s = slot(index);
  if (s == nullptr) return false;
  duration = loadField(s->duration);
  return true;
}

void ProgressBlock::requestSlotStop(int index) {
  if (ProgressSlot* s = slot(index)) storeField<uint8_t>(s->stopRequest, 1);
}

}  // namespace vidmora
