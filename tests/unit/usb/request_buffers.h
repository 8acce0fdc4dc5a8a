#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quorix::platform::usb::usbtest {

// Requests laid out byte by byte as the camera's transport builds them: the 38-byte transfer
// request header (request type @0, request code @1, value @2, index @4, length @6, timeout @8,
// reserved @12, endpoint @13, driver status @14, bus status @18, iso offset @22, iso length @26,
// buffer offset @30, buffer length @34, little-endian), then the data.

constexpr uint32_t kHeaderSize = 38;
constexpr uint32_t kControlBufferSize = 102;
constexpr uint32_t kControlDataSize = 64;

inline void Put16(uint8_t* at, uint16_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}
inline void Put32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<uint8_t>(value >> (8 * i));
}
inline uint32_t Get32(const uint8_t* at) {
    return at[0] | (at[1] << 8) | (at[2] << 16) | (static_cast<uint32_t>(at[3]) << 24);
}
inline uint32_t DriverStatus(const uint8_t* header) {
    return Get32(header + 14);
}
inline uint32_t BusStatus(const uint8_t* header) {
    return Get32(header + 18);
}

// A vendor control request: 102 bytes, header length field 102, timeout 3 s, data at 38 with a
// 64-byte data stage, the payload (host-to-device) at offset 38.
inline std::array<uint8_t, kControlBufferSize> ControlRequest(
    uint8_t requestType, uint8_t request, uint16_t value, uint16_t index,
    const std::vector<uint8_t>& payload = {}) {
    std::array<uint8_t, kControlBufferSize> buffer{};
    buffer[0] = requestType;
    buffer[1] = request;
    Put16(&buffer[2], value);
    Put16(&buffer[4], index);
    Put16(&buffer[6], kControlBufferSize);
    Put32(&buffer[8], 3);
    Put32(&buffer[30], kHeaderSize);
    Put32(&buffer[34], kControlDataSize);
    for (size_t i = 0; i < payload.size() && i < kControlDataSize; ++i)
        buffer[kHeaderSize + i] = payload[i];
    return buffer;
}

// A buffered bulk request: header with the endpoint, data offset 38 and length, then the data.
inline std::vector<uint8_t> BufferedRequest(uint8_t endpoint, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> buffer(kHeaderSize + data.size());
    buffer[13] = endpoint;
    Put32(&buffer[30], kHeaderSize);
    Put32(&buffer[34], static_cast<uint32_t>(data.size()));
    std::copy(data.begin(), data.end(), buffer.begin() + kHeaderSize);
    return buffer;
}

// A direct bulk request's header: only the endpoint is set.
inline std::array<uint8_t, kHeaderSize> DirectHeader(uint8_t endpoint) {
    std::array<uint8_t, kHeaderSize> header{};
    header[13] = endpoint;
    return header;
}

inline std::vector<uint8_t> Pattern(size_t size, uint8_t seed) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

}  // namespace quorix::platform::usb::usbtest
