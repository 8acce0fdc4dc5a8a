#include "sim/camera_faults.h"

namespace quorix::sim {

namespace {

// Counts one use of a counted fault; true when the fault applied.
bool TakeOne(uint32_t& remaining) {
    if (remaining == 0)
        return false;
    --remaining;
    return true;
}

// Bus faults are kept per device, whichever form (read or write) its address was given in.
uint8_t DeviceOf(uint8_t address) {
    return static_cast<uint8_t>(address & 0xFE);
}

}  // namespace

void CameraFaults::DropFrameHeaders(uint32_t count) {
    std::lock_guard lock(m_mutex);
    m_droppedHeaders = count;
}

void CameraFaults::StallFrameData(uint32_t count) {
    std::lock_guard lock(m_mutex);
    m_stalledData = count;
}

void CameraFaults::ShortenFrameData(uint32_t count, uint32_t missingBytes) {
    std::lock_guard lock(m_mutex);
    m_shortenedFrames = count;
    m_missingBytes = missingBytes;
}

void CameraFaults::SetBusBusyStuck(bool stuck) {
    std::lock_guard lock(m_mutex);
    m_busBusyStuck = stuck;
}

void CameraFaults::SetNeverReady(bool never) {
    std::lock_guard lock(m_mutex);
    m_neverReady = never;
}

void CameraFaults::SetEepromWriteFault(EepromWriteFault fault) {
    std::lock_guard lock(m_mutex);
    m_eepromWrites = fault;
}

void CameraFaults::RefuseBusDevice(uint8_t address, uint32_t count) {
    std::lock_guard lock(m_mutex);
    if (count == 0)
        m_refusedBusTransfers.erase(DeviceOf(address));
    else
        m_refusedBusTransfers[DeviceOf(address)] = count;
}

void CameraFaults::StallVendorRequest(uint8_t request, uint32_t count) {
    std::lock_guard lock(m_mutex);
    if (count == 0)
        m_stalledRequests.erase(request);
    else
        m_stalledRequests[request] = count;
}

void CameraFaults::ClearAll() {
    std::lock_guard lock(m_mutex);
    m_droppedHeaders = 0;
    m_stalledData = 0;
    m_shortenedFrames = 0;
    m_missingBytes = 0;
    m_busBusyStuck = false;
    m_neverReady = false;
    m_eepromWrites = EepromWriteFault::kNone;
    m_refusedBusTransfers.clear();
    m_stalledRequests.clear();
}

bool CameraFaults::TakeDroppedHeader() {
    std::lock_guard lock(m_mutex);
    return TakeOne(m_droppedHeaders);
}

bool CameraFaults::TakeStalledData() {
    std::lock_guard lock(m_mutex);
    return TakeOne(m_stalledData);
}

std::optional<uint32_t> CameraFaults::TakeShortenedData() {
    std::lock_guard lock(m_mutex);
    if (!TakeOne(m_shortenedFrames))
        return std::nullopt;
    return m_missingBytes;
}

bool CameraFaults::BusBusyStuck() const {
    std::lock_guard lock(m_mutex);
    return m_busBusyStuck;
}

bool CameraFaults::NeverReady() const {
    std::lock_guard lock(m_mutex);
    return m_neverReady;
}

EepromWriteFault CameraFaults::EepromWrites() const {
    std::lock_guard lock(m_mutex);
    return m_eepromWrites;
}

bool CameraFaults::TakeRefusedBusTransfer(uint8_t address) {
    std::lock_guard lock(m_mutex);
    const auto it = m_refusedBusTransfers.find(DeviceOf(address));
    if (it == m_refusedBusTransfers.end())
        return false;
    if (--it->second == 0)
        m_refusedBusTransfers.erase(it);
    return true;
}

bool CameraFaults::TakeStalledVendorRequest(uint8_t request) {
    std::lock_guard lock(m_mutex);
    const auto it = m_stalledRequests.find(request);
    if (it == m_stalledRequests.end())
        return false;
    if (--it->second == 0)
        m_stalledRequests.erase(it);
    return true;
}

}  // namespace quorix::sim
