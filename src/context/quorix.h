#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "context/error_code.h"
#include "engine/quorix_u3r5_base.h"
#include "platform/lock.h"
#include "platform/message_window.h"

namespace quorix {

// The camera context behind one handle. It owns the capture engine (and through it at most one
// open camera), keeps every value the application set, runs acquisition and records the error
// codes of failed calls. The handle registry owns the context; exports reach it by handle.
// One record of a configuration file: two little-endian 32-bit values. What they configure is
// up to the application; the context keeps them for its lifetime.
struct ConfigRecord {
    uint32_t first = 0;
    uint32_t second = 0;
    friend bool operator==(const ConfigRecord&, const ConfigRecord&) = default;
};

class CQuorix {
public:
    // Makes the engine when the context initialises; may return null when this build has no
    // engine, in which case every camera operation answers with code 1.
    using EngineFactory = std::function<std::unique_ptr<CQuorixU3R5Base>()>;

    static constexpr int32_t kCameraId = 12736;  // USB product ID 0x31C0 of this camera model
    static constexpr uint32_t kMsgFrame = QUORIX_MSG_FRAME;
    static constexpr uint32_t kMsgError = QUORIX_MSG_ERROR;
    static constexpr size_t kErrorHistoryDepth = 20;
    static constexpr int kEnumEntries = 10;             // names written by EnumDevice
    static constexpr int kDeviceNameBytes = 256;        // bytes (or UTF-16 units) per name entry
    static constexpr int32_t kMinDeviceNameBytes = 24;  // "Quorix252DIV-USB3-R5_01" + terminator
    static constexpr int32_t kMinSerialBytes = 32;
    static constexpr uint32_t kSerialNumberAddress = 0x1040;
    static constexpr uint32_t kSerialNumberPauseMs = 10;

    explicit CQuorix(EngineFactory engineFactory = DefaultEngineFactory());
    CQuorix(const CQuorix&) = delete;
    CQuorix& operator=(const CQuorix&) = delete;
    virtual ~CQuorix();

    static EngineFactory DefaultEngineFactory();

    // Lifecycle and devices.
    int Initialize(platform::WindowHandle notifyWindow);
    int32_t EnumDevice(char (*names)[kDeviceNameBytes]);
    int32_t EnumDeviceW(char16_t (*names)[kDeviceNameBytes]);
    int GetDeviceName(int32_t index, char* buffer, int32_t size);
    int GetDeviceNameW(int32_t index, char16_t* buffer, int32_t size);
    int SetDeviceNumber(int32_t index);
    int Close();
    int ReadSerialNumber(char* buffer, int32_t size);
    int ReadSerialNumberW(char16_t* buffer, int32_t size);

    // Replaces the configuration records with the 8-byte records of a file: 1, or 0 without a
    // code when the file cannot be read.
    int LoadConfigFile(const char* fileName);
    const std::vector<ConfigRecord>& ConfigRecords() const { return m_configRecords; }

    // Errors: SetError records and posts; PostError only posts (to the calling thread's queue
    // when there is no notification window).
    void SetError(uint32_t code);
    void PostError(uint32_t code);
    uint32_t GetLastError();

    // The answer of a camera operation this context cannot carry out because it has no engine:
    // code 1 and the operation's failure result.
    template <typename T>
    T EngineMissing(T failure) {
        SetError(kErrNoEngine);
        return failure;
    }

    // Stored acquisition values that need no camera.
    int32_t GetColorMode() const;
    int SetSubSample(int32_t subSample);
    int32_t GetSubSample() const { return m_subSample; }
    int SetWaitTime(int32_t milliseconds);
    int32_t GetWaitTime() const { return m_waitTime; }
    int32_t Width() const { return static_cast<int32_t>(m_captureWidth); }
    int32_t Height() const { return static_cast<int32_t>(m_captureHeight); }
    int GetCaptureWindowEx(int32_t* totalWidth, int32_t* hStart, int32_t* width,
                           int32_t* totalHeight, int32_t* vStart, int32_t* height) const;
    int32_t GetMirrorH() const { return m_mirrorH; }
    int SetAutoIris(int32_t mode);
    int32_t GetAutoIris(int32_t* ok) const;
    uint32_t GetRealExposureTime(int32_t* ok);

    CQuorixU3R5Base* Engine() const { return m_engine.get(); }
    platform::WindowHandle NotifyWindow() const { return m_notifyWindow; }
    int32_t DeviceNumber() const { return m_deviceNumber; }

private:
    // Formats the name of the camera with this 1-based number into a buffer of kMinDeviceNameBytes
    // or more.
    static void FormatDeviceName(int32_t number, char* buffer, size_t size);
    // Converts `text` into the caller's UTF-16 buffer of `units` code units; code 12 when it does
    // not convert or does not fit with its terminator.
    int CopyAsWide(const char* text, char16_t* buffer, int32_t units);

    EngineFactory m_engineFactory;
    std::unique_ptr<CQuorixU3R5Base> m_engine;

    // Capture window: sizes and start on the sensor, and the engine's buffer count.
    uint32_t m_totalWidth = 2048;
    uint32_t m_totalHeight = 1536;
    uint32_t m_captureWidth = 2048;
    uint32_t m_captureHeight = 1536;
    uint32_t m_hStart = 0;
    uint32_t m_vStart = 0;
    uint32_t m_bufferCount = 4;

    // Camera values sent to the engine whenever a camera opens or buffers are prepared.
    int32_t m_exposure = 0;  // [100 us]
    int32_t m_mirrorV = 0;
    int32_t m_mirrorH = 0;
    int32_t m_autoIris = 0;           // 0 off, 1 exposure, 2 gain
    uint32_t m_lastRealExposure = 0;  // [us]

    int32_t m_deviceSelected = 0;
    int32_t m_acquisitionState = 0;  // 0 idle, 1 preview, 2 capture
    int32_t m_colourType = 0;        // 0-5: 8, 16, 24, 32, 48, 64 bits per pixel
    int32_t m_subSample = 0;
    int32_t m_waitTime = 10;  // [ms] between preview iterations
    int32_t m_frameAvailable = 0;

    platform::WindowHandle m_notifyWindow = 0;
    // Application threads and the context's own threads record codes at the same time; the lock
    // keeps each push and pop whole.
    std::mutex m_errorLock;
    std::array<uint32_t, kErrorHistoryDepth> m_errorHistory{};
    int32_t m_deviceNumber = -1;

    std::vector<ConfigRecord> m_configRecords;

    platform::CriticalSection m_frameLock;
    platform::CriticalSection m_maskLock;
};

}  // namespace quorix
