#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>

namespace quorix::sim {

// How EEPROM byte writes misbehave.
enum class EepromWriteFault {
    kNone,       // writes are stored
    kStall,      // the EEPROM refuses every write: the bus write (vendor request 0x30) stalls
    kNotStored,  // writes are acknowledged but the cells keep their old contents
};

// Faults a test injects into one emulated camera. Owned by the camera; thread-safe: tests set
// faults from any thread while the camera consumes them. Counted faults apply to the next N
// events and then end by themselves; the others stay until cleared. Unplugging and replugging are
// not faults here: see Unplug/Replug in emulator.h.
class CameraFaults {
public:
    // The next `count` frame requests (vendor request 0xC2) are swallowed: no header, no data.
    void DropFrameHeaders(uint32_t count);
    // For the next `count` frames the header is sent but the frame data never comes: a receive
    // blocks until it is cancelled. The stalled data is discarded by a transfer reset (FPGA
    // register 0x6C), a stream reset (0xC0), a pipe reset of 0x81 or a device reset.
    void StallFrameData(uint32_t count);
    // The next `count` frames lose their last `missingBytes` bytes: the data ends early with a
    // short packet while the header still announces the full byte count.
    void ShortenFrameData(uint32_t count, uint32_t missingBytes);
    // FPGA register 2 keeps its bus-busy bit (bit 1) set.
    void SetBusBusyStuck(bool stuck);
    // The camera never reports ready, whatever its configured delay.
    void SetNeverReady(bool never);
    void SetEepromWriteFault(EepromWriteFault fault);
    // The next `count` transfers to a sensor-bus device (8-bit address, either form) are refused:
    // the vendor request stalls as when the device does not acknowledge.
    void RefuseBusDevice(uint8_t address, uint32_t count);
    // The next `count` vendor requests with this request code stall.
    void StallVendorRequest(uint8_t request, uint32_t count);
    // Ends every fault.
    void ClearAll();

    // Queried and consumed by the camera.
    bool TakeDroppedHeader();
    bool TakeStalledData();
    // The bytes to leave out of the next frame, if a shortened frame is due.
    std::optional<uint32_t> TakeShortenedData();
    bool BusBusyStuck() const;
    bool NeverReady() const;
    EepromWriteFault EepromWrites() const;
    bool TakeRefusedBusTransfer(uint8_t address);
    bool TakeStalledVendorRequest(uint8_t request);

private:
    mutable std::mutex m_mutex;
    uint32_t m_droppedHeaders = 0;
    uint32_t m_stalledData = 0;
    uint32_t m_shortenedFrames = 0;
    uint32_t m_missingBytes = 0;
    bool m_busBusyStuck = false;
    bool m_neverReady = false;
    EepromWriteFault m_eepromWrites = EepromWriteFault::kNone;
    std::map<uint8_t, uint32_t> m_refusedBusTransfers;  // by address with bit 0 cleared
    std::map<uint8_t, uint32_t> m_stalledRequests;
};

}  // namespace quorix::sim
