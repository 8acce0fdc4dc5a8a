#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/capture_rate_meter.h"
#include "platform/event.h"
#include "platform/guid.h"
#include "platform/message_window.h"

namespace quorix {

class CSensorBase;
class CVolCy3Cam;
struct FrameRecord;

// The capture engine: it finds and opens the cameras of one camera ID, owns the controller
// (CVolCy3Cam) and the sensor head, sizes the frame buffers and programs the FPGA's frame
// geometry, and carries every camera setting to the head. The camera context owns one engine
// and drives it only through these virtual operations (tests replace some of them).
//
// Results are nonzero for success unless said otherwise; without a controller or a sensor an
// operation fails (0).
class CQuorixU3R5Base {
public:
    static constexpr int32_t kNoCameraId = -1;
    static constexpr int32_t kMaxDevices = 32;
    static constexpr int32_t kRingSlots = 4;
    // The deepest ring every-frame delivery may ask for.
    static constexpr int32_t kMaxRingSlots = 64;
    static constexpr uint32_t kDefaultDataTimeoutMs = 5000;
    static constexpr size_t kDeviceInfoSize = 64;

    // EEPROM address of the user identification byte.
    static constexpr uint32_t kSromIdAddress = 0x1080;
    // Longest wait for an idle sensor bus before a 16-bit bus register access. [ms]
    static constexpr uint32_t kBusIdleLimitMs = 3000;

    CQuorixU3R5Base();
    CQuorixU3R5Base(const CQuorixU3R5Base&) = delete;
    CQuorixU3R5Base& operator=(const CQuorixU3R5Base&) = delete;

    // --- Opening and closing ------------------------------------------------------------------
    virtual ~CQuorixU3R5Base();
    // Closes any open camera and creates the controller for an interface class (the camera's
    // default class when `interfaceGuid` is null). The window is not used.
    virtual int CreateController(platform::WindowHandle window,
                                 const platform::Guid* interfaceGuid);
    virtual int InitializeCamera();
    virtual int CloseCamera();
    virtual int GetDeviceInfo(uint8_t* info);  // 64 bytes
    virtual int CopyStateBlock(void* buffer);
    virtual int GetDeviceInfo2(uint8_t* info);  // 64 bytes
    virtual int OpenCamera(int32_t instance);   // 0, or -1 when no head could be made
    virtual int CreateSensor(int32_t instance);
    virtual int IsDeviceAvailable(int32_t instance);
    virtual int32_t CountDevices(int32_t cameraId);
    virtual int SetCameraId(int32_t cameraId);
    virtual int32_t GetCameraId();
    virtual uint32_t GetVendorId(int32_t index);
    virtual uint32_t GetProductId(int32_t index);
    virtual int32_t GetInstanceNumber(int32_t index);
    virtual int UsesAuxEndpoint();
    virtual int IsLineSensorHead();
    virtual int32_t GetDeviceIndex();

    // --- Capture --------------------------------------------------------------------------------
    // A capture thread per engine moves frames from the camera into a ring of frame buffers
    // (slots: four, or the depth every-frame delivery asks for) and signals the frame event after
    // each; readers take the newest slot, or in every-frame delivery the oldest not taken. Capture
    // modes: 0 continuous; 1 one frame; 2 one frame that keeps the last frame number instead of
    // the header's and is counted in the single-frame counter; 3 one frame header only (its frame
    // number becomes the last frame number), nothing stored. Nothing the thread uses is freed or
    // replaced while it runs: StopCapture, PrepareFrameBuffers, CaptureOneFrame and CloseCamera
    // end and join it first.
    //
    // Starts the capture thread in `mode`, stopping one that still runs. Prepares the frame
    // buffers when the window changed. 0 without a controller or without frame buffers, else 1.
    virtual int StartCapture(int32_t mode);
    // Ends capture: tells the head, clears the running flag, aborts a pending receive and joins
    // the thread (with `wait` non-zero after letting a frame in flight finish for 100 ms),
    // releases and drops the frame event, resets the camera's transfer if capture used it, and
    // clears the capture mode, the single-frame counter and the frame rate. Also runs when no
    // thread exists. 1.
    virtual int StopCapture(int32_t wait);
    // Copies the newest slot (slot 0 when `firstSlot` is non-zero) into `destination`, as the head
    // orders its raw frame: for the IMX252 every row reversed left to right, rows in stored order
    // for `rowOrder` 0 and last row first for 1; 1 or 2 bytes per pixel by the data width. Reports
    // the slot's frame number and header words A-D (B = frame number) through the pointers given
    // (each may be null). 0, copying nothing, when `size` [bytes] is below the frame size, without
    // destination or buffers, or when the window no longer matches the prepared buffers; else 1.
    virtual int GetFrame(uint8_t* destination, uint32_t size, int32_t* frameNumber, uint32_t* wordA,
                         uint32_t* wordB, uint32_t* wordC, uint32_t* wordD, int32_t firstSlot,
                         int32_t rowOrder);
    // Sets the capture mode; a different mode stops capture first (without waiting) and makes a
    // new frame event, and mode 2 moves the write index to the read mark. 0 without a controller.
    virtual int SetCaptureMode(int32_t mode);
    // Discards what the camera's stream holds: pipe reset of endpoint 0x81 (firmware above
    // 0x10FF) and stream reset. 0 without a controller, else 1.
    virtual int ResetTransfer();
    virtual int PrepareFrameBuffers();
    virtual int32_t GetMaxDevices();
    // Reads the FPGA's 8-bit frame counter (register 8) into the last frame number; 0 on failure.
    virtual int ReadFrameCounter();
    // One frame on the caller's thread into slot 0 (up to 11 tries within 10 s). 2 without a
    // controller or buffers; otherwise 0, with the error flag set when no frame came.
    virtual int CaptureOneFrame();
    // GetFrame of slot 0 with the frame size: -2 without destination, else 0.
    virtual int ReadFirstSlot(uint8_t* destination, int32_t rowOrder);
    // Limit for each chunk of frame data [ms]; 5000 unless long exposures need more.
    virtual int SetDataTimeout(uint32_t milliseconds);
    // 1 when capture ended on failures (at once, or when that failure ends the wait); otherwise
    // waits for the frame event at most `timeoutMs` [ms] (above INT32_MAX: no limit): 3 when a
    // frame came that has not been read, 2 on time-out, without a frame event, or when the newest
    // frame was read already.
    virtual int WaitFrame(uint32_t timeoutMs);
    // GetFrame of the newest slot with the frame size, then marks it read: 0, or -1 when nothing
    // was copied (the mark then stays).
    virtual int ReadNewestFrame(uint8_t* destination, int32_t rowOrder);
    // ReadNewestFrame with the frame number and header words A-D of the slot.
    virtual int ReadNewestFrameWithInfo(uint8_t* destination, int32_t* frameNumber, uint32_t* wordA,
                                        uint32_t* wordB, uint32_t* wordC, uint32_t* wordD,
                                        int32_t rowOrder);

    // Capture state, for tests and diagnostics.
    int32_t CaptureMode() const { return m_captureMode.load(); }
    int32_t WriteIndex() const { return m_writeIndex.load(); }
    int32_t ReadMark() const { return m_readMark.load(); }
    int32_t LastFrameNumber() const { return m_lastFrameNumber.load(); }
    int32_t ErrorFlag() const { return m_errorFlag.load(); }
    int32_t SingleFrameCount() const { return m_singleFrameCount.load(); }
    int32_t SlotFrameNumber(int32_t slot) const { return m_ringFrameNumber.at(slot).load(); }
    bool CaptureRunning() const { return m_running.load() != 0; }
    uint64_t FramesStored() const { return m_framesStored.load(); }
    float FrameRate() const { return m_frameRate.load(); }  // [frames/s]
    double DataRate() const { return m_dataRate.load(); }   // [Mbit/s]

    // --- Delivery mode and frame counts -------------------------------------------------------
    // Newest-frame delivery (the default) hands a reader the newest slot; the frames it never
    // took were overtaken. Every-frame delivery hands over the frames in camera order, oldest
    // first: the capture thread never overwrites a frame that has not been taken, and a frame
    // that arrives while all `ringSlots` slots wait is dropped and counted (ring full).
    //
    // Chooses the delivery and the ring's depth (kRingSlots..kMaxRingSlots) for the next capture
    // start; a new depth re-sizes the frame buffers there. 0, changing nothing, for a depth out
    // of range or while the capture thread runs; else 1.
    int SetFrameDelivery(bool everyFrame, int32_t ringSlots);
    bool DeliversEveryFrame() const { return m_everyFrame.load(); }
    int32_t RingSlots() const { return m_ringSlots; }
    // Takes the next frame as the delivery mode says (the newest, or the oldest not taken) and
    // copies it as GetFrame does into `destination` of `size` bytes, with its frame number
    // through `frameNumber` (may be null). 0 when copied; -1 when no
    // frame waits, or (newest-frame delivery) when it could not be copied; -2 when the oldest
    // frame of every-frame delivery could not be copied: it is then counted as failed and the
    // next call takes the one after it.
    int ReadFrame(uint8_t* destination, uint32_t size, int32_t rowOrder,
                  int32_t* frameNumber = nullptr);

    // What became of the frames of the current acquisition. Every frame whose header came is
    // received; it is then stored in the ring or failed (transfer, ring full, stopped); a stored
    // frame is taken by a reader, overtaken by a newer one, failed (not copied), stopped, or
    // still pending. Skipped frames are camera frame numbers that never came during continuous
    // capture (not received).
    struct FrameCounts {
        uint64_t received = 0;
        uint64_t taken = 0;
        uint64_t overtaken = 0;
        uint64_t failedTransfer = 0;
        uint64_t failedFrame = 0;
        uint64_t failedRingFull = 0;
        uint64_t failedStopped = 0;
        uint64_t pending = 0;
        uint64_t skipped = 0;
        int64_t newestFrameNumber = -1;  // header frame number of the newest frame received
    };
    // Safe on any thread at any time; the counts are read one after another.
    FrameCounts GetFrameCounts() const;
    // Starts the counts afresh. Only while no capture thread runs and nobody reads frames.
    void ResetFrameCounts();
    // Counts the frames stored but never taken as stopped. Only once the capture thread and every
    // reader have ended.
    void SettleFrameCounts();

    // --- Settings surface -----------------------------------------------------------------------
    // Most operations forward to the head's operation of the same name and return its result, 0
    // without a head. Queries answer the head's value through an out-parameter that starts at 0,
    // so they answer 0 without a head.
    //
    // The FPGA register operations take the low 8 bits of register and value and fail without a
    // controller and for heads read through the auxiliary endpoint; ReadFpgaRegister returns the
    // byte and sets `ok` (may be null) to 1, or returns 0 and sets it to 0.
    //
    // Programs the pixel data width, 8 bits (0) or 16 bits (non-zero), into the head and the
    // FPGA; a changed width re-sizes the frame buffers at once.
    virtual int SetDataWidth(int32_t sixteenBit);
    // Link speed mode of the head; mode 2 needs a SuperSpeed link and becomes 0 on slower ones.
    virtual int SetSpeedMode(int32_t mode);
    // Programs the capture window (sensor pixels) and sub-sampling (0 none, 1 2x2) unless it is
    // the current one, keeps what the head accepted and marks the frame geometry for
    // re-programming at the next capture start.
    virtual int SetCaptureWindow(int32_t x, int32_t y, int32_t width, int32_t height,
                                 int32_t subSample);
    // The current window: offsets, output size and sub-sampling; each pointer may be null.
    virtual int GetCaptureWindowValues(int32_t* x, int32_t* y, int32_t* width, int32_t* height,
                                       int32_t* subSample);
    virtual int SetMirrorH(int32_t on);
    virtual int SetMirrorV(int32_t on);
    virtual int32_t GetMirrorH();
    virtual int32_t GetMirrorV();
    virtual int GetMirrorVDefault();
    virtual int GetMirrorHDefault();
    virtual int IsMirrorVSupported();
    virtual int IsMirrorHSupported();
    // Trigger mode (1 external trigger, others free-run). Programming a mode stops capture
    // first; the current mode is programmed again only when `force` is non-zero.
    virtual int SetTriggerMode(int32_t mode, int32_t force);
    virtual int GetTriggerMode(int32_t* mode);
    virtual int WriteEepromByte(uint32_t address, uint8_t value);
    virtual int ReadEepromByte(uint32_t address, uint8_t* value);
    // The head's window limits and defaults (0 without a head).
    virtual uint32_t IsWidthAdjustable();
    virtual uint32_t IsHeightAdjustable();
    virtual uint32_t GetMaxWidth();
    virtual uint32_t GetMaxHeight();
    virtual uint32_t GetDefaultWidth();
    virtual uint32_t GetDefaultHeight();
    virtual uint32_t GetDefaultX();
    virtual uint32_t GetDefaultY();
    virtual int SetGain(int32_t value);
    virtual int32_t GetGain();
    virtual int32_t GetGainMin();
    virtual int32_t GetGainMax();
    virtual int32_t GetGainDefault();
    // Exposure [100 us]; the frame data wait grows with long exposures.
    virtual int SetExposureTime(int32_t value);
    virtual int32_t GetExposureTime();     // [100 us]
    virtual int32_t GetExposureTimeMin();  // [100 us]
    virtual int32_t GetExposureTimeMax();  // [100 us]
    virtual int32_t GetExposureTimeDefault();
    virtual int SetExposureLines(int32_t lines);  // [line periods]
    virtual int32_t GetExposureLines();
    virtual int32_t GetExposureLinesMin();
    virtual int32_t GetExposureLinesMax();
    virtual int32_t GetExposureLinesDefault();
    virtual int IsExposureTimeExSupported();
    virtual int SetExposureTimeEx(double seconds);
    // Seconds-based exposure values: the head's supported word, the value through `seconds`.
    virtual int GetExposureTimeEx(double* seconds);
    virtual int GetExposureTimeExMin(double* seconds);
    virtual int GetExposureTimeExMax(double* seconds);
    virtual int GetExposureTimeExDefault(double* seconds);
    virtual int SetColorGainRed(int32_t value);
    virtual int32_t GetColorGainRed();
    virtual int SetColorGainGreen1(int32_t value);
    virtual int32_t GetColorGainGreen1();
    virtual int SetColorGainGreen2(int32_t value);
    virtual int32_t GetColorGainGreen2();
    virtual int SetColorGainBlue(int32_t value);
    virtual int32_t GetColorGainBlue();
    virtual int32_t GetColorGainMin();
    virtual int32_t GetColorGainMax();
    virtual int32_t GetColorGainDefault();
    virtual int IsBlackLevelSupported();
    virtual int SetBlackLevel(int32_t value);
    virtual int32_t GetBlackLevel();
    virtual int32_t GetBlackLevelMin();
    virtual int32_t GetBlackLevelMax();
    virtual int32_t GetBlackLevelDefault();
    virtual int IsAuxValueSupported();
    virtual int SetAuxValue(int32_t value);
    virtual int GetAuxValue(int32_t* value);
    // Sensor registers, one bus transfer each; `sensor` selects the head (0, the only one).
    virtual int WriteRegisterRaw(int32_t sensor, uint32_t address, uint32_t value);
    virtual int ReadRegisterRaw(int32_t sensor, uint32_t address, uint32_t* value);
    virtual int WriteFpgaRegister(uint32_t reg, uint32_t value);
    virtual int32_t ReadFpgaRegister(uint32_t reg, int32_t* ok);
    // 16-bit registers of a sensor-bus device at a 7-bit bus address, sent high byte first,
    // once the FPGA reports the bus idle.
    virtual int WriteBusRegister16(uint8_t device, uint16_t reg, uint16_t value);
    virtual int ReadBusRegister16(uint8_t device, uint16_t reg, uint16_t* value);
    // Waits until the FPGA reports the sensor bus idle, at most `limitMs` [ms].
    virtual int WaitBusIdle(uint32_t limitMs);
    // Tells the head that the context has sent it all its settings.
    virtual void OnSettingsApplied();
    // Sampling rate of the head selected by `sensor` (0, the only one): `index` and the rate
    // go to the head as they are.
    virtual int SetSamplingRate(int32_t sensor, int32_t index, int32_t* rate);
    virtual int IsGainModeSupported();
    virtual int SetGainMode(int32_t mode);
    virtual int32_t GetGainMode();  // -1: none
    // The user identification byte in the camera's EEPROM.
    virtual int WriteSromId(uint8_t value);
    virtual int ReadSromId(uint8_t* value);
    virtual int IsInternalCorrectionSupported();
    virtual int GetInternalCorrection(int32_t* value);
    virtual int SetInternalCorrection(int32_t value);
    virtual int IsCoolerSupported();
    virtual int GetCooler(int32_t* value);
    virtual int SetCooler(int32_t value);
    virtual int IsTemperatureSupported();
    virtual int GetTemperature(double* celsius);
    // The FPGA's die temperature [degrees Celsius], on line-sensor heads only.
    virtual int GetFpgaTemperature(double* celsius);
    virtual int IsShortExposureModeSupported();
    virtual int GetShortExposureMode(int32_t* value);
    virtual int SetShortExposureMode(int32_t on);
    // Output formats the head can deliver: 8 and 32 bits, 16 bits, colour (1 without a head).
    virtual int SupportsOutput8();
    virtual int SupportsOutput16();
    virtual int SupportsOutputColor();

    // Test and diagnostic access; the head also for a settings burst around a series of
    // settings (CSensorBase::SettingsBurst). Null when absent.
    CVolCy3Cam* Controller() const { return m_controller.get(); }
    CSensorBase* Sensor() const { return m_sensor.get(); }
    const std::array<uint8_t, kDeviceInfoSize>& DeviceInfo() const { return m_deviceInfo; }
    uint32_t RawBufferCapacity() const { return static_cast<uint32_t>(m_rawBuffer.size()); }
    uint32_t FrameSize() const { return m_frameSize; }
    bool GeometryPending() const { return m_geometryPending != 0; }
    uint32_t DataTimeoutMs() const { return m_dataTimeoutMs; }

protected:
    // The engine's printf-style trace lines; silent unless the SDK's log is on.
    static void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

    std::unique_ptr<CVolCy3Cam> m_controller;
    std::array<uint8_t, kDeviceInfoSize> m_deviceInfo{};
    std::vector<uint8_t> m_rawBuffer;  // destination of frame transfers
    std::atomic<int32_t> m_captureMode{0};
    int32_t m_cameraId = kNoCameraId;
    // Read by the capture thread and by frame readers while the application sets them.
    std::atomic<int32_t> m_dataWidth{0};  // : 8-bit pixel data, 1: 16-bit
    std::atomic<int32_t> m_triggerMode{-1};
    std::array<std::vector<uint8_t>, kMaxRingSlots> m_ring;
    std::array<std::atomic<int32_t>, kMaxRingSlots> m_ringFrameNumber{};  // -1: empty
    std::array<std::array<std::atomic<uint32_t>, 4>, kMaxRingSlots> m_ringHeaderWords{};  // A-D
    // The value of m_framesStored before each slot's frame was stored: its place in the stream
    // (kNoSequence while the slot holds no frame).
    static constexpr uint64_t kNoSequence = UINT64_MAX;
    std::array<std::atomic<uint64_t>, kMaxRingSlots> m_ringSequence{};
    int32_t m_ringSlots = kRingSlots;
    std::atomic<int32_t> m_writeIndex{0};  // the next slot to fill
    uint32_t m_frameSize = 0;
    std::atomic<int32_t> m_errorFlag{0};  // capture ended on failures
    int32_t m_deviceIndex = 0;
    std::atomic<uint32_t> m_dataTimeoutMs{kDefaultDataTimeoutMs};
    std::atomic<int32_t> m_geometryPending{1};
    std::unique_ptr<CSensorBase> m_sensor;

    // --- Capture thread and ring (quorix_u3r5_capture.cpp) -----------------------------------
    // The ring's words are atomics: the thread writes a slot's pixels and words, then publishes
    // the slot by storing the write index, then signals the frame event.
    std::atomic<int32_t> m_readMark{0};  // write index when a frame was last read
    // The slot a newest-frame reader is copying, -1 when none: the capture thread fills the slot
    // after it instead, so a reader slower than the ring's turn never copies a frame being
    // overwritten.
    std::atomic<int32_t> m_readingSlot{-1};
    std::atomic<int32_t> m_lastFrameNumber{0};  // header frame number or FPGA counter
    std::atomic<int32_t> m_singleFrameCount{0};
    std::atomic<int32_t> m_running{0};  // while the thread should run
    // Frames stored since construction, and that count when the newest frame was last read:
    // unlike the ring's indices they tell a new frame from one four frames later.
    std::atomic<uint64_t> m_framesStored{0};
    std::atomic<uint64_t> m_framesRead{0};
    // Every-frame delivery, and where its frames are: the frame of sequence q lies in slot
    // (m_slotBase + q - m_sequenceBase) mod m_ringSlots. Set at each capture start.
    std::atomic<bool> m_everyFrame{false};
    int32_t m_slotBase = 0;
    uint64_t m_sequenceBase = 0;
    // The sequence of the first stored frame no reader has taken or passed over. A reader stores
    // it (release) once it is done with a frame; in every-frame delivery the capture thread loads
    // it (acquire) before it reuses a slot.
    std::atomic<uint64_t> m_nextToTake{0};
    // The frame counts of GetFrameCounts; the capture thread counts the receiving side, readers
    // the taking side.
    std::atomic<uint64_t> m_countReceived{0};
    std::atomic<uint64_t> m_countTaken{0};
    std::atomic<uint64_t> m_countOvertaken{0};
    std::atomic<uint64_t> m_countFailedTransfer{0};
    std::atomic<uint64_t> m_countFailedFrame{0};
    std::atomic<uint64_t> m_countFailedRingFull{0};
    std::atomic<uint64_t> m_countFailedStopped{0};
    std::atomic<uint64_t> m_countSkipped{0};
    std::atomic<int64_t> m_newestFrameNumber{-1};
    int64_t m_previousHeaderNumber = -1;  // capture thread: the last header of this capture
    // Set when a stop begins: frames the camera makes after that were not asked for because the
    // application is stopping, which is no loss.
    std::atomic<bool> m_stopping{false};
    // The stream carried frames since it was last reset (application threads only).
    bool m_streamUsed = false;
    CaptureRateMeter m_frameRateMeter;     // this engine's frames only
    std::atomic<float> m_frameRate{0.0f};  // [frames/s]
    std::atomic<double> m_dataRate{0.0};   // [Mbit/s]
    mutable std::mutex m_frameEventLock;   // guards the pointer, not the event
    // Auto-reset; null until a capture is prepared and after a stop. Held by shared pointer so
    // that a waiter keeps it alive while a stop drops it.
    std::shared_ptr<platform::Event> m_frameEvent;
    // Set by the capture thread when it is done with the stream and the buffers; this engine's
    // own, so no other engine's thread can end this engine's stop.
    platform::Event m_threadEnd{true, true};
    std::mutex m_threadLock;  // around starting and joining the thread
    std::thread m_captureThread;

    // Ends the capture thread if one exists and joins it: clears the running flag, then (after
    // 100 ms when `wait` is non-zero) aborts the pending receive until the thread has ended.
    // Afterwards no thread touches the buffers, the ring or the stream. True when it stopped a
    // running capture (the camera's stream may then hold part of a frame: ResetTransfer).
    bool JoinCaptureThread(int32_t wait = 1);
    // Makes the frame event unless there is one.
    void CreateFrameEvent();

private:
    void ClearRing();
    void EmptySlot(int32_t slot);

    // Capture internals (quorix_u3r5_capture.cpp).
    enum class FrameOutcome { kStored, kHeaderOnly, kFailed, kDropped };
    struct FrameInfo {
        int32_t frameNumber = -1;
        std::array<uint32_t, 4> words{};  // A, B (frame number), C, D
    };
    // The thread calls no virtual operation of the engine, so that it never races the engine's
    // destruction over which class's operations apply.
    void CaptureThreadMain();
    // The body of the capture thread (running at real-time priority where the system allows):
    // frames until stopped, the mode's end, or five consecutive failed frames (error flag set,
    // frame event signalled). In trigger mode 1 it asks for a frame only once the FPGA's frame
    // counter has moved, polling it every millisecond.
    void RunCaptureLoop();
    void RunCapture();
    int ResetCameraTransfer();
    void FinishCapture();
    bool TriggerArrived();
    FrameOutcome ReceiveFrame(FrameRecord* record, uint32_t timeoutMs);
    bool BuffersReady() const;
    int32_t NewestSlot(int32_t writeIndex) const;
    std::shared_ptr<platform::Event> FrameEvent() const;
    void SignalFrameEvent();
    bool CopySlot(int32_t slot, uint8_t* destination, int32_t rowOrder, FrameInfo* info) const;
    bool ReadNewest(uint8_t* destination, uint32_t size, int32_t rowOrder, FrameInfo* info);
    int ReadOldest(uint8_t* destination, uint32_t size, int32_t rowOrder, FrameInfo* info);
    // Counts a taken frame of sequence `sequence` and passes over the ones before it.
    void TakeSequence(uint64_t sequence, bool copied);
    // Counts a received frame whose data did not arrive: lost to a stop, or a transfer failure.
    void CountLostTransfer();
    void CountReceived(uint32_t headerNumber, bool continuous);
    static void ReportFrameInfo(const FrameInfo& info, int32_t* frameNumber, uint32_t* wordA,
                                uint32_t* wordB, uint32_t* wordC, uint32_t* wordD);
};

// The engine the camera context creates; it differs from its base only in its destructor.
class CQuorixUSB3R5SimpleSdk : public CQuorixU3R5Base {
public:
    CQuorixUSB3R5SimpleSdk() = default;
    ~CQuorixUSB3R5SimpleSdk() override;
};

}  // namespace quorix
