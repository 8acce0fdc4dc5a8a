#include "transport/fx3_api.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <mutex>
#include <vector>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/log.h"
#include "platform/usb/device_path.h"

namespace quorix {

namespace usb = platform::usb;

namespace {

constexpr const char* kDefaultSectionName = "U3R5-MemMap";
// The driver enumerates at most this many interfaces per class.
constexpr size_t kMaxInterfaceMembers = 32;
// A buffered transfer waits this long, then is aborted and given a grace period. [ms]
constexpr uint32_t kBufferedTransferTimeoutMs = 3000;
// The only debugger line: a table entry about to be filled was not empty, which a consistent
// table never shows.
constexpr const char* kInconsistentTableLine = "ここには入ってこないはず\r\n";

// The device table of this process and what it knows of the section. Every CFx3Api object of
// the process works on it; `mutex` guards all of it. Created once and never destroyed, so that
// objects with static storage can still be destroyed at exit.
struct ProcessState {
    std::mutex mutex;
    DeviceTable table;
    int32_t userCount = 0;  // the process's view of the section's user count
    std::string sectionName = kDefaultSectionName;
};

ProcessState& Process() {
    static ProcessState* state = new ProcessState;
    return *state;
}

// Takes the section's table lock and brings the process copy up to date from it: the section's
// size is checked first (another process may have cut it short), and damaged entries are
// dropped or replaced by what this process knew. Section() is null when the section's bytes
// must not be touched; the process copy then stands alone. Call with the process mutex held.
class SectionTransaction {
public:
    SectionTransaction(platform::SharedSection* section, ProcessState& process)
        : m_lock(section), m_section(section), m_process(process) {
        bool resized = false;
        if (m_section != nullptr && !m_section->CheckSize(&resized)) {
            platform::Log("Transport",
                          "device table section cannot be restored; using this process's copy");
            m_section = nullptr;
        }
        if (m_section == nullptr)
            return;
        const DeviceTable known = process.table;
        int32_t repaired = 0;
        process.userCount = process.table.Decode(m_section->Data(), &known, &repaired);
        if (repaired > 0 || resized)
            platform::Log("Transport", "device table section damaged: %d entries dropped%s",
                          repaired, resized ? ", size restored" : "");
    }
    SectionTransaction(const SectionTransaction&) = delete;
    SectionTransaction& operator=(const SectionTransaction&) = delete;

    platform::SharedSection* Section() const { return m_section; }
    // Writes the process copy back with the process's user count.
    void Commit() {
        if (m_section != nullptr)
            m_process.table.Encode(m_process.userCount, m_section->Data());
    }

private:
    platform::SharedSectionLock m_lock;
    platform::SharedSection* m_section;
    ProcessState& m_process;
};

int32_t EventTimeout(uint32_t timeoutMs) {
    return timeoutMs > static_cast<uint32_t>(std::numeric_limits<int32_t>::max())
               ? -1
               : static_cast<int32_t>(timeoutMs);
}

std::string ComposeLogPath() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return "DEBUGLOG.txt";
    return (exe.parent_path() / "DEBUGLOG.txt").string();
}

}  // namespace

void CFx3Api::Trace(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    platform::LogV("Transport", fmt, args);
    va_end(args);
}

void CFx3Api::SetSharedSectionNameForTesting(std::string name) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    process.sectionName = std::move(name);
}

std::string CFx3Api::SharedSectionName() {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    return process.sectionName;
}

CFx3Api::CFx3Api(const platform::Guid& interfaceGuid) : m_interfaceGuid(interfaceGuid) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    m_section = platform::SharedSection::Open(process.sectionName, kSharedSectionSize);
    if (m_section == nullptr)
        Trace("device table section %s unavailable; the table stays in this process",
              process.sectionName.c_str());
    {
        SectionTransaction transaction(m_section.get(), process);
        // Users that died without signing off still count in the section; the in-use lock
        // they held went with them.
        if (transaction.Section() != nullptr && !m_section->AnyOtherUser())
            process.userCount = 0;
        // The first user anywhere starts a fresh table.
        if (process.userCount <= 0) {
            process.table.Reset();
            process.userCount = 0;
        }
        // A count that cannot grow any further stays put rather than overflow: it is only ever
        // compared with zero, and the in-use lock tells whether anyone is left.
        if (process.userCount < std::numeric_limits<int32_t>::max())
            ++process.userCount;
        transaction.Commit();
        if (m_section != nullptr)
            m_section->MarkInUse();
    }
    m_lastSubmitError = 0;
    m_logPath = ComposeLogPath();
}

CFx3Api::~CFx3Api() {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    {
        SectionTransaction transaction(m_section.get(), process);
        if (process.userCount > 0)
            --process.userCount;
        transaction.Commit();
    }
    m_section.reset();
}

int32_t CFx3Api::EnumerateDevices() {
    const std::vector<std::string> paths = usb::EnumerateDeviceInterfaces(m_interfaceGuid);
    if (paths.empty())
        return 0;

    // Test-open every listed interface before taking any lock: only interfaces that open are
    // present.
    std::vector<std::string> present;
    for (size_t member = 0; member < paths.size() && member < kMaxInterfaceMembers; ++member) {
        const std::string& path = paths[member];
        if (path.size() > kMaxDevicePathLength) {
            Trace("interface path of %zu characters skipped: %.60s...", path.size(), path.c_str());
            continue;
        }
        DeviceHandle probe = DeviceHandle::Open(path, true);
        if (!probe.IsValid())
            continue;
        probe.Close();
        present.push_back(path);
    }

    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    // Start from what every process has entered so far, so nothing another process added is
    // lost and a known interface keeps its entry and instance number.
    SectionTransaction transaction(m_section.get(), process);
    ReclaimAbsentEntries(process.table, present);
    for (const std::string& path : present) {
        bool inconsistent = false;
        DeviceTable::AddResult result = process.table.Add(path, &inconsistent);
        if (result == DeviceTable::AddResult::kFull && ReclaimUnheldEntry(process.table, present))
            result = process.table.Add(path, &inconsistent);
        if (inconsistent && platform::LogEnabled())
            std::fputs(kInconsistentTableLine, stderr);
        if (result == DeviceTable::AddResult::kFull)
            Trace("device table full; %s not entered", path.c_str());
    }
    transaction.Commit();
    // What this object found present stays in the table while the object lives, so another
    // process that cannot see these cameras (another interface class or emulator directory)
    // does not take their entries away.
    for (int32_t index = 0; index < kDeviceTableSize; ++index)
        m_seen[index] = process.table.IsUsed(index) &&
                        std::find(present.begin(), present.end(),
                                  process.table.Entry(index).path) != present.end();
    UpdateHolds();
    return process.table.EntryCount();
}

void CFx3Api::ReclaimAbsentEntries(DeviceTable& table, const std::vector<std::string>& present) {
    // Only interfaces of this object's class were looked for; entries of another class are
    // another object's business.
    std::string classSuffix(1, '#');
    classSuffix += platform::usb::FormatGuid(m_interfaceGuid);
    for (int32_t index = 0; index < table.EntryCount(); ++index) {
        if (!table.IsUsed(index))
            continue;
        const std::string_view path = table.Entry(index).path;
        if (!path.ends_with(classSuffix) ||
            std::find(present.begin(), present.end(), path) != present.end())
            continue;
        // A camera that some live user has selected, or found present at its last enumeration,
        // keeps its entry while that user lives, so its index and instance number stay what that
        // user relies on. Without a section nobody else can hold it.
        if (index == m_heldIndex || (m_section != nullptr && m_section->RecordHeldByOther(index)))
            continue;
        Trace("entry %d (%s) is gone and held by nobody; removed", index, table.Entry(index).path);
        table.Remove(index);
    }
}

bool CFx3Api::ReclaimUnheldEntry(DeviceTable& table, const std::vector<std::string>& present) {
    // Whether another object relies on an entry is known only through the section's record
    // locks; without the section nothing is taken.
    if (m_section == nullptr)
        return false;
    for (int32_t index = 0; index < table.EntryCount(); ++index) {
        if (!table.IsUsed(index) || index == m_heldIndex)
            continue;
        const std::string_view path = table.Entry(index).path;
        // A record lock goes with the process that took it, so an entry nobody holds was left
        // by processes that have ended (or by none at all).
        if (std::find(present.begin(), present.end(), path) != present.end() ||
            m_section->RecordHeldByOther(index))
            continue;
        Trace("device table full; entry %d (%s) held by nobody; removed", index,
              table.Entry(index).path);
        table.Remove(index);
        return true;
    }
    return false;
}

void CFx3Api::HoldDeviceEntry(int32_t index) {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    m_heldIndex = index;
    UpdateHolds();
}

void CFx3Api::UpdateHolds() {
    if (m_section == nullptr)
        return;
    for (int32_t index = 0; index < kDeviceTableSize; ++index) {
        const bool wanted = m_seen[index] || index == m_heldIndex;
        if (wanted == m_holds[index])
            continue;
        if (wanted)
            m_section->HoldRecord(index);
        else
            m_section->ReleaseRecord(index);
        m_holds[index] = wanted;
    }
}

int CFx3Api::DeviceExists(int32_t index) const {
    DeviceHandle handle;
    if (!OpenDevice(&handle, index, false))
        return 0;
    handle.Close();
    return 1;
}

int CFx3Api::OpenDevice(DeviceHandle* handle, int32_t index, bool overlapped) const {
    if (handle == nullptr)
        return 0;
    handle->Close();
    std::string path;
    {
        ProcessState& process = Process();
        std::lock_guard lock(process.mutex);
        if (!process.table.IsUsed(index))
            return 0;
        path = process.table.Entry(index).path;
    }
    *handle = DeviceHandle::Open(path, overlapped);
    if (!handle->IsValid()) {
        handle->Close();
        return 0;
    }
    return 1;
}

int CFx3Api::CloseDevice(DeviceHandle* handle) const {
    if (handle == nullptr || !handle->IsValid())
        return 0;
    handle->Close();
    return 1;
}

int32_t CFx3Api::GetEntryCount() {
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    return process.table.EntryCount();
}

bool CFx3Api::GetDeviceEntry(int32_t index, DeviceTableEntry* entry) {
    if (entry == nullptr || index < 0 || index >= kDeviceTableSize)
        return false;
    ProcessState& process = Process();
    std::lock_guard lock(process.mutex);
    *entry = process.table.Entry(index);
    return true;
}

int CFx3Api::SendControlTransfer(const DeviceHandle& handle, uint8_t* buffer,
                                 uint32_t* transferred) {
    if (buffer == nullptr)
        return 0;
    uint32_t bytes = 0;
    uint32_t error = 0;
    if (!usb::DeviceIoControl(handle, usb::kIoctlControlTransfer, buffer, kControlBufferSize,
                              buffer, kControlBufferSize, &bytes, nullptr, &error)) {
        Trace("control request 0x%02X failed: error %u", buffer[1], error);
        return 0;
    }
    if (transferred != nullptr)
        *transferred = bytes;
    return 1;
}

std::unique_ptr<DirectTransferRequest> CFx3Api::SubmitDirectTransfer(const DeviceHandle& handle,
                                                                     uint8_t endpoint,
                                                                     uint8_t* data, uint32_t length,
                                                                     Overlapped* overlapped) {
    if (!handle.IsValid() || overlapped == nullptr)
        return nullptr;
    auto request = std::make_unique<DirectTransferRequest>();
    TransferHeader header;
    header.endpointAddress = endpoint;
    WriteTransferHeader(header, request->header);
    uint32_t bytes = 0;
    uint32_t error = 0;
    const bool done =
        usb::DeviceIoControl(handle, usb::kIoctlDirectTransfer, request->header,
                             kTransferHeaderSize, data, length, &bytes, overlapped, &error);
    m_lastSubmitError = done ? usb::kErrorSuccess : error;
    return request;
}

int CFx3Api::WaitDirectTransfer(Overlapped* overlapped, uint32_t timeoutMs) {
    const uint32_t submitError = m_lastSubmitError;
    if (submitError == usb::kErrorSuccess)
        return 1;
    if (submitError != usb::kErrorIoPending || overlapped == nullptr ||
        overlapped->event == nullptr)
        return 0;
    return overlapped->event->Wait(EventTimeout(timeoutMs)) ? 1 : 0;
}

int CFx3Api::CompleteDirectTransfer(const DeviceHandle& handle,
                                    std::unique_ptr<DirectTransferRequest> request,
                                    Overlapped* overlapped, uint32_t* transferred) {
    if (request == nullptr || overlapped == nullptr)
        return 0;
    uint32_t bytes = 0;
    uint32_t error = 0;
    if (!usb::GetOverlappedResult(handle, *overlapped, &bytes, false, &error)) {
        Trace("direct transfer failed: error %u", error);
        return 0;
    }
    if (transferred != nullptr)
        *transferred = bytes;
    const TransferHeader header = ReadTransferHeader(request->header);
    if (header.driverStatus != 0 || header.busStatus != 0) {
        Trace("direct transfer on 0x%02X: driver status 0x%X, bus status 0x%X",
              header.endpointAddress, header.driverStatus, header.busStatus);
        platform::SleepMs(1);
        return 0;
    }
    return 1;
}

int CFx3Api::SendBufferedTransfer(const DeviceHandle& handle, uint8_t* buffer, uint32_t size,
                                  uint32_t* transferred) {
    if (buffer == nullptr || size < kTransferHeaderSize)
        return 0;
    platform::Event event(false, false);
    Overlapped overlapped;
    overlapped.event = &event;
    uint32_t bytes = 0;
    uint32_t error = 0;
    bool ok = usb::DeviceIoControl(handle, usb::kIoctlBufferedTransfer, buffer, size, buffer, size,
                                   &bytes, &overlapped, &error);
    if (!ok && error == usb::kErrorSuccess)
        ok = true;
    else if (!ok && error == usb::kErrorIoPending) {
        if (event.Wait(static_cast<int32_t>(kBufferedTransferTimeoutMs))) {
            ok = usb::GetOverlappedResult(handle, overlapped, &bytes, false, &error);
        } else {
            // The request still owns `buffer`, the event and the overlapped record: abort it and
            // wait until the driver has let go before any of them goes away.
            const uint8_t endpoint = buffer[offsetof(TransferHeader, endpointAddress)];
            AbortPipe(handle, endpoint);
            if (!event.Wait(static_cast<int32_t>(kAbortGraceMs))) {
                AbortPipe(handle, endpoint);
                event.Wait(-1);
            }
            Trace("buffered transfer on 0x%02X timed out", endpoint);
            ok = false;
        }
    }
    if (!ok)
        return 0;
    if (transferred != nullptr)
        *transferred = bytes;
    return 1;
}

int CFx3Api::ResetPipe(const DeviceHandle& handle, uint8_t endpoint) {
    uint8_t address = endpoint;
    uint32_t bytes = 0;
    uint32_t error = 0;
    return usb::DeviceIoControl(handle, usb::kIoctlResetPipe, &address, 1, nullptr, 0, &bytes,
                                nullptr, &error)
               ? 1
               : 0;
}

int CFx3Api::ResetDevice(const DeviceHandle& handle) {
    uint32_t bytes = 0;
    uint32_t error = 0;
    return usb::DeviceIoControl(handle, usb::kIoctlResetDevice, nullptr, 0, nullptr, 0, &bytes,
                                nullptr, &error)
               ? 1
               : 0;
}

int CFx3Api::GetDeviceSpeed(const DeviceHandle& handle, uint32_t* speed) {
    uint8_t word[4] = {};
    uint32_t bytes = 0;
    uint32_t error = 0;
    if (!usb::DeviceIoControl(handle, usb::kIoctlDeviceSpeed, word, sizeof(word), word,
                              sizeof(word), &bytes, nullptr, &error))
        return 0;
    if (speed != nullptr)
        *speed = ReadLe32(word);
    return 1;
}

int CFx3Api::AbortPipe(const DeviceHandle& handle, uint8_t endpoint) {
    platform::Event event(false, false);
    Overlapped overlapped;
    overlapped.event = &event;
    uint8_t address = endpoint;
    uint32_t bytes = 0;
    uint32_t error = 0;
    if (usb::DeviceIoControl(handle, usb::kIoctlAbortPipe, &address, 1, nullptr, 0, &bytes,
                             &overlapped, &error))
        return 1;
    if (error != usb::kErrorIoPending)
        return 0;
    event.Wait(-1);
    return 1;
}

}  // namespace quorix
