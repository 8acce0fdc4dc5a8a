#include "output/avi_recorder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>
#include <utility>

#include "imaging/pixel_operations.h"
#include "platform/file_io.h"
#include "platform/log.h"

namespace quorix {

namespace {

constexpr const char* kLogCategory = "Output";

// Gray samples (8 bits, or the high byte of 16-bit samples) as 24-bit gray, rows reversed.
template <int32_t SrcBytes>
void GrayToBgrFlipped(uint8_t* dst, int32_t dstStride, const CImageBuffer& image) {
    const int32_t width = image.Width();
    const int32_t height = image.Height();
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* s = image.Row(height - 1 - y) + (SrcBytes - 1);
        uint8_t* d = dst + static_cast<size_t>(y) * static_cast<size_t>(dstStride);
        for (int32_t x = 0; x < width; ++x, s += SrcBytes, d += 3) {
            d[0] = *s;
            d[1] = *s;
            d[2] = *s;
        }
    }
}

}  // namespace

AviRecorder::AviRecorder(uint64_t maxFileBytes) : m_writer(maxFileBytes) {}

AviRecorder::~AviRecorder() {
    Stop(EndReason::kStopped);
}

void AviRecorder::ConvertFrame(uint8_t* frame, const CImageBuffer& output) {
    const int32_t width = output.Width();
    const int32_t height = output.Height();
    const int32_t stride = CImageBuffer::StrideFor(width, 24);
    const PixelRect whole{0, 0, width, height};
    const auto run = [&](PixelOperation operation) {
        operation(frame, output.Bits(), whole, 0, 0, 3, output.BytesPerPixel(), stride,
                  output.Stride(), 0, 0);
    };
    // A slot's bytes come from earlier frames at other places: the padding of rows whose pixels
    // are not whole words is cleared.
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    if (static_cast<size_t>(stride) > rowBytes) {
        for (int32_t y = 0; y < height; ++y) {
            std::memset(frame + static_cast<size_t>(y) * stride + rowBytes, 0,
                        static_cast<size_t>(stride) - rowBytes);
        }
    }
    switch (output.BitsPerPixel()) {
        case 8:
            GrayToBgrFlipped<1>(frame, stride, output);
            break;
        case 16:
            GrayToBgrFlipped<2>(frame, stride, output);
            break;
        case 24:
            run(RowCopyFlipped);
            break;
        case 32:
            run(Copy24Flipped);
            break;
        default:
            run(Convert48To24Flipped);
            break;
    }
}

AviRecorder::StartResult AviRecorder::Start(const char* fileName, int32_t width, int32_t height,
                                            uint32_t durationMs, EndHandler onEnd) {
    std::lock_guard control(m_controlLock);
    StopLocked(EndReason::kStopped);
    if (!m_writer.OpenAvi(fileName, width, height)) {
        platform::Log(kLogCategory, "cannot create the AVI file %s: %s", fileName,
                      std::generic_category().message(errno).c_str());
        return StartResult::kFileFailed;
    }
    const size_t slotBytes = m_writer.SlotBytes();
    const size_t slots = std::clamp(kQueueBytes / slotBytes, kMinSlots, kMaxSlots);
    std::unique_lock lock(m_lock);
    // A frame the worker was still converting for the previous recording goes back first.
    m_changed.wait(lock, [this] { return m_converting == 0; });
    try {
        if (m_slots.size() != slots || m_slotBytes != slotBytes) {
            m_slots.clear();
            m_slotBytes = 0;
            for (size_t i = 0; i < slots; ++i) {
                auto slot = std::make_unique<Slot>();
                void* memory = platform::AllocateAligned(AviWriter::kSlotAlignment, slotBytes);
                if (memory == nullptr) {
                    throw std::bad_alloc();
                }
                slot->memory.reset(static_cast<uint8_t*>(memory));
                m_slots.push_back(std::move(slot));
            }
            m_slotBytes = slotBytes;
        }
        m_free.clear();
        m_queued.clear();
        for (const auto& slot : m_slots) {
            m_free.push_back(slot.get());
        }
    } catch (const std::bad_alloc&) {
        m_slots.clear();
        m_free.clear();
        m_writer.CloseAvi(AviWriter::kProvisionalRate);
        return StartResult::kNoMemory;
    }
    m_onEnd = std::move(onEnd);
    m_accepting = true;
    m_finishing = false;
    m_started = false;
    m_framesTaken = 0;
    m_durationMs = durationMs;
    m_firstWrittenMs = 0;
    m_lastWrittenMs = 0;
    m_status = Status{};
    m_status.state = State::kRunning;
    m_status.width = width;
    m_status.height = height;
    m_status.fileBytes = m_writer.FileBytes();
    try {
        m_thread = std::thread([this] { RecordLoop(); });
    } catch (const std::system_error& error) {
        platform::Log(kLogCategory, "no recorder thread: %s", error.what());
        m_accepting = false;
        m_status = Status{};
        m_writer.CloseAvi(AviWriter::kProvisionalRate);
        return StartResult::kNoThread;
    }
    return StartResult::kStarted;
}

void AviRecorder::OfferFrame(const CImageBuffer& output, uint64_t nowMs) {
    Slot* slot = nullptr;
    uint64_t frameNumber = 0;
    {
        std::lock_guard lock(m_lock);
        if (!m_accepting) {
            return;
        }
        // A live change of the capture window or sub-sampling gives frames the file has no room
        // for; the recording ends with the frames it has. A change of colour mode alone keeps
        // the size, and the file takes the frames on.
        if (output.Width() != m_status.width || output.Height() != m_status.height ||
            output.Bits() == nullptr) {
            RequestFinish(EndReason::kPictureChanged);
            m_changed.notify_all();
            return;
        }
        if (!m_started) {
            m_started = true;
            m_endMs = nowMs + m_durationMs;
        }
        if (m_free.empty()) {
            ++m_status.framesDropped;
            return;
        }
        slot = m_free.back();
        m_free.pop_back();
        ++m_converting;
        // Frames reach the file in the order they take slots.
        frameNumber = m_framesTaken++;
    }
    ConvertFrame(slot->memory.get() + m_writer.SlotFrameOffset(frameNumber), output);
    slot->timeMs = nowMs;
    std::lock_guard lock(m_lock);
    --m_converting;
    if (m_status.state != State::kRunning) {
        // The recording finished while the frame was being converted.
        m_free.push_back(slot);
        m_changed.notify_all();
        return;
    }
    m_queued.push_back(slot);
    // The frame that comes once the duration has passed is the last one.
    if (nowMs > m_endMs) {
        RequestFinish(EndReason::kDuration);
    }
    m_changed.notify_all();
}

void AviRecorder::RequestFinish(EndReason reason) {
    m_accepting = false;
    if (!m_finishing) {
        m_finishing = true;
        m_status.endReason = reason;
    }
}

void AviRecorder::Finish(EndReason reason) {
    std::lock_guard lock(m_lock);
    if (m_status.state == State::kRunning) {
        RequestFinish(reason);
        m_changed.notify_all();
    }
}

void AviRecorder::Stop(EndReason reason) {
    std::lock_guard control(m_controlLock);
    StopLocked(reason);
}

void AviRecorder::StopLocked(EndReason reason) {
    Finish(reason);
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

uint32_t AviRecorder::MeasuredRate() const {
    // n frames written at the times of their offer span n - 1 frame periods.
    const uint64_t frames = m_status.framesWritten;
    const uint64_t span = m_lastWrittenMs - m_firstWrittenMs;
    if (frames < 2 || span == 0) {
        return 0;
    }
    const uint64_t rate = (frames - 1) * 100'000 / span;
    return static_cast<uint32_t>(std::min<uint64_t>(rate, UINT32_MAX));
}

AviRecorder::Status AviRecorder::GetStatus() const {
    std::lock_guard lock(m_lock);
    Status status = m_status;
    if (status.state == State::kRunning) {
        status.rate = MeasuredRate();
    }
    status.elapsedMs =
        static_cast<uint32_t>(std::min<uint64_t>(m_lastWrittenMs - m_firstWrittenMs, UINT32_MAX));
    return status;
}

void AviRecorder::RecordLoop() {
    // The headers on the disk follow the frames about once a second, so a file whose process is
    // killed still plays with nearly all its frames; a file that cannot take it (a pipe) is
    // finished only at the end.
    bool progressWanted = true;
    uint64_t nextProgressMs = 0;
    for (;;) {
        Slot* slot = nullptr;
        {
            std::unique_lock lock(m_lock);
            // A frame still being converted when the end was asked for is written too.
            m_changed.wait(
                lock, [this] { return !m_queued.empty() || (m_finishing && m_converting == 0); });
            if (m_queued.empty()) {
                break;
            }
            slot = m_queued.front();
            m_queued.pop_front();
        }
        const AviWriter::WriteResult result = m_writer.WriteAviSlot(slot->memory.get());
        const int error = errno;
        std::unique_lock lock(m_lock);
        m_free.push_back(slot);
        if (result == AviWriter::WriteResult::kWritten) {
            const uint64_t timeMs = slot->timeMs;
            if (m_status.framesWritten == 0) {
                m_firstWrittenMs = timeMs;
            }
            m_lastWrittenMs = timeMs;
            ++m_status.framesWritten;
            m_status.fileBytes = m_writer.FileBytes();
            if (progressWanted && timeMs >= nextProgressMs) {
                nextProgressMs = timeMs + kProgressPeriodMs;
                const uint32_t rate = MeasuredRate();
                lock.unlock();
                if (!m_writer.WriteProgress(rate == 0 ? AviWriter::kProvisionalRate : rate)) {
                    platform::Log(kLogCategory, "AVI headers not kept up to date: %s",
                                  std::generic_category().message(errno).c_str());
                    progressWanted = false;
                }
            }
            continue;
        }
        // The file takes no more frames: this one and those still queued are dropped, and the
        // reason replaces a stop asked for meanwhile, since it is what the application must learn.
        platform::Log(kLogCategory, "AVI recording ends after %u frames: %s", m_writer.Frames(),
                      result == AviWriter::WriteResult::kSizeLimit
                          ? "the file reached its size limit"
                          : std::generic_category().message(error).c_str());
        m_accepting = false;
        m_finishing = true;
        m_status.endReason = result == AviWriter::WriteResult::kSizeLimit ? EndReason::kSizeLimit
                                                                          : EndReason::kWriteFailed;
        m_status.framesDropped += 1 + m_queued.size();
        for (Slot* queued : m_queued) {
            m_free.push_back(queued);
        }
        m_queued.clear();
        break;
    }
    uint32_t rate = 0;
    {
        std::lock_guard lock(m_lock);
        rate = MeasuredRate();
    }
    // With fewer than two frames there is no rate to measure; the provisional one stays. A rate
    // below one hundredth of a frame per second is raised to that.
    const bool closed =
        m_writer.CloseAvi(rate == 0 && m_status.framesWritten < 2 ? AviWriter::kProvisionalRate
                                                                  : std::max<uint32_t>(rate, 1));
    const int error = errno;
    EndReason reason = EndReason::kNone;
    {
        std::lock_guard lock(m_lock);
        // Frames the index had no room for are no longer in the file.
        const uint64_t kept = m_writer.Frames();
        if (kept < m_status.framesWritten) {
            m_status.framesDropped += m_status.framesWritten - kept;
            m_status.framesWritten = kept;
        }
        // Frames a failed write left queued never reach the file.
        m_status.framesDropped += m_queued.size();
        for (Slot* queued : m_queued) {
            m_free.push_back(queued);
        }
        m_queued.clear();
        if (!closed) {
            platform::Log(kLogCategory, "the AVI file could not be finished: %s",
                          std::generic_category().message(error).c_str());
            m_status.endReason = EndReason::kWriteFailed;
        }
        m_status.rate = std::max<uint32_t>(rate, m_status.framesWritten < 2 ? 0 : 1);
        m_status.fileBytes = m_writer.FileBytes();
        m_status.state = State::kFinished;
        m_accepting = false;
        m_finishing = false;
        reason = m_status.endReason;
    }
    if (m_onEnd) {
        m_onEnd(reason);
    }
}

}  // namespace quorix
