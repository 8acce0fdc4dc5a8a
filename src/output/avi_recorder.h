#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "imaging/image_buffer.h"
#include "output/avi_writer.h"
#include "platform/file_io.h"

namespace quorix {

// Records the preview's processed frames into an AVI file. The preview's worker offers each
// frame as it is processed; the frame is converted at once into a free slot of a small queue
// (24-bit, bottom row first, as the file stores it), and the recorder thread writes the queued
// slots to the file. A file that cannot keep up never holds the worker: with no free slot the
// frame is dropped whole and counted. The recording ends by itself once its duration has passed
// after its first frame, or when it is stopped; either way the recorder thread finishes the file
// (index written, headers patched with the frame count and the measured rate) before it ends.
// Meanwhile it brings the headers up to the frames written about once a second, for a process
// that is killed before then.
// Owned by the camera context.
class AviRecorder {
public:
    // Why a recording ended (the QUORIX_RECORD_END_* codes).
    enum class EndReason : uint32_t {
        kNone = 0,            // still running, or none yet
        kDuration = 1,        // the duration passed
        kStopped = 2,         // stopped by the application (stop, close, release, new recording)
        kAcquisition = 3,     // the frames ended: the camera stopped sending or went away
        kWriteFailed = 4,     // the file could not be written further (a full disk, an I/O error)
        kSizeLimit = 5,       // the next frame would have taken the file past the AVI limit
        kPictureChanged = 6,  // the picture's size changed (capture window or sub-sampling)
    };
    enum class State : uint32_t { kIdle = 0, kRunning = 1, kFinished = 2 };
    enum class StartResult { kStarted, kFileFailed, kNoMemory, kNoThread };

    struct Status {
        State state = State::kIdle;
        EndReason endReason = EndReason::kNone;
        uint64_t framesWritten = 0;
        uint64_t framesDropped = 0;  // offered while recording but not written
        uint64_t fileBytes = 0;
        int32_t width = 0;
        int32_t height = 0;
        uint32_t rate = 0;       // [frames per second x 100] over the frames written; 0 before 2
        uint32_t elapsedMs = 0;  // from the first frame written to the newest
    };

    // Runs on the recorder thread once the file is closed, with the reason the recording ended.
    using EndHandler = std::function<void(EndReason)>;

    // Memory the queue's slots may take together [bytes]; at least kMinSlots slots are made.
    static constexpr size_t kQueueBytes = size_t{160} << 20;
    static constexpr size_t kMinSlots = 3;
    static constexpr size_t kMaxSlots = 16;
    // How often the file's headers are brought up to the frames written [ms].
    static constexpr uint64_t kProgressPeriodMs = 1000;

    // `maxFileBytes`: the largest file a recording makes (the AVI limit unless smaller).
    explicit AviRecorder(uint64_t maxFileBytes = AviWriter::kMaxFileBytes);
    AviRecorder(const AviRecorder&) = delete;
    AviRecorder& operator=(const AviRecorder&) = delete;
    ~AviRecorder();

    // Creates the file for frames of width x height and starts the recorder thread; a recording
    // still running is stopped first. The duration counts from the first frame offered [ms].
    StartResult Start(const char* fileName, int32_t width, int32_t height, uint32_t durationMs,
                      EndHandler onEnd);
    // A processed frame of the preview at `nowMs` (the SDK clock). Called by the worker with the
    // frame lock held; returns at once when no recording takes frames.
    void OfferFrame(const CImageBuffer& output, uint64_t nowMs);
    // Asks the running recording to end: the frames already queued are written, then the file
    // is finished. Returns at once.
    void Finish(EndReason reason);
    // Ends the running recording like Finish and waits until its file is finished.
    void Stop(EndReason reason);
    Status GetStatus() const;

private:
    // A frame slot of the writer's layout (AviWriter::SlotBytes) with one frame as the file
    // stores it.
    struct Slot {
        std::unique_ptr<uint8_t, void (*)(void*)> memory{nullptr, platform::FreeAligned};
        uint64_t timeMs = 0;
    };

    // Stop with m_controlLock held.
    void StopLocked(EndReason reason);
    // Body of the recorder thread.
    void RecordLoop();
    // Sets the reason and stops taking frames; the caller holds m_lock.
    void RequestFinish(EndReason reason);
    // The rate measured over the frames written so far; the caller holds m_lock.
    uint32_t MeasuredRate() const;
    // Converts the output image into the file's frame layout, row padding 0.
    static void ConvertFrame(uint8_t* frame, const CImageBuffer& output);

    // Keeps one application thread at a time in Start and Stop, which start and join the thread.
    std::mutex m_controlLock;
    AviWriter m_writer;  // used by the recorder thread alone while it runs
    std::thread m_thread;
    EndHandler m_onEnd;

    mutable std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<std::unique_ptr<Slot>> m_slots;
    std::vector<Slot*> m_free;
    std::deque<Slot*> m_queued;
    bool m_accepting = false;    // frames are taken
    bool m_finishing = false;    // the recorder thread finishes the file once the queue is empty
    bool m_started = false;      // the first frame has been offered
    uint64_t m_framesTaken = 0;  // frames given a slot: the next one's number in the file
    size_t m_slotBytes = 0;
    int m_converting = 0;  // slots the worker is filling outside the lock
    uint64_t m_endMs = 0;
    uint32_t m_durationMs = 0;
    uint64_t m_firstWrittenMs = 0;
    uint64_t m_lastWrittenMs = 0;
    Status m_status;
};

}  // namespace quorix
