#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/guid.h"
#include "platform/lock.h"
#include "transport/command_block.h"
#include "transport/controller_base.h"
#include "transport/frame_record.h"
#include "transport/fx3_api.h"

namespace quorix {

// The camera controller: turns camera-level operations into the camera's USB requests. Vendor
// control requests on endpoint 0 reach the controller firmware (device information, readiness,
// word and register requests) and the camera board's serial bus with the FPGA (0x40), the sensor
// bridge (0x48), the auxiliary device (0x5A) and the EEPROM (0xA2). Bulk transfers on the stream
// handle carry frame headers, frame data and command-mode memory reads and writes.
//
// The capture engine owns exactly one controller; sensor heads get its CControllerBase interface.
// Every control request opens a handle of its own, so application threads may send them while
// the capture thread streams on the stream handle. Bulk transfers come from one thread at a
// time; AbortInPipe may come from any thread.
//
// Command-mode transfers move more than the caller's count (ReadMemory/WriteMemory round up past
// the next 4096-byte block, ReadFrameByCommand past the next 16384 bytes). The caller states the
// capacity of its buffer; when the rounded size does not fit, the operation fails before any
// transfer, so nothing is ever read or written past the caller's buffer.
class CVolCy3Cam : public CFx3Api, public CControllerBase {
public:
    // The largest buffered or direct transfer: 64 MiB of data. [bytes]
    static constexpr uint32_t kMaxTransferBytes = 0x4000000;
    // Frame data moves in chunks of this size, then one chunk of the remainder. [bytes]
    static constexpr uint32_t kFrameChunkBytes = 0x80000;

    explicit CVolCy3Cam(const platform::Guid& interfaceGuid = platform::kCameraInterfaceGuid);
    ~CVolCy3Cam() override;

    // --- CControllerBase (slots 1..19) ---
    void Release() override;
    int SelectDevice(int32_t index) override;
    int ReadFpgaVersion(uint16_t* version) override;
    int ReadGpio25State(uint8_t* state) override;
    int SendVendorRequestCC() override;
    int BusWrite(uint8_t address, const uint8_t* data, uint32_t count, uint32_t timeoutMs) override;
    int BusRead(uint8_t address, uint8_t* data, uint32_t count, uint32_t timeoutMs) override;
    int WriteRegister32(uint16_t address, uint32_t value) override;
    int ReadRegister16(uint16_t address, uint16_t* value) override;
    int WriteWordPair(uint16_t first, uint16_t second) override;
    int ReadWord(uint16_t selector, uint16_t* value) override;
    int WriteFpgaRegister(uint8_t reg, uint8_t value) override;
    int ReadFpgaRegister(uint8_t reg, uint8_t* value) override;
    int WriteDevice5A(uint8_t reg, uint8_t value) override;
    int ReadDevice5A(uint8_t reg, uint8_t* value) override;
    int WriteEepromByte(uint16_t address, uint8_t value) override;
    int ReadEepromByte(uint16_t address, uint8_t* value) override;
    int AbortInPipe() override;

    // --- CFx3Api first-base slots 1..14 ---

    // Opens the stream handle (overlapped) on the selected entry unless it is open.
    int OpenStreamHandle() override;
    // Requests a frame and receives its 64-byte header (400 ms per try). A header that does not
    // come is asked for again up to 15 times, each time after a transfer reset of the FPGA.
    int ReadFrameHeader(FrameRecord* record) override;
    // Receives the header's byte count into the record's destination in 0x80000-byte chunks,
    // `timeoutMs` per chunk. Fails when the destination is too small or any chunk arrives short.
    int ReadFrameData(FrameRecord* record, uint32_t timeoutMs) override;
    // Requests a frame and receives the record's requested byte count from endpoint 0x83.
    int ReadAuxEndpoint(FrameRecord* record) override;
    // Command-mode frame read of `*count` bytes (rounded up past the next 16384 bytes, which
    // must fit the record's capacity); on success `*count` is the number of bytes received.
    int ReadFrameByCommand(FrameRecord* record, uint32_t* count, uint32_t timeoutMs) override;
    int CloseStreamHandle() override;
    // Command-mode memory write/read of `count` bytes at a device address. The transfer covers
    // the count rounded down to 4096-byte blocks plus one block, which must fit `capacity`.
    int WriteMemory(uint64_t address, const uint8_t* source, uint32_t count,
                    uint32_t capacity) override;
    int ReadMemory(uint64_t address, uint8_t* destination, uint32_t count,
                   uint32_t capacity) override;
    int WriteByte3C(uint32_t value) override;
    int ReadByte3D(uint8_t* value) override;
    // A buffered bulk transfer of at most kMaxTransferBytes through the transfer buffer, which
    // grows to the largest transfer made (the header and `count` bytes) and is not taken before;
    // the data of an out endpoint is taken from `buffer`, that of an in endpoint copied back into
    // it. 0 also when the buffer cannot grow.
    int BufferedTransfer(const DeviceHandle& handle, uint8_t* buffer, uint32_t count,
                         uint8_t endpoint, uint32_t* transferred) override;
    // RequestFrame on `handle`, then Receive with a 5000 ms limit.
    int ReceiveAfterRequest(const DeviceHandle& handle, uint8_t* destination, uint32_t count,
                            uint8_t endpoint, uint32_t* transferred) override;
    // A direct bulk transfer of at most kMaxTransferBytes. One that does not finish within
    // `timeoutMs` is aborted and waited for, so no request is left on the caller's memory.
    // `transferred` gets the byte count (0 on failure).
    int Receive(const DeviceHandle& handle, uint8_t* destination, uint32_t count, uint8_t endpoint,
                uint32_t* transferred, uint32_t timeoutMs) override;
    // As Receive, with a 3000 ms limit.
    int Send(const DeviceHandle& handle, const uint8_t* source, uint32_t count, uint8_t endpoint,
             uint32_t* transferred) override;

    // --- further operations ---

    // Readies the controller for transfers, then resets the device; 1 whatever the reset
    // answered. The transfer buffer itself is sized by the transfers that use it.
    int AllocateTransferBuffer();
    // The 64-byte device info block (firmware version at 24, GPIO25 flag at 52); needs exactly
    // 64 bytes back.
    int ReadDeviceInfo(uint8_t* info);
    int ReadDeviceInfo2(uint8_t* info);
    // Resets the camera's frame stream (vendor request 0xC0).
    int ResetStream();
    // Asks the camera for a frame, on `handle` or, when null, on the stream handle.
    int RequestFrame(const DeviceHandle* handle = nullptr);
    // On a handle opened for the call.
    using CFx3Api::GetDeviceSpeed;
    using CFx3Api::ResetDevice;
    using CFx3Api::ResetPipe;
    int ResetDevice();
    int ResetPipe(uint8_t endpoint);
    int GetDeviceSpeed(uint32_t* speed);

    int32_t SelectedDevice() const { return m_selectedIndex; }
    // Bytes the transfer buffer holds now, for tests. [bytes]
    size_t TransferBufferCapacity() const { return m_transferBuffer.size(); }

private:
    // One vendor request on a handle of its own: `payload` goes to the data stage, the reply (if
    // any) is copied to `reply` (64 bytes) and its length to `replyCount`.
    int SendVendorRequest(uint8_t requestType, uint8_t code, uint16_t value, uint16_t index,
                          const uint8_t* payload, uint32_t payloadCount, uint8_t* reply,
                          uint32_t* replyCount);
    // The same on a given handle.
    int SendVendorRequestOn(const DeviceHandle& handle, uint8_t requestType, uint8_t code,
                            uint16_t value, uint16_t index, const uint8_t* payload,
                            uint32_t payloadCount, uint8_t* reply, uint32_t* replyCount);
    // The stream handle as it is now; stays usable even if another thread closes the stream.
    std::shared_ptr<DeviceHandle> StreamHandle() const;
    // The stream handle, opened for this operation if it was closed; `openedHere` tells the
    // caller to close it again.
    std::shared_ptr<DeviceHandle> AcquireStreamHandle(bool* openedHere);
    int CommandModeTransfer(CommandDirection direction, uint64_t address, uint8_t* data,
                            uint32_t count, uint32_t capacity);
    int ReadDeviceInfoBlock(uint8_t code, uint8_t* info);
    // Closes the stream handle and frees the transfer buffer (Release, and the destructor).
    void ReleaseResources();

    int32_t m_selectedIndex = 0;
    mutable std::mutex m_streamLock;               // guards m_streamHandle (the pointer)
    std::shared_ptr<DeviceHandle> m_streamHandle;  // null when closed
    bool m_transfersReady = false;  // set by AllocateTransferBuffer, cleared by Release
    std::vector<uint8_t> m_transferBuffer;
    uint8_t m_headerScratch[kFrameHeaderSize] = {};
    platform::CriticalSection m_registerLock;  // around each FPGA register access
};

}  // namespace quorix
