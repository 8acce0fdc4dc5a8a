#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// The emulator socket's protocol: each connection carries one operation at a time, a request
// from the client and then one reply from the server. A client that needs operations at the same
// time (bulk transfers on several endpoints, a control transfer meanwhile) opens more connections.
// While a bulk transfer waits, the client may send a cancel message on its connection; the server
// then cancels the transfer, which replies as usual. Every message is a 16-byte prefix and
// `payloadLength` bytes of data, little-endian, packed.

enum class WireType : uint8_t {
    kControl = 1,      // setup fields; payload: the host-to-device data stage
    kBulk = 2,         // endpoint, length; payload: the out data
    kCancel = 3,       // cancels the bulk transfer waiting on this connection; no reply
    kResetPipe = 4,    // endpoint
    kResetDevice = 5,  //
    kDeviceSpeed = 6,  //
    kIsConnected = 7,  //
};
// A reply carries the request's type with this bit set.
inline constexpr uint8_t kWireReplyFlag = 0x80;

// The longest data a message may carry: a whole frame and its header at the largest geometry the
// camera can send. Every length from the peer is checked against it before anything is allocated.
inline constexpr uint32_t kMaxWirePayload = 0x4000000 + 64;

struct [[gnu::packed]] WireRequest {
    uint32_t payloadLength = 0;  // [bytes] following the prefix
    uint8_t type = 0;            // WireType
    uint8_t endpoint = 0;        // bulk and reset-pipe requests
    uint8_t requestType = 0;     // control requests: the setup packet
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
    uint32_t length = 0;  // [bytes] control: data stage (<= 65535); bulk: transfer length
};
inline constexpr size_t kWireRequestSize = 16;
static_assert(sizeof(WireRequest) == kWireRequestSize);
static_assert(offsetof(WireRequest, type) == 4 && offsetof(WireRequest, endpoint) == 5 &&
              offsetof(WireRequest, requestType) == 6 && offsetof(WireRequest, request) == 7 &&
              offsetof(WireRequest, value) == 8 && offsetof(WireRequest, index) == 10 &&
              offsetof(WireRequest, length) == 12);

struct [[gnu::packed]] WireReply {
    uint32_t payloadLength = 0;  // [bytes] following the prefix: the in data
    uint8_t type = 0;            // the request's WireType | kWireReplyFlag
    uint8_t result = 0;          // TransferResult; for the other requests 1 = true, 0 = false
    uint16_t reserved = 0;
    uint32_t value = 0;  // control and bulk: bytes moved; speed: the speed word
    uint32_t reserved2 = 0;
};
inline constexpr size_t kWireReplySize = 16;
static_assert(sizeof(WireReply) == kWireReplySize);
static_assert(offsetof(WireReply, type) == 4 && offsetof(WireReply, result) == 5 &&
              offsetof(WireReply, value) == 8 && offsetof(WireReply, reserved2) == 12);

void EncodeRequest(const WireRequest& request, uint8_t* bytes);
WireRequest DecodeRequest(const uint8_t* bytes);
void EncodeReply(const WireReply& reply, uint8_t* bytes);
WireReply DecodeReply(const uint8_t* bytes);

// The payload length a well-formed request of this kind carries, or nothing when the request
// itself is malformed (unknown type, bad endpoint, length out of range).
std::optional<uint32_t> ExpectedRequestPayload(const WireRequest& request);

// The wire numbering of transfer results; nothing for a number that names none.
uint8_t EncodeResult(TransferResult result);
std::optional<TransferResult> DecodeResult(uint8_t code);

}  // namespace quorix::platform::usb
