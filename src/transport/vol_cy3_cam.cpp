#include "transport/vol_cy3_cam.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "camera/fpga_registers.h"
#include "platform/clock.h"
#include "platform/event.h"

namespace quorix {

namespace usb = platform::usb;

namespace {

// Vendor requests of the controller firmware.
constexpr uint8_t kRequestBusWrite = 0x30;
constexpr uint8_t kRequestBusRead = 0x31;
constexpr uint8_t kRequestWriteByte3C = 0x3C;
constexpr uint8_t kRequestReadByte3D = 0x3D;
constexpr uint8_t kRequestWriteWordPair = 0x3E;
constexpr uint8_t kRequestReadWord = 0x3F;
constexpr uint8_t kRequestDeviceInfo = 0xB0;
constexpr uint8_t kRequestDeviceInfo2 = 0xB1;
constexpr uint8_t kRequestResetStream = 0xC0;
constexpr uint8_t kRequestFrame = 0xC2;
constexpr uint8_t kRequestGpio25State = 0xC3;
constexpr uint8_t kRequestCC = 0xCC;
constexpr uint8_t kRequestWriteRegister32 = 0xD0;
constexpr uint8_t kRequestReadRegister16 = 0xD1;

// Devices on the camera board's serial bus (8-bit write addresses; the read address adds 1).
constexpr uint8_t kBusAuxDevice = 0x5A;
constexpr uint8_t kBusEeprom = 0xA2;
constexpr uint8_t kBusReadFlag = 0x01;

// The EEPROM needs this long to store a byte, and this long between address and read. [ms]
constexpr uint32_t kEepromWriteMs = 14;
constexpr uint32_t kEepromAddressMs = 10;

// Frame header: 400 ms per try, at most 15 failed tries, 10 ms after each transfer reset.
constexpr uint32_t kFrameHeaderTimeoutMs = 400;
constexpr int kFrameHeaderAttempts = 15;
constexpr uint32_t kTransferResetSettleMs = 10;

// Time limit handed to the bus operations; the control request carries its own 3 s limit. [ms]
constexpr uint32_t kBusTimeoutMs = 3000;

// Direct bulk transfers: limits of Send, ReceiveAfterRequest and command-mode receives. [ms]
constexpr uint32_t kSendTimeoutMs = 3000;
constexpr uint32_t kReceiveAfterRequestTimeoutMs = 5000;
constexpr uint32_t kCommandReceiveTimeoutMs = 3000;

// Command-mode transfers move at most this much per command block. [bytes]
constexpr uint32_t kMemoryChunkBytes = 0x1000000;
constexpr uint32_t kFrameCommandChunkBytes = 0x400000;
// A count above this would overflow the rounded transfer size.
constexpr uint32_t kMaxCommandCount = 0xFFFFEFFF;

// The data count of a control or buffered reply: the driver counts the header too.
uint32_t DataCount(uint32_t transferred) {
    return transferred >= kTransferHeaderSize ? transferred - kTransferHeaderSize : 0;
}

}  // namespace

CVolCy3Cam::CVolCy3Cam(const platform::Guid& interfaceGuid) : CFx3Api(interfaceGuid) {}

CVolCy3Cam::~CVolCy3Cam() {
    ReleaseResources();
}

// ---------------------------------------------------------------------------------------------
// Vendor requests

int CVolCy3Cam::SendVendorRequest(uint8_t requestType, uint8_t code, uint16_t value, uint16_t index,
                                  const uint8_t* payload, uint32_t payloadCount, uint8_t* reply,
                                  uint32_t* replyCount) {
    DeviceHandle handle;
    if (!OpenDevice(&handle, m_selectedIndex, false))
        return 0;
    return SendVendorRequestOn(handle, requestType, code, value, index, payload, payloadCount,
                               reply, replyCount);
}

int CVolCy3Cam::SendVendorRequestOn(const DeviceHandle& handle, uint8_t requestType, uint8_t code,
                                    uint16_t value, uint16_t index, const uint8_t* payload,
                                    uint32_t payloadCount, uint8_t* reply, uint32_t* replyCount) {
    if (payloadCount > kControlDataSize || (payloadCount > 0 && payload == nullptr))
        return 0;
    uint8_t buffer[kControlBufferSize] = {};
    TransferHeader header;
    header.requestType = requestType;
    header.request = code;
    header.value = value;
    header.index = index;
    header.length = kControlBufferSize;
    header.timeout = kControlTimeoutSeconds;
    header.endpointAddress = 0;
    header.bufferOffset = kTransferHeaderSize;
    header.bufferLength = kControlDataSize;
    WriteTransferHeader(header, buffer);
    if (payloadCount > 0)
        std::memcpy(buffer + kTransferHeaderSize, payload, payloadCount);

    uint32_t transferred = 0;
    if (!SendControlTransfer(handle, buffer, &transferred))
        return 0;
    const uint32_t count = std::min(DataCount(transferred), kControlDataSize);
    if (reply != nullptr)
        std::memcpy(reply, buffer + kTransferHeaderSize, count);
    if (replyCount != nullptr)
        *replyCount = count;
    return 1;
}

int CVolCy3Cam::BusWrite(uint8_t address, const uint8_t* data, uint32_t count,
                         uint32_t /*timeoutMs*/) {
    // The data stage holds 64 bytes; more would not fit the request.
    if (count > kControlDataSize)
        return 0;
    return SendVendorRequest(kRequestTypeVendorOut, kRequestBusWrite, static_cast<uint16_t>(count),
                             address, data, count, nullptr, nullptr);
}

int CVolCy3Cam::BusRead(uint8_t address, uint8_t* data, uint32_t count, uint32_t /*timeoutMs*/) {
    if (count > kControlDataSize || (count > 0 && data == nullptr))
        return 0;
    uint8_t reply[kControlDataSize];
    uint32_t replyCount = 0;
    if (!SendVendorRequest(kRequestTypeVendorIn, kRequestBusRead, static_cast<uint16_t>(count),
                           static_cast<uint16_t>(address | kBusReadFlag), nullptr, 0, reply,
                           &replyCount))
        return 0;
    // A device that answered with fewer bytes than asked for has not been read.
    if (replyCount < count)
        return 0;
    std::memcpy(data, reply, count);
    return 1;
}

int CVolCy3Cam::WriteByte3C(uint32_t value) {
    uint8_t payload[4];
    WriteLe32(payload, value & 0xFF);
    return SendVendorRequest(kRequestTypeVendorOut, kRequestWriteByte3C, 0, 0, payload,
                             sizeof(payload), nullptr, nullptr);
}

int CVolCy3Cam::ReadByte3D(uint8_t* value) {
    uint8_t reply[kControlDataSize];
    uint32_t replyCount = 0;
    if (!SendVendorRequest(kRequestTypeVendorIn, kRequestReadByte3D, 0, 0, nullptr, 0, reply,
                           &replyCount) ||
        replyCount < 1)
        return 0;
    if (value != nullptr)
        *value = reply[0];
    return 1;
}

int CVolCy3Cam::WriteWordPair(uint16_t first, uint16_t second) {
    // The firmware takes both words high byte first.
    const uint8_t payload[4] = {static_cast<uint8_t>(first >> 8), static_cast<uint8_t>(first),
                                static_cast<uint8_t>(second >> 8), static_cast<uint8_t>(second)};
    return SendVendorRequest(kRequestTypeVendorOut, kRequestWriteWordPair, 0, 0, payload,
                             sizeof(payload), nullptr, nullptr);
}

int CVolCy3Cam::ReadWord(uint16_t selector, uint16_t* value) {
    uint8_t reply[kControlDataSize];
    uint32_t replyCount = 0;
    if (!SendVendorRequest(kRequestTypeVendorIn, kRequestReadWord, selector, 0, nullptr, 0, reply,
                           &replyCount) ||
        replyCount < 2)
        return 0;
    if (value != nullptr)
        *value = ReadLe16(reply);
    return 1;
}

int CVolCy3Cam::ReadDeviceInfoBlock(uint8_t code, uint8_t* info) {
    uint8_t reply[kControlDataSize];
    uint32_t replyCount = 0;
    if (!SendVendorRequest(kRequestTypeVendorIn, code, 0, 0, nullptr, 0, reply, &replyCount))
        return 0;
    // Only a whole block is a device info block.
    if (replyCount != kControlDataSize)
        return 0;
    if (info != nullptr)
        std::memcpy(info, reply, kControlDataSize);
    return 1;
}

int CVolCy3Cam::ReadDeviceInfo(uint8_t* info) {
    return ReadDeviceInfoBlock(kRequestDeviceInfo, info);
}

int CVolCy3Cam::ReadDeviceInfo2(uint8_t* info) {
    return ReadDeviceInfoBlock(kRequestDeviceInfo2, info);
}

int CVolCy3Cam::ResetStream() {
    return SendVendorRequest(kRequestTypeVendorOut, kRequestResetStream, 0, 0, nullptr, 0, nullptr,
                             nullptr);
}

int CVolCy3Cam::RequestFrame(const DeviceHandle* handle) {
    if (handle != nullptr)
        return SendVendorRequestOn(*handle, kRequestTypeVendorOutEndpoint, kRequestFrame, 0, 0,
                                   nullptr, 0, nullptr, nullptr);
    const std::shared_ptr<DeviceHandle> stream = StreamHandle();
    if (stream == nullptr)
        return 0;
    return SendVendorRequestOn(*stream, kRequestTypeVendorOutEndpoint, kRequestFrame, 0, 0, nullptr,
                               0, nullptr, nullptr);
}

int CVolCy3Cam::ReadGpio25State(uint8_t* state) {
    uint8_t reply[kControlDataSize];
    uint32_t replyCount = 0;
    if (!SendVendorRequest(kRequestTypeVendorIn, kRequestGpio25State, 0, 0, nullptr, 0, reply,
                           &replyCount) ||
        replyCount != kControlDataSize)
        return 0;
    if (state != nullptr)
        *state = reply[0];
    return 1;
}

int CVolCy3Cam::SendVendorRequestCC() {
    return SendVendorRequest(kRequestTypeVendorOutEndpoint, kRequestCC, 0, 0, nullptr, 0, nullptr,
                             nullptr);
}

int CVolCy3Cam::WriteRegister32(uint16_t address, uint32_t value) {
    // Address bit 15 travels in the request value, the other 15 bits in the index.
    uint8_t payload[4];
    WriteLe32(payload, value);
    return SendVendorRequest(
        kRequestTypeVendorOut, kRequestWriteRegister32, static_cast<uint16_t>(address >> 15),
        static_cast<uint16_t>(address & 0x7FFF), payload, sizeof(payload), nullptr, nullptr);
}

int CVolCy3Cam::ReadRegister16(uint16_t address, uint16_t* value) {
    uint8_t reply[kControlDataSize];
    uint32_t replyCount = 0;
    const int ok = SendVendorRequest(kRequestTypeVendorIn, kRequestReadRegister16, 0, address,
                                     nullptr, 0, reply, &replyCount);
    // The firmware answers with a whole data stage; anything shorter reads as 0.
    const bool whole = ok && replyCount >= kControlDataSize;
    if (value != nullptr)
        *value = whole ? ReadLe16(reply) : 0;
    return whole ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------
// Devices on the sensor bus

int CVolCy3Cam::WriteFpgaRegister(uint8_t reg, uint8_t value) {
    std::lock_guard lock(m_registerLock);
    const uint8_t bytes[3] = {reg, 0x00, value};
    return BusWrite(fpga::kBusAddress, bytes, sizeof(bytes), kBusTimeoutMs);
}

int CVolCy3Cam::ReadFpgaRegister(uint8_t reg, uint8_t* value) {
    // Address write and data read belong together: no other thread may slip in between.
    std::lock_guard lock(m_registerLock);
    if (!BusWrite(fpga::kBusAddress, &reg, 1, kBusTimeoutMs))
        return 0;
    uint8_t bytes[2] = {};
    if (!BusRead(fpga::kBusAddress | kBusReadFlag, bytes, sizeof(bytes), kBusTimeoutMs))
        return 0;
    // The FPGA answers a register read with two bytes; the value is the second.
    if (value != nullptr)
        *value = bytes[1];
    return 1;
}

int CVolCy3Cam::ReadFpgaVersion(uint16_t* version) {
    uint8_t low = 0;
    uint8_t high = 0;
    if (!ReadFpgaRegister(fpga::kVersion0, &low) || !ReadFpgaRegister(fpga::kVersion1, &high))
        return 0;
    if (version != nullptr)
        *version = static_cast<uint16_t>(high * 256 + low);
    return 1;
}

int CVolCy3Cam::WriteDevice5A(uint8_t reg, uint8_t value) {
    const uint8_t bytes[2] = {reg, value};
    return BusWrite(kBusAuxDevice, bytes, sizeof(bytes), kBusTimeoutMs);
}

int CVolCy3Cam::ReadDevice5A(uint8_t reg, uint8_t* value) {
    if (!BusWrite(kBusAuxDevice, &reg, 1, kBusTimeoutMs))
        return 0;
    uint8_t byte = 0;
    if (!BusRead(kBusAuxDevice | kBusReadFlag, &byte, 1, kBusTimeoutMs))
        return 0;
    if (value != nullptr)
        *value = byte;
    return 1;
}

int CVolCy3Cam::WriteEepromByte(uint16_t address, uint8_t value) {
    const uint8_t bytes[3] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address),
                              value};
    if (!BusWrite(kBusEeprom, bytes, sizeof(bytes), kBusTimeoutMs))
        return 0;
    // The EEPROM ignores the bus while it stores the byte.
    platform::SleepMs(kEepromWriteMs);
    return 1;
}

int CVolCy3Cam::ReadEepromByte(uint16_t address, uint8_t* value) {
    const uint8_t bytes[2] = {static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    if (!BusWrite(kBusEeprom, bytes, sizeof(bytes), kBusTimeoutMs))
        return 0;
    platform::SleepMs(kEepromAddressMs);
    uint8_t byte = 0;
    if (!BusRead(kBusEeprom | kBusReadFlag, &byte, 1, kBusTimeoutMs))
        return 0;
    if (value != nullptr)
        *value = byte;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Device selection, handles, buffers

int CVolCy3Cam::SelectDevice(int32_t index) {
    CloseStreamHandle();
    if (!DeviceExists(index))
        return 0;
    m_selectedIndex = index;
    // The selected camera's entry stays while this controller lives, also through an unplug.
    HoldDeviceEntry(index);
    return 1;
}

void CVolCy3Cam::Release() {
    ReleaseResources();
}

void CVolCy3Cam::ReleaseResources() {
    {
        std::lock_guard lock(m_streamLock);
        m_streamHandle.reset();
    }
    m_transfersReady = false;
    m_transferBuffer.clear();
    m_transferBuffer.shrink_to_fit();
}

int CVolCy3Cam::AllocateTransferBuffer() {
    m_transfersReady = true;
    ResetDevice();
    return 1;
}

std::shared_ptr<CFx3Api::DeviceHandle> CVolCy3Cam::StreamHandle() const {
    std::lock_guard lock(m_streamLock);
    return m_streamHandle;
}

int CVolCy3Cam::OpenStreamHandle() {
    std::lock_guard lock(m_streamLock);
    if (m_streamHandle != nullptr)
        return 1;
    auto handle = std::make_shared<DeviceHandle>();
    if (!OpenDevice(handle.get(), m_selectedIndex, true))
        return 0;
    m_streamHandle = std::move(handle);
    return 1;
}

int CVolCy3Cam::CloseStreamHandle() {
    std::shared_ptr<DeviceHandle> handle;
    {
        std::lock_guard lock(m_streamLock);
        handle = std::move(m_streamHandle);
        m_streamHandle = nullptr;
    }
    // A thread still transferring on it keeps its own reference; the handle closes when the last
    // user lets go.
    return handle != nullptr ? 1 : 0;
}

std::shared_ptr<CFx3Api::DeviceHandle> CVolCy3Cam::AcquireStreamHandle(bool* openedHere) {
    *openedHere = false;
    if (std::shared_ptr<DeviceHandle> handle = StreamHandle())
        return handle;
    if (!OpenStreamHandle())
        return nullptr;
    *openedHere = true;
    return StreamHandle();
}

int CVolCy3Cam::AbortInPipe() {
    if (const std::shared_ptr<DeviceHandle> stream = StreamHandle())
        AbortPipe(*stream, kEndpointBulkIn);
    return 1;
}

int CVolCy3Cam::ResetDevice() {
    DeviceHandle handle;
    if (!OpenDevice(&handle, m_selectedIndex, false))
        return 0;
    return CFx3Api::ResetDevice(handle);
}

int CVolCy3Cam::ResetPipe(uint8_t endpoint) {
    DeviceHandle handle;
    if (!OpenDevice(&handle, m_selectedIndex, false))
        return 0;
    return CFx3Api::ResetPipe(handle, endpoint);
}

int CVolCy3Cam::GetDeviceSpeed(uint32_t* speed) {
    DeviceHandle handle;
    if (!OpenDevice(&handle, m_selectedIndex, false))
        return 0;
    return CFx3Api::GetDeviceSpeed(handle, speed);
}

// ---------------------------------------------------------------------------------------------
// Bulk transfers

int CVolCy3Cam::Receive(const DeviceHandle& handle, uint8_t* destination, uint32_t count,
                        uint8_t endpoint, uint32_t* transferred, uint32_t timeoutMs) {
    if (transferred != nullptr)
        *transferred = 0;
    if (count > kMaxTransferBytes || !handle.IsValid() || !m_transfersReady ||
        (destination == nullptr && count > 0))
        return 0;

    platform::Event event(false, false);
    Overlapped overlapped;
    overlapped.event = &event;
    std::unique_ptr<DirectTransferRequest> request =
        SubmitDirectTransfer(handle, endpoint, destination, count, &overlapped);
    if (request == nullptr)
        return 0;
    const uint32_t submitError = LastSubmitError();
    if (submitError != usb::kErrorSuccess && submitError != usb::kErrorIoPending) {
        // Refused outright: nothing is pending, so there is nothing to abort or wait for.
        Trace("transfer on 0x%02X refused: error %u", endpoint, submitError);
        return 0;
    }

    if (WaitDirectTransfer(&overlapped, timeoutMs)) {
        uint32_t bytes = 0;
        if (!CompleteDirectTransfer(handle, std::move(request), &overlapped, &bytes))
            return 0;
        if (transferred != nullptr)
            *transferred = bytes;
        return 1;
    }

    // Timed out: the driver still owns `destination`, the header and the event. Abort the
    // endpoint and wait until the request has really ended before any of them is reused.
    Trace("transfer of %u bytes on 0x%02X timed out after %u ms", count, endpoint, timeoutMs);
    AbortPipe(handle, endpoint);
    if (!event.Wait(static_cast<int32_t>(kAbortGraceMs))) {
        AbortPipe(handle, endpoint);
        event.Wait(-1);
    }
    return 0;
}

int CVolCy3Cam::Send(const DeviceHandle& handle, const uint8_t* source, uint32_t count,
                     uint8_t endpoint, uint32_t* transferred) {
    // The driver only reads the data buffer of a transfer to an out endpoint.
    return Receive(handle, const_cast<uint8_t*>(source), count, endpoint, transferred,
                   kSendTimeoutMs);
}

int CVolCy3Cam::ReceiveAfterRequest(const DeviceHandle& handle, uint8_t* destination,
                                    uint32_t count, uint8_t endpoint, uint32_t* transferred) {
    if (transferred != nullptr)
        *transferred = 0;
    if (!RequestFrame(&handle))
        return 0;
    return Receive(handle, destination, count, endpoint, transferred,
                   kReceiveAfterRequestTimeoutMs);
}

int CVolCy3Cam::BufferedTransfer(const DeviceHandle& handle, uint8_t* buffer, uint32_t count,
                                 uint8_t endpoint, uint32_t* transferred) {
    if (transferred != nullptr)
        *transferred = 0;
    if (count > kMaxTransferBytes || !m_transfersReady || (buffer == nullptr && count > 0))
        return 0;
    const size_t needed = size_t{kTransferHeaderSize} + count;
    if (m_transferBuffer.size() < needed) {
        try {
            m_transferBuffer.resize(needed);
        } catch (const std::bad_alloc&) {
            Trace("no transfer buffer of %zu bytes", needed);
            return 0;
        }
    }
    uint8_t* transfer = m_transferBuffer.data();
    TransferHeader header;
    header.endpointAddress = endpoint;
    header.bufferOffset = kTransferHeaderSize;
    header.bufferLength = count;
    WriteTransferHeader(header, transfer);
    const bool inEndpoint = (endpoint & 0x80) != 0;
    if (count > 0) {
        if (inEndpoint)
            std::memset(transfer + kTransferHeaderSize, 0, count);
        else
            std::memcpy(transfer + kTransferHeaderSize, buffer, count);
    }

    uint32_t bytes = 0;
    if (!SendBufferedTransfer(handle, transfer, kTransferHeaderSize + count, &bytes))
        return 0;
    const uint32_t dataCount = DataCount(bytes);
    if (dataCount > count)
        return 0;
    if (inEndpoint && dataCount > 0)
        std::memcpy(buffer, transfer + kTransferHeaderSize, dataCount);
    if (transferred != nullptr)
        *transferred = dataCount;
    return 1;
}

// ---------------------------------------------------------------------------------------------
// Frames

int CVolCy3Cam::ReadFrameHeader(FrameRecord* record) {
    if (record == nullptr)
        return 0;
    bool openedHere = false;
    const std::shared_ptr<DeviceHandle> stream = AcquireStreamHandle(&openedHere);
    if (stream == nullptr)
        return 0;

    std::memset(m_headerScratch, 0, sizeof(m_headerScratch));
    int ok = RequestFrame(stream.get());
    for (int failures = 0; ok;) {
        uint32_t received = 0;
        if (Receive(*stream, m_headerScratch, kFrameHeaderSize, kEndpointBulkIn, &received,
                    kFrameHeaderTimeoutMs) &&
            received == kFrameHeaderSize) {
            std::memcpy(record->header, m_headerScratch, kFrameHeaderSize);
            record->frameNumber = record->HeaderFrameNumber();
            return 1;
        }
        // No header: reset the FPGA's transfer logic and ask again.
        ++failures;
        WriteFpgaRegister(fpga::kTransferReset, 1);
        WriteFpgaRegister(fpga::kTransferReset, 0);
        platform::SleepMs(kTransferResetSettleMs);
        ok = RequestFrame(stream.get());
        if (failures >= kFrameHeaderAttempts)
            ok = 0;
    }
    Trace("no frame header");
    if (openedHere)
        CloseStreamHandle();
    return 0;
}

int CVolCy3Cam::ReadFrameData(FrameRecord* record, uint32_t timeoutMs) {
    if (record == nullptr)
        return 0;
    bool openedHere = false;
    const std::shared_ptr<DeviceHandle> stream = AcquireStreamHandle(&openedHere);
    if (stream == nullptr)
        return 0;

    int ok = 1;
    const uint32_t frameBytes = record->ByteCount();
    if (record->destination == nullptr || record->capacity < frameBytes) {
        Trace("frame of %u bytes does not fit %u", frameBytes, record->capacity);
        ok = 0;
    }
    for (uint32_t done = 0; ok && done < frameBytes;) {
        const uint32_t chunk = std::min(kFrameChunkBytes, frameBytes - done);
        uint32_t received = 0;
        // A chunk that ends short leaves the rest of it holding stale bytes of an older frame.
        if (!Receive(*stream, record->destination + done, chunk, kEndpointBulkIn, &received,
                     timeoutMs) ||
            received != chunk) {
            Trace("frame chunk at %u: %u of %u bytes", done, received, chunk);
            ok = 0;
        }
        done += chunk;
    }
    if (openedHere)
        CloseStreamHandle();
    return ok;
}

int CVolCy3Cam::ReadAuxEndpoint(FrameRecord* record) {
    if (record == nullptr || record->destination == nullptr ||
        record->requestedBytes > record->capacity)
        return 0;
    std::memset(m_headerScratch, 0, sizeof(m_headerScratch));
    const std::shared_ptr<DeviceHandle> stream = StreamHandle();
    if (stream == nullptr)
        return 0;
    uint32_t received = 0;
    if (!ReceiveAfterRequest(*stream, record->destination, record->requestedBytes, kEndpointAuxIn,
                             &received))
        return 0;
    return received == record->requestedBytes ? 1 : 0;
}

int CVolCy3Cam::ReadFrameByCommand(FrameRecord* record, uint32_t* count, uint32_t timeoutMs) {
    if (record == nullptr || count == nullptr || record->destination == nullptr)
        return 0;
    // The camera sends whole 16384-byte units, one more than the count's whole units; all of it
    // lands in the destination, so all of it must fit.
    uint64_t total = FrameCommandTransferSize(*count);
    if (total > record->capacity) {
        Trace("command frame read of %llu bytes does not fit %u",
              static_cast<unsigned long long>(total), record->capacity);
        return 0;
    }
    bool openedHere = false;
    const std::shared_ptr<DeviceHandle> stream = AcquireStreamHandle(&openedHere);
    if (stream == nullptr)
        return 0;

    const auto block = EncodeCommandBlock(CommandDirection::kRead, 0, static_cast<uint32_t>(total));
    uint32_t sent = 0;
    int ok =
        Send(*stream, block.data(), static_cast<uint32_t>(block.size()), kEndpointBulkOut, &sent) &&
        sent == block.size();
    uint32_t done = 0;
    while (ok) {
        const auto chunk =
            static_cast<uint32_t>(std::min<uint64_t>(total, kFrameCommandChunkBytes));
        uint32_t received = 0;
        const int receivedOk = Receive(*stream, record->destination + done, chunk, kEndpointBulkIn,
                                       &received, timeoutMs);
        if (receivedOk)
            done += received;
        if (!receivedOk || received != chunk) {
            ok = 0;
            break;
        }
        if (chunk == total)
            break;
        total -= chunk;
    }
    if (ok)
        *count = done;
    if (openedHere)
        CloseStreamHandle();
    return ok;
}

// ---------------------------------------------------------------------------------------------
// Command-mode memory transfers

int CVolCy3Cam::CommandModeTransfer(CommandDirection direction, uint64_t address, uint8_t* data,
                                    uint32_t count, uint32_t capacity) {
    if (data == nullptr)
        return 0;
    // Rounding such a count up would overflow the transfer size.
    if (count > kMaxCommandCount)
        return 0;
    // Whole 4096-byte blocks move, one more than the count's whole blocks: the caller's buffer
    // must cover all of them.
    uint64_t total = CommandTransferSize(count);
    if (total > capacity) {
        Trace("command-mode transfer of %llu bytes does not fit %u",
              static_cast<unsigned long long>(total), capacity);
        return 0;
    }
    bool openedHere = false;
    const std::shared_ptr<DeviceHandle> stream = AcquireStreamHandle(&openedHere);
    if (stream == nullptr)
        return 0;

    int ok = 1;
    uint32_t done = 0;
    for (;;) {
        const auto chunk = static_cast<uint32_t>(std::min<uint64_t>(total, kMemoryChunkBytes));
        const auto block = EncodeCommandBlock(direction, address, chunk);
        uint32_t moved = 0;
        if (!Send(*stream, block.data(), static_cast<uint32_t>(block.size()), kEndpointBulkOut,
                  &moved) ||
            moved != block.size()) {
            ok = 0;
            break;
        }
        moved = 0;
        const int transferOk = direction == CommandDirection::kRead
                                   ? Receive(*stream, data + done, chunk, kEndpointBulkIn, &moved,
                                             kCommandReceiveTimeoutMs)
                                   : Send(*stream, data + done, chunk, kEndpointBulkOut, &moved);
        if (!transferOk)
            platform::SleepMs(1);
        if (!transferOk || moved != chunk) {
            ok = 0;
            break;
        }
        if (chunk == total)
            break;
        total -= chunk;
        address += chunk;
        done += chunk;
    }
    if (openedHere)
        CloseStreamHandle();
    return ok;
}

int CVolCy3Cam::ReadMemory(uint64_t address, uint8_t* destination, uint32_t count,
                           uint32_t capacity) {
    return CommandModeTransfer(CommandDirection::kRead, address, destination, count, capacity);
}

int CVolCy3Cam::WriteMemory(uint64_t address, const uint8_t* source, uint32_t count,
                            uint32_t capacity) {
    // The driver only reads the buffer of a transfer to an out endpoint.
    return CommandModeTransfer(CommandDirection::kWrite, address, const_cast<uint8_t*>(source),
                               count, capacity);
}

}  // namespace quorix
