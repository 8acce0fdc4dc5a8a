// Acquisition in the context against an engine that hands out frames the test lays out: the
// settings sent before acquisition and their order, the capture-window and colour-mode checks,
// the row order and padding of caller buffers, the frame routine's colour steps, failures of the
// transfer, and the preview's frame rate.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "context/quorix.h"
#include "fake_engine.h"
#include "imaging/adjustments.h"
#include "imaging/demosaic.h"
#include "imaging/image_buffer.h"
#include "platform/clock.h"
#include "platform/message_window.h"

namespace quorix::test {
namespace {

// An engine with one open camera whose frames are the test's `frame` (rows packed back to back,
// top row first, as the engine delivers them) and which lists the settings it receives.
class FrameEngine : public FakeEngine {
public:
    std::vector<std::string> calls;
    std::vector<uint8_t> frame;
    int32_t outputWidth = 2048;
    int32_t outputHeight = 1536;
    int waitResult = 3;
    int startResult = 1;
    int mirrorHSupported = 1;
    int mirrorVSupported = 1;
    uint32_t widthAdjustable = 1;
    int output8 = 1;
    int outputColour = 1;

    FrameEngine() { present = {0}; }
    int32_t GetDeviceIndex() override { return 0; }

    int SetDataWidth(int32_t sixteenBit) override {
        calls.push_back("DataWidth " + std::to_string(sixteenBit));
        return 1;
    }
    int SetCaptureWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                         int32_t subSample) override {
        calls.push_back("Window " + std::to_string(x) + "," + std::to_string(y) + " " +
                        std::to_string(width) + "x" + std::to_string(height) + " /" +
                        std::to_string(subSample));
        outputWidth = subSample == 1 ? width / 2 : width;
        outputHeight = subSample == 1 ? height / 2 : height;
        return 1;
    }
    int GetCaptureWindowValues(int32_t*, int32_t*, int32_t* width, int32_t* height,
                               int32_t*) override {
        *width = outputWidth;
        *height = outputHeight;
        return 1;
    }
    int SetMirrorV(int32_t on) override { return Record("MirrorV", on); }
    int SetMirrorH(int32_t on) override { return Record("MirrorH", on); }
    int IsMirrorHSupported() override { return mirrorHSupported; }
    int IsMirrorVSupported() override { return mirrorVSupported; }
    int SetTriggerMode(int32_t mode, int32_t force) override {
        calls.push_back("Trigger " + std::to_string(mode) + "," + std::to_string(force));
        return 1;
    }
    int SetGain(int32_t value) override { return Record("Gain", value); }
    int SetColorGainGreen1(int32_t value) override { return Record("Green1", value); }
    int SetColorGainRed(int32_t value) override { return Record("Red", value); }
    int SetColorGainBlue(int32_t value) override { return Record("Blue", value); }
    int SetColorGainGreen2(int32_t value) override { return Record("Green2", value); }
    int SetExposureTime(int32_t value) override { return Record("Exposure", value); }
    void OnSettingsApplied() override { calls.emplace_back("Applied"); }
    uint32_t IsWidthAdjustable() override { return widthAdjustable; }
    uint32_t IsHeightAdjustable() override { return 1; }
    int SupportsOutput8() override { return output8; }
    int SupportsOutputColor() override { return outputColour; }

    int StartCapture(int32_t mode) override {
        calls.push_back("Start " + std::to_string(mode));
        return startResult;
    }
    int StopCapture(int32_t) override {
        calls.emplace_back("Stop");
        return 1;
    }
    // The frame waiting is the test's: the engine reports its size as the frame size.
    int WaitFrame(uint32_t) override {
        m_frameSize = static_cast<uint32_t>(frame.size());
        return waitResult;
    }
    int ReadNewestFrameWithInfo(uint8_t* destination, int32_t* frameNumber, uint32_t*, uint32_t*,
                                uint32_t*, uint32_t*, int32_t) override {
        std::memcpy(destination, frame.data(), frame.size());
        *frameNumber = 1;
        return 0;
    }

private:
    int Record(const char* name, int32_t value) {
        calls.push_back(std::string(name) + " " + std::to_string(value));
        return 1;
    }
};

// A Bayer mosaic of one uniform colour, laid out in the given phase (0 GBRG, 1 RGGB, 2 BGGR,
// 3 GRBG: the colours of the top-left 2 x 2 cell read row by row).
std::vector<uint8_t> UniformMosaic(int32_t width, int32_t height, int32_t phase, uint8_t red,
                                   uint8_t green, uint8_t blue) {
    std::vector<uint8_t> mosaic(static_cast<size_t>(width) * height);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int rowParity = (y & 1) ^ (phase & 1);
            const int columnParity = (x & 1) ^ (phase >> 1);
            uint8_t value = green;
            if (rowParity == 1 && columnParity == 0) {
                value = red;
            } else if (rowParity == 0 && columnParity == 1) {
                value = blue;
            }
            mosaic[static_cast<size_t>(y) * width + x] = value;
        }
    }
    return mosaic;
}

void DrainThreadQueue() {
    platform::Message message{};
    while (platform::PeekMessage(0, message) == platform::WaitResult::kMessage) {
    }
}

class Acquisition : public ::testing::Test {
protected:
    void SetUp() override {
        DrainThreadQueue();
        auto owned = std::make_unique<FrameEngine>();
        engine = owned.get();
        auto holder = std::make_shared<std::unique_ptr<FrameEngine>>(std::move(owned));
        context = std::make_unique<CQuorix>(
            [holder] { return std::unique_ptr<CQuorixU3R5Base>(std::move(*holder)); });
        ASSERT_EQ(context->Initialize(0), 1);
        // A fresh settings store selects 24-bit colour; the tests start from the 8-bit mosaic.
        ASSERT_EQ(context->SetColorMode(8), 1);
        engine->calls.clear();
    }
    void TearDown() override {
        context.reset();
        DrainThreadQueue();
    }
    // A small window, so that frames stay small.
    void UseWindow(int32_t width, int32_t height) {
        ASSERT_EQ(context->SetCaptureWindowEx(2048, 0, width, 1536, 0, height), 1);
    }
    std::vector<uint32_t> Codes() {
        std::vector<uint32_t> codes;
        for (uint32_t code = context->GetLastError(); code != 0; code = context->GetLastError()) {
            codes.push_back(code);
        }
        return codes;
    }

    FrameEngine* engine = nullptr;
    std::unique_ptr<CQuorix> context;
};

// The head is configured in the order it expects: data width, window, then the camera values,
// and told last that all settings are in.
TEST_F(Acquisition, PreparationSendsTheSettingsInTheHeadsOrder) {
    UseWindow(640, 480);
    ASSERT_EQ(context->SetColorMode(48), 1);
    engine->calls.clear();
    ASSERT_EQ(context->PrepareBuffers(), 1);
    const CameraValues& v = context->Camera();
    const std::vector<std::string> expected = {
        "DataWidth 1",
        "Window 0,0 640x480 /0",
        "MirrorV " + std::to_string(v.mirrorV),
        "MirrorH " + std::to_string(v.mirrorH),
        "Trigger 0,1",
        "Gain " + std::to_string(v.globalGain),
        "Green1 " + std::to_string(v.colorGainGreen1),
        "Red " + std::to_string(v.colorGainRed),
        "Blue " + std::to_string(v.colorGainBlue),
        "Green2 " + std::to_string(v.colorGainGreen2),
        "Exposure " + std::to_string(v.exposure),
        "Applied",
    };
    EXPECT_EQ(engine->calls, expected);

    ASSERT_EQ(context->SetColorMode(32), 1);
    engine->calls.clear();
    ASSERT_EQ(context->PrepareBuffers(), 1);
    ASSERT_FALSE(engine->calls.empty());
    EXPECT_EQ(engine->calls.front(), "DataWidth 0");
    // 32-bit colour keeps the 8-bit raw frame, the 24-bit work image and its own output.
    EXPECT_EQ(context->Image(kRaw8)->BitsPerPixel(), 8);
    EXPECT_EQ(context->Image(kRgb24)->BitsPerPixel(), 24);
    EXPECT_EQ(context->Image(kRgb32)->Width(), 640);
    EXPECT_EQ(context->Image(kRgb32)->Stride(), 640 * 4);
    EXPECT_EQ(context->Image(kScratch)->BitsPerPixel(), 32);
    EXPECT_EQ(context->Image(kRgb48)->Bits(), nullptr) << "the image of another colour type";
}

// Windows outside the sensor, without pixels, with negative values and the binning modes of other
// heads are refused with code 7; the values stay stored and acquisition refuses them too.
TEST_F(Acquisition, CaptureWindowCheck) {
    struct Case {
        int32_t hStart, width, vStart, height;
        int expected;
    };
    const Case cases[] = {
        {0, 2048, 0, 1536, 1},    {1024, 1024, 768, 768, 1}, {0, 2100, 0, 1536, 0},
        {1024, 1100, 0, 1536, 0}, {0, 2048, 1000, 537, 0},   {-2, 100, 0, 100, 0},
        {0, 100, 0, -4, 0},       {2048, 0, 1536, 0, 0},     {0, 0, 0, 0, 0},
        {2050, 0, 0, 1536, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.hStart) + "+" + std::to_string(c.width) + ", " +
                     std::to_string(c.vStart) + "+" + std::to_string(c.height));
        EXPECT_EQ(context->SetCaptureWindowEx(2048, c.hStart, c.width, 1536, c.vStart, c.height),
                  c.expected);
        EXPECT_EQ(Codes(), c.expected ? std::vector<uint32_t>{} : std::vector<uint32_t>{7});
        int32_t hStart = 0;
        int32_t width = 0;
        context->GetCaptureWindowEx(nullptr, &hStart, &width, nullptr, nullptr, nullptr);
        EXPECT_EQ(hStart, c.hStart);
        EXPECT_EQ(width, c.width);
    }
    ASSERT_EQ(context->SetCaptureWindowEx(2048, 1024, 1100, 1536, 0, 1536), 0);
    Codes();
    EXPECT_EQ(context->SnapShot(nullptr, 0, 1), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{7});
}

TEST_F(Acquisition, HeadWithAFixedWidthTakesOnlyTheFullSensor) {
    engine->widthAdjustable = 0;
    EXPECT_EQ(context->SetCaptureWindowEx(2048, 0, 1024, 1536, 0, 1536), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{9});
    EXPECT_EQ(context->SetCaptureWindowEx(2048, 0, 2048, 1536, 0, 768), 1);
    EXPECT_EQ(context->Height(), 768);
}

TEST_F(Acquisition, ColourModesFollowWhatTheHeadDelivers) {
    for (const int32_t bits : {8, 16, 24, 32, 48, 64}) {
        EXPECT_EQ(context->SetColorMode(bits), 1) << bits;
        EXPECT_EQ(context->GetColorMode(), bits);
    }
    for (const int32_t bits : {0, 12, 15, 65, -24}) {
        EXPECT_EQ(context->SetColorMode(bits), 0) << bits;
        EXPECT_EQ(Codes(), std::vector<uint32_t>{9});
    }
    EXPECT_EQ(context->GetColorMode(), 64);
    engine->output8 = 0;
    EXPECT_EQ(context->SetColorMode(8), 0);
    EXPECT_EQ(context->SetColorMode(32), 0);
    EXPECT_EQ(context->SetColorMode(16), 1);
    engine->outputColour = 0;
    for (const int32_t bits : {24, 48, 64}) {
        EXPECT_EQ(context->SetColorMode(bits), 0) << bits;
    }
    EXPECT_EQ(context->GetColorMode(), 16);
}

// A window whose rows are not a multiple of 4 bytes: the engine's packed rows are moved to their
// padded positions, and the caller receives whole padded rows in the order the flag asks for.
TEST_F(Acquisition, OddWidthRowsArePaddedAndOrderedByTheFlag) {
    constexpr int32_t kWidth = 1001;
    constexpr int32_t kHeight = 6;
    constexpr size_t kStride = 1004;
    UseWindow(kWidth, kHeight);
    engine->frame.resize(static_cast<size_t>(kWidth) * kHeight);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
            engine->frame[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(x * 7 + y);
        }
    }
    std::vector<uint8_t> buffer(kStride * kHeight);
    ASSERT_EQ(context->SnapShot(buffer.data(), static_cast<uint32_t>(buffer.size()), 1), 1);
    for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; x += 97) {
            EXPECT_EQ(buffer[y * kStride + x], static_cast<uint8_t>(x * 7 + y)) << x << "," << y;
        }
    }
    // Flag 0: the bottom row first.
    ASSERT_EQ(context->GetImage(buffer.data(), static_cast<uint32_t>(buffer.size()), 0), 1);
    for (int32_t y = 0; y < kHeight; ++y) {
        EXPECT_EQ(buffer[(kHeight - 1 - y) * kStride + 1000], static_cast<uint8_t>(7000 + y));
    }
    // One byte short of height x stride.
    EXPECT_EQ(context->GetImage(buffer.data(), static_cast<uint32_t>(buffer.size() - 1), 0), 0);
    EXPECT_EQ(Codes(), (std::vector<uint32_t>{5, 5}));
}

// The mosaic's phase follows the camera's mirroring and 2x2 sub-sampling: a uniform colour laid
// out in the phase the camera then delivers comes out as that colour, borders included.
TEST_F(Acquisition, DemosaicPhaseFollowsMirrorsAndSubSampling) {
    struct Case {
        int32_t mirrorH, mirrorV, subSample, deliveredPhase;
    };
    // The camera's own pattern is G R / B G (3); a horizontal flip starts the rows with R (1), a
    // vertical flip with the B G row (2), both with B (0); sub-sampling starts one row lower.
    const Case cases[] = {{0, 0, 0, 3}, {1, 0, 0, 1}, {0, 1, 0, 2},
                          {1, 1, 0, 0}, {0, 0, 1, 2}, {1, 1, 1, 1}};
    ASSERT_EQ(context->SetColorMode(24), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE("H" + std::to_string(c.mirrorH) + " V" + std::to_string(c.mirrorV) + " S" +
                     std::to_string(c.subSample));
        context->SetMirrorH(c.mirrorH);
        context->SetMirrorV(c.mirrorV);
        ASSERT_EQ(context->SetSubSample(c.subSample), 1);
        UseWindow(16, 12);
        const int32_t w = c.subSample ? 8 : 16;
        const int32_t h = c.subSample ? 6 : 12;
        engine->frame = UniformMosaic(w, h, c.deliveredPhase, 200, 120, 40);
        std::vector<uint8_t> image(static_cast<size_t>(w) * 3 * h);
        ASSERT_EQ(context->SnapShot(image.data(), static_cast<uint32_t>(image.size()), 1), 1);
        for (size_t pixel = 0; pixel < image.size(); pixel += 3) {
            ASSERT_EQ(image[pixel + 0], 40) << "blue at pixel " << pixel / 3;
            ASSERT_EQ(image[pixel + 1], 120) << "green at pixel " << pixel / 3;
            ASSERT_EQ(image[pixel + 2], 200) << "red at pixel " << pixel / 3;
        }
    }
}

// Sub-sampling switched on in the capture state applies to the next snapshot: the camera is
// programmed for it at once, and its half-size frames are decoded in the sub-sampled phase
// (a full-size decode would fail or give wrong colours).
TEST_F(Acquisition, SubSamplingChangedInTheCaptureStateAppliesToTheNextSnapShot) {
    ASSERT_EQ(context->SetColorMode(24), 1);
    UseWindow(16, 12);
    ASSERT_EQ(context->Capture(), 1);
    engine->calls.clear();
    ASSERT_EQ(context->SetSubSample(1), 1);
    ASSERT_GE(engine->calls.size(), 2u);
    EXPECT_EQ(engine->calls[1], "Window 0,0 16x12 /1");
    EXPECT_EQ(context->AcquisitionState(), 2);
    engine->frame = UniformMosaic(8, 6, 2, 200, 120, 40);
    std::vector<uint8_t> image(8 * 3 * 6);
    ASSERT_EQ(context->SnapShot(image.data(), static_cast<uint32_t>(image.size()), 1), 1);
    for (size_t pixel = 0; pixel < image.size(); pixel += 3) {
        ASSERT_EQ(image[pixel + 0], 40) << "blue at pixel " << pixel / 3;
        ASSERT_EQ(image[pixel + 2], 200) << "red at pixel " << pixel / 3;
    }
}

// With adjustments on, the rows reach the caller's buffer as they are finished, on several
// threads: each must land in its place, bottom row first for orientation 0, with the bytes of the
// whole demosaic followed by the plain steps. Two bands of rows, so rows at a band's edge too.
TEST_F(Acquisition, AdjustedRowsLandInTheirPlacesInTheCallersBuffer) {
    constexpr int32_t kWidth = 70;
    constexpr int32_t kHeight = 90;
    UseWindow(kWidth, kHeight);
    engine->frame.resize(static_cast<size_t>(kWidth) * kHeight);
    uint32_t seed = 12345;
    for (uint8_t& sample : engine->frame) {
        seed = seed * 1103515245u + 12345u;
        sample = static_cast<uint8_t>(seed >> 24);
    }
    ASSERT_EQ(context->SetColorMode(24), 1);
    const AdjustmentSettings settings{30, 60, 140, 20, 10, 30};
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_HUE, settings.hue), 1);
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_SATURATION, settings.saturation), 1);
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_GAMMA, settings.gamma), 1);
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_CONTRAST, settings.contrast), 1);
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_SHARPNESS, settings.sharpness), 1);
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_BRIGHTNESS, settings.brightness), 1);

    CImageBuffer raw;
    CImageBuffer expected;
    CImageBuffer scratch;
    ASSERT_TRUE(raw.Create(kWidth, kHeight, 8));
    ASSERT_TRUE(expected.Create(kWidth, kHeight, 24));
    for (int32_t y = 0; y < kHeight; ++y) {
        std::memcpy(raw.Row(y), &engine->frame[static_cast<size_t>(y) * kWidth], kWidth);
    }
    // The camera's own pattern, G R / B G.
    ASSERT_TRUE(Demosaic(expected, raw, 3, 100, 100));
    AdjustImagePlain(expected, scratch, settings);

    const size_t stride = static_cast<size_t>(expected.Stride());
    for (const int32_t orientation : {0, 1}) {
        std::vector<uint8_t> image(stride * kHeight);
        ASSERT_EQ(context->SnapShot(image.data(), static_cast<uint32_t>(image.size()), orientation),
                  1);
        for (int32_t y = 0; y < kHeight; ++y) {
            const int32_t row = orientation != 0 ? y : kHeight - 1 - y;
            ASSERT_EQ(std::memcmp(&image[static_cast<size_t>(row) * stride], expected.Row(y),
                                  static_cast<size_t>(kWidth) * 3),
                      0)
                << "orientation " << orientation << ", image row " << y;
        }
    }
}

// A head without hardware mirroring is mirrored in software, before the demosaic.
TEST_F(Acquisition, SoftwareMirrorWhereTheHeadCannotMirror) {
    engine->mirrorHSupported = 0;
    UseWindow(8, 4);
    engine->frame.resize(32);
    for (size_t i = 0; i < engine->frame.size(); ++i) {
        engine->frame[i] = static_cast<uint8_t>(i);
    }
    context->SetMirrorH(1);
    context->SetMirrorV(1);
    std::vector<uint8_t> image(32);
    ASSERT_EQ(context->SnapShot(image.data(), 32, 1), 1);
    // Only the horizontal flip is the software's; the camera flips the rows itself.
    for (int32_t y = 0; y < 4; ++y) {
        for (int32_t x = 0; x < 8; ++x) {
            EXPECT_EQ(image[y * 8 + x], y * 8 + (7 - x)) << x << "," << y;
        }
    }
}

// Gray mode 2 replaces the 8-bit mosaic by the luminance of its colours; the 16-bit frame stays.
TEST_F(Acquisition, GrayModeTwoGivesTheLuminance) {
    UseWindow(12, 8);
    ASSERT_EQ(context->SetFilterValue(QUORIX_VALUE_GRAY_MODE, 2), 1);
    engine->frame = UniformMosaic(12, 8, 3, 200, 100, 50);
    std::vector<uint8_t> image(96);
    ASSERT_EQ(context->SnapShot(image.data(), 96, 1), 1);
    // (30 x 200 + 59 x 100 + 11 x 50) / 100 = 124.5, truncated.
    for (size_t i = 0; i < image.size(); ++i) {
        ASSERT_EQ(image[i], 124) << i;
    }

    ASSERT_EQ(context->SetColorMode(16), 1);
    engine->frame.resize(192);
    for (size_t i = 0; i < engine->frame.size(); ++i) {
        engine->frame[i] = static_cast<uint8_t>(i * 5);
    }
    std::vector<uint8_t> wide(192);
    ASSERT_EQ(context->SnapShot(wide.data(), 192, 1), 1);
    EXPECT_EQ(wide, engine->frame);
}

// No frame within the snapshot time: code 8, the transfer stopped, no image for GetImage.
TEST_F(Acquisition, SnapshotWithoutAFrame) {
    UseWindow(8, 4);
    engine->waitResult = 2;
    engine->calls.clear();
    std::vector<uint8_t> image(32);
    EXPECT_EQ(context->SnapShot(image.data(), 32, 1), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{8});
    ASSERT_GE(engine->calls.size(), 2u);
    EXPECT_EQ(engine->calls[engine->calls.size() - 2], "Start 1");
    EXPECT_EQ(engine->calls.back(), "Stop");
    EXPECT_EQ(context->GetImage(image.data(), 32, 1), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{5});
}

// The capture state prepares once and leaves the transfer alone between snapshots.
TEST_F(Acquisition, CaptureStateSkipsPreparationAndKeepsTheTransfer) {
    UseWindow(8, 4);
    engine->frame.assign(32, 9);
    ASSERT_EQ(context->Capture(), 1);
    EXPECT_EQ(context->AcquisitionState(), 2);
    engine->calls.clear();
    std::vector<uint8_t> image(32);
    ASSERT_EQ(context->SnapShot(image.data(), 32, 1), 1);
    ASSERT_EQ(context->SnapShot(image.data(), 32, 1), 1);
    EXPECT_EQ(engine->calls, (std::vector<std::string>{"Start 1", "Start 1"}));
    EXPECT_EQ(context->Capture(), 1);
    EXPECT_EQ(context->StartPreview(), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{1});
    ASSERT_EQ(context->StopPreview(), 1);
    EXPECT_EQ(context->AcquisitionState(), 0);
    EXPECT_EQ(engine->calls.back(), "Stop");
}

TEST_F(Acquisition, PreviewThatCannotStartTheTransfer) {
    UseWindow(8, 4);
    engine->startResult = 0;
    EXPECT_EQ(context->StartPreview(), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{6});
    EXPECT_EQ(context->AcquisitionState(), 0);
}

// The transfer stops under a running preview: the worker ends, code 13 is recorded and sent with
// a frame notification, and the state stays "preview" until the application stops it.
TEST_F(Acquisition, TransferStoppedDuringThePreview) {
    UseWindow(8, 4);
    engine->waitResult = 1;
    const platform::WindowHandle window = platform::CreateMessageWindow();
    ASSERT_NE(window, 0u);
    ASSERT_EQ(context->SetPreviewWindow(0, 0, 0, 0, 0), 1);
    ASSERT_EQ(context->CallBackPreview(window, nullptr, 0, 1), 1);
    platform::Message message{};
    ASSERT_EQ(platform::GetMessage(window, message, 5000), platform::WaitResult::kMessage);
    EXPECT_EQ(message.message, QUORIX_MSG_FRAME);
    EXPECT_EQ(message.wParam, 0u);
    EXPECT_EQ(message.lParam, 13);
    EXPECT_EQ(context->AcquisitionState(), 1);
    // The worker records the code right after posting; it has ended once the stop returns.
    EXPECT_EQ(context->StopPreview(), 1);
    EXPECT_EQ(context->AcquisitionState(), 0);
    EXPECT_EQ(Codes(), std::vector<uint32_t>{13});
    platform::DestroyMessageWindow(window);
}

// The application's handler of the frame notification stops the preview while the worker goes on
// delivering and another application thread copies the last image: the stop returns (the
// notification is posted, never waited for) and the worker has ended.
TEST_F(Acquisition, ConcurrencyStopFromTheFrameHandler) {
    UseWindow(64, 32);
    engine->frame = UniformMosaic(64, 32, 3, 90, 60, 30);
    ASSERT_EQ(context->SetColorMode(24), 1);
    ASSERT_EQ(context->SetWaitTime(0), 1);
    ASSERT_EQ(context->SetPreviewWindow(0, 0, 0, 0, 0), 1);
    const platform::WindowHandle window = platform::CreateMessageWindow();
    std::vector<uint8_t> delivered(64 * 3 * 32);
    ASSERT_EQ(context->CallBackPreview(window, delivered.data(),
                                       static_cast<uint32_t>(delivered.size()), 1),
              1);
    auto handler = std::async(std::launch::async, [&] {
        platform::Message message{};
        while (platform::GetMessage(window, message, 10000) == platform::WaitResult::kMessage) {
            if (message.message == QUORIX_MSG_FRAME && message.wParam != 0) {
                // The record is the worker's, rewritten with each frame while it is read.
                auto* info = reinterpret_cast<QuorixFrameInfo*>(message.wParam);
                EXPECT_EQ(std::atomic_ref<uint32_t>(info->bitsPerPixel).load(), 24u);
                return context->StopPreview();
            }
        }
        return -1;
    });
    std::vector<uint8_t> copy(delivered.size());
    while (handler.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        context->GetImage(copy.data(), static_cast<uint32_t>(copy.size()), 1);
    }
    ASSERT_EQ(handler.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(handler.get(), 1);
    EXPECT_EQ(context->AcquisitionState(), 0);
    ASSERT_EQ(context->GetImage(copy.data(), static_cast<uint32_t>(copy.size()), 1), 1);
    EXPECT_EQ(copy[0], 30);
    EXPECT_EQ(copy[1], 60);
    EXPECT_EQ(copy[2], 90);
    platform::DestroyMessageWindow(window);
}

// Two application threads start and stop acquisition at once: one takes snapshots, the other
// runs previews and the capture state. Every call either does its work or is refused for the
// state the other left (code 1); none fails otherwise, and at the end the context is idle.
TEST_F(Acquisition, ConcurrencyAcquisitionCallsFromTwoThreads) {
    UseWindow(32, 8);
    engine->frame = UniformMosaic(32, 8, 3, 90, 60, 30);
    ASSERT_EQ(context->SetColorMode(24), 1);
    ASSERT_EQ(context->SetWaitTime(0), 1);
    ASSERT_EQ(context->SetPreviewWindow(0, 0, 0, 0, 0), 1);
    std::atomic<int> unexpected{0};
    auto snapshots = std::async(std::launch::async, [&] {
        std::vector<uint8_t> image(32 * 3 * 8);
        for (int i = 0; i < 200; ++i) {
            if (context->SnapShot(image.data(), static_cast<uint32_t>(image.size()), i & 1) == 1 &&
                (image[0] != 30 || image[1] != 60 || image[2] != 90)) {
                ++unexpected;
            }
        }
    });
    for (int i = 0; i < 50; ++i) {
        context->StartPreview();
        context->StopPreview();
        context->Capture();
        context->StopPreview();
    }
    ASSERT_EQ(snapshots.wait_for(std::chrono::seconds(60)), std::future_status::ready);
    EXPECT_EQ(unexpected.load(), 0);
    for (uint32_t code = context->GetLastError(); code != 0; code = context->GetLastError()) {
        EXPECT_EQ(code, 1u);
    }
    EXPECT_EQ(context->StopPreview(), 1);
    EXPECT_EQ(context->AcquisitionState(), 0);
}

// The frame rate of a preview is counted from the preview's start: after the context sat idle for
// seconds, the first second of frames still reports their own rate, not a fraction of it. SDK time
// runs five times faster here; the worker delivers a frame every 20 ms of it plus its work.
TEST_F(Acquisition, FrameRateCountsFromThePreviewsStart) {
    struct TimeScale {
        TimeScale() { platform::SetTimeScale(5); }
        ~TimeScale() { platform::SetTimeScale(1); }
    } scale;
    UseWindow(64, 32);
    engine->frame.assign(64 * 32, 50);
    ASSERT_EQ(context->SetWaitTime(20), 1);
    ASSERT_EQ(context->SetPreviewWindow(0, 0, 0, 0, 0), 1);
    platform::SleepMs(5000);
    const platform::WindowHandle window = platform::CreateMessageWindow();
    ASSERT_EQ(context->CallBackPreview(window, nullptr, 0, 1), 1);
    const uint32_t start = platform::GetTickCount();
    uint32_t rate = 0;
    platform::Message message{};
    while (rate == 0 && platform::GetTickCount() - start < 10000 &&
           platform::GetMessage(window, message, 1000) == platform::WaitResult::kMessage) {
        if (message.wParam != 0) {
            rate = std::atomic_ref<uint32_t>(
                       reinterpret_cast<QuorixFrameInfo*>(message.wParam)->frameRate)
                       .load();
        }
    }
    EXPECT_EQ(context->StopPreview(), 1);
    // At most 50 frames per second; counted from the context's creation, the first second would
    // report at most 50 x 1 / 6 frames per second (83 in tenths).
    EXPECT_GT(rate, 150u);
    EXPECT_LE(rate, 500u);
    platform::DestroyMessageWindow(window);
}

// Frames per second x 10 over windows of just over a second, across the tick counter's wrap.
TEST(FrameRate, CountsOverWindowsOfJustOverASecond) {
    for (const uint32_t start : {0u, 0xFFFFFC00u}) {
        FrameRateMeter meter(start);
        uint32_t now = start;
        // 12.5 frames per second: one frame every 80 ms; the 13th frame ends the first window
        // after 1040 ms: 13 x 10000 / 1040 = 125.
        for (int frame = 1; frame <= 12; ++frame) {
            now += 80;
            EXPECT_EQ(meter.Count(now), 0u) << frame;
        }
        now += 80;
        EXPECT_EQ(meter.Count(now), 125u);
        // 30 frames per second from there on: 31 frames in 1023 ms -> 303 (30.3).
        for (int frame = 1; frame <= 31; ++frame) {
            now += 33;
            meter.Count(now);
        }
        EXPECT_EQ(meter.Rate(), 303u);
    }
}

}  // namespace
}  // namespace quorix::test
