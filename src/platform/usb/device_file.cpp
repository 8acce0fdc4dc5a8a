#include "platform/usb/device_file.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "platform/byte_order.h"
#include "platform/usb/transfer_header.h"

namespace quorix::platform::usb {

namespace {

using Outcome = PendingRequest::Outcome;

constexpr Outcome Failure(uint32_t error) {
    return {false, error, 0};
}

constexpr bool IsDeviceToHost(uint8_t requestTypeOrEndpoint) {
    return (requestTypeOrEndpoint & 0x80) != 0;
}

// Whether `offset + length` bytes fit a buffer of `size` bytes, without overflowing.
constexpr bool Fits(uint32_t offset, uint32_t length, uint32_t size) {
    return static_cast<uint64_t>(offset) + length <= size;
}

Outcome OutcomeOf(TransferResult result, uint32_t bytes) {
    return {result == TransferResult::kCompleted, ErrorCodeOf(result), bytes};
}

}  // namespace

DeviceFile::DeviceFile(std::shared_ptr<UsbDevice> device, bool overlapped)
    : m_device(std::move(device)), m_overlapped(overlapped) {}

DeviceFile::~DeviceFile() {
    Close();
}

void DeviceFile::Close() {
    std::shared_ptr<UsbDevice> device;
    {
        std::lock_guard lock(m_mutex);
        device = std::move(m_device);
        m_device = nullptr;
    }
    // No worker may write into a caller's buffer after its handle is gone.
    if (device)
        device->CancelRequestsOf(this);
}

std::shared_ptr<UsbDevice> DeviceFile::Device() const {
    std::lock_guard lock(m_mutex);
    return m_device;
}

bool DeviceFile::IoControl(uint32_t code, void* in, uint32_t inSize, void* out, uint32_t outSize,
                           uint32_t* bytesReturned, Overlapped* overlapped, uint32_t* lastError) {
    auto* inBytes = static_cast<uint8_t*>(in);
    auto* outBytes = static_cast<uint8_t*>(out);
    const std::shared_ptr<UsbDevice> device = Device();

    const auto report = [&](const Outcome& outcome) {
        *lastError = outcome.error;
        if (bytesReturned != nullptr)
            *bytesReturned = outcome.bytes;
        return outcome.ok;
    };
    if (!device)
        return report(Failure(kErrorInvalidHandle));
    if (overlapped != nullptr) {
        // One Overlapped tracks one request at a time.
        if (overlapped->pending && !overlapped->pending->IsFinished())
            return report(Failure(kErrorInvalidParameter));
        overlapped->pending.reset();
        if (overlapped->event != nullptr)
            overlapped->event->Reset();
    }

    if (code == kIoctlBufferedTransfer || code == kIoctlDirectTransfer) {
        Outcome failure;
        std::shared_ptr<PendingRequest> request =
            PrepareBulk(code, inBytes, inSize, outBytes, outSize, &failure);
        if (!request)
            return report(failure);
        request->event = overlapped != nullptr ? overlapped->event : nullptr;
        device->Submit(request);
        if (overlapped != nullptr)
            overlapped->pending = request;
        if (m_overlapped && overlapped != nullptr) {
            if (bytesReturned != nullptr)
                *bytesReturned = 0;
            *lastError = kErrorIoPending;
            return false;
        }
        request->WaitFinished();
        return report(request->Result());
    }

    Outcome outcome;
    switch (code) {
        case kIoctlControlTransfer:
            outcome = ControlTransfer(*device, inBytes, inSize, outBytes, outSize);
            break;
        case kIoctlAbortPipe:
            if (inBytes == nullptr || inSize < 1) {
                outcome = Failure(kErrorInsufficientBuffer);
                break;
            }
            device->AbortPipe(inBytes[0]);
            outcome = {true, kErrorSuccess, 0};
            break;
        default:
            outcome = SimpleRequest(*device, code, inBytes, inSize, outBytes, outSize);
            break;
    }
    // A request that finished at once still completes its Overlapped, as a pending one would.
    if (overlapped != nullptr) {
        auto finished = std::make_shared<PendingRequest>();
        finished->event = overlapped->event;
        finished->Finish(outcome);
        overlapped->pending = std::move(finished);
    }
    return report(outcome);
}

Outcome DeviceFile::ControlTransfer(UsbDevice& device, uint8_t* in, uint32_t inSize, uint8_t* out,
                                    uint32_t outSize) {
    if (in == nullptr || out == nullptr)
        return Failure(kErrorInvalidParameter);
    if (inSize < kTransferHeaderSize || outSize < kTransferHeaderSize)
        return Failure(kErrorInsufficientBuffer);
    const TransferHeader header = ReadTransferHeader(in);
    // The data stage is the header's buffer length; its "length" field holds the size of the
    // whole request buffer and says nothing about the transfer.
    if (header.bufferOffset < kTransferHeaderSize || header.bufferLength > UINT16_MAX)
        return Failure(kErrorInvalidParameter);
    const bool deviceToHost = IsDeviceToHost(header.requestType);
    if (!Fits(header.bufferOffset, header.bufferLength, deviceToHost ? outSize : inSize))
        return Failure(kErrorInsufficientBuffer);
    if (out != in)
        std::memmove(out, in, kTransferHeaderSize);

    SetupPacket setup;
    setup.requestType = header.requestType;
    setup.request = header.request;
    setup.value = header.value;
    setup.index = header.index;
    setup.length = static_cast<uint16_t>(header.bufferLength);
    uint8_t* data = (deviceToHost ? out : in) + header.bufferOffset;
    size_t moved = 0;
    const TransferResult result = device.Link().ControlTransfer(setup, data, &moved);
    moved = std::min<size_t>(moved, setup.length);

    const TransferStatus status = StatusOf(result);
    WriteTransferStatus(out, status.driverStatus, status.busStatus);
    return OutcomeOf(result, static_cast<uint32_t>(kTransferHeaderSize + moved));
}

std::shared_ptr<PendingRequest> DeviceFile::PrepareBulk(uint32_t code, uint8_t* in, uint32_t inSize,
                                                        uint8_t* out, uint32_t outSize,
                                                        Outcome* failure) const {
    *failure = Failure(kErrorInvalidParameter);
    if (in == nullptr)
        return nullptr;
    if (inSize < kTransferHeaderSize) {
        *failure = Failure(kErrorInsufficientBuffer);
        return nullptr;
    }
    const TransferHeader header = ReadTransferHeader(in);
    if (!IsBulkEndpoint(header.endpointAddress))
        return nullptr;

    auto request = std::make_shared<PendingRequest>();
    request->owner = this;
    request->endpoint = header.endpointAddress;
    if (code == kIoctlDirectTransfer) {
        // The data moves straight into or out of the caller's buffer; the caller's header only
        // names the endpoint and receives the status words.
        if (out == nullptr && outSize != 0)
            return nullptr;
        request->data = out;
        request->length = outSize;
        request->header = in;
        request->countBase = 0;
        return request;
    }

    // Buffered: the header and the data travel in one buffer, the data at the header's offset.
    if (out == nullptr)
        return nullptr;
    const bool inbound = IsDeviceToHost(header.endpointAddress);
    if (header.bufferOffset < kTransferHeaderSize)
        return nullptr;
    if (outSize < kTransferHeaderSize ||
        !Fits(header.bufferOffset, header.bufferLength, inbound ? outSize : inSize)) {
        *failure = Failure(kErrorInsufficientBuffer);
        return nullptr;
    }
    if (out != in)
        std::memmove(out, in, kTransferHeaderSize);
    request->data = (inbound ? out : in) + header.bufferOffset;
    request->length = header.bufferLength;
    request->header = out;
    request->countBase = kTransferHeaderSize;
    return request;
}

Outcome DeviceFile::SimpleRequest(UsbDevice& device, uint32_t code, const uint8_t* in,
                                  uint32_t inSize, uint8_t* out, uint32_t outSize) {
    switch (code) {
        case kIoctlResetPipe:
            if (in == nullptr || inSize < 1)
                return Failure(kErrorInsufficientBuffer);
            break;
        case kIoctlDeviceSpeed:
            if (out == nullptr || outSize < sizeof(uint32_t))
                return Failure(kErrorInsufficientBuffer);
            break;
        case kIoctlResetDevice:
            break;
        default:
            return Failure(kErrorInvalidParameter);
    }

    UsbLink& link = device.Link();
    if (!link.IsConnected())
        return Failure(kErrorDeviceNotConnected);
    switch (code) {
        case kIoctlResetPipe:
            return link.ResetPipe(in[0]) ? Outcome{true, kErrorSuccess, 0}
                                         : Failure(kErrorGenFailure);
        case kIoctlResetDevice:
            return link.ResetDevice() ? Outcome{true, kErrorSuccess, 0} : Failure(kErrorGenFailure);
        default:
            WriteLe32(out, link.DeviceSpeed());
            return {true, kErrorSuccess, sizeof(uint32_t)};
    }
}

}  // namespace quorix::platform::usb
