// A context on a machine without cameras: the device calls and acquisition report that no camera
// is there, the dialogs fail with code 1, settings the context keeps answer, camera
// settings are kept for the camera to come (within the limits of no camera: 0..0), register
// access fails as a failed access (code 6, or posted only where the calls say so), and features
// this camera lacks report code 11.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <quorix/quorix.h>

namespace {

struct Expectation {
    const char* name;
    std::function<bool(QuorixHandle)> call;  // true when the result is the expected one
    uint32_t recorded;                       // code in the history afterwards, 0 for none
    uint32_t posted;                         // code posted to the thread queue only, 0 for none
};

class NoCamera : public ::testing::Test {
protected:
    void SetUp() override {
        handle = Quorix_Initialize(nullptr);
        ASSERT_NE(handle, 0u);
        Drain();
    }
    void TearDown() override { EXPECT_EQ(Quorix_Release(handle), 1); }
    static void Drain() {
        QuorixMessage message;
        while (Quorix_PeekThreadMessage(&message) == 1) {
        }
    }
    void Check(const std::vector<Expectation>& table) {
        for (const Expectation& e : table) {
            EXPECT_TRUE(e.call(handle)) << e.name << ": result";
            EXPECT_EQ(Quorix_GetLastError(handle), e.recorded) << e.name << ": recorded code";
            EXPECT_EQ(Quorix_GetLastError(handle), 0u) << e.name << ": more than one code";
            QuorixMessage message;
            if (e.posted != 0) {
                ASSERT_EQ(Quorix_PeekThreadMessage(&message), 1) << e.name << ": nothing posted";
                EXPECT_EQ(message.message, QUORIX_MSG_ERROR) << e.name;
                EXPECT_EQ(message.lParam, static_cast<intptr_t>(e.posted)) << e.name;
            }
            // Recorded codes are not posted without a notification window.
            EXPECT_EQ(Quorix_PeekThreadMessage(&message), 0) << e.name << ": unexpected post";
        }
    }
    QuorixHandle handle = 0;
};

TEST_F(NoCamera, DeviceCallsFindNoCamera) {
    char names[10][256];
    std::memset(names, 'x', sizeof names);
    char name[64];
    Check({
        {"EnumDevice",
         [&](QuorixHandle h) { return Quorix_EnumDevice(h, names) == 0 && names[9][0] == 0; }, 0,
         0},
        {"SetDeviceNumber", [](QuorixHandle h) { return Quorix_SetDeviceNumber(h, 0) == 0; }, 2, 0},
        {"GetDeviceName",
         [&](QuorixHandle h) { return Quorix_GetDeviceName(h, 0, name, sizeof name) == 0; }, 2, 0},
        {"GetDeviceName short",
         [&](QuorixHandle h) { return Quorix_GetDeviceName(h, 0, name, 23) == 0; }, 9, 0},
    });
}

// Acquisition needs an open camera: every way to start it says so with code 2, and GetImage
// finds no frame. The colour mode and the preview placement are kept for the camera to come.
TEST_F(NoCamera, AcquisitionFindsNoCamera) {
    unsigned char image[16];
    Check({
        {"SnapShot",
         [&](QuorixHandle h) { return Quorix_SnapShot(h, image, sizeof image, 0) == 0; }, 2, 0},
        {"SnapShot without buffer",
         [](QuorixHandle h) { return Quorix_SnapShot(h, nullptr, 0, 0) == 0; }, 2, 0},
        {"StartPreview", [](QuorixHandle h) { return Quorix_StartPreview(h) == 0; }, 2, 0},
        {"Capture", [](QuorixHandle h) { return Quorix_Capture(h) == 0; }, 2, 0},
        {"GetImage",
         [&](QuorixHandle h) { return Quorix_GetImage(h, image, sizeof image, 0) == 0; }, 5, 0},
        {"StopPreview", [](QuorixHandle h) { return Quorix_StopPreview(h) == 1; }, 0, 0},
        {"SetColorMode 24", [](QuorixHandle h) { return Quorix_SetColorMode(h, 24) == 1; }, 0, 0},
        {"GetColorMode", [](QuorixHandle h) { return Quorix_GetColorMode(h) == 24; }, 0, 0},
        {"SetPreviewWindow",
         [](QuorixHandle h) { return Quorix_SetPreviewWindow(h, nullptr, 0, 0, 0, 0) == 1; }, 0, 0},
    });
}

// With the preview placement asking for a window, a preview cannot start on a machine without a
// display: code 4 before any camera is looked for.
TEST_F(NoCamera, PreviewWithAWindowPlacementAndNoDisplayReportsTheWindow) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display != nullptr ? display : "";
    unsetenv("DISPLAY");
    Check({
        {"Preview", [](QuorixHandle h) { return Quorix_Preview(h) == 0; }, 4, 0},
    });
    if (display != nullptr) {
        setenv("DISPLAY", saved.c_str(), 1);
    }
}

// A windowless preview without a camera fails to start: the missing camera, then the failed start.
TEST_F(NoCamera, WindowlessPreviewReportsTheMissingCamera) {
    ASSERT_EQ(Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0), 1);
    EXPECT_EQ(Quorix_CallBackPreview(handle, nullptr, nullptr, 0, 1), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 8u);
    EXPECT_EQ(Quorix_GetLastError(handle), 2u);
}

TEST_F(NoCamera, CameraOperationsRecordCodeOne) {
    Check({
        {"SetAnalogDlg", [](QuorixHandle h) { return Quorix_SetAnalogDlg(h, nullptr) == 0; }, 1, 0},
        {"SaveImageW", [](QuorixHandle h) { return Quorix_SaveImageW(h, u"frame.bmp", 0) == 0; }, 1,
         0},
    });
}

TEST_F(NoCamera, SomeFailuresArePostedOnly) {
    uint8_t port = 0x5A;
    int32_t ok = 7;
    Check({
        {"GetIOPort",
         [&](QuorixHandle h) { return Quorix_GetIOPort(h, &port, 0, 0) == 0 && port == 0x5A; }, 0,
         9},
        {"GetIOPort NULL", [](QuorixHandle h) { return Quorix_GetIOPort(h, nullptr, 0, 0) == 0; },
         0, 9},
        {"GetInternalCorrection",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetInternalCorrection(h, &ok) == 0 && ok == 0;
         },
         0, 11},
        {"SetInternalCorrection",
         [](QuorixHandle h) { return Quorix_SetInternalCorrection(h, 1) == 0; }, 0, 11},
        {"ReadSromID",
         [&](QuorixHandle h) { return Quorix_ReadSromID(h, 0x1080, &ok) == 0 && ok == 0; }, 0, 1},
        {"WriteSromID", [](QuorixHandle h) { return Quorix_WriteSromID(h, 0x1080, 5) == 0; }, 0, 1},
        {"SetAutoIris 3", [](QuorixHandle h) { return Quorix_SetAutoIris(h, 3) == 0; }, 0, 9},
        {"Fps", [](QuorixHandle h) { return Quorix_Fps(h) == 0; }, 0, 11},
        {"Trigger", [](QuorixHandle h) { return Quorix_Trigger(h) == 0; }, 0, 11},
        {"SetSamplingRate", [](QuorixHandle h) { return Quorix_SetSamplingRate(h, 2) == 0; }, 0, 0},
        // The port write goes nowhere; the camera's refusal is the result, without a code.
        {"SetIOPort", [](QuorixHandle h) { return Quorix_SetIOPort(h, 3) == 0; }, 0, 0},
    });
}

// Settings need the camera engine only: image adjustments and mirroring are kept for the frames
// and the camera to come, and so are camera values within the limits known without a camera
// (all 0). Reading back what only a camera holds fails as a register access would; features this
// camera lacks say so.
TEST_F(NoCamera, SettingsAreKeptUntilACameraOpens) {
    int32_t ok = 7;
    Check({
        {"SetBrightness", [](QuorixHandle h) { return Quorix_SetBrightness(h, 10) == 1; }, 0, 0},
        {"GetBrightness",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetBrightness(h, &ok) == 10 && ok == 1;
         },
         0, 0},
        {"GetGamma (neutral 100)",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetGamma(h, &ok) == 100 && ok == 1;
         },
         0, 0},
        {"SetMirrorH", [](QuorixHandle h) { return Quorix_SetMirrorH(h, 5) == 1; }, 0, 0},
        {"GetMirrorH", [](QuorixHandle h) { return Quorix_GetMirrorH(h) == 1; }, 0, 0},
        {"SetMirrorV", [](QuorixHandle h) { return Quorix_SetMirrorV(h, 1) == 1; }, 0, 0},
        {"GetMirrorV", [](QuorixHandle h) { return Quorix_GetMirrorV(h) == 1; }, 0, 0},
        {"SetGlobalGain 0", [](QuorixHandle h) { return Quorix_SetGlobalGain(h, 0) == 1; }, 0, 0},
        {"SetGlobalGain 1", [](QuorixHandle h) { return Quorix_SetGlobalGain(h, 1) == 0; }, 9, 0},
        {"SetExposureTime 1", [](QuorixHandle h) { return Quorix_SetExposureTime(h, 1) == 0; }, 9,
         0},
        {"SetRealExposureTime 100",
         [](QuorixHandle h) { return Quorix_SetRealExposureTime(h, 100) == 0; }, 9, 0},
        {"gain mode",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetFilterValue(h, 104, &ok) == -1 && ok == 0;
         },
         0, 0},
        {"GetExposureTimeEx",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetExposureTimeEx(h, &ok) == -1.0 && ok == 0;
         },
         11, 0},
        {"SetExposureTimeEx", [](QuorixHandle h) { return Quorix_SetExposureTimeEx(h, 0.5) == 0; },
         11, 0},
        {"GetTemperatureEx",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetTemperatureEx(h, &ok) == 0.0 && ok == 0;
         },
         11, 0},
        {"WriteRegister", [](QuorixHandle h) { return Quorix_WriteRegister(h, 0x30, 1) == 0; }, 6,
         0},
        {"ReadRegisterEx",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_ReadRegisterEx(h, 0x404, &ok) == 0 && ok == 0;
         },
         6, 0},
    });
}

TEST_F(NoCamera, ArgumentChecksComeFirstWhereTheyNeedNoCamera) {
    char serial[31];
    char16_t badName[] = {u'a', 0xD800, u'b', 0};  // an unpaired surrogate does not convert
    QuorixCameraInfo info = {};
    int32_t ok = 7;
    Check({
        {"serial below 32 bytes",
         [&](QuorixHandle h) { return Quorix_ReadSerialNumberA(h, serial, 31) == 0; }, 9, 0},
        {"camera info NULL", [](QuorixHandle h) { return Quorix_GetCameraInfo(h, nullptr) == 0; },
         9, 0},
        {"camera info size 35",
         [&](QuorixHandle h) {
             info.size = 35;
             return Quorix_GetCameraInfo(h, &info) == 0;
         },
         5, 0},
        {"record without name", [](QuorixHandle h) { return Quorix_Record(h, "", 1000, 0) == 0; },
         9, 0},
        {"unconvertible name",
         [&](QuorixHandle h) { return Quorix_SaveMaskFileW(h, badName) == 0; }, 12, 0},
        {"channel 0",
         [&](QuorixHandle h) {
             ok = 7;
             return Quorix_GetChannelGain(h, 0, &ok) == 0 && ok == 7;
         },
         0, 0},
        {"channel 5", [](QuorixHandle h) { return Quorix_SetChannelOffset(h, 5, 1) == 0; }, 0, 0},
        {"SendText", [](QuorixHandle h) { return Quorix_SendText(h, "x", 2) == 0; }, 11, 0},
        {"GetConfigFilter", [](QuorixHandle h) { return Quorix_GetConfigFilter(h) == -1; }, 11, 0},
    });
}

// With the camera engine but no camera open, the record carries the sensor's size and the engine
// answers 0 for every limit a camera head would give; nothing past the filled part is touched.
TEST_F(NoCamera, CameraInfoWithoutCameraHasTheSensorSizeAndZeroLimits) {
    QuorixCameraInfo info;
    std::memset(&info, 0xA5, sizeof info);
    info.size = 36;
    ASSERT_EQ(Quorix_GetCameraInfo(handle, &info), 1);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);
    EXPECT_EQ(info.size, 36u);
    EXPECT_EQ(info.maxWidth, 2048u);
    EXPECT_EQ(info.maxHeight, 1536u);
    const int32_t limits[] = {info.gainMin,      info.gainMax,     info.colorGainMin,
                              info.colorGainMax, info.exposureMin, info.exposureMax};
    for (const int32_t limit : limits) {
        EXPECT_EQ(limit, 0);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(&info);
    for (size_t i = 36; i < sizeof info; ++i) {
        EXPECT_EQ(bytes[i], 0xA5) << "byte " << i;
    }
}

// Camera reads need an open camera; without one they fail as a failed read (code 6).
TEST_F(NoCamera, DeviceInfoAndFpgaRegistersNeedACamera) {
    uint8_t block[QUORIX_DEVICE_INFO_SIZE];
    std::memset(block, 0x5A, sizeof block);
    int32_t ok = 1;
    Check({
        {"GetDeviceInfo",
         [&](QuorixHandle h) {
             return Quorix_GetDeviceInfo(h, block, sizeof block) == 0 && block[0] == 0x5A;
         },
         6, 0},
        {"GetDeviceInfo NULL",
         [](QuorixHandle h) { return Quorix_GetDeviceInfo(h, nullptr, 64) == 0; }, 9, 0},
        {"GetDeviceInfo size 63",
         [&](QuorixHandle h) { return Quorix_GetDeviceInfo(h, block, 63) == 0; }, 5, 0},
        {"Fpga_ReadRegister",
         [&](QuorixHandle h) { return Quorix_Fpga_ReadRegister(h, 0x10, &ok) == 0 && ok == 0; }, 6,
         0},
        {"Fpga_WriteRegister",
         [](QuorixHandle h) { return Quorix_Fpga_WriteRegister(h, 7, 1) == 0; }, 6, 0},
    });
}

// Delivery settings and frame statistics check their arguments (a mode or depth out of range
// taken, a short record written past its end); before any acquisition nothing was received.
TEST_F(NoCamera, DeliverySettingsAndStatisticsCheckTheirArguments) {
    QuorixFrameStatistics statistics;
    std::memset(&statistics, 0x5A, sizeof statistics);
    statistics.size = sizeof statistics - 1;
    Check({
        {"SetDeliveryMode 2", [](QuorixHandle h) { return Quorix_SetDeliveryMode(h, 2) == 0; }, 9,
         0},
        {"SetDeliveryMode -1", [](QuorixHandle h) { return Quorix_SetDeliveryMode(h, -1) == 0; }, 9,
         0},
        {"SetDeliveryMode 1", [](QuorixHandle h) { return Quorix_SetDeliveryMode(h, 1) == 1; }, 0,
         0},
        {"SetFrameRingDepth 3", [](QuorixHandle h) { return Quorix_SetFrameRingDepth(h, 3) == 0; },
         9, 0},
        {"SetFrameRingDepth 65",
         [](QuorixHandle h) { return Quorix_SetFrameRingDepth(h, 65) == 0; }, 9, 0},
        {"SetFrameRingDepth 64",
         [](QuorixHandle h) { return Quorix_SetFrameRingDepth(h, 64) == 1; }, 0, 0},
        {"GetFrameStatistics NULL",
         [](QuorixHandle h) { return Quorix_GetFrameStatistics(h, nullptr) == 0; }, 9, 0},
        {"GetFrameStatistics size 103",
         [&](QuorixHandle h) {
             return Quorix_GetFrameStatistics(h, &statistics) == 0 &&
                    statistics.version == 0x5A5A5A5A;
         },
         5, 0},
    });
    statistics.size = sizeof statistics;
    ASSERT_EQ(Quorix_GetFrameStatistics(handle, &statistics), 1);
    EXPECT_EQ(statistics.size, 104u);
    EXPECT_EQ(statistics.version, QUORIX_FRAME_STATISTICS_VERSION);
    EXPECT_EQ(statistics.framesReceived, 0u);
    EXPECT_EQ(statistics.framesPending, 0u);
    EXPECT_EQ(statistics.newestFrameNumber, -1);
}

// Values the context keeps by itself answer without a camera and keep their defaults. The first
// context of an empty settings store writes the first-use defaults under Camera_-1 (its device
// number before any camera opens) and loads them: 24-bit colour and a 1 ms preview pause.
TEST_F(NoCamera, StoredValuesAnswerWithTheirDefaults) {
    EXPECT_EQ(Quorix_Width(handle), 2048);
    EXPECT_EQ(Quorix_Height(handle), 1536);
    EXPECT_EQ(Quorix_GetColorMode(handle), 24);
    EXPECT_EQ(Quorix_GetSubSample(handle), 0);
    EXPECT_EQ(Quorix_GetWaitTime(handle), 1);
    int32_t v[6] = {-1, -1, -1, -1, -1, -1};
    EXPECT_EQ(Quorix_GetCaptureWindowEx(handle, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]), 1);
    EXPECT_EQ(std::vector<int32_t>(v, v + 6), (std::vector<int32_t>{2048, 0, 2048, 1536, 0, 1536}));
    EXPECT_EQ(
        Quorix_GetCaptureWindowEx(handle, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), 1);

    EXPECT_EQ(Quorix_SetSubSample(handle, 1), 1);
    EXPECT_EQ(Quorix_GetSubSample(handle), 1);
    EXPECT_EQ(Quorix_SetSubSample(handle, 2), 0);
    EXPECT_EQ(Quorix_GetSubSample(handle), 1);
    EXPECT_EQ(Quorix_SetWaitTime(handle, 0), 1);
    EXPECT_EQ(Quorix_SetWaitTime(handle, -1), 0);
    EXPECT_EQ(Quorix_GetWaitTime(handle), 0);
    EXPECT_EQ(Quorix_SetAutoIris(handle, 2), 1);
    int32_t ok = 0;
    EXPECT_EQ(Quorix_GetAutoIris(handle, &ok), 2);
    EXPECT_EQ(ok, 1);
    ok = 0;
    EXPECT_EQ(Quorix_GetRealExposureTime(handle, &ok), 0u);
    EXPECT_EQ(ok, 1);
    int32_t rate = 9;
    EXPECT_EQ(Quorix_GetSamplingRate(handle, &rate), 0);
    EXPECT_EQ(rate, 0);
    rate = 9;
    EXPECT_EQ(Quorix_GetVideoFormat(handle, &rate), 0);
    EXPECT_EQ(rate, 0);
    EXPECT_EQ(Quorix_Close(handle), 1);
    EXPECT_EQ(Quorix_GetStatus(handle), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), 0u);  // none of these is a failure with a code
    QuorixMessage message;
    EXPECT_EQ(Quorix_PeekThreadMessage(&message), 0);
}

}  // namespace
