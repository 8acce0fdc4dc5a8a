#include "platform/usb/socket_protocol.h"

#include "platform/byte_order.h"

namespace quorix::platform::usb {

void EncodeRequest(const WireRequest& request, uint8_t* bytes) {
    WriteLe32(bytes + offsetof(WireRequest, payloadLength), request.payloadLength);
    bytes[offsetof(WireRequest, type)] = request.type;
    bytes[offsetof(WireRequest, endpoint)] = request.endpoint;
    bytes[offsetof(WireRequest, requestType)] = request.requestType;
    bytes[offsetof(WireRequest, request)] = request.request;
    WriteLe16(bytes + offsetof(WireRequest, value), request.value);
    WriteLe16(bytes + offsetof(WireRequest, index), request.index);
    WriteLe32(bytes + offsetof(WireRequest, length), request.length);
}

WireRequest DecodeRequest(const uint8_t* bytes) {
    WireRequest request;
    request.payloadLength = ReadLe32(bytes + offsetof(WireRequest, payloadLength));
    request.type = bytes[offsetof(WireRequest, type)];
    request.endpoint = bytes[offsetof(WireRequest, endpoint)];
    request.requestType = bytes[offsetof(WireRequest, requestType)];
    request.request = bytes[offsetof(WireRequest, request)];
    request.value = ReadLe16(bytes + offsetof(WireRequest, value));
    request.index = ReadLe16(bytes + offsetof(WireRequest, index));
    request.length = ReadLe32(bytes + offsetof(WireRequest, length));
    return request;
}

void EncodeReply(const WireReply& reply, uint8_t* bytes) {
    WriteLe32(bytes + offsetof(WireReply, payloadLength), reply.payloadLength);
    bytes[offsetof(WireReply, type)] = reply.type;
    bytes[offsetof(WireReply, result)] = reply.result;
    WriteLe16(bytes + offsetof(WireReply, reserved), reply.reserved);
    WriteLe32(bytes + offsetof(WireReply, value), reply.value);
    WriteLe32(bytes + offsetof(WireReply, reserved2), reply.reserved2);
}

WireReply DecodeReply(const uint8_t* bytes) {
    WireReply reply;
    reply.payloadLength = ReadLe32(bytes + offsetof(WireReply, payloadLength));
    reply.type = bytes[offsetof(WireReply, type)];
    reply.result = bytes[offsetof(WireReply, result)];
    reply.reserved = ReadLe16(bytes + offsetof(WireReply, reserved));
    reply.value = ReadLe32(bytes + offsetof(WireReply, value));
    reply.reserved2 = ReadLe32(bytes + offsetof(WireReply, reserved2));
    return reply;
}

std::optional<uint32_t> ExpectedRequestPayload(const WireRequest& request) {
    switch (static_cast<WireType>(request.type)) {
        case WireType::kControl:
            if (request.length > UINT16_MAX)
                return std::nullopt;
            return (request.requestType & 0x80) != 0 ? 0 : request.length;
        case WireType::kBulk:
            if (!IsBulkEndpoint(request.endpoint) || request.length > kMaxWirePayload)
                return std::nullopt;
            return (request.endpoint & 0x80) != 0 ? 0 : request.length;
        case WireType::kCancel:
        case WireType::kResetPipe:
        case WireType::kResetDevice:
        case WireType::kDeviceSpeed:
        case WireType::kIsConnected:
            return 0;
    }
    return std::nullopt;
}

uint8_t EncodeResult(TransferResult result) {
    switch (result) {
        case TransferResult::kCompleted:
            return 0;
        case TransferResult::kStalled:
            return 1;
        case TransferResult::kCancelled:
            return 2;
        case TransferResult::kDisconnected:
            return 3;
        case TransferResult::kError:
            break;
    }
    return 4;
}

std::optional<TransferResult> DecodeResult(uint8_t code) {
    switch (code) {
        case 0:
            return TransferResult::kCompleted;
        case 1:
            return TransferResult::kStalled;
        case 2:
            return TransferResult::kCancelled;
        case 3:
            return TransferResult::kDisconnected;
        case 4:
            return TransferResult::kError;
        default:
            return std::nullopt;
    }
}

}  // namespace quorix::platform::usb
