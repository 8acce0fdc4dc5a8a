// Flat-field planes recorded from an emulated camera and kept in mask files, through the exported
// functions: the flat field taking the lens's vignetting out of a picture, and mask files that
// come back as they were saved while files that are not mask files of this sensor change nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "context_test_support.h"
#include "picture_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;

constexpr int32_t kWidth = 2048;
constexpr int32_t kHeight = 1536;
constexpr size_t kMaskFileBytes = 18874408;

class MaskCorrectionTest : public ContextCameraTest {
protected:
    void SetUp() override {
        m_camera = Attach("QX252-000700");
        m_handle = Initialize();
        ASSERT_EQ(ContextOf(m_handle).DeviceNumber(), 0);
    }
    void TearDown() override {
        for (const std::string& path : m_files) {
            std::remove(path.c_str());
        }
        ContextCameraTest::TearDown();
    }

    // A full-sensor raw frame of the camera's current view at `bits` per sample.
    std::vector<uint8_t> Snap(int32_t bits, int32_t width = kWidth, int32_t height = kHeight) {
        EXPECT_EQ(Quorix_SetColorMode(m_handle, bits), 1);
        std::vector<uint8_t> frame(static_cast<size_t>(width) * height * (bits / 8));
        EXPECT_EQ(Quorix_SnapShot(m_handle, frame.data(), static_cast<uint32_t>(frame.size()), 1),
                  1)
            << "code " << Quorix_GetLastError(m_handle);
        return frame;
    }
    void View(int32_t flatTarget, bool defects = false) {
        sim::Imperfections imperfections;
        imperfections.vignetting = kVignetting;
        imperfections.darkOffset = kDarkOffset;
        imperfections.flatTarget = flatTarget;
        imperfections.defectPixels = defects;
        m_camera->SetImperfections(imperfections);
    }
    std::string TempFile(const std::string& name) {
        m_files.push_back(::testing::TempDir() + "quorix_mask_" + name);
        return m_files.back();
    }
    // The four planes and four defect maps as the context holds them.
    std::vector<uint8_t> Planes() {
        std::vector<uint8_t> all;
        for (const ImageSlot slot : {kDarkPlane8, kWhitePlane8, kDarkPlane16, kWhitePlane16,
                                     kHotMap8, kDeadMap8, kHotMap16, kDeadMap16}) {
            const CImageBuffer& image = *ContextOf(m_handle).Image(slot);
            all.insert(all.end(), image.Bits(), image.Bits() + image.SizeBytes());
        }
        return all;
    }

    static constexpr double kVignetting = 0.4;
    static constexpr uint16_t kDarkOffset = 256;

    std::shared_ptr<sim::EmulatedCamera> m_camera;
    QuorixHandle m_handle = 0;
    std::vector<std::string> m_files;
};

int32_t SampleAt(const std::vector<uint8_t>& frame, int32_t bits, int32_t x, int32_t y,
                 int32_t width = kWidth) {
    const size_t i = static_cast<size_t>(y) * width + static_cast<size_t>(x);
    return bits == 8 ? frame[i] : frame[2 * i] | (frame[2 * i + 1] << 8);
}

class FlatFieldTest : public MaskCorrectionTest, public ::testing::WithParamInterface<int32_t> {};

// With a capped lens recorded as the dark plane and an even target of 3000 as the white plane, an
// even target of 1500 comes out at half of 256 (8 bits) or of 65536 (16 bits) everywhere inside
// the two-pixel margin, although the lens loses up to 40 % of the light towards the corners;
// and so does a window.
TEST_P(FlatFieldTest, TakesTheVignettingOutOfAnEvenTarget) {
    const int32_t bits = GetParam();
    View(0);
    Snap(bits);
    ASSERT_EQ(Quorix_UpdateMaskData(m_handle, 0), 1);
    View(3000);
    Snap(bits);
    ASSERT_EQ(Quorix_UpdateMaskData(m_handle, 1), 1);

    View(1500);
    const std::vector<uint8_t> shaded = Snap(bits);
    const double centre = SampleAt(shaded, bits, kWidth / 2, kHeight / 2);
    const double corner = SampleAt(shaded, bits, 4, 4);
    // The light falls to 1 - 0.4 (d/dCorner)^2; with the dark offset the corner reads about 2/3.
    EXPECT_LT(corner, 0.75 * centre) << "the emulator's vignetting is not in the picture";

    ASSERT_EQ(Quorix_SetMaskFilter(m_handle, 1), 1);
    const std::vector<uint8_t> flat = Snap(bits);
    // Rounding: the converter's half unit on 900..1500 units, the 8-bit step on 56..94 steps.
    const int32_t expected = bits == 8 ? 128 : 32768;
    const int32_t tolerance = bits == 8 ? 4 : 64;
    int outside = 0;
    for (int32_t y = 2; y < kHeight - 2; y += 3) {
        for (int32_t x = 2; x < kWidth - 2; x += 3) {
            const int32_t value = SampleAt(flat, bits, x, y);
            if (std::abs(value - expected) > tolerance && ++outside <= 5) {
                ADD_FAILURE() << "(" << x << "," << y << ") = " << value << ", expected "
                              << expected << " +- " << tolerance;
            }
        }
    }
    EXPECT_EQ(outside, 0);

    // A window at the middle of the bottom edge reads the planes there (the top-left corner of
    // the planes is shaded far more), and corrects its own edges too.
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 896, 256, 1536, 1472, 64), 1);
    const std::vector<uint8_t> window = Snap(bits, 256, 64);
    for (int32_t y = 0; y < 64; ++y) {
        for (int32_t x = 0; x < 256; ++x) {
            const int32_t value = SampleAt(window, bits, x, y, 256);
            if (std::abs(value - expected) > tolerance && ++outside <= 5) {
                ADD_FAILURE() << "window (" << x << "," << y << ") = " << value << ", expected "
                              << expected << " +- " << tolerance;
            }
        }
    }
    EXPECT_EQ(outside, 0);
}

INSTANTIATE_TEST_SUITE_P(Depths, FlatFieldTest, ::testing::Values(8, 16),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return "Bits" + std::to_string(info.param);
                         });

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(file)),
                                std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
    return bytes[offset] | (bytes[offset + 1] << 8) | (bytes[offset + 2] << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}

// The neutral planes of a new context saved in the documented layout; a recorded dark plane with
// hot pixels saved and loaded back with its hot map; and files with a wrong magic, a wrong width,
// or cut short refused with code 14 while every plane and map stays as it was.
TEST_F(MaskCorrectionTest, MaskFilesComeBackAsSavedAndOthersChangeNothing) {
    const std::string neutral = TempFile("neutral.msk");
    ASSERT_EQ(Quorix_SaveMaskFile(m_handle, neutral.c_str()), 1);
    const std::vector<uint8_t> saved = ReadAll(neutral);
    ASSERT_EQ(saved.size(), kMaskFileBytes);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(saved.data()), 16),
              std::string("VOLTIS MASK1000\0", 16));
    EXPECT_EQ(Le32(saved, 16), 2048u);
    EXPECT_EQ(Le32(saved, 20), 1536u);
    EXPECT_EQ(Le32(saved, 24), 3145728u);
    EXPECT_EQ(Le32(saved, 28), 3145728u);
    EXPECT_EQ(Le32(saved, 32), 6291456u);
    EXPECT_EQ(Le32(saved, 36), 6291456u);
    // Dark planes 0, white planes full scale: 8-bit dark, 8-bit white, 16-bit dark, 16-bit white.
    const size_t starts[] = {40, 3145768, 6291496, 12582952, kMaskFileBytes};
    for (size_t plane = 0; plane < 4; ++plane) {
        const uint8_t fill = plane % 2 == 0 ? 0x00 : 0xFF;
        EXPECT_EQ(std::count(saved.begin() + static_cast<ptrdiff_t>(starts[plane]),
                             saved.begin() + static_cast<ptrdiff_t>(starts[plane + 1]), fill),
                  static_cast<ptrdiff_t>(starts[plane + 1] - starts[plane]))
            << "plane " << plane;
    }

    // A capped lens on a sensor with hot and dead pixels, recorded as the 8-bit dark plane.
    View(0, true);
    const std::vector<uint8_t> dark = Snap(8);
    EXPECT_EQ(Quorix_UpdateMaskData(m_handle, 2), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), QUORIX_ERR_TEXT);
    ASSERT_EQ(Quorix_UpdateMaskData(m_handle, 0), 1);
    const std::string recorded = TempFile("recorded.msk");
    ASSERT_EQ(Quorix_SaveMaskFile(m_handle, recorded.c_str()), 1);

    // Loading the neutral file again replaces the recorded plane and clears its hot map.
    ASSERT_EQ(Quorix_LoadMaskFile(m_handle, neutral.c_str()), 1);
    for (const ImageSlot slot : {kDarkPlane8, kHotMap8, kDeadMap8, kHotMap16, kDeadMap16}) {
        const CImageBuffer& image = *ContextOf(m_handle).Image(slot);
        EXPECT_EQ(std::count(image.Bits(), image.Bits() + image.SizeBytes(), 0),
                  static_cast<ptrdiff_t>(image.SizeBytes()))
            << "slot " << slot;
    }

    const std::u16string wide(recorded.begin(), recorded.end());
    ASSERT_EQ(Quorix_LoadMaskFileW(m_handle, reinterpret_cast<const QuorixWChar*>(wide.c_str())),
              1);
    const CImageBuffer& darkPlane = *ContextOf(m_handle).Image(kDarkPlane8);
    EXPECT_TRUE(std::equal(dark.begin(), dark.end(), darkPlane.Bits())) << "8-bit dark plane";
    const CImageBuffer& hotMap = *ContextOf(m_handle).Image(kHotMap8);
    for (const sim::SensorPixel& hot : sim::kHotPixels) {
        // Hot pixels read full scale whatever the light: above 192 in the dark plane.
        EXPECT_EQ(hotMap.Row(hot.row)[hot.column], 1) << hot.row << "," << hot.column;
    }
    EXPECT_EQ(std::count(hotMap.Bits(), hotMap.Bits() + hotMap.SizeBytes(), 1),
              static_cast<ptrdiff_t>(sim::kHotPixels.size()));

    const std::vector<uint8_t> before = Planes();
    std::vector<uint8_t> bytes = ReadAll(recorded);
    struct Damage {
        const char* name;
        void (*apply)(std::vector<uint8_t>&);
    };
    const Damage damages[] = {
        {"magic", [](std::vector<uint8_t>& b) { b[9] = 'm'; }},
        {"width", [](std::vector<uint8_t>& b) { b[16] = 0x00, b[17] = 0x04; }},  // 1024
        {"truncated", [](std::vector<uint8_t>& b) { b.resize(kMaskFileBytes - 1000); }},
        {"trailing bytes", [](std::vector<uint8_t>& b) { b.resize(kMaskFileBytes + 1); }},
    };
    for (const Damage& damage : damages) {
        std::vector<uint8_t> damaged = bytes;
        damage.apply(damaged);
        const std::string path = TempFile(std::string("damaged_") + damage.name);
        WriteAll(path, damaged);
        EXPECT_EQ(Quorix_LoadMaskFile(m_handle, path.c_str()), 0) << damage.name;
        EXPECT_EQ(Quorix_GetLastError(m_handle), QUORIX_ERR_MASK_FILE) << damage.name;
        EXPECT_TRUE(Planes() == before) << damage.name << ": the planes changed";
    }

    // A save that cannot be written reports code 14.
    const std::string nowhere = ::testing::TempDir() + "quorix_no_such_dir/mask.msk";
    EXPECT_EQ(Quorix_SaveMaskFile(m_handle, nowhere.c_str()), 0);
    EXPECT_EQ(Quorix_GetLastError(m_handle), QUORIX_ERR_MASK_FILE);
}

// The preview's worker corrects every frame with the planes and maps while the application
// loads and saves mask files, records a plane and switches the corrections: run under
// ThreadSanitizer, a plane or map touched outside the mask lock, or a switch read without
// synchronisation, is reported. The preview must keep delivering frames throughout.
using MaskConcurrency = MaskCorrectionTest;

TEST_F(MaskConcurrency, MaskFilesLoadedAndSavedWhileThePreviewCorrectsFrames) {
    const std::string path = TempFile("concurrent.msk");
    ASSERT_EQ(Quorix_SaveMaskFile(m_handle, path.c_str()), 1);
    ASSERT_EQ(Quorix_SetColorMode(m_handle, 8), 1);
    ASSERT_EQ(Quorix_SetCaptureWindowEx(m_handle, 2048, 512, 256, 1536, 256, 64), 1);
    ASSERT_EQ(Quorix_SetMaskFilter(m_handle, 1), 1);
    ASSERT_EQ(Quorix_SetDotFilter(m_handle, 1), 1);
    ASSERT_EQ(Quorix_SetPreviewWindow(m_handle, nullptr, 0, 0, 0, 0), 1);
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(Quorix_CallBackPreview(m_handle, window, nullptr, 0, 1), 1);

    std::atomic<bool> done{false};
    std::thread changer([&] {
        for (int32_t i = 0; i < 3; ++i) {
            EXPECT_EQ(Quorix_LoadMaskFile(m_handle, path.c_str()), 1);
            EXPECT_EQ(Quorix_SaveMaskFile(m_handle, path.c_str()), 1);
            // A window's frame is no plane: nothing is recorded, but the call takes both locks.
            EXPECT_EQ(Quorix_UpdateMaskData(m_handle, i % 2), 1);
            Quorix_SetDotFilter(m_handle, i % 2);
            Quorix_SetMaskFilter(m_handle, (i + 1) % 2);
        }
        done = true;
    });
    int framesAfter = 0;
    QuorixMessage message;
    while (framesAfter < 3 && Quorix_GetWindowMessage(window, &message, 5000) == 1) {
        if (message.message != QUORIX_MSG_FRAME) {
            continue;
        }
        EXPECT_NE(message.wParam, 0u) << "frame failed with code " << message.lParam;
        if (done) {
            ++framesAfter;
        }
    }
    changer.join();
    EXPECT_EQ(Quorix_StopPreview(m_handle), 1);
    Quorix_DestroyMessageWindow(window);
    EXPECT_EQ(framesAfter, 3) << "the preview stopped delivering";
}

}  // namespace
}  // namespace quorix
