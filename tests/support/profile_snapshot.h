// The conversion values a batch takes for a profile: the defaults with the profile applied, then
// the changes a test makes (quality level, frame-size target, rate...).
#pragma once

#include <cstdint>
#include <functional>

#include "settings/profiles.h"
#include "settings/settings.h"

namespace vidmora::test {

inline ConversionSnapshot profileSnapshot(int16_t profileId,
                                          const std::function<void(TSettings&)>& change = {}) {
  TSettings s;
  setDefaults(s);
  applyProfile(s, profileIndexById(profileId));
  if (change) change(s);
  ConversionSnapshot snapshot;
  takeSnapshot(snapshot, s);
  return snapshot;
}

}  // namespace vidmora::test
