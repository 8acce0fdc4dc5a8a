#include "platform/usb/usb_device.h"

#include <algorithm>
#include <utility>

#include "platform/usb/transfer_header.h"

namespace quorix::platform::usb {

UsbDevice::UsbDevice(std::string path, std::shared_ptr<UsbLinkProvider> provider,
                     std::shared_ptr<UsbLink> link)
    : m_path(std::move(path)), m_provider(std::move(provider)), m_link(std::move(link)) {}

UsbDevice::~UsbDevice() {
    // Every handle has finished its transfers before the last one lets go of the device, so the
    // workers find their queues empty and end.
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        for (auto& [endpoint, worker] : m_workers)
            worker->wake.notify_all();
    }
    for (auto& [endpoint, worker] : m_workers)
        worker->thread.join();
}

void UsbDevice::Submit(const std::shared_ptr<PendingRequest>& request) {
    std::lock_guard lock(m_mutex);
    auto found = m_workers.find(request->endpoint);
    if (found == m_workers.end()) {
        // Started before anything is listed, so a failure to start leaves nothing behind.
        auto worker = std::make_unique<EndpointWorker>();
        worker->thread = std::thread(&UsbDevice::RunWorker, this, std::ref(*worker));
        found = m_workers.emplace(request->endpoint, std::move(worker)).first;
    }
    m_unfinished.push_back(request);
    found->second->queue.push_back(request);
    found->second->wake.notify_one();
}

void UsbDevice::RunWorker(EndpointWorker& worker) {
    std::unique_lock lock(m_mutex);
    for (;;) {
        worker.wake.wait(lock, [&] { return m_stopping || !worker.queue.empty(); });
        if (worker.queue.empty())
            return;
        std::shared_ptr<PendingRequest> request = std::move(worker.queue.front());
        worker.queue.pop_front();
        lock.unlock();
        Execute(request);
        lock.lock();
    }
}

void UsbDevice::Execute(const std::shared_ptr<PendingRequest>& request) {
    size_t moved = 0;
    // A request aborted while it waited in the queue never reaches the device.
    TransferResult result = TransferResult::kCancelled;
    if (!request->cancel.IsCancelled())
        result = m_link->BulkTransfer(request->endpoint, request->data, request->length, &moved,
                                      request->cancel);
    moved = std::min(moved, request->length);

    const TransferStatus status = StatusOf(result);
    WriteTransferStatus(request->header, status.driverStatus, status.busStatus);
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_unfinished, request);
    }
    request->Finish({result == TransferResult::kCompleted, ErrorCodeOf(result),
                     request->countBase + static_cast<uint32_t>(moved)});
}

void UsbDevice::AbortPipe(uint8_t endpoint) {
    CancelAndWait(
        [endpoint](const PendingRequest& request) { return request.endpoint == endpoint; });
}

void UsbDevice::CancelRequestsOf(const DeviceFile* owner) {
    CancelAndWait([owner](const PendingRequest& request) { return request.owner == owner; });
}

void UsbDevice::CancelAndWait(const std::function<bool(const PendingRequest&)>& selects) {
    std::vector<std::shared_ptr<PendingRequest>> selected;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& request : m_unfinished)
            if (selects(*request))
                selected.push_back(request);
    }
    // Cancelling runs the link's waker, which takes the link's locks: not under ours.
    for (const auto& request : selected)
        request->cancel.Cancel();
    for (const auto& request : selected)
        request->WaitFinished();
}

}  // namespace quorix::platform::usb
