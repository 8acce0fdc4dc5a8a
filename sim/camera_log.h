#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "platform/usb/usb_link.h"

namespace quorix::sim {

// One vendor request on endpoint 0 as the camera saw it. `data` is the data stage: the payload
// the host sent (host-to-device, all setup.length bytes) or the reply the camera returned
// (device-to-host, the bytes actually sent back).
struct VendorRequestRecord {
    uint64_t sequence = 0;
    platform::usb::SetupPacket setup;
    std::vector<uint8_t> data;
    platform::usb::TransferResult result = platform::usb::TransferResult::kCompleted;
};

// One transfer on the camera board's sensor bus (vendor requests 0x30 and 0x31). `address` is
// the 8-bit bus address as the host gave it (write form, or read form with bit 0 set); `bytes`
// are the bytes written, or read back for a read. `acknowledged` is false when the device refused
// (the vendor request then stalled).
struct BusTransferRecord {
    uint64_t sequence = 0;
    uint8_t address = 0;
    bool read = false;
    std::vector<uint8_t> bytes;
    bool acknowledged = true;
};

// The register files a host can write through the sensor bus.
enum class RegisterSpace {
    kFpga,    // bus device 0x40, 8-bit register numbers
    kSensor,  // the IMX252 behind the sensor bridge (bus device 72), 16-bit register addresses
    kAux,     // auxiliary bus device 0x5A
    kEeprom,  // EEPROM at bus device 0xA2, 16-bit byte addresses
};

// One register write that the device accepted, decoded from a bus transfer (a multi-byte write
// gives one record per register). Writes to read-only FPGA registers are recorded although the
// register keeps its value; writes refused or not stored (faults) are not recorded.
struct RegisterWriteRecord {
    uint64_t sequence = 0;
    RegisterSpace space = RegisterSpace::kFpga;
    uint16_t reg = 0;
    uint8_t value = 0;
};

// The camera's record of everything the host did to it, for tests. Owned by the emulated camera;
// thread-safe: the camera appends from any thread while tests read snapshots. Sequence numbers
// are shared by the three kinds, so their relative order is known. Each kind keeps at most the
// configured number of newest entries.
class CameraLog {
public:
    explicit CameraLog(size_t capacity);

    std::vector<VendorRequestRecord> VendorRequests() const;
    std::vector<BusTransferRecord> BusTransfers() const;
    std::vector<RegisterWriteRecord> RegisterWrites() const;
    // The writes of one register space, oldest first.
    std::vector<RegisterWriteRecord> RegisterWrites(RegisterSpace space) const;
    // The values written to one register, oldest first.
    std::vector<uint8_t> WrittenValues(RegisterSpace space, uint16_t reg) const;
    // How many logged vendor requests carry this request code.
    size_t CountVendorRequests(uint8_t request) const;

    // Forgets every entry (sequence numbers keep counting).
    void Clear();
    // Entries kept per kind from now on; the oldest are dropped first. 0 stops logging.
    void SetCapacity(size_t capacity);

    // Appended by the camera.
    void AddVendorRequest(const platform::usb::SetupPacket& setup, const uint8_t* data,
                          size_t length, platform::usb::TransferResult result);
    void AddBusTransfer(uint8_t address, bool read, const uint8_t* bytes, size_t length,
                        bool acknowledged);
    void AddRegisterWrite(RegisterSpace space, uint16_t reg, uint8_t value);

private:
    template <typename Record>
    void Append(std::deque<Record>& records, Record record);

    mutable std::mutex m_mutex;
    size_t m_capacity;
    uint64_t m_nextSequence = 1;
    std::deque<VendorRequestRecord> m_vendorRequests;
    std::deque<BusTransferRecord> m_busTransfers;
    std::deque<RegisterWriteRecord> m_registerWrites;
};

}  // namespace quorix::sim
