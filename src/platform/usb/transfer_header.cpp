#include "platform/usb/transfer_header.h"

#include "platform/byte_order.h"
#include "platform/usb/device_io.h"

namespace quorix::platform::usb {

TransferHeader ReadTransferHeader(const uint8_t* bytes) {
    TransferHeader header;
    header.requestType = bytes[offsetof(TransferHeader, requestType)];
    header.request = bytes[offsetof(TransferHeader, request)];
    header.value = ReadLe16(bytes + offsetof(TransferHeader, value));
    header.index = ReadLe16(bytes + offsetof(TransferHeader, index));
    header.length = ReadLe16(bytes + offsetof(TransferHeader, length));
    header.timeout = ReadLe32(bytes + offsetof(TransferHeader, timeout));
    header.reserved = bytes[offsetof(TransferHeader, reserved)];
    header.endpointAddress = bytes[offsetof(TransferHeader, endpointAddress)];
    header.driverStatus = ReadLe32(bytes + offsetof(TransferHeader, driverStatus));
    header.busStatus = ReadLe32(bytes + offsetof(TransferHeader, busStatus));
    header.isoPacketOffset = ReadLe32(bytes + offsetof(TransferHeader, isoPacketOffset));
    header.isoPacketLength = ReadLe32(bytes + offsetof(TransferHeader, isoPacketLength));
    header.bufferOffset = ReadLe32(bytes + offsetof(TransferHeader, bufferOffset));
    header.bufferLength = ReadLe32(bytes + offsetof(TransferHeader, bufferLength));
    return header;
}

void WriteTransferHeader(const TransferHeader& header, uint8_t* bytes) {
    bytes[offsetof(TransferHeader, requestType)] = header.requestType;
    bytes[offsetof(TransferHeader, request)] = header.request;
    WriteLe16(bytes + offsetof(TransferHeader, value), header.value);
    WriteLe16(bytes + offsetof(TransferHeader, index), header.index);
    WriteLe16(bytes + offsetof(TransferHeader, length), header.length);
    WriteLe32(bytes + offsetof(TransferHeader, timeout), header.timeout);
    bytes[offsetof(TransferHeader, reserved)] = header.reserved;
    bytes[offsetof(TransferHeader, endpointAddress)] = header.endpointAddress;
    WriteTransferStatus(bytes, header.driverStatus, header.busStatus);
    WriteLe32(bytes + offsetof(TransferHeader, isoPacketOffset), header.isoPacketOffset);
    WriteLe32(bytes + offsetof(TransferHeader, isoPacketLength), header.isoPacketLength);
    WriteLe32(bytes + offsetof(TransferHeader, bufferOffset), header.bufferOffset);
    WriteLe32(bytes + offsetof(TransferHeader, bufferLength), header.bufferLength);
}

void WriteTransferStatus(uint8_t* bytes, uint32_t driverStatus, uint32_t busStatus) {
    WriteLe32(bytes + offsetof(TransferHeader, driverStatus), driverStatus);
    WriteLe32(bytes + offsetof(TransferHeader, busStatus), busStatus);
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
