#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "camera/camera_model.h"
#include "context/config_record.h"
#include "context/error_code.h"
#include "engine/quorix_u3r5_base.h"
#include "imaging/image_adjuster.h"
#include "imaging/image_buffer.h"
#include "output/avi_recorder.h"
#include "output/preview_window.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "platform/message_window.h"
#include "platform/settings_tree.h"

namespace quorix {

// The camera context behind one handle. It owns the capture engine (and through it at most one
// open camera), keeps every value the application set, runs acquisition and records the error
// codes of failed calls. The handle registry owns the context; exports reach it by handle.
// The context's eighteen images, in slot order: the raw and output images of the six colour
// types, the sharpness scratch copy, the preview back buffer, and the full-sensor planes and maps
// of the flat-field and defect corrections.
enum ImageSlot : size_t {
    kRaw8,
    kRaw16,
    kRgb24,
    kRgb32,
    kRgb48,
    kRgb64,
    kScratch,
    kPreviewBuffer,
    kDarkPlane8,
    kWhitePlane8,
    kDarkPlane16,
    kWhitePlane16,
    kHotMap8,
    kDeadMap8,
    kHotMap16,
    kDeadMap16,
    kDotMap8,
    kDotMap16,
    kImageSlotCount
};

// The image-adjustment values of value IDs 1-12 and 19-28.
struct ImageValues {
    int32_t brightness = 0;               // 1
    int32_t contrast = 0;                 // 2
    int32_t hue = 0;                      // 3
    int32_t saturation = 0;               // 4
    int32_t sharpness = 0;                // 5
    int32_t bayerGainRed = 0;             // 7 [%]
    int32_t bayerGainGreen = 0;           // 8 [%]
    int32_t bayerGainBlue = 0;            // 9 [%]
    int32_t bayerGainAuto = 0;            // 10
    // Set with the automatic Bayer gains for one measurement only: the frame that measures them
    // switches both off (the image dialog's "Once").
    int32_t bayerGainAutoOnce = 0;
    int32_t gamma = 0;                    // 11 [1/100]
    int32_t bayerMode = 0;                // 12
    int32_t grayMode = 0;                 // 19
    std::array<int32_t, 4> grayGain{};    // 20-23: R, G1, G2, B; 128 = 1.0
    std::array<int32_t, 4> grayOffset{};  // 24-27
    int32_t grayGainAutoOnce = 0;         // 28; 1 the next frame, -1 every frame
    std::array<int32_t, 9> reserved{};    // kept with the filter values, not reachable by ID
};

// The analog values the context sends to the camera whenever one opens or acquisition starts.
struct CameraValues {
    int32_t globalGain = 0;
    int32_t colorGainGreen1 = 0;
    int32_t colorGainRed = 0;
    int32_t colorGainBlue = 0;
    int32_t colorGainGreen2 = 0;
    int32_t exposure = 0;  // [100 us]
    int32_t mirrorV = 0;
    int32_t mirrorH = 0;
    int32_t autoIris = 0;    // 0 off, 1 exposure, 2 gain
    int32_t blackLevel = 0;  // value ID 106
    int32_t coolerOn = 0;
    int32_t shortExposure = 0;  // value ID 105
    int32_t gainMode = 0;       // value ID 104
    double exposureSeconds = 0.0;
};

// The preview's frame rate: frames counted over windows of just over a second, in frames per
// second x 10. Ticks are the platform clock's milliseconds, compared by unsigned difference so
// that the 2^32 wrap does not disturb them.
class FrameRateMeter {
public:
    explicit FrameRateMeter(uint32_t now = 0) : m_timeBase(now) {}
    // Counts one frame at `now` and returns the rate, renewed once more than a second passed.
    uint32_t Count(uint32_t now);
    uint32_t Rate() const { return m_rate; }

private:
    static constexpr uint32_t kWindowMs = 1000;
    uint32_t m_count = 0;
    uint32_t m_timeBase;
    uint32_t m_rate = 0;
};

class CQuorix {
public:
    // Makes the engine when the context initialises; may return null when this build has no
    // engine, in which case every camera operation answers with code 1.
    using EngineFactory = std::function<std::unique_ptr<CQuorixU3R5Base>()>;

    static constexpr int32_t kCameraId = camera::kCameraId;
    static constexpr int32_t kSensorWidth = camera::kSensorWidth;    // [pixels]
    static constexpr int32_t kSensorHeight = camera::kSensorHeight;  // [pixels]
    // Bits per pixel of the colour types 0-5.
    static constexpr std::array<int32_t, 6> kBitsPerColourType = {8, 16, 24, 32, 48, 64};
    static constexpr uint32_t kMsgFrame = QUORIX_MSG_FRAME;
    static constexpr uint32_t kMsgError = QUORIX_MSG_ERROR;
    static constexpr uint32_t kMsgPreviewClosed = QUORIX_MSG_PREVIEW_CLOSED;
    static constexpr size_t kErrorHistoryDepth = 20;
    static constexpr int kEnumEntries = 10;             // names written by EnumDevice
    static constexpr int kDeviceNameBytes = 256;        // bytes (or UTF-16 units) per name entry
    static constexpr int32_t kMinDeviceNameBytes = 24;  // "Quorix252DIV-USB3-R5_01" + terminator
    static constexpr int32_t kMinSerialBytes = 32;
    static constexpr uint32_t kSerialNumberAddress = 0x1040;
    static constexpr uint32_t kSerialNumberPauseMs = 10;
    // Longest preview pause Quorix_SetWaitTime accepts [ms].
    static constexpr int32_t kMaxWaitTimeMs = 60'000;
    // Highest auto-iris mode: 0 off, 1 exposure, 2 gain.
    static constexpr int32_t kMaxAutoIrisMode = 2;

    // The settings store's product key, and the key of a camera number under it ("Camera_%02d";
    // -1 before any camera is open).
    static constexpr const char* kSettingsProductKey = "Software\\Voltis\\Quorix252DIV3R5Sdk";
    static std::string SettingsCameraKey(int32_t number);

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

    // The answer of a camera operation this context cannot carry out: code 1 ("no camera
    // engine, or not allowed now") and the operation's failure result.
    template <typename T>
    T NotAvailable(T failure) {
        SetError(kErrNoEngine);
        return failure;
    }

    // Acquisition: snapshots into the caller's buffer, the prepared capture state, the preview
    // with its worker thread, and the capture window and colour mode that shape every image.
    int SnapShot(void* buffer, uint32_t size, int32_t orientation);
    int GetImage(void* buffer, uint32_t size, int32_t orientation);
    // GetImage, and which frame it copied (read under the same frame lock as the copy).
    int GetImageEx(void* buffer, uint32_t size, int32_t orientation, QuorixImageInfo* info);
    int Capture();
    int StartPreview();
    int StopPreview();
    int Preview();
    int CallBackPreview(platform::WindowHandle window, void* buffer, uint32_t size,
                        int32_t orientation);
    int SetPreviewWindow(platform::WindowHandle parent, int32_t left, int32_t top, int32_t width,
                         int32_t height);
    int SetCaptureWindowEx(int32_t totalWidth, int32_t hStart, int32_t width, int32_t totalHeight,
                           int32_t vStart, int32_t height);
    // Selects the first product-wide size preset of the settings store that is `width` x
    // `height`: 1, or 0 with code 4 when there is none.
    int SetCaptureWindowBySize(int32_t width, int32_t height);
    int SetColorMode(int32_t bitsPerPixel);
    // How the preview delivers frames (QUORIX_DELIVERY_*) and the depth of the every-frame ring;
    // both wait for the next preview start and are refused while acquisition runs.
    int SetDeliveryMode(int32_t mode);
    int SetFrameRingDepth(int32_t depth);
    // The frame statistics of the current or last acquisition (the record's size is checked by
    // the caller); safe on any thread.
    void GetFrameStatistics(QuorixFrameStatistics* statistics) const;

    // Image files and AVI recording of the processed frames.
    int SaveImage(const char* fileName, int32_t format);
    int Record(const char* fileName, uint32_t durationMs, int32_t showWindow);
    AviRecorder::Status GetRecordStatus() const { return m_recorder.GetStatus(); }

    // Sizes the image slots for the colour type and window and sends the camera its settings:
    // 1, or 0 with the code recorded. Runs before every acquisition from the idle state, and
    // again when the window, sub-sampling or colour type changes while acquisition runs.
    int PrepareBuffers();
    // Turns the raw frame in the colour type's raw slot into the output image. The caller holds
    // the frame lock. `finished`, when given, may be called for each output row as soon as it
    // holds its final bytes (on the processors' threads); true when it was, for every row.
    bool ProcessFrame(const std::function<void(int32_t row)>* finished = nullptr);

    // Draws the processed frame into the preview window, if there is one; the worker calls it with
    // the frame lock held after each frame.
    void DrawPreview();
    // The frames the preview window was offered and drew (0 while there is no window).
    PreviewWindow::Counts PreviewWindowCounts();

    int32_t AcquisitionState() const { return m_acquisitionState.load(); }
    platform::CriticalSection& FrameLock() { return m_frameLock; }

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
    int SetAutoIris(int32_t mode);
    int32_t GetAutoIris(int32_t* ok) const;
    uint32_t GetRealExposureTime(int32_t* ok);

    // Filter values by value ID (QUORIX_VALUE_*): image adjustments the context keeps, and camera
    // values it stores and sends to the camera. A getter sets `ok` (may be null) to 1, or to 0
    // when it could not answer; a setter outside its range records code 9 and changes nothing.
    int32_t GetFilterValue(int32_t valueId, int32_t* ok);
    int SetFilterValue(int32_t valueId, int32_t value);

    // Exposure, mirroring and the camera's controls.
    int SetExposureTimeEx(double seconds);
    double GetExposureTimeEx(int32_t* ok);
    int SetRealExposureTime(uint32_t microseconds);
    int SetMirrorH(int32_t on);
    int SetMirrorV(int32_t on);
    int32_t GetMirrorH();
    int32_t GetMirrorV();
    double GetTemperatureEx(int32_t* ok);
    int SetInternalCorrection(int32_t value);
    int32_t GetInternalCorrection(int32_t* ok);
    int SetSamplingRate(int32_t rate);
    int SetIOPort(uint32_t value);
    int GetIOPort(uint8_t* value);

    // Sensor registers (one bus transfer each) and bytes of the camera's EEPROM.
    uint32_t ReadRegister(uint32_t address, int32_t* ok);
    int WriteRegister(uint32_t address, uint32_t value);
    uint32_t ReadSromId(uint32_t address, int32_t* ok);
    int WriteSromId(uint32_t address, uint32_t value);

    // Makes the flat-field planes and defect maps (ten full-sensor images, 45 MiB) unless they
    // exist: white planes full scale, everything else 0. A context takes that memory only once
    // a correction needs it, so the correction code calls this before its first use. False, with
    // code 5 and no plane kept, when the memory cannot be had.
    bool EnsureMaskPlanes();

    // The flat-field planes from the application's side. UpdateMaskData records the current raw
    // frame, if it is a full-sensor frame, as the dark (which = 0) or white (1) plane of its
    // depth and derives that plane's defect map. SaveMaskFile and LoadMaskFile store the four
    // planes in, and take them from, a mask file; a load changes nothing unless the whole file
    // is a mask file of this sensor. 1, or 0 with the code recorded.
    int UpdateMaskData(int32_t which);
    int SaveMaskFile(const char* fileName);
    int LoadMaskFile(const char* fileName);

    // The settings dialogs work on the context's values in place while they are open, so the
    // running preview shows every change at once. Each change runs under the values lock, the
    // lock the preview's worker reads them under; `change` must not call back into the context.
    void UpdateCameraValues(const std::function<void(CameraValues&)>& change);
    void UpdateImageValues(const std::function<void(ImageValues&)>& change);
    // Counts the changes the frame routine makes to those values itself: the automatic exposure
    // or gain, the automatic Bayer gains and the measured gray gains. Frames are processed on the
    // preview's worker thread while a dialog runs on its caller's; the dialog compares this
    // count with the one it last showed and shows the values again on its own thread.
    const std::atomic<uint32_t>& FrameValueChanges() const { return m_frameValueChanges; }
    // Takes the capture window and the format settings from the store again, after the format
    // dialog saved new ones.
    void ReloadFormatSettings();

    CQuorixU3R5Base* Engine() const { return m_engine.get(); }
    CImageBuffer* Image(ImageSlot slot) const { return m_images[slot].get(); }
    const CameraValues& Camera() const { return m_camera; }
    const ImageValues& Images() const { return m_image; }
    platform::WindowHandle NotifyWindow() const { return m_notifyWindow; }
    int32_t DeviceNumber() const { return m_deviceNumber; }

private:
    // Formats the name of the camera with this 1-based number into a buffer of kMinDeviceNameBytes
    // or more.
    static void FormatDeviceName(int32_t number, char* buffer, size_t size);

    // The settings store (quorix_store.cpp). Every camera has a key of its number, under which the
    // context keeps its format settings and size presets, its analog values ("Gain") and its
    // image and gray filters ("Filter", "Gray").
    //
    // Colour type, sub-sampling, wait time and clock of the current device number's key: 1, or 0
    // with nothing changed when there is no such key. The colour type is corrected to one the
    // camera can deliver.
    int LoadSettings();
    // The first use of the store writes its defaults (product key, the camera key of the current
    // device number with the default size preset and format settings) and answers 0; otherwise
    // the capture window and buffer count come from the size preset the camera key selects: 1,
    // or 0 with the window unchanged when the key, its "Size" or the preset is missing.
    int LoadSizeSettings();
    // Loads the analog, image-filter and gray-filter values stored for a camera number. A missing
    // group gets the defaults: the engine's for the analog values, neutral ones for the filters.
    // A value of the wrong size is not read; one outside what its setter accepts is taken as the
    // nearer end of that range (a file edited by hand, or written when a range was wider).
    void LoadAnalogValues(const platform::SettingsTree& tree, int32_t cameraNumber);
    void LoadFilterValues(const platform::SettingsTree& tree, int32_t cameraNumber);
    void LoadGrayValues(const platform::SettingsTree& tree, int32_t cameraNumber);
    // The stored filter (or gray) values of a camera, or their defaults when its key is missing
    // (then false). The caller holds m_valuesLock.
    bool LoadImageValueGroup(const platform::SettingsTree& tree, int32_t cameraNumber,
                             bool filter);
    // Writes the analog, image-filter and gray-filter values under a camera number, in one
    // change of the store, when a camera is open: without one the values are no camera's.
    // False when the store could not be written (the store has said why on stderr).
    bool SaveCameraValues(int32_t cameraNumber);
    // The value moved into the range its value ID's setter accepts, to the nearer end (as it is
    // for IDs without one).
    static int32_t ClampToStoredRange(int32_t valueId, int32_t value);
    // Sends the analog values to a newly opened camera, in the order the camera expects them.
    void ApplyCameraValues();
    // The global gain, the four colour gains and the exposure, in that order. False when the
    // gain or the exposure did not reach the camera (colour gains are not counted: heads without
    // them answer 0).
    bool SendGainsAndExposure();

    // The stored image value of a value ID that the context keeps by itself, or null.
    int32_t* StoredImageValue(int32_t valueId);
    // The camera values of IDs 13-18: range from the engine, stored, then sent.
    int SetCameraValue(int32_t valueId, int32_t value);
    // Stores an exposure [100 us] that passed the engine's range and sends it to the camera.
    void ApplyExposure(int32_t exposure);
    int32_t GetOptionalCameraValue(int32_t valueId, int32_t* ok);
    int SetOptionalCameraValue(int32_t valueId, int32_t value);

    // The window check every acquisition and window change runs: sizes and starts not negative,
    // the window inside the sensor, a sub-sampling mode this camera can deliver, starts and
    // sizes on the head's steps for that mode, and a picture of at least one pixel.
    bool CheckCaptureWindow() const;
    // PrepareBuffers without recording: kErrNone, or the code of what failed.
    uint32_t PrepareAcquisition();
    // Output size of the current window after sub-sampling [pixels].
    int32_t OutputWidth() const;
    int32_t OutputHeight() const;
    ImageSlot RawSlot() const;
    ImageSlot OutputSlot() const;
    // Creates the slots the colour type needs at the output size; false on failure.
    bool CreateSlots(int32_t width, int32_t height);
    // Sends the stored camera values again before acquisition, in the order the head expects.
    // False when one of the head's settings did not reach the camera.
    bool ResendCameraValues();
    // The automatic exposure (mode 1) or gain (mode 2) from one raw frame: the camera gets the
    // new value when the frame's regions ask for a change, and the context keeps it.
    void AutoIris(const CImageBuffer& raw, int32_t mode);
    // Reads the next frame (the newest, or in every-frame delivery the oldest waiting) into the
    // raw slot and moves its rows to their stride positions. kNone when every-frame delivery has
    // no frame waiting; kWrongSize, with the slot untouched, when the camera's frame is not
    // exactly the slot's picture.
    enum class RawRead { kFrame, kNone, kWrongSize };
    RawRead ReadRawFrame();
    // Copies an output slot into the caller's buffer, bottom row first for orientation 0.
    int CopyToCaller(ImageSlot slot, int32_t orientation, void* buffer, uint32_t size);
    // Processes the frame for the preview's caller buffer: each output row is copied into it as
    // soon as it is done, while it is still in the cache. 1 when the buffer holds the frame, 0
    // when it is too small (as CopyToCaller reports it); without a buffer the frame is processed
    // and 1 returned.
    int ProcessFrameToCaller(void* buffer, uint32_t size, int32_t orientation);
    // Sets the engine's delivery for an acquisition (every-frame only for the preview) and starts
    // the frame statistics afresh. The capture thread must not run.
    void BeginFrameStatistics(bool preview);
    // Posts the frame notification to the callback window, when one is set.
    void PostFrameNotification(uintptr_t frameInfo, intptr_t code);
    // True when the preview placement asks for a window: a parent or any non-zero number.
    bool PlacementWantsWindow() const;
    // Makes the preview window for the placement, or keeps the one an earlier start left when it
    // still serves: kErrNone, or code 4 when no window can be made (no display, a parent that is
    // no X11 window).
    uint32_t OpenPreviewWindow();
    // Destroys the preview window, if any. Not on the window's drawing thread.
    void DestroyPreviewWindow();
    // A person closed the preview window: the preview stops as StopPreview stops it, and the
    // application hears of it (on the window's drawing thread).
    void OnPreviewWindowClosed();
    // Body of the preview's worker thread.
    void PreviewLoop();
    // Starts the worker thread; false, with the run flag cleared, when no thread can be made.
    bool StartWorker();
    // Ends the worker and the camera's transfer and joins the worker; the state stays.
    void StopWorker();
    // The following run under the acquisition lock. StopAcquisition returns to the idle state,
    // ending the worker and the transfer. EndAcquisition does so for acquisition that cannot go
    // on: a preview's callback window gets a frame notification carrying `code`, which is also
    // recorded when `record` is set.
    void StopAcquisition();
    void EndAcquisition(uint32_t code, bool record);
    // Brings a changed window, sub-sampling or colour type to running acquisition between two
    // frames: the worker ends, the slots and the camera are prepared again, and a preview's
    // transfer and worker start afresh. 1, or 0 with the code recorded once acquisition ended.
    int ApplyToRunningAcquisition();

    // The frame routine's corrections of the raw frame, each when switched on: the flat field,
    // then the dot filter, under the mask lock. Nothing is touched when both are off.
    void CorrectRawFrame(CImageBuffer& raw);

    // Converts `text` into the caller's UTF-16 buffer of `units` code units; code 12 when it does
    // not convert or does not fit with its terminator.
    int CopyAsWide(const char* text, char16_t* buffer, int32_t units);

    EngineFactory m_engineFactory;
    std::unique_ptr<CQuorixU3R5Base> m_engine;

    // Capture window: sizes and start on the sensor, and the engine's buffer count.
    uint32_t m_totalWidth = kSensorWidth;
    uint32_t m_totalHeight = kSensorHeight;
    uint32_t m_captureWidth = kSensorWidth;
    uint32_t m_captureHeight = kSensorHeight;
    uint32_t m_hStart = 0;
    uint32_t m_vStart = 0;
    uint32_t m_bufferCount = 4;

    std::array<std::unique_ptr<CImageBuffer>, kImageSlotCount> m_images;
    // The preview worker reads the image values and the mirror flags for every frame while the
    // application may set them: they change and are read under m_valuesLock.
    mutable std::mutex m_valuesLock;
    std::atomic<uint32_t> m_frameValueChanges{0};
    ImageValues m_image;
    CameraValues m_camera;
    int32_t m_realExposureStep = 1;   // last real exposure [us] / 100
    uint32_t m_lastRealExposure = 0;  // [us]
    int32_t m_maskFilter = 0;         // value ID 103
    int32_t m_dotFilter = 0;          // value ID 102

    int32_t m_deviceSelected = 0;
    std::atomic<int32_t> m_acquisitionState{0};  // 0 idle, 1 preview, 2 capture
    int32_t m_colourType = 0;                    // 0-5: 8, 16, 24, 32, 48, 64 bits per pixel
    int32_t m_preparedType = 0;       // the colour type the image slots were last prepared for
    int32_t m_preparedSubSample = 0;  // and the sub-sampling the camera was programmed with
    // The window's start on the sensor [pixels, x then y], and whether it spans the sensor's
    // width or height, as the frames in the raw slot were taken: the corrections read the
    // full-sensor planes there, however the application changes the window meanwhile.
    std::array<int32_t, 2> m_preparedOrigin{};
    bool m_preparedWholeSpan = true;
    int32_t m_subSample = 0;
    int32_t m_clock = 0;                  // kept with the format settings, not used by the context
    std::atomic<int32_t> m_waitTime{10};  // [ms] between preview iterations
    std::atomic<int32_t> m_frameAvailable{0};
    uint32_t m_snapshotTimeout = 3000;  // [ms]

    // Where a preview window goes: parent (0 for a top-level window) and client rectangle.
    platform::WindowHandle m_previewParent = 0;
    int32_t m_previewLeft = 0;
    int32_t m_previewTop = 0;
    int32_t m_previewWidth = kSensorWidth;
    int32_t m_previewHeight = kSensorHeight;

    // The preview window; the pointer changes under the frame lock, which the worker holds while
    // it draws.
    std::unique_ptr<PreviewWindow> m_previewWindow;
    // Keeps one thread at a time in making and destroying the window.
    std::mutex m_windowLock;

    // Where the preview delivers its frames; set by CallBackPreview, cleared by Preview.
    std::atomic<platform::WindowHandle> m_callbackWindow{0};
    void* m_callbackBuffer = nullptr;
    uint32_t m_callbackSize = 0;
    int32_t m_callbackOrientation = 0;
    QuorixFrameInfo m_frameInfo{};
    FrameRateMeter m_frameRate;

    // Frame delivery of the preview, and the counts of what the context did with the frames the
    // engine handed it (the engine counts the rest).
    int32_t m_deliveryMode = QUORIX_DELIVERY_NEWEST;
    int32_t m_ringDepth = QUORIX_FRAME_RING_DEPTH_DEFAULT;
    std::atomic<uint64_t> m_framesDelivered{0};
    std::atomic<uint64_t> m_framesFailedBuffer{0};
    std::atomic<uint64_t> m_framesStoppedInWorker{0};
    // The frame the raw slot (and, once processed, the output slot) holds: its place among the
    // frames taken since the statistics began, the camera's number and when it was taken.
    // Under the frame lock.
    struct TakenFrame {
        uint64_t index = 0;
        int64_t number = -1;
        uint64_t timeUs = 0;
    };
    TakenFrame m_takenFrame;
    uint64_t m_framesTaken = 0;

    // The preview's worker thread; its run flag is polled by the worker. The acquisition lock
    // keeps one application thread at a time in the calls that start and stop acquisition and
    // program the engine for it, which is not made for two at once.
    std::mutex m_acquisitionLock;
    std::atomic<int32_t> m_workerRun{0};
    platform::Event m_workerWake{true, false};  // set to end the worker's pause at once
    std::thread m_worker;

    platform::WindowHandle m_notifyWindow = 0;
    // Application threads and the context's own threads record codes at the same time; the lock
    // keeps each push and pop whole.
    std::mutex m_errorLock;
    std::array<uint32_t, kErrorHistoryDepth> m_errorHistory{};
    int32_t m_deviceNumber = -1;

    std::vector<ConfigRecord> m_configRecords;

    platform::CriticalSection m_frameLock;
    // The output image's adjustments and their tables; used under the frame lock.
    CImageAdjuster m_adjuster;
    platform::CriticalSection m_maskLock;
    // The AVI recording fed by the preview's worker; declared after what its end handler uses.
    AviRecorder m_recorder;
    bool m_maskPlanesReady = false;  // under the mask lock
};

}  // namespace quorix
