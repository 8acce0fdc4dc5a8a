#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/guid.h"
#include "platform/shared_section.h"
#include "platform/usb/device_io.h"
#include "transport/device_table.h"
#include "transport/frame_record.h"
#include "transport/transfer_header.h"

namespace quorix {

// The 38-byte header of a direct bulk transfer. The driver writes its status words into it when
// the transfer completes, so it lives until CompleteDirectTransfer, not just until submission.
struct DirectTransferRequest {
    uint8_t header[kTransferHeaderSize] = {};
};

// Time limit meaning "wait until it happens". [ms]
inline constexpr uint32_t kInfiniteTimeout = 0xFFFFFFFF;
// After aborting a transfer that ran out of time, how long to wait for it to end before the
// abort is repeated and the wait goes on without limit. [ms]
inline constexpr uint32_t kAbortGraceMs = 50;

// The driver wrapper: finds the camera interfaces the USB driver offers, keeps the device table
// that every object of every process shares, opens device handles and issues the driver's I/O
// control requests. It knows nothing about camera commands; CVolCy3Cam builds those on top.
//
// The device table has one copy per process, shared by all CFx3Api objects of the process, and
// is mirrored into the shared section "U3R5-MemMap" (POSIX shared memory) for all processes.
// Every change of the section is a read-modify-write under the section's inter-process lock:
// the section is re-read, checked, merged and written back, so concurrent processes neither lose
// nor duplicate entries, and damage done to the section by another process is dropped (and
// rebuilt by the next enumeration) instead of being trusted. The table is cleared when an object
// is created while no object is alive in any process. The entry of a camera that is gone is
// removed by the next enumeration unless a live object holds it (HoldDeviceEntry). Entries of
// other interface classes are left to their own objects, unless the table is full: then one
// that no live object holds (its processes are gone) gives way to a present camera.
//
// Operations answer nonzero for success and 0 for failure unless they say otherwise. The first
// fifteen virtual operations are the controller's first-base slots; CFx3Api answers 0 to all of
// them and CVolCy3Cam implements them. Keep their order.
class CFx3Api {
public:
    using DeviceHandle = platform::usb::DeviceHandle;
    using Overlapped = platform::usb::Overlapped;

    explicit CFx3Api(const platform::Guid& interfaceGuid = platform::kCameraInterfaceGuid);
    CFx3Api(const CFx3Api&) = delete;
    CFx3Api& operator=(const CFx3Api&) = delete;
    virtual ~CFx3Api();  // slot 0

    // --- first-base slots 1..14 (implemented by CVolCy3Cam) ---
    virtual int OpenStreamHandle() { return 0; }
    virtual int ReadFrameHeader(FrameRecord* /*record*/) { return 0; }
    virtual int ReadFrameData(FrameRecord* /*record*/, uint32_t /*timeoutMs*/) { return 0; }
    virtual int ReadAuxEndpoint(FrameRecord* /*record*/) { return 0; }
    virtual int ReadFrameByCommand(FrameRecord* /*record*/, uint32_t* /*count*/,
                                   uint32_t /*timeoutMs*/) {
        return 0;
    }
    virtual int CloseStreamHandle() { return 0; }
    virtual int WriteMemory(uint64_t /*address*/, const uint8_t* /*source*/, uint32_t /*count*/,
                            uint32_t /*capacity*/) {
        return 0;
    }
    virtual int ReadMemory(uint64_t /*address*/, uint8_t* /*destination*/, uint32_t /*count*/,
                           uint32_t /*capacity*/) {
        return 0;
    }
    virtual int WriteByte3C(uint32_t /*value*/) { return 0; }
    virtual int ReadByte3D(uint8_t* /*value*/) { return 0; }
    virtual int BufferedTransfer(const DeviceHandle& /*handle*/, uint8_t* /*buffer*/,
                                 uint32_t /*count*/, uint8_t /*endpoint*/,
                                 uint32_t* /*transferred*/) {
        return 0;
    }
    virtual int ReceiveAfterRequest(const DeviceHandle& /*handle*/, uint8_t* /*destination*/,
                                    uint32_t /*count*/, uint8_t /*endpoint*/,
                                    uint32_t* /*transferred*/) {
        return 0;
    }
    virtual int Receive(const DeviceHandle& /*handle*/, uint8_t* /*destination*/,
                        uint32_t /*count*/, uint8_t /*endpoint*/, uint32_t* /*transferred*/,
                        uint32_t /*timeoutMs*/) {
        return 0;
    }
    virtual int Send(const DeviceHandle& /*handle*/, const uint8_t* /*source*/, uint32_t /*count*/,
                     uint8_t /*endpoint*/, uint32_t* /*transferred*/) {
        return 0;
    }

    // --- device table ---

    // Enters every present interface of this object's interface class (the driver's first 32,
    // those that open) that the table does not know yet, after removing the entries of this class
    // whose interface is gone and that no live object holds. Returns the entry count (one past
    // the highest used entry) afterwards, or 0 when the driver offers no interface at all (the
    // table then keeps its entries).
    int32_t EnumerateDevices();
    // Marks entry `index` as the one this object uses, in place of the one it held before, so
    // that no process removes it while this object lives, even when its camera is unplugged.
    // (The entries an object's last enumeration found present are held the same way.)
    void HoldDeviceEntry(int32_t index);
    // Nonzero when `index` is a used entry (not a hole) and its path opens.
    int DeviceExists(int32_t index) const;
    // Opens entry `index` (overlapped for bulk streaming). On failure `handle` is left closed.
    int OpenDevice(DeviceHandle* handle, int32_t index, bool overlapped) const;
    // Closes the handle if it is open; 0 if it was not.
    int CloseDevice(DeviceHandle* handle) const;
    // The process copy of the table, as of the last enumeration or object creation.
    static int32_t GetEntryCount();
    // Entry 0..31 (used or empty); false for an index outside the table.
    static bool GetDeviceEntry(int32_t index, DeviceTableEntry* entry);

    // --- driver requests ---

    // One control transfer: `buffer` is the 102-byte request (header + 64-byte data stage) and
    // receives the reply in place. `transferred` gets the driver's count, header included.
    int SendControlTransfer(const DeviceHandle& handle, uint8_t* buffer, uint32_t* transferred);

    // Starts a direct bulk transfer of `length` bytes between `data` and `endpoint`. `data` and
    // `overlapped` (with its auto-reset event) must stay valid until the transfer is completed.
    // Returns the request to pass to CompleteDirectTransfer, or null when the handle is not open.
    // m_lastSubmitError tells how the submission went: 0 done at once, 997 pending, else failed.
    std::unique_ptr<DirectTransferRequest> SubmitDirectTransfer(const DeviceHandle& handle,
                                                                uint8_t endpoint, uint8_t* data,
                                                                uint32_t length,
                                                                Overlapped* overlapped);
    // Nonzero when the submitted transfer has finished, at once or within `timeoutMs`
    // (kInfiniteTimeout: no limit).
    int WaitDirectTransfer(Overlapped* overlapped, uint32_t timeoutMs);
    // Collects a finished transfer: nonzero when the driver and the bus both report success.
    // Frees the request in every case.
    int CompleteDirectTransfer(const DeviceHandle& handle,
                               std::unique_ptr<DirectTransferRequest> request,
                               Overlapped* overlapped, uint32_t* transferred);

    // A buffered bulk transfer: `buffer` holds the header and the data (`size` bytes in all) and
    // receives the reply in place. Waits up to 3000 ms; a transfer that does not finish is
    // aborted and waited for before this returns, so the buffer is free again.
    int SendBufferedTransfer(const DeviceHandle& handle, uint8_t* buffer, uint32_t size,
                             uint32_t* transferred);

    int ResetPipe(const DeviceHandle& handle, uint8_t endpoint);
    int ResetDevice(const DeviceHandle& handle);
    // The speed word: 4 SuperSpeed, 3 high speed, 2 full speed.
    int GetDeviceSpeed(const DeviceHandle& handle, uint32_t* speed);
    // Aborts the pending transfers of `endpoint` and waits until the abort has been carried out.
    int AbortPipe(const DeviceHandle& handle, uint8_t endpoint);

    uint32_t LastSubmitError() const { return m_lastSubmitError.load(); }
    const platform::Guid& InterfaceGuid() const { return m_interfaceGuid; }

    // Tests only: the name of the shared section used by objects created from now on, so that
    // test processes running side by side do not share one table. Default "U3R5-MemMap".
    static void SetSharedSectionNameForTesting(std::string name);
    static std::string SharedSectionName();

protected:
    // The transport's trace hook: printf-style, silent unless the SDK log is on.
    static void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

private:
    void ReclaimAbsentEntries(DeviceTable& table, const std::vector<std::string>& present);
    // Frees a slot of a full table for a present interface: removes one entry, of any interface
    // class, that is not present here and that no live object holds. False when there is none.
    bool ReclaimUnheldEntry(DeviceTable& table, const std::vector<std::string>& present);
    // Holds in the section exactly the entries this object has selected or last found present.
    // Call with the process mutex held.
    void UpdateHolds();

    std::unique_ptr<platform::SharedSection>
        m_section;  // null when the section could not be opened
    // Guarded by the process mutex: the entry this object has selected, the entries its last
    // enumeration found present, and the entries it holds in the section.
    int32_t m_heldIndex = -1;
    std::array<bool, kDeviceTableSize> m_seen{};
    std::array<bool, kDeviceTableSize> m_holds{};
    platform::Guid m_interfaceGuid;
    std::atomic<uint32_t> m_lastSubmitError{0};
    std::string m_logPath;  // "DEBUGLOG.txt" beside the executable; nothing writes to it
};

}  // namespace quorix
