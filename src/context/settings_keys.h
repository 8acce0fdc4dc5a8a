#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

namespace quorix {

// Names in the settings store shared by the context and the format dialog.

// Size presets are numbered subkeys "Size_00" .. "Size_99".
inline constexpr int32_t kMaxSizePresets = 100;

// The seven values of a size preset: total width, total height, width, height, horizontal start,
// vertical start, buffer count.
inline constexpr std::array<const char*, 7> kSizePresetValues = {"TH",  "TV",  "EH", "EV",
                                                                 "EHS", "EVS", "Buf"};

// The size preset `index` below `key`.
inline std::string SizePresetKey(const std::string& key, int32_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "\\Size_%02d", static_cast<int>(index));
    return key + name;
}

}  // namespace quorix
