// The engine's capture thread and the ring of frame buffers it fills.
//
// The camera sends a frame when asked (vendor request 0xC2): a 64-byte header on endpoint 0x81,
// then the frame data in 0x80000-byte chunks on the same endpoint. The capture thread is the only
// user of that stream. It receives each frame into the raw buffer, copies it into the write slot
// of a ring of four buffers, advances the write index and signals the frame event; readers copy
// the slot before the write index.
//
// The ring has no lock. Each slot's frame number and header words and the write index are
// atomics: the thread writes a slot's pixels and words, then publishes the slot by storing the
// write index (release), then signals. A reader loads the write index (acquire) and copies the
// slot before it, which the thread does not touch again until it has filled the three other
// slots: a reader has three frame periods to finish its copy. In every-frame delivery the reader
// takes the oldest frame not yet taken and then hands its slot back by storing the sequence it
// has reached (release); the thread loads that (acquire) and drops a frame rather than fill a
// slot still waiting to be taken, so a reader that falls behind loses frames only once the whole
// ring waits, and each such frame is counted. Nothing is freed or reallocated
// under the thread: every operation that replaces the buffers, the sensor or the controller ends
// and joins the thread first (JoinCaptureThread).

#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "camera/fpga_registers.h"
#include "engine/quorix_u3r5_base.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/log.h"
#include "platform/thread_priority.h"
#include "sensors/sensor_base.h"
#include "transport/frame_record.h"
#include "transport/transfer_header.h"
#include "transport/vol_cy3_cam.h"

namespace quorix {

namespace {

constexpr int32_t kAuxEndpointCameraId = 12354;
// Firmware above this version resets the stream's pipe as well when a transfer is reset.
constexpr uint16_t kLastFirmwareWithoutPipeReset = 0x10FF;
constexpr size_t kFirmwareVersionOffset = 24;

// Capture modes.
constexpr int32_t kModeContinuous = 0;
constexpr int32_t kModeOneFrame = 1;
constexpr int32_t kModeCountedFrame = 2;
constexpr int32_t kModeHeaderOnly = 3;
constexpr int32_t kTriggerExternal = 1;

constexpr int kMaxConsecutiveFailures = 5;
constexpr uint32_t kTriggerPollMs = 1;
// A start finds a previous thread still flagged running: it may be just ending.
constexpr int32_t kThreadEndGraceMs = 5;
// A waiting stop lets a frame in flight finish before aborting the receive.
constexpr uint32_t kStopGraceMs = 100;
// A stop aborts the pending receive again at this interval until the thread has ended: the
// thread may be between two receives when the first abort comes (a header is asked for up to 16
// times), and an abort only ends transfers already submitted.
constexpr int32_t kAbortRepeatMs = 20;
constexpr uint32_t kStopSettleMs = 1;
constexpr uint32_t kResetSettleMs = 5;

// The synchronous one-frame capture.
constexpr uint32_t kOneFrameChunkLimitMs = 3000;
constexpr int kOneFrameRetries = 10;
constexpr uint64_t kOneFrameTimeLimitMs = 9999;

// Frame-rate meter.
constexpr uint32_t kFrameRateWindowMs = 1000;

// Copies one row into `destination` with its pixels in reverse order. Eight bytes at a time: the
// word's bytes reversed, then for two-byte pixels each pixel's two bytes put back in order; the
// pixels left over one by one.
#if defined(__x86_64__)
// The same for processors with AVX2, 32 bytes at a time: each 16-byte half reversed by a byte
// shuffle (for two-byte pixels, pixel by pixel), then the halves swapped. Returns the pixels done.
template <size_t kPixelBytes>
__attribute__((target("avx2"))) size_t ReverseRowAvx2(const uint8_t* source,
                                                       uint8_t* destination, size_t width) {
    constexpr size_t kPixelsPerStep = 32 / kPixelBytes;
    const __m128i half = kPixelBytes == 1
                             ? _mm_setr_epi8(15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0)
                             : _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
    const __m256i reverse = _mm256_broadcastsi128_si256(half);
    const uint8_t* end = source + width * kPixelBytes;
    size_t i = 0;
    for (; i + kPixelsPerStep <= width; i += kPixelsPerStep) {
        const __m256i data = _mm256_loadu_si256(
            reinterpret_cast<const __m256i*>(end - (i + kPixelsPerStep) * kPixelBytes));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(destination + i * kPixelBytes),
                            _mm256_permute4x64_epi64(_mm256_shuffle_epi8(data, reverse), 0x4E));
    }
    return i;
}

bool HasAvx2() {
    static const bool avx2 = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
}
#endif

template <size_t kPixelBytes>
void ReverseRow(const uint8_t* source, uint8_t* destination, size_t width) {
    static_assert(kPixelBytes == 1 || kPixelBytes == 2);
    constexpr size_t kPixelsPerWord = 8 / kPixelBytes;
    constexpr uint64_t kLowBytes = 0x00FF00FF00FF00FFull;
    const uint8_t* end = source + width * kPixelBytes;
    size_t i = 0;
#if defined(__x86_64__)
    if (HasAvx2()) {
        i = ReverseRowAvx2<kPixelBytes>(source, destination, width);
    }
#endif
    for (; i + kPixelsPerWord <= width; i += kPixelsPerWord) {
        uint64_t word = 0;
        std::memcpy(&word, end - (i + kPixelsPerWord) * kPixelBytes, sizeof word);
        word = __builtin_bswap64(word);
        if constexpr (kPixelBytes == 2) {
            word = ((word >> 8) & kLowBytes) | ((word & kLowBytes) << 8);
        }
        std::memcpy(destination + i * kPixelBytes, &word, sizeof word);
    }
    for (; i < width; ++i) {
        std::memcpy(destination + i * kPixelBytes, end - (i + 1) * kPixelBytes, kPixelBytes);
    }
}

// Copies `height` rows of `width` pixels, optionally last row first and each row reversed.
template <size_t kPixelBytes, bool kReverseEachRow>
void CopyRows(const uint8_t* source, uint8_t* destination, size_t width, size_t height,
              bool lastRowFirst) {
    const size_t rowBytes = width * kPixelBytes;
    for (size_t row = 0; row < height; ++row) {
        const size_t from = lastRowFirst ? height - 1 - row : row;
        const uint8_t* in = source + from * rowBytes;
        uint8_t* out = destination + row * rowBytes;
        if constexpr (kReverseEachRow) {
            ReverseRow<kPixelBytes>(in, out, width);
        } else {
            std::memcpy(out, in, rowBytes);
        }
    }
}

}  // namespace

// --- Ring helpers ----------------------------------------------------------------------------

int32_t CQuorixU3R5Base::NewestSlot(int32_t writeIndex) const {
    return writeIndex == 0 ? m_ringSlots - 1 : writeIndex - 1;
}

bool CQuorixU3R5Base::BuffersReady() const {
    if (m_frameSize == 0 || m_rawBuffer.size() < m_frameSize) {
        return false;
    }
    for (int32_t slot = 0; slot < m_ringSlots; ++slot) {
        if (m_ring[static_cast<size_t>(slot)].size() < m_frameSize) {
            return false;
        }
    }
    return true;
}

std::shared_ptr<platform::Event> CQuorixU3R5Base::FrameEvent() const {
    std::lock_guard lock(m_frameEventLock);
    return m_frameEvent;
}

void CQuorixU3R5Base::CreateFrameEvent() {
    std::lock_guard lock(m_frameEventLock);
    if (!m_frameEvent) {
        m_frameEvent = std::make_shared<platform::Event>(false, false);
    }
}

void CQuorixU3R5Base::SignalFrameEvent() {
    // A copy keeps the event alive while it is set, even if a stop drops the engine's reference.
    if (const std::shared_ptr<platform::Event> event = FrameEvent()) {
        event->Set();
    }
}

bool CQuorixU3R5Base::CopySlot(int32_t slot, uint8_t* destination, int32_t rowOrder,
                               FrameInfo* info) const {
    if (destination == nullptr || !m_sensor || m_frameSize == 0 || slot < 0 ||
        slot >= m_ringSlots) {
        return false;
    }
    const std::vector<uint8_t>& source = m_ring[static_cast<size_t>(slot)];
    if (source.size() < m_frameSize) {
        return false;
    }
    const SensorStateBlock& state = m_sensor->State();
    if (state.m_nWidth <= 0 || state.m_nHeight <= 0) {
        return false;
    }
    uint64_t width = static_cast<uint32_t>(state.m_nWidth);
    const uint64_t height = static_cast<uint32_t>(state.m_nHeight);
    if (m_sensor->GetRawWidthMode() == 2) {
        width *= 2;
    }
    const uint64_t pixelBytes = m_dataWidth == 1 || m_dataWidth == 2 ? 2 : 1;
    // The slots hold frames of the window the buffers were prepared for; a window changed since
    // then has rows of another length, and copying by it would read past the frame.
    if (width * height * pixelBytes != m_frameSize) {
        Trace("GetFrame: window %ux%u does not match the prepared frame of %u bytes",
              static_cast<unsigned>(width), static_cast<unsigned>(height), m_frameSize);
        return false;
    }
    // Orientation of the raw frame: codes 2 and 4 send each row right to left; codes 3 and 4
    // keep the stored row order for row-order flag 0, the others for flag 1.
    const uint32_t orientation = state.m_nRawOrientation;
    const bool reverseEachRow = orientation == 2 || orientation == 4;
    const int32_t storedOrderFlag = orientation != 3 && orientation != 4 ? 1 : 0;
    const bool lastRowFirst = (rowOrder != 0 ? 1 : 0) != storedOrderFlag;
    const uint8_t* from = source.data();
    if (!reverseEachRow && !lastRowFirst) {
        std::memcpy(destination, from, m_frameSize);
    } else if (pixelBytes == 2) {
        if (reverseEachRow) {
            CopyRows<2, true>(from, destination, width, height, lastRowFirst);
        } else {
            CopyRows<2, false>(from, destination, width, height, lastRowFirst);
        }
    } else if (reverseEachRow) {
        CopyRows<1, true>(from, destination, width, height, lastRowFirst);
    } else {
        CopyRows<1, false>(from, destination, width, height, lastRowFirst);
    }
    if (info != nullptr) {
        const size_t s = static_cast<size_t>(slot);
        info->frameNumber = m_ringFrameNumber[s].load(std::memory_order_relaxed);
        for (size_t word = 0; word < info->words.size(); ++word) {
            info->words[word] = m_ringHeaderWords[s][word].load(std::memory_order_relaxed);
        }
    }
    return true;
}

// --- Starting and stopping -------------------------------------------------------------------

int CQuorixU3R5Base::StartCapture(int32_t mode) {
    if (m_running.load() != 0 && !m_threadEnd.IsSet()) {
        // A thread that is just ending signals within moments; one that keeps running is stopped.
        const platform::TimerResolutionGuard precise;
        if (!m_threadEnd.Wait(kThreadEndGraceMs)) {
            StopCapture(1);
        }
    }
    CreateFrameEvent();
    if (!SetCaptureMode(mode)) {
        return 0;
    }
    // Buffers or a frame geometry the FPGA did not take leave no frame size to receive by.
    if (m_geometryPending != 0 && !PrepareFrameBuffers()) {
        Trace("StartCapture: the frame geometry could not be programmed");
        return 0;
    }
    // Without buffers the thread would end at once and leave waiters to time out: refuse here.
    if (!BuffersReady()) {
        Trace("StartCapture: no frame buffers for the current window");
        return 0;
    }
    {
        std::lock_guard lock(m_threadLock);
        if (m_captureThread.joinable()) {
            // The previous thread has ended or is ending (its running flag is clear).
            m_captureThread.join();
        }
        // A failed capture's error must not greet the new capture's first wait.
        m_errorFlag.store(0);
        // Frames an earlier capture left untaken are gone with it; this capture's frames are
        // found from the slot it starts writing.
        SettleFrameCounts();
        m_slotBase = m_writeIndex.load();
        m_sequenceBase = m_framesStored.load();
        m_previousHeaderNumber = -1;
        m_stopping.store(false);
        m_streamUsed = true;
        m_running.store(1);
        m_threadEnd.Reset();
        try {
            m_captureThread = std::thread([this] { CaptureThreadMain(); });
        } catch (const std::system_error& error) {
            Trace("StartCapture: no capture thread: %s", error.what());
            m_running.store(0);
            m_threadEnd.Set();
            return 0;
        }
    }
    return 1;
}

void CQuorixU3R5Base::CaptureThreadMain() {
    platform::RaiseThreadPriority();
    if (m_cameraId == kAuxEndpointCameraId) {
        // That head reads its frames through the auxiliary endpoint, a loop this camera lacks.
        FinishCapture();
        return;
    }
    RunCaptureLoop();
}

bool CQuorixU3R5Base::JoinCaptureThread(int32_t wait) {
    std::lock_guard lock(m_threadLock);
    if (!m_captureThread.joinable()) {
        return false;
    }
    bool interrupted = false;
    if (m_running.exchange(0) != 0) {
        interrupted = true;
        const platform::TimerResolutionGuard precise;
        if (wait != 0) {
            platform::SleepMs(kStopGraceMs);
        }
        // The thread notices the cleared flag between frames; a receive it is waiting in ends
        // only when aborted.
        while (!m_threadEnd.IsSet()) {
            if (m_controller) {
                m_controller->AbortInPipe();
            }
            m_threadEnd.Wait(kAbortRepeatMs);
        }
    }
    m_captureThread.join();
    return interrupted;
}

int CQuorixU3R5Base::StopCapture(int32_t wait) {
    m_stopping.store(true);
    if (m_sensor) {
        m_sensor->OnCaptureStop(wait);
    }
    JoinCaptureThread(wait);
    const platform::TimerResolutionGuard precise;
    platform::SleepMs(kStopSettleMs);
    std::shared_ptr<platform::Event> event;
    {
        std::lock_guard lock(m_frameEventLock);
        event = std::move(m_frameEvent);
        m_frameEvent = nullptr;
    }
    if (event) {
        // Releases a caller still waiting for a frame; the next capture gets a fresh event.
        event->Set();
    }
    // A stream this engine has carried frames on may hold the rest of one; one it has not used
    // is left alone (before a camera is opened it would be another camera's).
    if (m_streamUsed) {
        ResetTransfer();
        m_streamUsed = false;
    }
    platform::SleepMs(kResetSettleMs);
    m_captureMode.store(kModeContinuous);
    m_singleFrameCount.store(0);
    m_frameRate.store(0.0f);
    m_frameRateMeter.Restart();
    return 1;
}

int CQuorixU3R5Base::SetCaptureMode(int32_t mode) {
    if (!m_controller) {
        return 0;
    }
    if (mode != m_captureMode.load()) {
        StopCapture(0);
        CreateFrameEvent();
        if (mode == kModeCountedFrame) {
            m_writeIndex.store(m_readMark.load());
        }
    }
    m_captureMode.store(mode);
    return 1;
}

int CQuorixU3R5Base::ResetTransfer() {
    return ResetCameraTransfer();
}

int CQuorixU3R5Base::ResetCameraTransfer() {
    if (!m_controller) {
        return 0;
    }
    const auto firmware = static_cast<uint16_t>(m_deviceInfo[kFirmwareVersionOffset] |
                                                (m_deviceInfo[kFirmwareVersionOffset + 1] << 8));
    if (firmware > kLastFirmwareWithoutPipeReset) {
        m_controller->ResetPipe(kEndpointBulkIn);
    }
    m_controller->ResetStream();
    return 1;
}

// --- The capture thread ----------------------------------------------------------------------

void CQuorixU3R5Base::RunCaptureLoop() {
    if (m_controller && BuffersReady()) {
        RunCapture();
    }
    FinishCapture();
}

void CQuorixU3R5Base::FinishCapture() {
    if (m_controller) {
        m_controller->CloseStreamHandle();
    }
    m_threadEnd.Set();
    if (m_errorFlag.load() != 0) {
        SignalFrameEvent();
    }
    m_running.store(0);
}

void CQuorixU3R5Base::RunCapture() {
    CVolCy3Cam& controller = *m_controller;
    FrameRecord record;
    record.destination = m_rawBuffer.data();
    record.capacity = static_cast<uint32_t>(m_rawBuffer.size());
    m_errorFlag.store(0);
    if (!controller.OpenStreamHandle()) {
        Trace("capture: the stream does not open");
        return;
    }
    const platform::TimerResolutionGuard precise;
    int failures = 0;
    while (m_running.load() != 0) {
        const uint32_t timeoutMs = m_dataTimeoutMs.load();
        if (m_triggerMode == kTriggerExternal && !TriggerArrived()) {
            continue;
        }
        const FrameOutcome outcome = ReceiveFrame(&record, timeoutMs);
        if (outcome == FrameOutcome::kHeaderOnly) {
            // The frame's data is still on its way: discard it, so that the next capture's
            // first receive is a header again.
            ResetCameraTransfer();
            break;
        }
        if (outcome == FrameOutcome::kDropped) {
            // The camera delivered; only the reader is behind.
            failures = 0;
            continue;
        }
        if (outcome == FrameOutcome::kStored) {
            failures = 0;
            const int32_t mode = m_captureMode.load();
            if (mode == kModeOneFrame || mode == kModeCountedFrame) {
                break;
            }
            continue;
        }
        // A header that did not come or data that did not arrive whole: start the transfer
        // afresh (pipe, FPGA transfer logic, stream handle) unless the camera keeps failing.
        controller.CloseStreamHandle();
        if (++failures >= kMaxConsecutiveFailures) {
            Trace("capture: %d failed frames in a row, giving up", failures);
            m_errorFlag.store(1);
            SignalFrameEvent();
            break;
        }
        controller.ResetPipe(kEndpointBulkIn);
        if (m_sensor) {
            m_sensor->RestartTransfer();
        }
        controller.OpenStreamHandle();
    }
}

bool CQuorixU3R5Base::TriggerArrived() {
    // In trigger mode a frame exists only once the FPGA's frame counter has moved: asking for
    // one earlier would leave the request waiting for a trigger that may never come.
    uint8_t counter = 0;
    if (!m_controller->ReadFpgaRegister(fpga::kFrameCounter, &counter)) {
        // Not even a busy wait at raised priority when the camera does not answer.
        platform::SleepMs(kTriggerPollMs);
        return false;
    }
    // The counter is 8 bits wide; the frame numbers of the headers count on past 255.
    const auto last = static_cast<uint32_t>(m_lastFrameNumber.load());
    if (counter == (last & 0xFF)) {
        platform::SleepMs(kTriggerPollMs);
        return false;
    }
    m_lastFrameNumber.store(counter);
    return true;
}

CQuorixU3R5Base::FrameOutcome CQuorixU3R5Base::ReceiveFrame(FrameRecord* record,
                                                            uint32_t timeoutMs) {
    CVolCy3Cam& controller = *m_controller;
    if (!controller.ReadFrameHeader(record)) {
        return FrameOutcome::kFailed;
    }
    // Only this thread writes the write index. In newest-frame delivery the slot a reader is
    // still copying is passed over; every-frame delivery never reaches a slot not yet taken.
    int32_t slot = m_writeIndex.load(std::memory_order_relaxed);
    if (!m_everyFrame.load(std::memory_order_relaxed) && m_readingSlot.load() == slot) {
        slot = slot + 1 == m_ringSlots ? 0 : slot + 1;
    }
    const auto s = static_cast<size_t>(slot);
    const auto number = static_cast<int32_t>(record->HeaderFrameNumber());
    m_ringHeaderWords[s][0].store(record->WordA(), std::memory_order_relaxed);
    m_ringHeaderWords[s][1].store(record->HeaderFrameNumber(), std::memory_order_relaxed);
    m_ringHeaderWords[s][2].store(record->WordC(), std::memory_order_relaxed);
    m_ringHeaderWords[s][3].store(record->WordD(), std::memory_order_relaxed);
    const int32_t mode = m_captureMode.load();
    if (mode == kModeHeaderOnly) {
        m_lastFrameNumber.store(number);
        return FrameOutcome::kHeaderOnly;
    }
    if (mode != kModeCountedFrame) {
        m_lastFrameNumber.store(number);
    }
    CountReceived(record->HeaderFrameNumber(), mode == kModeContinuous);

    const uint32_t started = platform::GetTickCount();
    if (!controller.ReadFrameData(record, timeoutMs)) {
        CountLostTransfer();
        return FrameOutcome::kFailed;
    }
    // Only a frame of exactly the programmed geometry is stored: fewer bytes would leave the
    // slot with the tail of an older frame, a frame of another size would be read with the
    // wrong row length.
    if (record->ByteCount() != m_frameSize) {
        Trace("capture: frame of %u bytes, %u expected", record->ByteCount(), m_frameSize);
        CountLostTransfer();
        return FrameOutcome::kFailed;
    }
    m_errorFlag.store(0);
    const uint32_t elapsed = platform::GetTickCount() - started;
    if (elapsed > 0) {
        // KiB x 8 / 1024 = Mbit, over the seconds the data took.
        m_dataRate.store(static_cast<double>(m_frameSize >> 10) * 0.0078125 /
                         (static_cast<double>(elapsed) / 1000.0));
    }
    if (const std::optional<float> rate = m_frameRateMeter.Feed(kFrameRateWindowMs)) {
        m_frameRate.store(*rate);
    }

    // Only this thread adds to the count of stored frames.
    const uint64_t sequence = m_framesStored.load(std::memory_order_relaxed);
    if (m_everyFrame.load(std::memory_order_relaxed) &&
        sequence - m_nextToTake.load(std::memory_order_acquire) >=
            static_cast<uint64_t>(m_ringSlots)) {
        // Every slot holds a frame still to be taken: this one goes, counted.
        m_countFailedRingFull.fetch_add(1, std::memory_order_relaxed);
        return FrameOutcome::kDropped;
    }
    std::memcpy(m_ring[s].data(), m_rawBuffer.data(), m_frameSize);
    m_ringFrameNumber[s].store(m_lastFrameNumber.load(), std::memory_order_relaxed);
    m_ringSequence[s].store(sequence, std::memory_order_relaxed);
    if (mode == kModeCountedFrame) {
        // Counted before the frame is announced, so that a woken waiter sees it.
        m_singleFrameCount.fetch_add(1);
    }
    // Publishes the slot: a reader that sees the new index sees the slot's pixels and words. The
    // count follows the index, so a reader that has seen a count has seen its frame's index.
    // Sequentially consistent, like the reader's claim of its slot: a reader that claims a slot
    // and then still finds it the newest cannot miss the thread's next look at the claim.
    m_writeIndex.store(slot + 1 == m_ringSlots ? 0 : slot + 1);
    m_framesStored.fetch_add(1, std::memory_order_release);
    SignalFrameEvent();
    return FrameOutcome::kStored;
}

// --- Frame counter and the synchronous capture -----------------------------------------------

int CQuorixU3R5Base::ReadFrameCounter() {
    uint8_t counter = 0;
    if (!m_controller || !m_controller->ReadFpgaRegister(fpga::kFrameCounter, &counter)) {
        return 0;
    }
    m_lastFrameNumber.store(counter);
    return 1;
}

int CQuorixU3R5Base::CaptureOneFrame() {
    if (!m_controller) {
        return 2;
    }
    // This call uses the stream and the buffers itself: no capture thread may share them.
    if (JoinCaptureThread(0)) {
        ResetTransfer();
    }
    if ((m_geometryPending != 0 && !PrepareFrameBuffers()) || !BuffersReady()) {
        return 2;
    }
    CVolCy3Cam& controller = *m_controller;
    m_streamUsed = true;
    FrameRecord record;
    record.destination = m_rawBuffer.data();
    record.capacity = static_cast<uint32_t>(m_rawBuffer.size());
    record.requestedBytes = m_frameSize;
    m_errorFlag.store(0);
    const uint64_t started = platform::MonotonicMs();
    if (controller.OpenStreamHandle()) {
        for (int retries = 0;; ++retries) {
            if (controller.ReadFrameHeader(&record) &&
                controller.ReadFrameData(&record, kOneFrameChunkLimitMs) &&
                record.ByteCount() == m_frameSize) {
                std::memcpy(m_ring[0].data(), m_rawBuffer.data(), m_frameSize);
                m_ringFrameNumber[0].store(static_cast<int32_t>(record.HeaderFrameNumber()));
                // Taken outside the stream's sequence, so no reader counts it.
                m_ringSequence[0].store(kNoSequence);
                m_ringHeaderWords[0][0].store(record.WordA());
                m_ringHeaderWords[0][1].store(record.HeaderFrameNumber());
                m_ringHeaderWords[0][2].store(record.WordC());
                m_ringHeaderWords[0][3].store(record.WordD());
                break;
            }
            if (platform::MonotonicMs() - started > kOneFrameTimeLimitMs ||
                retries >= kOneFrameRetries) {
                m_errorFlag.store(1);
                break;
            }
            // Whatever is left of the failed frame would be taken for the next header.
            controller.ResetPipe(kEndpointBulkIn);
            if (m_sensor) {
                m_sensor->RestartTransfer();
            }
        }
    } else {
        // No stream, no frame: the caller learns it from the error flag.
        m_errorFlag.store(1);
    }
    controller.CloseStreamHandle();
    m_threadEnd.Set();
    m_running.store(0);
    return 0;
}

// --- Frame delivery --------------------------------------------------------------------------

int CQuorixU3R5Base::GetFrame(uint8_t* destination, uint32_t size, int32_t* frameNumber,
                              uint32_t* wordA, uint32_t* wordB, uint32_t* wordC, uint32_t* wordD,
                              int32_t firstSlot, int32_t rowOrder) {
    if (size < m_frameSize) {
        return 0;
    }
    const int32_t slot =
        firstSlot != 0 ? 0 : NewestSlot(m_writeIndex.load(std::memory_order_acquire));
    FrameInfo info;
    if (!CopySlot(slot, destination, rowOrder, &info)) {
        return 0;
    }
    ReportFrameInfo(info, frameNumber, wordA, wordB, wordC, wordD);
    return 1;
}

void CQuorixU3R5Base::ReportFrameInfo(const FrameInfo& info, int32_t* frameNumber, uint32_t* wordA,
                                      uint32_t* wordB, uint32_t* wordC, uint32_t* wordD) {
    if (frameNumber != nullptr) {
        *frameNumber = info.frameNumber;
    }
    uint32_t* const words[] = {wordA, wordB, wordC, wordD};
    for (size_t word = 0; word < info.words.size(); ++word) {
        if (words[word] != nullptr) {
            *words[word] = info.words[word];
        }
    }
}

int CQuorixU3R5Base::ReadFirstSlot(uint8_t* destination, int32_t rowOrder) {
    if (destination == nullptr) {
        return -2;
    }
    GetFrame(destination, m_frameSize, nullptr, nullptr, nullptr, nullptr, nullptr, 1, rowOrder);
    return 0;
}

int CQuorixU3R5Base::SetDataTimeout(uint32_t milliseconds) {
    m_dataTimeoutMs.store(milliseconds);
    return 1;
}

int CQuorixU3R5Base::WaitFrame(uint32_t timeoutMs) {
    // In every-frame delivery frames may wait in the ring while the event was signalled once for
    // them all; they are handed over before a failure that ended the capture after them.
    if (m_everyFrame.load() &&
        m_framesStored.load(std::memory_order_acquire) != m_nextToTake.load()) {
        return 3;
    }
    if (m_errorFlag.load() != 0) {
        return 1;
    }
    const std::shared_ptr<platform::Event> event = FrameEvent();
    if (!event) {
        return 2;
    }
    const platform::TimerResolutionGuard precise;
    const int32_t limit = timeoutMs > static_cast<uint32_t>(INT32_MAX)
                              ? -1  // "infinite"
                              : static_cast<int32_t>(timeoutMs);
    const bool signalled = event->Wait(limit);
    // Capture that ends on failures signals the event: the waiter it wakes learns why.
    if (m_errorFlag.load() != 0) {
        return 1;
    }
    if (!signalled) {
        return 2;
    }
    return m_framesStored.load(std::memory_order_acquire) != m_framesRead.load() ? 3 : 2;
}

bool CQuorixU3R5Base::ReadNewest(uint8_t* destination, uint32_t size, int32_t rowOrder,
                                 FrameInfo* info) {
    // Claims the newest slot, then checks it is still the newest: once that holds, the capture
    // thread sees the claim before it comes round to the slot again, and fills the next one.
    int32_t index = m_writeIndex.load();
    for (;;) {
        m_readingSlot.store(NewestSlot(index));
        const int32_t again = m_writeIndex.load();
        if (again == index) {
            break;
        }
        index = again;
    }
    const int32_t slot = NewestSlot(index);
    // The slot's place in the stream tells how many frames were stored up to it, so a frame
    // stored after this one keeps counting as not read.
    const uint64_t stored = m_framesStored.load(std::memory_order_acquire);
    const uint64_t sequence = m_ringSequence[static_cast<size_t>(slot)].load();
    const bool copied = size >= m_frameSize && CopySlot(slot, destination, rowOrder, info);
    m_readingSlot.store(-1, std::memory_order_release);
    if (!copied) {
        return false;
    }
    m_readMark.store(index);
    if (sequence == kNoSequence) {
        // A slot without a frame of the stream (read before any came): nothing to count.
        m_framesRead.store(stored);
        return true;
    }
    m_framesRead.store(sequence + 1);
    TakeSequence(sequence, true);
    return true;
}

int CQuorixU3R5Base::ReadOldest(uint8_t* destination, uint32_t size, int32_t rowOrder,
                                FrameInfo* info) {
    // Only the one reader moves the sequence while capture runs.
    const uint64_t next = m_nextToTake.load(std::memory_order_relaxed);
    if (next >= m_framesStored.load(std::memory_order_acquire) || m_ringSlots <= 0) {
        return -1;
    }
    const auto slot =
        static_cast<int32_t>((static_cast<uint64_t>(m_slotBase) + (next - m_sequenceBase)) %
                             static_cast<uint64_t>(m_ringSlots));
    const bool copied = size >= m_frameSize && CopySlot(slot, destination, rowOrder, info);
    m_readMark.store(slot + 1 == m_ringSlots ? 0 : slot + 1);
    m_framesRead.store(next + 1);
    // Hands the slot back to the capture thread.
    TakeSequence(next, copied);
    return copied ? 0 : -2;
}

void CQuorixU3R5Base::TakeSequence(uint64_t sequence, bool copied) {
    const uint64_t next = m_nextToTake.load(std::memory_order_relaxed);
    if (sequence < next) {
        // Taken before (a reader without a new frame): counted then.
        return;
    }
    m_countOvertaken.fetch_add(sequence - next, std::memory_order_relaxed);
    (copied ? m_countTaken : m_countFailedFrame).fetch_add(1, std::memory_order_relaxed);
    m_nextToTake.store(sequence + 1, std::memory_order_release);
}

int CQuorixU3R5Base::ReadFrame(uint8_t* destination, uint32_t size, int32_t rowOrder,
                               int32_t* frameNumber) {
    FrameInfo info;
    const int result = m_everyFrame.load() ? ReadOldest(destination, size, rowOrder, &info)
                       : ReadNewest(destination, size, rowOrder, &info) ? 0
                                                                        : -1;
    if (result == 0) {
        ReportFrameInfo(info, frameNumber, nullptr, nullptr, nullptr, nullptr);
    }
    return result;
}

int CQuorixU3R5Base::ReadNewestFrame(uint8_t* destination, int32_t rowOrder) {
    return ReadNewest(destination, m_frameSize, rowOrder, nullptr) ? 0 : -1;
}

int CQuorixU3R5Base::ReadNewestFrameWithInfo(uint8_t* destination, int32_t* frameNumber,
                                             uint32_t* wordA, uint32_t* wordB, uint32_t* wordC,
                                             uint32_t* wordD, int32_t rowOrder) {
    FrameInfo info;
    if (!ReadNewest(destination, m_frameSize, rowOrder, &info)) {
        return -1;
    }
    ReportFrameInfo(info, frameNumber, wordA, wordB, wordC, wordD);
    return 0;
}

// --- Delivery mode and frame counts ----------------------------------------------------------

int CQuorixU3R5Base::SetFrameDelivery(bool everyFrame, int32_t ringSlots) {
    if (ringSlots < kRingSlots || ringSlots > kMaxRingSlots || m_running.load() != 0) {
        return 0;
    }
    m_everyFrame.store(everyFrame);
    if (ringSlots != m_ringSlots) {
        // The buffers of the new depth are made at the next start, with the thread ended.
        m_ringSlots = ringSlots;
        m_geometryPending = 1;
    }
    return 1;
}

void CQuorixU3R5Base::CountReceived(uint32_t headerNumber, bool continuous) {
    m_countReceived.fetch_add(1, std::memory_order_relaxed);
    m_newestFrameNumber.store(headerNumber, std::memory_order_relaxed);
    // A continuously running camera numbers every frame it makes; a number further on than the
    // next one means the frames between were made but never asked for in time.
    const auto number = static_cast<int64_t>(headerNumber);
    if (continuous && !m_stopping.load(std::memory_order_relaxed) && m_previousHeaderNumber >= 0 &&
        number > m_previousHeaderNumber + 1) {
        m_countSkipped.fetch_add(static_cast<uint64_t>(number - m_previousHeaderNumber - 1),
                                 std::memory_order_relaxed);
    }
    m_previousHeaderNumber = number;
}

void CQuorixU3R5Base::CountLostTransfer() {
    // A stop aborts the frame in flight; anything else is the transfer's failure.
    (m_running.load() != 0 ? m_countFailedTransfer : m_countFailedStopped)
        .fetch_add(1, std::memory_order_relaxed);
}

CQuorixU3R5Base::FrameCounts CQuorixU3R5Base::GetFrameCounts() const {
    FrameCounts counts;
    // Taking side first: a frame moving on meanwhile is then seen in no more than one place.
    const uint64_t next = m_nextToTake.load(std::memory_order_acquire);
    counts.taken = m_countTaken.load();
    counts.overtaken = m_countOvertaken.load();
    counts.failedFrame = m_countFailedFrame.load();
    const uint64_t stored = m_framesStored.load(std::memory_order_acquire);
    counts.pending = stored > next ? stored - next : 0;
    counts.failedRingFull = m_countFailedRingFull.load();
    counts.failedTransfer = m_countFailedTransfer.load();
    counts.failedStopped = m_countFailedStopped.load();
    counts.skipped = m_countSkipped.load();
    counts.newestFrameNumber = m_newestFrameNumber.load();
    counts.received = m_countReceived.load();
    return counts;
}

void CQuorixU3R5Base::ResetFrameCounts() {
    m_nextToTake.store(m_framesStored.load());
    for (std::atomic<uint64_t>* count :
         {&m_countReceived, &m_countTaken, &m_countOvertaken, &m_countFailedTransfer,
          &m_countFailedFrame, &m_countFailedRingFull, &m_countFailedStopped, &m_countSkipped}) {
        count->store(0);
    }
    m_newestFrameNumber.store(-1);
    m_previousHeaderNumber = -1;
}

void CQuorixU3R5Base::SettleFrameCounts() {
    const uint64_t stored = m_framesStored.load();
    const uint64_t next = m_nextToTake.load();
    if (stored > next) {
        m_countFailedStopped.fetch_add(stored - next);
        m_nextToTake.store(stored);
    }
}

}  // namespace quorix
