#include "platform/usb/transfer_header.h"

#include "platform/usb/byte_order.h"
#include "platform/usb/device_io.h"

namespace quorix::platform::usb {

TransferHeader ReadTransferHeader(const uint8_t* bytes) {
    TransferHeader header;
    header.requestType = bytes[offsetof(TransferHeader, requestType)];
    header.request = bytes[offsetof(TransferHeader, request)];
    header.value = LoadLe16(bytes + offsetof(TransferHeader, value));
    header.index = LoadLe16(bytes + offsetof(TransferHeader, index));
    header.length = LoadLe16(bytes + offsetof(TransferHeader, length));
    header.timeout = LoadLe32(bytes + offsetof(TransferHeader, timeout));
    header.reserved = bytes[offsetof(TransferHeader, reserved)];
    header.endpointAddress = bytes[offsetof(TransferHeader, endpointAddress)];
    header.driverStatus = LoadLe32(bytes + offsetof(TransferHeader, driverStatus));
    header.busStatus = LoadLe32(bytes + offsetof(TransferHeader, busStatus));
    header.isoPacketOffset = LoadLe32(bytes + offsetof(TransferHeader, isoPacketOffset));
    header.isoPacketLength = LoadLe32(bytes + offsetof(TransferHeader, isoPacketLength));
    header.bufferOffset = LoadLe32(bytes + offsetof(TransferHeader, bufferOffset));
    header.bufferLength = LoadLe32(bytes + offsetof(TransferHeader, bufferLength));
    return header;
}

void WriteTransferHeader(const TransferHeader& header, uint8_t* bytes) {
    bytes[offsetof(TransferHeader, requestType)] = header.requestType;
    bytes[offsetof(TransferHeader, request)] = header.request;
    StoreLe16(bytes + offsetof(TransferHeader, value), header.value);
    StoreLe16(bytes + offsetof(TransferHeader, index), header.index);
    StoreLe16(bytes + offsetof(TransferHeader, length), header.length);
    StoreLe32(bytes + offsetof(TransferHeader, timeout), header.timeout);
    bytes[offsetof(TransferHeader, reserved)] = header.reserved;
    bytes[offsetof(TransferHeader, endpointAddress)] = header.endpointAddress;
    WriteTransferStatus(bytes, header.driverStatus, header.busStatus);
    StoreLe32(bytes + offsetof(TransferHeader, isoPacketOffset), header.isoPacketOffset);
    StoreLe32(bytes + offsetof(TransferHeader, isoPacketLength), header.isoPacketLength);
    StoreLe32(bytes + offsetof(TransferHeader, bufferOffset), header.bufferOffset);
    StoreLe32(bytes + offsetof(TransferHeader, bufferLength), header.bufferLength);
}

void WriteTransferStatus(uint8_t* bytes, uint32_t driverStatus, uint32_t busStatus) {
    StoreLe32(bytes + offsetof(TransferHeader, driverStatus), driverStatus);
    StoreLe32(bytes + offsetof(TransferHeader, busStatus), busStatus);
}

TransferStatus StatusOf(TransferResult result) {
    switch (result) {
        case TransferResult::kCompleted:
            return {};
        case TransferResult::kStalled:
            return {kDriverStatusUnsuccessful, kBusStatusStallPid};
        case TransferResult::kCancelled:
            return {kDriverStatusCancelled, kBusStatusCanceled};
        case TransferResult::kDisconnected:
            return {kDriverStatusDeviceNotConnected, kBusStatusDeviceGone};
        case TransferResult::kError:
            break;
    }
    return {kDriverStatusUnsuccessful, kBusStatusTransactionError};
}

uint32_t ErrorCodeOf(TransferResult result) {
    switch (result) {
        case TransferResult::kCompleted:
            return kErrorSuccess;
        case TransferResult::kCancelled:
            return kErrorOperationAborted;
        case TransferResult::kDisconnected:
            return kErrorDeviceNotConnected;
        case TransferResult::kStalled:
        case TransferResult::kError:
            break;
    }
    return kErrorGenFailure;
}

}  // namespace quorix::platform::usb
