#pragma once

#include <cstdint>
#include <vector>

#include "imaging/image_buffer.h"
#include "sim/scene.h"

// The raw frame the benchmarks work on: what the camera delivers at its nominal exposure, the
// emulator's scene seen through the sensor's colour filter (G R on even rows, B G on odd rows,
// the host's Bayer mode 3), 8-bit samples being the 12-bit converter value >> 4 and 16-bit
// samples the value << 4.
namespace quorix::bench {

inline constexpr int32_t kSceneWidth = sim::kSensorWidth;
inline constexpr int32_t kSceneHeight = sim::kSensorHeight;
// The scene's colour filter as a Bayer mode (and, without mirrors or sub-sampling, the phase).
inline constexpr int32_t kSceneBayerMode = 3;

inline void MakeSceneRawFrame(CImageBuffer& raw, bool sixteenBit) {
    if (!raw.Create(kSceneWidth, kSceneHeight, sixteenBit ? 16 : 8)) {
        return;
    }
    std::vector<uint16_t> scene(static_cast<size_t>(kSceneWidth));
    for (int32_t y = 0; y < kSceneHeight; ++y) {
        sim::Scene::NominalRow(y, 0, scene.data());
        uint8_t* row = raw.Row(y);
        for (int32_t x = 0; x < kSceneWidth; ++x) {
            const uint32_t value = scene[static_cast<size_t>(x)];
            if (sixteenBit) {
                const uint32_t sample = value << 4;
                row[2 * x] = static_cast<uint8_t>(sample & 0xFF);
                row[2 * x + 1] = static_cast<uint8_t>(sample >> 8);
            } else {
                row[x] = static_cast<uint8_t>(value >> 4);
            }
        }
    }
}

// The raw frames, made on first use and shared by every benchmark (they run one at a time).
inline const CImageBuffer& SceneRawFrame(bool sixteenBit) {
    static CImageBuffer frames[2];
    CImageBuffer& raw = frames[sixteenBit ? 1 : 0];
    if (raw.Bits() == nullptr) {
        MakeSceneRawFrame(raw, sixteenBit);
    }
    return raw;
}

}  // namespace quorix::bench
