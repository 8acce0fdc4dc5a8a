#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "platform/event.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

class DeviceFile;

// One request the driver has accepted, from submission until its outcome is read: where its data
// goes, how to cancel it, and the outcome once finished. Shared by the caller's Overlapped, the
// device's list of unfinished transfers and the endpoint worker that runs it. The caller keeps
// the memory behind `header`, `data` and `event` alive until the request has finished.
struct PendingRequest {
    // The outcome as DeviceIoControl and GetOverlappedResult report it.
    struct Outcome {
        bool ok = false;
        uint32_t error = 0;
        uint32_t bytes = 0;
    };

    // Set at submission and read by the worker.
    const DeviceFile* owner = nullptr;  // closing this handle cancels the request
    uint8_t endpoint = 0;
    uint8_t* data = nullptr;
    size_t length = 0;
    uint8_t* header = nullptr;  // the caller's 38-byte header: receives the status words
    uint32_t countBase = 0;     // bytes reported besides the data moved (the header's, or none)
    Event* event = nullptr;     // the caller's; set when the request finishes
    CancelToken cancel;

    // Records the outcome and sets the caller's event; the request touches no caller memory
    // after this.
    void Finish(const Outcome& outcome);
    bool IsFinished() const;
    void WaitFinished() const;
    // Valid once finished.
    Outcome Result() const;

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_finishedChanged;
    bool m_finished = false;
    Outcome m_outcome;
};

}  // namespace quorix::platform::usb
