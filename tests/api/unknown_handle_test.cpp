// Every exported function, called with a handle that names no context, must return its
// no-context result at once, touch none of its output arguments and post nothing.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <quorix/quorix.h>

namespace {

struct Call {
    const char* name;
    std::function<bool(QuorixHandle)> returnsNoContextResult;
};

// Output arguments start as a marker that a call without a context must leave alone.
constexpr int32_t kUntouched = 0x5A5A5A5A;

// The output arguments the calls get; a call without a context must leave them alone.
int32_t flag;
int32_t values[6];
char text[256];
QuorixWChar wide[256];
char names[10][256];
QuorixWChar wideNames[10][256];
uint8_t byte;
QuorixCameraInfo info;
unsigned char image[64];
const QuorixWChar kWideName[] = u"x.bmp";

void MarkOutputs() {
    flag = kUntouched;
    for (int32_t& v : values)
        v = kUntouched;
    std::memset(text, 0x5A, sizeof text);
    std::memset(wide, 0x5A, sizeof wide);
    std::memset(names, 0x5A, sizeof names);
    std::memset(wideNames, 0x5A, sizeof wideNames);
    std::memset(image, 0x5A, sizeof image);
    byte = 0x5A;
    std::memset(&info, 0x5A, sizeof info);
    info.size = sizeof info;
}

bool OutputsUntouched() {
    const auto all5A = [](const void* data, size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            if (bytes[i] != 0x5A)
                return false;
        }
        return true;
    };
    QuorixCameraInfo expectedInfo;
    std::memset(&expectedInfo, 0x5A, sizeof expectedInfo);
    expectedInfo.size = sizeof expectedInfo;
    return flag == kUntouched && all5A(values, sizeof values) && all5A(text, sizeof text) &&
           all5A(wide, sizeof wide) && all5A(names, sizeof names) &&
           all5A(wideNames, sizeof wideNames) && all5A(image, sizeof image) && byte == 0x5A &&
           std::memcmp(&info, &expectedInfo, sizeof info) == 0;
}

std::vector<Call> AllCallsTakingAHandle() {
    int32_t* ok = &flag;

    const auto zero = [](auto result) { return result == 0; };
    std::vector<Call> calls = {
        {"Release", [=](QuorixHandle h) { return zero(Quorix_Release(h)); }},
        {"GetLastError", [=](QuorixHandle h) { return zero(Quorix_GetLastError(h)); }},
        {"EnumDevice", [=](QuorixHandle h) { return zero(Quorix_EnumDevice(h, names)); }},
        {"EnumDeviceW", [=](QuorixHandle h) { return zero(Quorix_EnumDeviceW(h, wideNames)); }},
        {"GetDeviceName",
         [=](QuorixHandle h) { return zero(Quorix_GetDeviceName(h, 0, text, 256)); }},
        {"GetDeviceNameW",
         [=](QuorixHandle h) { return zero(Quorix_GetDeviceNameW(h, 0, wide, 256)); }},
        {"SetDeviceNumber", [=](QuorixHandle h) { return zero(Quorix_SetDeviceNumber(h, 0)); }},
        {"Close", [=](QuorixHandle h) { return zero(Quorix_Close(h)); }},
        {"GetStatus", [=](QuorixHandle h) { return zero(Quorix_GetStatus(h)); }},
        {"GetCameraInfo", [=](QuorixHandle h) { return zero(Quorix_GetCameraInfo(h, &info)); }},
        {"GetDeviceInfo",
         [=](QuorixHandle h) { return zero(Quorix_GetDeviceInfo(h, image, sizeof image)); }},
        {"SetDeliveryMode", [=](QuorixHandle h) { return zero(Quorix_SetDeliveryMode(h, 1)); }},
        {"SetFrameRingDepth",
         [=](QuorixHandle h) { return zero(Quorix_SetFrameRingDepth(h, 16)); }},
        {"GetFrameStatistics",
         [=](QuorixHandle h) {
             return zero(
                 Quorix_GetFrameStatistics(h, reinterpret_cast<QuorixFrameStatistics*>(image)));
         }},
        {"Preview", [=](QuorixHandle h) { return zero(Quorix_Preview(h)); }},
        {"CallBackPreview",
         [=](QuorixHandle h) {
             return zero(Quorix_CallBackPreview(h, nullptr, image, sizeof image, 0));
         }},
        {"StartPreview", [=](QuorixHandle h) { return zero(Quorix_StartPreview(h)); }},
        {"StopPreview", [=](QuorixHandle h) { return zero(Quorix_StopPreview(h)); }},
        {"Capture", [=](QuorixHandle h) { return zero(Quorix_Capture(h)); }},
        {"SnapShot",
         [=](QuorixHandle h) { return zero(Quorix_SnapShot(h, image, sizeof image, 0)); }},
        {"GetImage",
         [=](QuorixHandle h) { return zero(Quorix_GetImage(h, image, sizeof image, 0)); }},
        {"SetPreviewWindow",
         [=](QuorixHandle h) { return zero(Quorix_SetPreviewWindow(h, nullptr, 0, 0, 640, 480)); }},
        {"SetCaptureWindow",
         [=](QuorixHandle h) { return zero(Quorix_SetCaptureWindow(h, 640, 480)); }},
        {"SetCaptureWindowEx",
         [=](QuorixHandle h) {
             return zero(Quorix_SetCaptureWindowEx(h, 2048, 0, 640, 1536, 0, 480));
         }},
        {"GetCaptureWindowEx",
         [=](QuorixHandle h) {
             return zero(Quorix_GetCaptureWindowEx(h, &values[0], &values[1], &values[2],
                                                   &values[3], &values[4], &values[5]));
         }},
        {"Width", [=](QuorixHandle h) { return zero(Quorix_Width(h)); }},
        {"Height", [=](QuorixHandle h) { return zero(Quorix_Height(h)); }},
        {"SetColorMode", [=](QuorixHandle h) { return zero(Quorix_SetColorMode(h, 24)); }},
        {"GetColorMode", [=](QuorixHandle h) { return Quorix_GetColorMode(h) == -1; }},
        {"SetSubSample", [=](QuorixHandle h) { return zero(Quorix_SetSubSample(h, 1)); }},
        {"GetSubSample", [=](QuorixHandle h) { return Quorix_GetSubSample(h) == -1; }},
        {"SetWaitTime", [=](QuorixHandle h) { return zero(Quorix_SetWaitTime(h, 5)); }},
        {"GetWaitTime", [=](QuorixHandle h) { return Quorix_GetWaitTime(h) == -1; }},
        {"Record", [=](QuorixHandle h) { return zero(Quorix_Record(h, "x.avi", 1000, 0)); }},
        {"RecordW", [=](QuorixHandle h) { return zero(Quorix_RecordW(h, kWideName, 1000, 0)); }},
        {"GetRecordStatus",
         [=](QuorixHandle h) {
             QuorixRecordStatus status{};
             status.size = sizeof status;
             return zero(Quorix_GetRecordStatus(h, &status));
         }},
        {"SaveImage", [=](QuorixHandle h) { return zero(Quorix_SaveImage(h, "x.bmp", 0)); }},
        {"SaveImageW", [=](QuorixHandle h) { return zero(Quorix_SaveImageW(h, kWideName, 0)); }},
        {"LoadMaskFile", [=](QuorixHandle h) { return zero(Quorix_LoadMaskFile(h, "m")); }},
        {"LoadMaskFileW", [=](QuorixHandle h) { return zero(Quorix_LoadMaskFileW(h, kWideName)); }},
        {"SaveMaskFile", [=](QuorixHandle h) { return zero(Quorix_SaveMaskFile(h, "m")); }},
        {"SaveMaskFileW", [=](QuorixHandle h) { return zero(Quorix_SaveMaskFileW(h, kWideName)); }},
        {"UpdateMaskData", [=](QuorixHandle h) { return zero(Quorix_UpdateMaskData(h, 0)); }},
        {"LoadConfigFileA",
         [=](QuorixHandle h) { return zero(Quorix_LoadConfigFileA(h, "/dev/null")); }},
        {"LoadConfigFileW",
         [=](QuorixHandle h) { return zero(Quorix_LoadConfigFileW(h, u"/dev/null")); }},
        {"SetCameraDlg", [=](QuorixHandle h) { return zero(Quorix_SetCameraDlg(h, nullptr)); }},
        {"SetImageDlg", [=](QuorixHandle h) { return zero(Quorix_SetImageDlg(h, nullptr)); }},
        {"SetAnalogDlg", [=](QuorixHandle h) { return zero(Quorix_SetAnalogDlg(h, nullptr)); }},
        {"GetFilterValue", [=](QuorixHandle h) { return zero(Quorix_GetFilterValue(h, 104, ok)); }},
        {"SetFilterValue", [=](QuorixHandle h) { return zero(Quorix_SetFilterValue(h, 1, 5)); }},
        {"GetChannelGain", [=](QuorixHandle h) { return zero(Quorix_GetChannelGain(h, 1, ok)); }},
        {"SetChannelGain", [=](QuorixHandle h) { return zero(Quorix_SetChannelGain(h, 1, 5)); }},
        {"GetChannelOffset",
         [=](QuorixHandle h) { return zero(Quorix_GetChannelOffset(h, 1, ok)); }},
        {"SetChannelOffset",
         [=](QuorixHandle h) { return zero(Quorix_SetChannelOffset(h, 1, 5)); }},
        {"GetTemperature", [=](QuorixHandle h) { return zero(Quorix_GetTemperature(h, ok)); }},
        {"SetExposureTimeEx",
         [=](QuorixHandle h) { return zero(Quorix_SetExposureTimeEx(h, 0.01)); }},
        {"GetExposureTimeEx",
         [=](QuorixHandle h) { return Quorix_GetExposureTimeEx(h, ok) == 0.0; }},
        {"SetRealExposureTime",
         [=](QuorixHandle h) { return zero(Quorix_SetRealExposureTime(h, 1000)); }},
        {"GetRealExposureTime",
         [=](QuorixHandle h) { return zero(Quorix_GetRealExposureTime(h, ok)); }},
        {"SetMirrorH", [=](QuorixHandle h) { return zero(Quorix_SetMirrorH(h, 1)); }},
        {"SetMirrorV", [=](QuorixHandle h) { return zero(Quorix_SetMirrorV(h, 1)); }},
        {"GetMirrorH", [=](QuorixHandle h) { return zero(Quorix_GetMirrorH(h)); }},
        {"GetMirrorV", [=](QuorixHandle h) { return zero(Quorix_GetMirrorV(h)); }},
        {"SetAutoIris", [=](QuorixHandle h) { return zero(Quorix_SetAutoIris(h, 3)); }},
        {"GetAutoIris", [=](QuorixHandle h) { return zero(Quorix_GetAutoIris(h, ok)); }},
        {"GetTemperatureEx", [=](QuorixHandle h) { return Quorix_GetTemperatureEx(h, ok) == 0.0; }},
        {"SetInternalCorrection",
         [=](QuorixHandle h) { return zero(Quorix_SetInternalCorrection(h, 1)); }},
        {"GetInternalCorrection",
         [=](QuorixHandle h) { return zero(Quorix_GetInternalCorrection(h, ok)); }},
        {"SetSamplingRate", [=](QuorixHandle h) { return zero(Quorix_SetSamplingRate(h, 1)); }},
        {"GetSamplingRate",
         [=](QuorixHandle h) { return zero(Quorix_GetSamplingRate(h, &values[0])); }},
        {"GetVideoFormat",
         [=](QuorixHandle h) { return zero(Quorix_GetVideoFormat(h, &values[1])); }},
        {"SetIOPort", [=](QuorixHandle h) { return zero(Quorix_SetIOPort(h, 1)); }},
        {"GetIOPort", [=](QuorixHandle h) { return zero(Quorix_GetIOPort(h, &byte, 0, 0)); }},
        {"ReadRegister", [=](QuorixHandle h) { return zero(Quorix_ReadRegister(h, 1, ok)); }},
        {"ReadRegisterEx", [=](QuorixHandle h) { return zero(Quorix_ReadRegisterEx(h, 1, ok)); }},
        {"WriteRegister", [=](QuorixHandle h) { return zero(Quorix_WriteRegister(h, 1, 1)); }},
        {"WriteRegisterEx", [=](QuorixHandle h) { return zero(Quorix_WriteRegisterEx(h, 1, 1)); }},
        {"Fpga_ReadRegister",
         [=](QuorixHandle h) { return zero(Quorix_Fpga_ReadRegister(h, 7, ok)); }},
        {"Fpga_WriteRegister",
         [=](QuorixHandle h) { return zero(Quorix_Fpga_WriteRegister(h, 7, 1)); }},
        {"ReadSromID", [=](QuorixHandle h) { return zero(Quorix_ReadSromID(h, 0x1080, ok)); }},
        {"WriteSromID", [=](QuorixHandle h) { return zero(Quorix_WriteSromID(h, 0x1080, 1)); }},
        {"ReadSerialNumberA",
         [=](QuorixHandle h) { return zero(Quorix_ReadSerialNumberA(h, text, 256)); }},
        {"ReadSerialNumberW",
         [=](QuorixHandle h) { return zero(Quorix_ReadSerialNumberW(h, wide, 256)); }},
        {"Fps", [=](QuorixHandle h) { return zero(Quorix_Fps(h)); }},
        {"GetHalfClock", [=](QuorixHandle h) { return zero(Quorix_GetHalfClock(h)); }},
        {"SetHalfClock", [=](QuorixHandle h) { return zero(Quorix_SetHalfClock(h, 1)); }},
        {"SetCrossbar", [=](QuorixHandle h) { return zero(Quorix_SetCrossbar(h, 1)); }},
        {"Trigger", [=](QuorixHandle h) { return zero(Quorix_Trigger(h)); }},
        {"SendText", [=](QuorixHandle h) { return zero(Quorix_SendText(h, "hi", 3)); }},
        {"ReceiveText", [=](QuorixHandle h) { return zero(Quorix_ReceiveText(h, text, 256)); }},
        {"GetConfigFilter", [=](QuorixHandle h) { return zero(Quorix_GetConfigFilter(h)); }},
        {"SetConfigFilter", [=](QuorixHandle h) { return zero(Quorix_SetConfigFilter(h, 1)); }},
    };

    // The named filter-value wrappers: getter and setter of each.
    using Getter = int32_t (*)(QuorixHandle, int32_t*);
    using Setter = int (*)(QuorixHandle, int32_t);
    const std::vector<std::pair<Getter, Setter>> wrappers = {
        {Quorix_GetBrightness, Quorix_SetBrightness},
        {Quorix_GetContrast, Quorix_SetContrast},
        {Quorix_GetHue, Quorix_SetHue},
        {Quorix_GetSaturation, Quorix_SetSaturation},
        {Quorix_GetSharpness, Quorix_SetSharpness},
        {Quorix_GetBayerGainRGB, Quorix_SetBayerGainRGB},
        {Quorix_GetBayerGainRed, Quorix_SetBayerGainRed},
        {Quorix_GetBayerGainGreen, Quorix_SetBayerGainGreen},
        {Quorix_GetBayerGainBlue, Quorix_SetBayerGainBlue},
        {Quorix_GetBayerGainAuto, Quorix_SetBayerGainAuto},
        {Quorix_GetGamma, Quorix_SetGamma},
        {Quorix_GetBayerMode, Quorix_SetBayerMode},
        {Quorix_GetGlobalGain, Quorix_SetGlobalGain},
        {Quorix_GetColorGainRed, Quorix_SetColorGainRed},
        {Quorix_GetColorGainGreen1, Quorix_SetColorGainGreen1},
        {Quorix_GetColorGainGreen2, Quorix_SetColorGainGreen2},
        {Quorix_GetColorGainBlue, Quorix_SetColorGainBlue},
        {Quorix_GetExposureTime, Quorix_SetExposureTime},
        {Quorix_GetGrayMode, Quorix_SetGrayMode},
        {Quorix_GetGrayGainR, Quorix_SetGrayGainR},
        {Quorix_GetGrayGainG1, Quorix_SetGrayGainG1},
        {Quorix_GetGrayGainG2, Quorix_SetGrayGainG2},
        {Quorix_GetGrayGainB, Quorix_SetGrayGainB},
        {Quorix_GetGrayOffsetR, Quorix_SetGrayOffsetR},
        {Quorix_GetGrayOffsetG1, Quorix_SetGrayOffsetG1},
        {Quorix_GetGrayOffsetG2, Quorix_SetGrayOffsetG2},
        {Quorix_GetGrayOffsetB, Quorix_SetGrayOffsetB},
        {Quorix_GetPeltier, Quorix_SetPeltier},
        {Quorix_GetDotFilter, Quorix_SetDotFilter},
        {Quorix_GetMaskFilter, Quorix_SetMaskFilter},
    };
    for (const auto& [get, set] : wrappers) {
        calls.push_back({"filter getter", [=](QuorixHandle h) { return zero(get(h, ok)); }});
        calls.push_back({"filter setter", [=](QuorixHandle h) { return zero(set(h, 1)); }});
    }
    return calls;
}

class UnknownHandle : public ::testing::TestWithParam<const char*> {};

QuorixHandle HandleFor(const std::string& kind) {
    if (kind == "zero") {
        return 0;
    }
    const QuorixHandle live = Quorix_Initialize(nullptr);
    EXPECT_NE(live, 0u);
    EXPECT_EQ(Quorix_Release(live), 1);
    if (kind == "released") {
        return live;
    }
    return live ^ 0x80000001u;  // never issued: no context lives in this process
}

TEST_P(UnknownHandle, EveryExportReturnsItsNoContextResultAndPostsNothing) {
    QuorixWindow window = Quorix_CreateMessageWindow();
    ASSERT_NE(window, nullptr);
    const QuorixHandle handle = HandleFor(GetParam());
    QuorixMessage message;
    while (Quorix_PeekThreadMessage(&message) == 1) {
    }

    MarkOutputs();
    const std::vector<Call> calls = AllCallsTakingAHandle();
    // 149 exports less GetDllVersion and Initialize, and the Linux additions GetDeviceInfo,
    // SetDeliveryMode, SetFrameRingDepth, GetFrameStatistics and GetRecordStatus.
    EXPECT_EQ(calls.size(), 152u);
    for (const Call& call : calls) {
        EXPECT_TRUE(call.returnsNoContextResult(handle)) << call.name;
        EXPECT_EQ(Quorix_PeekThreadMessage(&message), 0) << call.name << " posted";
    }
    EXPECT_TRUE(OutputsUntouched());
    EXPECT_EQ(Quorix_PeekWindowMessage(window, &message), 0);
    EXPECT_EQ(Quorix_DestroyMessageWindow(window), 1);
}

INSTANTIATE_TEST_SUITE_P(Handles, UnknownHandle, ::testing::Values("zero", "released", "never"));

}  // namespace
