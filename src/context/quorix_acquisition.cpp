// Acquisition calls of the camera context: the capture window and colour mode, buffer
// preparation, snapshots, the capture state and the preview's worker thread.

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "context/quorix.h"
#include "imaging/raw_frame.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/random.h"
#include "sensors/sensor_base.h"
#include "sensors/sensor_imx252.h"

namespace quorix {

namespace {

constexpr uint32_t kPreviewFrameWaitMs = 3000;

// Results of the engine's WaitFrame.
constexpr int kWaitStopped = 1;
constexpr int kWaitNewFrame = 3;

// Divisor of the output size for a sub-sampling code: 2, 4 or 8 for the binning modes of other
// heads (1/17, 2/18, 3/19), 1 for everything else.
int32_t SubSampleDivisor(int32_t subSample) {
    switch (subSample) {
        case 1:
        case 17:
            return 2;
        case 2:
        case 18:
            return 4;
        case 3:
        case 19:
            return 8;
        default:
            return 1;
    }
}

bool IsRawSixteenBit(int32_t colourType) {
    return colourType == 1 || colourType == 4 || colourType == 5;
}

}  // namespace

// --- Frame rate ----------------------------------------------------------------------------

uint32_t FrameRateMeter::Count(uint32_t now) {
    ++m_count;
    const uint32_t elapsed = now - m_timeBase;
    if (elapsed > kWindowMs) {
        m_rate = static_cast<uint32_t>((static_cast<uint64_t>(m_count) * 10000U) / elapsed);
        m_count = 0;
        m_timeBase = now;
    }
    return m_rate;
}

// --- Geometry ------------------------------------------------------------------------------

bool CQuorix::CheckCaptureWindow() const {
    const auto width = static_cast<int32_t>(m_captureWidth);
    const auto height = static_cast<int32_t>(m_captureHeight);
    const auto hStart = static_cast<int32_t>(m_hStart);
    const auto vStart = static_cast<int32_t>(m_vStart);
    if (width < 0 || height < 0 || hStart < 0 || vStart < 0) {
        return false;
    }
    if (width > kSensorWidth || height > kSensorHeight || hStart > kSensorWidth ||
        vStart > kSensorHeight || hStart + width > kSensorWidth ||
        vStart + height > kSensorHeight) {
        return false;
    }
    // 4x4 and 8x8 binning belong to other heads; this camera only sub-samples 2x2.
    switch (m_subSample) {
        case 2:
        case 3:
        case 17:
        case 18:
        case 19:
            return false;
        default:
            break;
    }
    if (OutputWidth() <= 0 || OutputHeight() <= 0) {
        return false;
    }
    // The IMX252 head programs only windows on its read-out mode's steps; one it would refuse is
    // refused here, before anything reaches the camera.
    const CSensorBase* head = m_engine ? m_engine->Sensor() : nullptr;
    if (head == nullptr || head->HeadCode() != CSensorIMX252::kHeadCode) {
        return true;
    }
    const CSensorIMX252::WindowAlignment align = CSensorIMX252::AlignmentFor(m_subSample);
    // The head rounds a sub-sampled picture down to whole groups of 4 rows; the images are sized
    // for exactly half the window, so its height must halve into such groups.
    const int32_t heightStep = align.height * SubSampleDivisor(m_subSample);
    return hStart % align.x == 0 && vStart % align.y == 0 && width % align.width == 0 &&
           height % heightStep == 0;
}

int32_t CQuorix::OutputWidth() const {
    return static_cast<int32_t>(m_captureWidth) / SubSampleDivisor(m_subSample);
}

int32_t CQuorix::OutputHeight() const {
    return static_cast<int32_t>(m_captureHeight) / SubSampleDivisor(m_subSample);
}

ImageSlot CQuorix::RawSlot() const {
    return IsRawSixteenBit(m_preparedType) ? kRaw16 : kRaw8;
}

ImageSlot CQuorix::OutputSlot() const {
    constexpr std::array<ImageSlot, 6> kOutput = {kRaw8, kRaw16, kRgb24, kRgb32, kRgb48, kRgb64};
    return kOutput.at(static_cast<size_t>(m_preparedType));
}

int CQuorix::SetCaptureWindowEx(int32_t totalWidth, int32_t hStart, int32_t width,
                                int32_t totalHeight, int32_t vStart, int32_t height) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    // A head with a fixed window size takes only the full sensor.
    if (m_engine->IsWidthAdjustable() == 0 && width != kSensorWidth) {
        SetError(kErrArgument);
        return 0;
    }
    if (m_engine->IsHeightAdjustable() == 0 && height != kSensorHeight) {
        SetError(kErrArgument);
        return 0;
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    const std::array<uint32_t, 6> previous = {m_totalWidth,  m_hStart, m_captureWidth,
                                              m_totalHeight, m_vStart, m_captureHeight};
    m_totalWidth = static_cast<uint32_t>(totalWidth);
    m_hStart = static_cast<uint32_t>(hStart);
    m_captureWidth = static_cast<uint32_t>(width);
    m_totalHeight = static_cast<uint32_t>(totalHeight);
    m_vStart = static_cast<uint32_t>(vStart);
    m_captureHeight = static_cast<uint32_t>(height);
    if (!CheckCaptureWindow()) {
        if (m_acquisitionState.load() != 0) {
            // Running acquisition keeps its window: the frames, Width/Height and the stored
            // window go on agreeing. Idle, the values stay stored and acquisition refuses them.
            m_totalWidth = previous[0];
            m_hStart = previous[1];
            m_captureWidth = previous[2];
            m_totalHeight = previous[3];
            m_vStart = previous[4];
            m_captureHeight = previous[5];
        }
        SetError(kErrCaptureWindow);
        return 0;
    }
    if (m_acquisitionState.load() != 0) {
        const bool unchanged = previous[1] == m_hStart && previous[2] == m_captureWidth &&
                               previous[4] == m_vStart && previous[5] == m_captureHeight;
        return unchanged ? 1 : ApplyToRunningAcquisition();
    }
    m_engine->SetCaptureWindow(hStart, vStart, width, height, m_subSample);
    return 1;
}

int CQuorix::SetColorMode(int32_t bitsPerPixel) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    const bool colour =
        bitsPerPixel == 24 || bitsPerPixel == 32 || bitsPerPixel == 48 || bitsPerPixel == 64;
    if ((m_engine->SupportsOutput8() == 0 && (bitsPerPixel == 8 || bitsPerPixel == 32)) ||
        (m_engine->SupportsOutputColor() == 0 && colour)) {
        SetError(kErrArgument);
        return 0;
    }
    for (size_t type = 0; type < kBitsPerColourType.size(); ++type) {
        if (kBitsPerColourType[type] == bitsPerPixel) {
            std::lock_guard acquisitionLock(m_acquisitionLock);
            m_colourType = static_cast<int32_t>(type);
            // Running acquisition takes the new type from its next frame on.
            if (m_acquisitionState.load() != 0 && m_colourType != m_preparedType) {
                return ApplyToRunningAcquisition();
            }
            return 1;
        }
    }
    SetError(kErrArgument);
    return 0;
}

int CQuorix::SetSubSample(int32_t subSample) {
    if (subSample != 0 && subSample != 1) {
        return 0;
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    const int32_t previous = m_subSample;
    m_subSample = subSample;
    if (m_acquisitionState.load() == 0 || subSample == m_preparedSubSample) {
        return 1;
    }
    // The stored window must suit the other read-out mode's steps; if not, running acquisition
    // keeps its mode.
    if (!CheckCaptureWindow()) {
        m_subSample = previous;
        SetError(kErrCaptureWindow);
        return 0;
    }
    return ApplyToRunningAcquisition();
}

int CQuorix::SetDeliveryMode(int32_t mode) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (mode != QUORIX_DELIVERY_NEWEST && mode != QUORIX_DELIVERY_EVERY_FRAME) {
        SetError(kErrArgument);
        return 0;
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    // The worker and the capture thread read the mode and the ring as they start; a running
    // acquisition keeps the ones it started with.
    if (m_acquisitionState.load() != 0) {
        return NotAvailable(0);
    }
    m_deliveryMode = mode;
    return 1;
}

int CQuorix::SetFrameRingDepth(int32_t depth) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (depth < QUORIX_FRAME_RING_DEPTH_MIN || depth > QUORIX_FRAME_RING_DEPTH_MAX) {
        SetError(kErrArgument);
        return 0;
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    if (m_acquisitionState.load() != 0) {
        return NotAvailable(0);
    }
    m_ringDepth = depth;
    return 1;
}

int CQuorix::SetPreviewWindow(platform::WindowHandle parent, int32_t left, int32_t top,
                              int32_t width, int32_t height) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    m_previewParent = parent;
    m_previewLeft = left;
    m_previewTop = top;
    m_previewWidth = width;
    m_previewHeight = height;
    return 1;
}

bool CQuorix::PlacementWantsWindow() const {
    return m_previewParent != 0 || m_previewLeft != 0 || m_previewTop != 0 || m_previewWidth != 0 ||
           m_previewHeight != 0;
}

uint32_t CQuorix::OpenPreviewWindow() {
    std::lock_guard windowLock(m_windowLock);
    const PreviewPlacement placement{m_previewParent, m_previewLeft, m_previewTop, m_previewWidth,
                                     m_previewHeight};
    // A top-level window is the frame's size. A capture window the check refuses still gets a
    // preview window of at least one pixel: the start then fails with the capture window's code.
    const int32_t frameWidth = std::clamp(OutputWidth(), 1, static_cast<int32_t>(kSensorWidth));
    const int32_t frameHeight = std::clamp(OutputHeight(), 1, static_cast<int32_t>(kSensorHeight));
    std::unique_ptr<PreviewWindow> previous;
    {
        std::lock_guard lock(m_frameLock);
        // A window left by an earlier start that still serves shows this preview too; one that
        // does not is replaced, so no window outlives its use.
        if (m_previewWindow && m_previewWindow->Serves(placement, frameWidth, frameHeight)) {
            return kErrNone;
        }
        previous = std::move(m_previewWindow);
    }
    previous.reset();
    if (!m_images[kPreviewBuffer]) {
        return kErrWindow;
    }
    // A class of its own for every context and every window: the context's address and the
    // time plus a random number.
    char className[64];
    std::snprintf(className, sizeof className, "VideoRenderer_%08x_%08x",
                  static_cast<uint32_t>(reinterpret_cast<uintptr_t>(this)),
                  platform::GetTickCount() + platform::Random());
    PreviewWindow::CreateResult result{};
    std::unique_ptr<PreviewWindow> window = PreviewWindow::Create(
        placement, frameWidth, frameHeight, className, *m_images[kPreviewBuffer],
        [this] { OnPreviewWindowClosed(); }, &result);
    if (!window) {
        platform::Log("Context", "no preview window (%s)",
                      result == PreviewWindow::CreateResult::kNoDisplay ? "no display" : "refused");
        return kErrWindow;
    }
    std::lock_guard lock(m_frameLock);
    m_previewWindow = std::move(window);
    return kErrNone;
}

void CQuorix::DestroyPreviewWindow() {
    std::lock_guard windowLock(m_windowLock);
    std::unique_ptr<PreviewWindow> window;
    {
        std::lock_guard lock(m_frameLock);
        window = std::move(m_previewWindow);
    }
    // Destroyed outside the frame lock: its drawing thread may be stopping the preview, which
    // waits for the worker, which takes that lock.
    window.reset();
}

void CQuorix::OnPreviewWindowClosed() {
    StopPreview();
    const platform::WindowHandle notify = m_notifyWindow;
    const platform::WindowHandle callback = m_callbackWindow.load();
    if (notify != 0) {
        platform::PostMessage(notify, kMsgPreviewClosed, 0, 0);
    }
    if (callback != 0 && callback != notify) {
        platform::PostMessage(callback, kMsgPreviewClosed, 0, 0);
    }
}

void CQuorix::DrawPreview() {
    if (m_previewWindow) {
        m_previewWindow->OfferFrame(*m_images[OutputSlot()], m_preparedType);
    }
}

PreviewWindow::Counts CQuorix::PreviewWindowCounts() {
    std::lock_guard lock(m_frameLock);
    return m_previewWindow ? m_previewWindow->GetCounts() : PreviewWindow::Counts{};
}

// --- Buffers -------------------------------------------------------------------------------

bool CQuorix::CreateSlots(int32_t width, int32_t height) {
    const int32_t type = m_colourType;
    const auto create = [&](ImageSlot slot, uint16_t bits) {
        return m_images[slot]->Create(width, height, bits);
    };
    // Slots of other colour types are released: what they held belongs to an earlier window or
    // colour type and must not be handed out as a current image.
    const auto release = [&](ImageSlot slot) {
        m_images[slot]->Release();
        return true;
    };
    const bool raw8 = type <= 3;
    const bool raw16 = IsRawSixteenBit(type);
    if (!(raw8 ? create(kRaw8, 8) : release(kRaw8)) ||
        !(raw16 ? create(kRaw16, 16) : release(kRaw16)) ||
        !(type != 1 ? create(kRgb24, 24) : release(kRgb24)) ||
        !(type == 3 ? create(kRgb32, 32) : release(kRgb32)) ||
        !(type == 4 ? create(kRgb48, 48) : release(kRgb48)) ||
        !(type == 5 ? create(kRgb64, 64) : release(kRgb64))) {
        return false;
    }
    m_preparedType = type;
    return m_images[kScratch]->CopyFormat(*m_images[OutputSlot()]);
}

bool CQuorix::ResendCameraValues() {
    // Every setting is sent even after one failed, as before; the result says whether all of
    // them reached the camera.
    bool sent = m_engine->SetMirrorV(m_camera.mirrorV) != 0;
    sent = m_engine->SetMirrorH(m_camera.mirrorH) != 0 && sent;
    sent = m_engine->SetTriggerMode(0, 1) != 0 && sent;
    sent = SendGainsAndExposure() && sent;
    m_lastRealExposure = static_cast<uint32_t>(m_camera.exposure) * 100U;
    // Optional settings of other heads; the IMX252 has none of them. The gain mode is reset on
    // every head, and only one that has gain modes answers for it.
    if (m_engine->IsAuxValueSupported()) {
        sent = m_engine->SetAuxValue(0) != 0 && sent;
    }
    m_engine->SetGainMode(0);
    if (m_engine->IsGainModeSupported()) {
        sent = m_engine->SetGainMode(m_camera.gainMode) != 0 && sent;
    }
    if (m_engine->IsBlackLevelSupported()) {
        sent = m_engine->SetBlackLevel(m_camera.blackLevel) != 0 && sent;
    }
    m_engine->OnSettingsApplied();
    return sent;
}

int CQuorix::PrepareBuffers() {
    const uint32_t code = PrepareAcquisition();
    if (code != kErrNone) {
        SetError(code);
        return 0;
    }
    return 1;
}

uint32_t CQuorix::PrepareAcquisition() {
    if (!m_engine->IsDeviceAvailable(m_engine->GetDeviceIndex())) {
        return kErrNoCamera;
    }
    if (!CheckCaptureWindow()) {
        return kErrCaptureWindow;
    }
    const int32_t width = OutputWidth();
    const int32_t height = OutputHeight();
    // The camera's settings below are one burst: a sensor bus that stays busy costs one wait,
    // not one per register, and settings that did not reach the camera fail the acquisition.
    const CSensorBase::SettingsBurst burst(m_engine->Sensor());
    {
        // Another thread may be copying the last image out (GetImage) while the slots change.
        std::lock_guard lock(m_frameLock);
        // The image of the last frame goes with the old slots.
        m_frameAvailable.store(0);
        if (!CreateSlots(width, height)) {
            platform::Log("Context", "PrepareBuffers: image slots of %dx%d failed", width, height);
            return kErrBuffer;
        }
    }
    m_engine->SetDataWidth(IsRawSixteenBit(m_preparedType) ? 1 : 0);
    if (!m_engine->SetCaptureWindow(static_cast<int32_t>(m_hStart), static_cast<int32_t>(m_vStart),
                                    static_cast<int32_t>(m_captureWidth),
                                    static_cast<int32_t>(m_captureHeight), m_subSample)) {
        return burst.Failed() ? kErrRegister : kErrCaptureWindow;
    }
    // The engine's frames must have exactly the slots' size; a head that adjusted the window
    // would deliver frames of another shape.
    int32_t engineWidth = 0;
    int32_t engineHeight = 0;
    m_engine->GetCaptureWindowValues(nullptr, nullptr, &engineWidth, &engineHeight, nullptr);
    if (engineWidth != width || engineHeight != height) {
        platform::Log("Context", "PrepareBuffers: camera window %dx%d, images %dx%d", engineWidth,
                      engineHeight, width, height);
        return kErrCaptureWindow;
    }
    m_preparedSubSample = m_subSample;
    m_preparedOrigin = {static_cast<int32_t>(m_hStart), static_cast<int32_t>(m_vStart)};
    m_preparedWholeSpan = m_captureWidth == kSensorWidth || m_captureHeight == kSensorHeight;
    if (!ResendCameraValues() || burst.Failed()) {
        platform::Log("Context", "PrepareBuffers: the camera did not take its settings");
        return kErrRegister;
    }
    // The preview window's back buffer is made by its drawing thread at the window's size, when
    // the first frame needs it.
    return kErrNone;
}

// --- Frames --------------------------------------------------------------------------------

CQuorix::RawRead CQuorix::ReadRawFrame() {
    CImageBuffer& raw = *m_images[RawSlot()];
    // The engine writes a whole frame of its own size, rows back to back. Only a frame of
    // exactly the slot's picture is taken: a smaller one would be laid out with the wrong row
    // length, a larger one would not fit.
    const uint64_t pictureBytes = static_cast<uint64_t>(raw.Width()) *
                                  static_cast<uint64_t>(raw.Height()) *
                                  static_cast<uint64_t>(raw.BytesPerPixel());
    if (raw.Bits() == nullptr || m_engine->FrameSize() != pictureBytes ||
        pictureBytes > raw.SizeBytes()) {
        platform::Log("Context", "ReadRawFrame: no frame of %llu bytes (camera frame %u bytes)",
                      static_cast<unsigned long long>(pictureBytes), m_engine->FrameSize());
        return RawRead::kWrongSize;
    }
    int32_t number = -1;
    if (m_engine->DeliversEveryFrame()) {
        // The oldest frame waiting. One that cannot be copied is counted by the engine and passed
        // over, so the frames after it still come.
        const int read =
            m_engine->ReadFrame(raw.Bits(), static_cast<uint32_t>(pictureBytes), 0, &number);
        if (read == -1) {
            return RawRead::kNone;
        }
        if (read != 0) {
            return RawRead::kWrongSize;
        }
    } else if (m_engine->ReadNewestFrameWithInfo(raw.Bits(), &number, nullptr, nullptr, nullptr,
                                                 nullptr, 0) != 0) {
        return RawRead::kWrongSize;
    }
    const auto now = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
    m_takenFrame = {++m_framesTaken, number, static_cast<uint64_t>(now.count())};
    RepackRows(raw);
    return RawRead::kFrame;
}

int CQuorix::CopyToCaller(ImageSlot slot, int32_t orientation, void* buffer, uint32_t size) {
    const CImageBuffer& image = *m_images[slot];
    const auto stride = static_cast<size_t>(image.Stride());
    const auto height = static_cast<size_t>(image.Height());
    if (size < stride * height) {
        PostFrameNotification(0, kErrBuffer);
        SetError(kErrBuffer);
        return 0;
    }
    auto* out = static_cast<uint8_t*>(buffer);
    if (orientation != 0) {
        std::memcpy(out, image.Bits(), stride * height);
        return 1;
    }
    // Bottom row first, as device-independent bitmaps store their rows.
    for (size_t row = 0; row < height; ++row) {
        std::memcpy(out + row * stride, image.Row(static_cast<int32_t>(height - 1 - row)), stride);
    }
    return 1;
}

void CQuorix::BeginFrameStatistics(bool preview) {
    const bool everyFrame = preview && m_deliveryMode == QUORIX_DELIVERY_EVERY_FRAME;
    m_engine->SetFrameDelivery(everyFrame, everyFrame ? m_ringDepth : CQuorixU3R5Base::kRingSlots);
    m_engine->ResetFrameCounts();
    m_framesDelivered.store(0);
    m_framesFailedBuffer.store(0);
    m_framesStoppedInWorker.store(0);
    std::lock_guard lock(m_frameLock);
    m_framesTaken = 0;
}

void CQuorix::GetFrameStatistics(QuorixFrameStatistics* statistics) const {
    // The context's counts before the engine's: a frame the engine has handed over is then
    // counted at most once, and as pending while the worker still has it.
    const uint64_t delivered = m_framesDelivered.load();
    const uint64_t failedBuffer = m_framesFailedBuffer.load();
    const uint64_t stoppedInWorker = m_framesStoppedInWorker.load();
    const CQuorixU3R5Base::FrameCounts counts = m_engine->GetFrameCounts();
    const uint64_t handedOn = delivered + failedBuffer + stoppedInWorker;
    statistics->version = QUORIX_FRAME_STATISTICS_VERSION;
    statistics->framesReceived = counts.received;
    statistics->framesDelivered = delivered;
    statistics->framesOvertaken = counts.overtaken;
    statistics->failedTransfer = counts.failedTransfer;
    statistics->failedFrame = counts.failedFrame;
    statistics->failedBuffer = failedBuffer;
    statistics->failedRingFull = counts.failedRingFull;
    statistics->failedStopped = counts.failedStopped + stoppedInWorker;
    statistics->framesFailed = statistics->failedTransfer + statistics->failedFrame +
                               statistics->failedBuffer + statistics->failedRingFull +
                               statistics->failedStopped;
    statistics->framesPending =
        counts.pending + (counts.taken > handedOn ? counts.taken - handedOn : 0);
    statistics->framesSkipped = counts.skipped;
    statistics->newestFrameNumber = counts.newestFrameNumber;
}

void CQuorix::PostFrameNotification(uintptr_t frameInfo, intptr_t code) {
    const platform::WindowHandle window = m_callbackWindow.load();
    if (window != 0) {
        platform::PostMessage(window, kMsgFrame, frameInfo, code);
    }
}

int CQuorix::SnapShot(void* buffer, uint32_t size, int32_t orientation) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    if (m_acquisitionState.load() == 1) {
        return NotAvailable(0);
    }
    const bool captureState = m_acquisitionState.load() == 2;
    if (!captureState && !PrepareBuffers()) {
        return 0;
    }
    if (!captureState) {
        BeginFrameStatistics(false);
    }
    std::unique_lock lock(m_frameLock);
    const auto fail = [&](uint32_t code) {
        if (!captureState) {
            m_engine->StopCapture(0);
            m_engine->SettleFrameCounts();
        }
        SetError(code);
        return 0;
    };
    if (!m_engine->StartCapture(1) || m_engine->WaitFrame(m_snapshotTimeout) != kWaitNewFrame ||
        ReadRawFrame() != RawRead::kFrame) {
        return fail(kErrAcquisition);
    }
    if (ProcessFrameToCaller(buffer, size, orientation) == 0) {
        m_framesFailedBuffer.fetch_add(1);
        return fail(kErrBuffer);
    }
    m_framesDelivered.fetch_add(1);
    lock.unlock();
    if (!captureState) {
        m_engine->StopCapture(0);
    }
    m_frameAvailable.store(1);
    return 1;
}

int CQuorix::GetImageEx(void* buffer, uint32_t size, int32_t orientation, QuorixImageInfo* info) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    if (info == nullptr) {
        SetError(kErrArgument);
        return 0;
    }
    if (info->size < sizeof(QuorixImageInfo)) {
        SetError(kErrBuffer);
        return 0;
    }
    std::lock_guard lock(m_frameLock);
    if (GetImage(buffer, size, orientation) == 0) {
        return 0;
    }
    const CImageBuffer& image = *m_images[OutputSlot()];
    info->version = QUORIX_IMAGE_INFO_VERSION;
    info->frameIndex = m_takenFrame.index;
    info->frameNumber = m_takenFrame.number;
    info->timestampUs = m_takenFrame.timeUs;
    info->width = static_cast<uint32_t>(image.Width());
    info->height = static_cast<uint32_t>(image.Height());
    info->bitsPerPixel = static_cast<uint32_t>(image.BitsPerPixel());
    info->reserved = 0;
    return 1;
}

int CQuorix::GetImage(void* buffer, uint32_t size, int32_t orientation) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    std::lock_guard lock(m_frameLock);
    // Only a frame processed in the current colour type counts; the slots of an earlier type
    // hold nothing the caller asked for.
    const CImageBuffer& image = *m_images[OutputSlot()];
    if (buffer == nullptr || image.Bits() == nullptr || m_frameAvailable.load() == 0 ||
        m_preparedType != m_colourType) {
        SetError(kErrBuffer);
        return 0;
    }
    if (!CopyToCaller(OutputSlot(), orientation, buffer, size)) {
        SetError(kErrBuffer);
        return 0;
    }
    return 1;
}

int CQuorix::Capture() {
    if (!m_engine) {
        return NotAvailable(0);
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    switch (m_acquisitionState.load()) {
        case 1:
            return NotAvailable(0);
        case 2:
            return 1;
        default:
            break;
    }
    if (!PrepareBuffers()) {
        return 0;
    }
    BeginFrameStatistics(false);
    m_acquisitionState.store(2);
    return 1;
}

// --- Preview -------------------------------------------------------------------------------

int CQuorix::StartPreview() {
    if (!m_engine) {
        return NotAvailable(0);
    }
    std::unique_lock acquisitionLock(m_acquisitionLock);
    switch (m_acquisitionState.load()) {
        case 1:
            return 1;
        case 2:
            return NotAvailable(0);
        default:
            break;
    }
    if (!PrepareBuffers()) {
        return 0;
    }
    BeginFrameStatistics(true);
    if (!m_engine->StartCapture(0)) {
        StopAcquisition();
        SetError(kErrRegister);
        return 0;
    }
    // The rate describes this preview: counted from its start, not from an earlier one or from
    // the context's creation, which would report a fraction of the real rate for a second.
    m_frameRate = FrameRateMeter(platform::GetTickCount());
    std::atomic_ref<uint32_t>(m_frameInfo.frameRate).store(0);
    m_acquisitionState.store(1);
    if (!StartWorker()) {
        StopAcquisition();
        SetError(kErrThread);
        return 0;
    }
    return 1;
}

bool CQuorix::StartWorker() {
    m_workerRun.store(1);
    m_workerWake.Reset();
    try {
        m_worker = std::thread([this] { PreviewLoop(); });
    } catch (const std::system_error& error) {
        platform::Log("Context", "no preview worker thread: %s", error.what());
        m_workerRun.store(0);
        return false;
    }
    return true;
}

void CQuorix::StopWorker() {
    m_workerRun.store(0);
    // Ends the worker's pause at once, and the capture stop releases its frame wait, so the
    // worker leaves within the frame it may be processing.
    m_workerWake.Set();
    m_engine->StopCapture(0);
    // Frame notifications are posted, never sent, so a handler of one that stops the preview
    // never waits for itself.
    if (m_worker.joinable()) {
        m_worker.join();
    }
}

void CQuorix::StopAcquisition() {
    const int32_t previous = m_acquisitionState.exchange(0);
    if (previous != 0 || m_worker.joinable()) {
        StopWorker();
    }
    if (previous == 1) {
        // The window keeps showing the last frame processed, also when the display was still
        // busy with an earlier one as it came.
        std::lock_guard lock(m_frameLock);
        if (m_previewWindow && m_frameAvailable.load() != 0) {
            m_previewWindow->ShowLastFrame(*m_images[OutputSlot()], m_preparedType);
        }
    }
    // Frames still waiting in the ring now count as stopped.
    m_engine->SettleFrameCounts();
    // The worker has ended, so no frame is on its way to the recording any more; the recorder
    // writes what it has and finishes the file.
    m_recorder.Stop(AviRecorder::EndReason::kStopped);
}

void CQuorix::EndAcquisition(uint32_t code, bool record) {
    const bool previewing = m_acquisitionState.load() == 1;
    m_recorder.Finish(AviRecorder::EndReason::kAcquisition);
    StopAcquisition();
    if (record) {
        SetError(code);
    }
    if (previewing) {
        PostFrameNotification(0, code);
    }
}

int CQuorix::ApplyToRunningAcquisition() {
    const bool previewing = m_acquisitionState.load() == 1;
    if (previewing) {
        // Between two frames: the worker has handed over its last frame of the old shape and no
        // frame of the new one can reach the old image slots.
        StopWorker();
    }
    uint32_t code = PrepareAcquisition();
    if (code == kErrNone && previewing) {
        if (!m_engine->StartCapture(0)) {
            code = kErrRegister;
        } else if (!StartWorker()) {
            code = kErrThread;
        }
    }
    if (code != kErrNone) {
        platform::Log("Context", "acquisition cannot follow the change: code %u", code);
        EndAcquisition(code, true);
        return 0;
    }
    return 1;
}

int CQuorix::StopPreview() {
    if (!m_engine) {
        return NotAvailable(0);
    }
    std::lock_guard acquisitionLock(m_acquisitionLock);
    StopAcquisition();
    return 1;
}

int CQuorix::Preview() {
    return CallBackPreview(0, nullptr, 0, 0);
}

int CQuorix::CallBackPreview(platform::WindowHandle window, void* buffer, uint32_t size,
                             int32_t orientation) {
    if (!m_engine) {
        return NotAvailable(0);
    }
    {
        std::lock_guard lock(m_frameLock);
        m_callbackWindow.store(window);
        m_callbackBuffer = buffer;
        m_callbackSize = size;
        m_callbackOrientation = orientation;
    }
    // A placement of all zeros without a parent runs the preview for its frames only.
    if (PlacementWantsWindow()) {
        const uint32_t code = OpenPreviewWindow();
        if (code != kErrNone) {
            SetError(code);
            return 0;
        }
    }
    if (!StartPreview()) {
        Close();
        SetError(kErrAcquisition);
        return 0;
    }
    return 1;
}

void CQuorix::PreviewLoop() {
    // Ends the frames for good: the application learns why from a frame notification and the
    // error history. The acquisition state stays until the preview is stopped.
    const auto fail = [this](uint32_t code) {
        m_workerRun.store(0);
        // No frame comes any more: a recording finishes its file with the frames it has.
        m_recorder.Finish(AviRecorder::EndReason::kAcquisition);
        // Recorded first: a handler of the notification finds the code in the history.
        SetError(code);
        PostFrameNotification(0, code);
    };
    while (m_workerRun.load() != 0) {
        // The pause ends early when the preview is stopped: a long wait time never holds up a
        // stop or a release.
        m_workerWake.Wait(m_waitTime.load());
        if (m_workerRun.load() != 1) {
            continue;
        }
        const int waited = m_engine->WaitFrame(kPreviewFrameWaitMs);
        // Checked after the wait: a stop clears the run flag before it stops the transfer, so a
        // transfer found stopped while the flag is still set was stopped by something else.
        if (m_workerRun.load() != 1) {
            continue;
        }
        if (waited == kWaitStopped || (waited != kWaitNewFrame && !m_engine->CaptureRunning())) {
            fail(kErrTransferStopped);
            break;
        }
        if (waited != kWaitNewFrame) {
            continue;
        }
        std::unique_lock lock(m_frameLock);
        const RawRead read = ReadRawFrame();
        if (read == RawRead::kNone) {
            continue;
        }
        if (read == RawRead::kWrongSize) {
            // A frame of another size than the camera was programmed for.
            lock.unlock();
            fail(kErrAcquisition);
            break;
        }
        const CImageBuffer& raw = *m_images[RawSlot()];
        std::atomic_ref<uint32_t>(m_frameInfo.width).store(static_cast<uint32_t>(raw.Width()));
        std::atomic_ref<uint32_t>(m_frameInfo.height).store(static_cast<uint32_t>(raw.Height()));
        std::atomic_ref<uint64_t>(m_frameInfo.callbackBuffer)
            .store(reinterpret_cast<uintptr_t>(m_callbackBuffer));
        std::atomic_ref<uint32_t>(m_frameInfo.bitsPerPixel)
            .store(
                static_cast<uint32_t>(kBitsPerColourType.at(static_cast<size_t>(m_preparedType))));
        std::atomic_ref<uint32_t>(m_frameInfo.frameRate)
            .store(m_frameRate.Count(platform::GetTickCount()));
        const int copied =
            ProcessFrameToCaller(m_callbackBuffer, m_callbackSize, m_callbackOrientation);
        m_frameAvailable.store(1);
        m_recorder.OfferFrame(*m_images[OutputSlot()], platform::MonotonicMs());
        DrawPreview();
        if (copied == 0) {
            m_framesFailedBuffer.fetch_add(1);
            continue;
        }
        lock.unlock();
        if (m_workerRun.load() == 1) {
            m_framesDelivered.fetch_add(1);
            PostFrameNotification(reinterpret_cast<uintptr_t>(&m_frameInfo), 0);
        } else {
            m_framesStoppedInWorker.fetch_add(1);
        }
    }
}

}  // namespace quorix
