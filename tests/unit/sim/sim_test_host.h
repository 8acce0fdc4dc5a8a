#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/usb/usb_link.h"
#include "sim/scene.h"

namespace quorix::sim::test {

using platform::usb::CancelToken;
using platform::usb::SetupPacket;
using platform::usb::TransferResult;
using platform::usb::UsbLink;

// Request types as the host sends them.
constexpr uint8_t kIn = 0xC0;           // device-to-host, vendor, device
constexpr uint8_t kOut = 0x40;          // host-to-device, vendor, device
constexpr uint8_t kOutEndpoint = 0x42;  // host-to-device, vendor, endpoint
constexpr size_t kDataStage = 64;       // every control request carries a 64-byte data stage
constexpr size_t kChunk = 0x80000;      // the host reads frame data in chunks of this size

struct ControlReply {
    TransferResult result = TransferResult::kError;
    size_t moved = 0;
    std::array<uint8_t, kDataStage> data{};
};

struct FrameRead {
    std::array<uint8_t, 64> header{};
    uint32_t byteCount = 0;
    uint32_t frameNumber = 0;
    std::vector<uint8_t> data;
};

inline uint32_t Le32(const uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// Plays the host: every request built by hand, byte by byte, as the SDK's controller and sensor
// head send them over a UsbLink.
class TestHost {
public:
    explicit TestHost(UsbLink& link) : m_link(link) {}

    ControlReply Control(uint8_t type, uint8_t request, uint16_t value, uint16_t index,
                         const std::vector<uint8_t>& payload = {}, uint16_t length = kDataStage) {
        ControlReply reply;
        std::copy(payload.begin(), payload.end(), reply.data.begin());
        SetupPacket setup{type, request, value, index, length};
        reply.result = m_link.ControlTransfer(setup, reply.data.data(), &reply.moved);
        return reply;
    }

    bool BusWrite(uint8_t address, const std::vector<uint8_t>& bytes) {
        return Control(kOut, 0x30, static_cast<uint16_t>(bytes.size()), address, bytes).result ==
               TransferResult::kCompleted;
    }
    std::optional<std::vector<uint8_t>> BusRead(uint8_t address, uint16_t count) {
        const ControlReply reply = Control(kIn, 0x31, count, address | 1);
        if (reply.result != TransferResult::kCompleted || reply.moved < count)
            return std::nullopt;
        return std::vector<uint8_t>(reply.data.begin(), reply.data.begin() + count);
    }

    bool WriteFpga(uint8_t reg, uint8_t value) { return BusWrite(0x40, {reg, 0x00, value}); }
    std::optional<uint8_t> ReadFpga(uint8_t reg) {
        if (!BusWrite(0x40, {reg}))
            return std::nullopt;
        const auto bytes = BusRead(0x41, 2);
        if (!bytes)
            return std::nullopt;
        return (*bytes)[1];  // the value is the second byte
    }

    // The sensor bridge takes a transfer only once the FPGA has reported the one before it ended.
    bool WaitBridge() {
        for (int read = 0; read < 3; ++read) {
            const auto status = ReadFpga(0x02);
            if (status && (*status & 0x02) == 0)
                return true;
        }
        return false;
    }

    bool WriteSensor(uint16_t address, uint8_t value) {
        return WaitBridge() && BusWrite(72,
                        {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value});
    }
    std::optional<uint8_t> ReadSensor(uint16_t address) {
        if (!WaitBridge() || !BusWrite(72, {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)}))
            return std::nullopt;
        const auto bytes = BusRead(72, 1);
        if (!bytes)
            return std::nullopt;
        return (*bytes)[0];
    }

    bool WriteEeprom(uint16_t address, uint8_t value) {
        return BusWrite(0xA2,
                        {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address), value});
    }
    std::optional<uint8_t> ReadEeprom(uint16_t address) {
        if (!BusWrite(0xA2, {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)}))
            return std::nullopt;
        const auto bytes = BusRead(0xA3, 1);
        if (!bytes)
            return std::nullopt;
        return (*bytes)[0];
    }

    bool RequestFrame() {
        return Control(kOutEndpoint, 0xC2, 0, 0).result == TransferResult::kCompleted;
    }

    TransferResult Receive(uint8_t endpoint, std::vector<uint8_t>& buffer, size_t* moved,
                           CancelToken& token) {
        return m_link.BulkTransfer(endpoint, buffer.data(), buffer.size(), moved, token);
    }
    TransferResult Receive(uint8_t endpoint, std::vector<uint8_t>& buffer, size_t* moved) {
        CancelToken token;
        return Receive(endpoint, buffer, moved, token);
    }
    TransferResult Send(uint8_t endpoint, std::vector<uint8_t> bytes, size_t* moved) {
        CancelToken token;
        return m_link.BulkTransfer(endpoint, bytes.data(), bytes.size(), moved, token);
    }

    // Frame request, the 64-byte header, then the data in chunks of 0x80000 bytes. Fails the
    // test (and returns what came) when a transfer does not complete.
    FrameRead ReadFrame() {
        FrameRead frame;
        if (!RequestFrame()) {
            ADD_FAILURE() << "frame request refused";
            return frame;
        }
        std::vector<uint8_t> header(64);
        size_t moved = 0;
        EXPECT_EQ(Receive(0x81, header, &moved), TransferResult::kCompleted);
        EXPECT_EQ(moved, 64u);
        std::copy(header.begin(), header.end(), frame.header.begin());
        frame.byteCount = Le32(header.data() + 16);
        frame.frameNumber = Le32(header.data() + 32);
        frame.data.resize(frame.byteCount);
        size_t done = 0;
        while (done < frame.byteCount) {
            const size_t chunk = std::min(kChunk, frame.byteCount - done);
            std::vector<uint8_t> buffer(chunk);
            moved = 0;
            const TransferResult result = Receive(0x81, buffer, &moved);
            EXPECT_EQ(result, TransferResult::kCompleted);
            if (result != TransferResult::kCompleted || moved == 0)
                break;
            std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(moved),
                      frame.data.begin() + static_cast<std::ptrdiff_t>(done));
            done += moved;
        }
        EXPECT_EQ(done, frame.byteCount);
        return frame;
    }

    // The FPGA's frame geometry of 8-bit frames cut from the whole sensor at full resolution
    // (read-out mode 12, offset 0), as the engine programs it before streaming.
    bool SetFrameGeometry(uint16_t width, uint16_t height) {
        return WriteFpga(0x44, static_cast<uint8_t>(width)) &&
               WriteFpga(0x45, static_cast<uint8_t>(width >> 8)) &&
               WriteFpga(0x40, static_cast<uint8_t>(height)) &&
               WriteFpga(0x41, static_cast<uint8_t>(height >> 8)) && WriteFpga(0x48, 12);
    }

    // --- the host's sensor programming ---

    // The capture window exactly as the host's IMX252 head and engine program it: the sensor's
    // window and timing registers, then the FPGA frame geometry. Returns the output size.
    std::pair<int, int> ProgramWindow(int x, int width, int y, int height, bool subSample,
                                      bool sixteenBit) {
        const int d = subSample ? 2 : 1;
        const int outWidth = width / d / 4 * 4;
        const int outHeight = height / d / 4 * 4;
        int frameLength;
        int lineLength;
        if (subSample) {
            EXPECT_TRUE(WriteSensor(0x20D, 0x11));
            EXPECT_TRUE(WriteSensor(0x500, 0));
            frameLength = 810;
            lineLength = 396;
        } else {
            const int h = 2048 - x - width + 8;
            const int v = 1536 - y - height + 8;
            EXPECT_TRUE(WriteSensor(0x20D, 0));
            EXPECT_TRUE(WriteSensor(0x510, static_cast<uint8_t>(h & 0xFF)));
            EXPECT_TRUE(WriteSensor(0x511, static_cast<uint8_t>((h >> 8) & 0x1F)));
            EXPECT_TRUE(WriteSensor(0x512, static_cast<uint8_t>(v & 0xFF)));
            EXPECT_TRUE(WriteSensor(0x513, static_cast<uint8_t>((v >> 8) & 0x0F)));
            EXPECT_TRUE(WriteSensor(0x514, static_cast<uint8_t>(outWidth & 0xFF)));
            EXPECT_TRUE(WriteSensor(0x515, static_cast<uint8_t>((outWidth >> 8) & 0x1F)));
            EXPECT_TRUE(WriteSensor(0x516, static_cast<uint8_t>((outHeight + 4) & 0xFF)));
            EXPECT_TRUE(WriteSensor(0x517, static_cast<uint8_t>(((outHeight + 4) >> 8) & 0x0F)));
            EXPECT_TRUE(WriteSensor(0x500, 3));
            lineLength = sixteenBit ? 888 : 444;
            frameLength = height + 38;
        }
        EXPECT_TRUE(WriteSensor(0x210, static_cast<uint8_t>(frameLength)));
        EXPECT_TRUE(WriteSensor(0x211, static_cast<uint8_t>(frameLength >> 8)));
        EXPECT_TRUE(WriteSensor(0x212, static_cast<uint8_t>(frameLength >> 16)));
        EXPECT_TRUE(WriteSensor(0x214, static_cast<uint8_t>(lineLength)));
        EXPECT_TRUE(WriteSensor(0x215, static_cast<uint8_t>(lineLength >> 8)));
        m_frameLength = frameLength;

        // The engine's frame buffers: FPGA geometry, read-out mode and offset, data width.
        EXPECT_TRUE(WriteFpga(0x3C, sixteenBit ? 2 : 1));
        EXPECT_TRUE(WriteFpga(0x44, static_cast<uint8_t>(outWidth)));
        EXPECT_TRUE(WriteFpga(0x45, static_cast<uint8_t>(outWidth >> 8)));
        EXPECT_TRUE(WriteFpga(0x40, static_cast<uint8_t>(outHeight)));
        EXPECT_TRUE(WriteFpga(0x41, static_cast<uint8_t>(outHeight >> 8)));
        EXPECT_TRUE(WriteFpga(0x48, subSample ? 11 : 12));
        EXPECT_TRUE(WriteFpga(0x49, 0));
        const int offset = subSample ? 0 : 2048 - x - outWidth;
        EXPECT_TRUE(WriteFpga(0x4C, static_cast<uint8_t>(offset)));
        EXPECT_TRUE(WriteFpga(0x4D, static_cast<uint8_t>(offset >> 8)));
        return {outWidth, outHeight};
    }

    // The head's exposure programming for `lines` line periods against the frame length of the
    // last window (normal and long-exposure paths, register hold around the shutter).
    void ProgramExposureLines(uint32_t lines) {
        const auto f = static_cast<uint32_t>(m_frameLength);
        if (f - 10 < lines) {
            const uint32_t l = lines + 10;
            EXPECT_TRUE(WriteSensor(0x208, 1));
            EXPECT_TRUE(WriteSensor(0x212, static_cast<uint8_t>((l >> 16) & 0x0F)));
            EXPECT_TRUE(WriteSensor(0x211, static_cast<uint8_t>(l >> 8)));
            EXPECT_TRUE(WriteSensor(0x210, static_cast<uint8_t>(l)));
            EXPECT_TRUE(WriteSensor(0x208, 0));
            EXPECT_TRUE(WriteSensor(0x208, 1));
            EXPECT_TRUE(WriteSensor(0x28D, 10));
            EXPECT_TRUE(WriteSensor(0x28E, 0));
            EXPECT_TRUE(WriteSensor(0x28F, 0));
            EXPECT_TRUE(WriteSensor(0x208, 0));
            return;
        }
        const uint32_t s = f - lines;
        EXPECT_TRUE(WriteSensor(0x212, static_cast<uint8_t>((f >> 16) & 0x0F)));
        EXPECT_TRUE(WriteSensor(0x211, static_cast<uint8_t>(f >> 8)));
        EXPECT_TRUE(WriteSensor(0x210, static_cast<uint8_t>(f)));
        EXPECT_TRUE(WriteSensor(0x208, 1));
        EXPECT_TRUE(WriteSensor(0x28D, static_cast<uint8_t>(s)));
        EXPECT_TRUE(WriteSensor(0x28E, static_cast<uint8_t>((s >> 8) & 0x0F)));
        EXPECT_TRUE(WriteSensor(0x28F, 0));
        EXPECT_TRUE(WriteSensor(0x208, 0));
    }

    // The host's exposure time (units of 100 us) at 8 or 16 bits in free-run.
    void ProgramExposureTime(uint32_t t, bool sixteenBit) {
        const double p = sixteenBit ? 6460.0 / 54545.0 : 3230.0 / 54545.0;
        ProgramExposureLines(static_cast<uint32_t>(t / p));
    }

    // What the host's start-up and settings leave for the whole sensor (or a window) at the
    // default exposure and gain: the black level, gain 64, 17 ms. The scene then reads its
    // nominal values.
    std::pair<int, int> ProgramNominal(int x, int width, int y, int height, bool subSample,
                                       bool sixteenBit) {
        EXPECT_TRUE(WriteSensor(0x454, 80));
        EXPECT_TRUE(WriteSensor(0x455, 0));
        const auto size = ProgramWindow(x, width, y, height, subSample, sixteenBit);
        ProgramGain(64);
        if (subSample) {
            // Sub-sampled lines are 396/444 as long, and the exposure counts in them.
            ProgramExposureLines(static_cast<uint32_t>(170 / (3230.0 / 54545.0 * 396 / 444)));
        } else {
            ProgramExposureTime(170, sixteenBit);
        }
        return size;
    }

    void ProgramGain(uint32_t g) {
        EXPECT_TRUE(WriteSensor(0x404, static_cast<uint8_t>(g)));
        EXPECT_TRUE(WriteSensor(0x405, static_cast<uint8_t>((g >> 8) & 1)));
    }

    void ProgramMirror(bool vertical, bool horizontal) {
        EXPECT_TRUE(
            WriteSensor(0x20E, static_cast<uint8_t>((vertical ? 1 : 0) | (horizontal ? 2 : 0))));
    }

private:
    UsbLink& m_link;
    int m_frameLength = 2880;
};

// --- the scene, written out from its description (not from the emulator's code) ---

// The channel a photosite at (row, column) sees: G R on even rows, B G on odd rows.
inline char FilterAt(int row, int column) {
    const bool oddRow = (row % 2) != 0;
    const bool oddColumn = (column % 2) != 0;
    if (oddRow == oddColumn)
        return 'G';
    return oddRow ? 'B' : 'R';
}

// Nominal 12-bit value of the scene as the photosite at (row, column) sees it.
inline int ExpectedNominal(int row, int column, uint32_t frameNumber) {
    if (row < 0 || row >= 1536 || column < 0 || column >= 2048)
        return 0;
    const char filter = FilterAt(row, column);
    if (row < 768) {
        const SceneColour& c = kPatchColours[static_cast<size_t>(row / 256 * 8 + column / 256)];
        return filter == 'R' ? c.red : filter == 'B' ? c.blue : c.green;
    }
    if (row < 1024)
        return 2 * column;
    if (row < 1280)
        return 16 * (row - 1024);
    if (row < 1408) {
        const int left = 32 * static_cast<int>(frameNumber % 63);
        const bool marker = row >= 1312 && row < 1376 && column >= left && column < left + 64;
        return marker ? 3600 : 256;
    }
    const bool bit = row >= 1440 && row < 1504 && ((frameNumber >> (column / 64)) & 1u) != 0;
    return bit ? 3600 : 256;
}

// The converter's value for a nominal value scaled by `factor`: rounded, clipped to 12 bits.
inline int Scaled(int nominal, double factor) {
    return std::clamp(static_cast<int>(std::floor(nominal * factor + 0.5)), 0, 4095);
}

// A sample of the frame data at line `line`, byte position `k` of that line.
inline int SampleAt(const std::vector<uint8_t>& data, int width, int bytesPerPixel, int line,
                    int k) {
    const size_t at = (static_cast<size_t>(line) * width + k) * bytesPerPixel;
    if (bytesPerPixel == 2)
        return data[at] | (data[at + 1] << 8);
    return data[at];
}

// What the frame carries for a 12-bit converter value.
inline int Encode(int value12, int bytesPerPixel) {
    return bytesPerPixel == 2 ? value12 << 4 : value12 >> 4;
}

}  // namespace quorix::sim::test
