#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb/pending_request.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

class DeviceFile;

// The driver's state of one present device, shared by every handle open on it: its USB link,
// the bulk transfers not yet finished, and one worker thread per bulk endpoint in use that runs
// that endpoint's transfers in order. Owned jointly by the open handles; the last one to close
// destroys it, after each handle has finished its own transfers.
class UsbDevice {
public:
    UsbDevice(std::string path, std::shared_ptr<UsbLinkProvider> provider,
              std::shared_ptr<UsbLink> link);
    ~UsbDevice();
    UsbDevice(const UsbDevice&) = delete;
    UsbDevice& operator=(const UsbDevice&) = delete;

    const std::string& Path() const { return m_path; }
    const std::shared_ptr<UsbLinkProvider>& Provider() const { return m_provider; }
    UsbLink& Link() const { return *m_link; }

    // Queues a bulk transfer behind the earlier ones on its endpoint. From the moment this
    // returns, AbortPipe and CancelRequestsOf reach the request, even before it starts.
    void Submit(const std::shared_ptr<PendingRequest>& request);

    // Cancels every unfinished transfer on `endpoint`, whichever handle issued it, and returns
    // once each of them has finished.
    void AbortPipe(uint8_t endpoint);

    // Cancels the unfinished transfers of one handle and returns once each has finished.
    void CancelRequestsOf(const DeviceFile* owner);

private:
    struct EndpointWorker {
        std::deque<std::shared_ptr<PendingRequest>> queue;
        std::condition_variable wake;
        std::thread thread;
    };

    void RunWorker(EndpointWorker& worker);
    void Execute(const std::shared_ptr<PendingRequest>& request);
    void CancelAndWait(const std::function<bool(const PendingRequest&)>& selects);

    const std::string m_path;
    const std::shared_ptr<UsbLinkProvider> m_provider;
    const std::shared_ptr<UsbLink> m_link;

    std::mutex m_mutex;
    std::vector<std::shared_ptr<PendingRequest>> m_unfinished;
    std::map<uint8_t, std::unique_ptr<EndpointWorker>> m_workers;
    bool m_stopping = false;
};

}  // namespace quorix::platform::usb
