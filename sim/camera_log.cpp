#include "sim/camera_log.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace quorix::sim {

CameraLog::CameraLog(size_t capacity) : m_capacity(capacity) {}

template <typename Record>
void CameraLog::Append(std::deque<Record>& records, Record record) {
    // Called with m_mutex held. The sequence is taken even when nothing is kept, so numbers
    // stay unique across Clear and capacity changes.
    record.sequence = m_nextSequence++;
    if (m_capacity == 0)
        return;
    while (records.size() >= m_capacity)
        records.pop_front();
    records.push_back(std::move(record));
}

std::vector<VendorRequestRecord> CameraLog::VendorRequests() const {
    std::lock_guard lock(m_mutex);
    return {m_vendorRequests.begin(), m_vendorRequests.end()};
}

std::vector<BusTransferRecord> CameraLog::BusTransfers() const {
    std::lock_guard lock(m_mutex);
    return {m_busTransfers.begin(), m_busTransfers.end()};
}

std::vector<RegisterWriteRecord> CameraLog::RegisterWrites() const {
    std::lock_guard lock(m_mutex);
    return {m_registerWrites.begin(), m_registerWrites.end()};
}

std::vector<RegisterWriteRecord> CameraLog::RegisterWrites(RegisterSpace space) const {
    std::lock_guard lock(m_mutex);
    std::vector<RegisterWriteRecord> result;
    std::copy_if(m_registerWrites.begin(), m_registerWrites.end(), std::back_inserter(result),
                 [space](const RegisterWriteRecord& r) { return r.space == space; });
    return result;
}

std::vector<uint8_t> CameraLog::WrittenValues(RegisterSpace space, uint16_t reg) const {
    std::lock_guard lock(m_mutex);
    std::vector<uint8_t> result;
    for (const RegisterWriteRecord& r : m_registerWrites) {
        if (r.space == space && r.reg == reg)
            result.push_back(r.value);
    }
    return result;
}

size_t CameraLog::CountVendorRequests(uint8_t request) const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(std::count_if(
        m_vendorRequests.begin(), m_vendorRequests.end(),
        [request](const VendorRequestRecord& r) { return r.setup.request == request; }));
}

void CameraLog::Clear() {
    std::lock_guard lock(m_mutex);
    m_vendorRequests.clear();
    m_busTransfers.clear();
    m_registerWrites.clear();
}

void CameraLog::SetCapacity(size_t capacity) {
    std::lock_guard lock(m_mutex);
    m_capacity = capacity;
    const auto trim = [capacity](auto& records) {
        while (records.size() > capacity)
            records.pop_front();
    };
    trim(m_vendorRequests);
    trim(m_busTransfers);
    trim(m_registerWrites);
}

void CameraLog::AddVendorRequest(const platform::usb::SetupPacket& setup, const uint8_t* data,
                                 size_t length, platform::usb::TransferResult result) {
    VendorRequestRecord record;
    record.setup = setup;
    if (data != nullptr && length > 0)
        record.data.assign(data, data + length);
    record.result = result;
    std::lock_guard lock(m_mutex);
    Append(m_vendorRequests, std::move(record));
}

void CameraLog::AddBusTransfer(uint8_t address, bool read, const uint8_t* bytes, size_t length,
                               bool acknowledged) {
    BusTransferRecord record;
    record.address = address;
    record.read = read;
    if (bytes != nullptr && length > 0)
        record.bytes.assign(bytes, bytes + length);
    record.acknowledged = acknowledged;
    std::lock_guard lock(m_mutex);
    Append(m_busTransfers, std::move(record));
}

void CameraLog::AddRegisterWrite(RegisterSpace space, uint16_t reg, uint8_t value) {
    RegisterWriteRecord record;
    record.space = space;
    record.reg = reg;
    record.value = value;
    std::lock_guard lock(m_mutex);
    Append(m_registerWrites, record);
}

}  // namespace quorix::sim
