#include "platform/usb/socket_link_provider.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <utility>

#include "platform/clock.h"
#include "platform/usb/socket_link.h"
#include "platform/usb/unix_socket.h"

namespace quorix::platform::usb {

namespace {

constexpr std::string_view kSocketSuffix = ".sock";
constexpr size_t kMaxInstanceIdLength = 64;

bool IsInstanceId(std::string_view id) {
    if (id.empty() || id.size() > kMaxInstanceIdLength)
        return false;
    return std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '-';
    });
}

// Four lower-case hex digits, exactly as SocketFileName writes them.
std::optional<uint16_t> ParseHex16(std::string_view digits) {
    if (digits.size() != 4)
        return std::nullopt;
    uint16_t value = 0;
    for (const char c : digits) {
        int digit = 0;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else
            return std::nullopt;
        value = static_cast<uint16_t>(value << 4 | digit);
    }
    return value;
}

}  // namespace

std::string SocketFileName(uint16_t vendorId, uint16_t productId, std::string_view instanceId) {
    if (!IsInstanceId(instanceId))
        return {};
    char ids[16];
    std::snprintf(ids, sizeof ids, "%04x-%04x-", vendorId, productId);
    return std::string(ids).append(instanceId).append(kSocketSuffix);
}

std::optional<LinkDescriptor> ParseSocketFileName(std::string_view fileName) {
    // "vvvv-pppp-" + instance + ".sock"
    constexpr size_t kIdsLength = 10;
    if (fileName.size() <= kIdsLength + kSocketSuffix.size() ||
        !fileName.ends_with(kSocketSuffix) || fileName[4] != '-' || fileName[9] != '-')
        return std::nullopt;
    const std::optional<uint16_t> vendorId = ParseHex16(fileName.substr(0, 4));
    const std::optional<uint16_t> productId = ParseHex16(fileName.substr(5, 4));
    const std::string_view instanceId =
        fileName.substr(kIdsLength, fileName.size() - kIdsLength - kSocketSuffix.size());
    if (!vendorId || !productId || !IsInstanceId(instanceId))
        return std::nullopt;
    LinkDescriptor device;
    device.vendorId = *vendorId;
    device.productId = *productId;
    device.instanceId = std::string(instanceId);
    return device;
}

SocketLinkProvider::SocketLinkProvider(std::string directory, const Guid& interfaceClass)
    : m_directory(std::move(directory)), m_interfaceClass(interfaceClass) {}

std::vector<SocketLinkProvider::SocketFile> SocketLinkProvider::SocketFiles() {
    ++m_scans;
    std::vector<SocketFile> files;
    DIR* directory = opendir(m_directory.c_str());
    if (directory == nullptr)
        return files;
    const int directoryFd = dirfd(directory);
    size_t examined = 0;
    // readdir is only unsafe on a directory stream shared between threads; this one is ours.
    while (const dirent* entry = readdir(directory)) {  // NOLINT(concurrency-mt-unsafe)
        if (++examined > kMaxDirectoryEntries)
            break;
        std::optional<LinkDescriptor> device = ParseSocketFileName(entry->d_name);
        if (!device)
            continue;
        // Only sockets (or links to them, as the tool makes) can be cameras; a regular file or a
        // FIFO of a camera's name is skipped here, before anyone connects to it.
        if (entry->d_type != DT_SOCK && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        struct stat info {};
        if (fstatat(directoryFd, entry->d_name, &info, 0) != 0 || !S_ISSOCK(info.st_mode))
            continue;
        device->interfaceClass = m_interfaceClass;
        files.push_back({m_directory + "/" + entry->d_name,
                         std::move(*device),
                         {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)}});
    }
    closedir(directory);
    // The directory's own order changes as files come and go; enumeration order must not.
    std::sort(files.begin(), files.end(),
              [](const SocketFile& a, const SocketFile& b) { return a.path < b.path; });
    if (files.size() > kMaxCameraSockets)
        files.resize(kMaxCameraSockets);

    std::lock_guard lock(m_mutex);
    m_known.clear();
    for (const SocketFile& file : files)
        m_known.emplace(file.device.instanceId, file);
    return files;
}

bool SocketLinkProvider::IsSilent(const std::pair<uint64_t, uint64_t>& identity) {
    std::lock_guard lock(m_mutex);
    const auto found = m_silent.find(identity);
    if (found == m_silent.end())
        return false;
    if (MonotonicMs() - found->second < kSilentRetryMs)
        return true;
    m_silent.erase(found);
    return false;
}

std::vector<LinkDescriptor> SocketLinkProvider::Enumerate() {
    std::vector<LinkDescriptor> present;
    for (SocketFile& file : SocketFiles()) {
        if (IsSilent(file.identity))
            continue;
        ++m_connects;
        if (ConnectUnixSocket(file.path, true).IsValid())
            present.push_back(std::move(file.device));
    }
    return present;
}

std::shared_ptr<UsbLink> SocketLinkProvider::Open(const std::string& instanceId) {
    std::optional<SocketFile> file;
    {
        std::lock_guard lock(m_mutex);
        if (const auto found = m_known.find(instanceId); found != m_known.end())
            file = found->second;
    }
    // A camera this provider has not seen yet may have been plugged in since the last scan.
    if (!file) {
        for (SocketFile& scanned : SocketFiles())
            if (scanned.device.instanceId == instanceId)
                file = std::move(scanned);
    }
    if (!file || IsSilent(file->identity))
        return nullptr;
    ++m_connects;
    std::shared_ptr<SocketLink> link = SocketLink::Connect(file->path);
    if (link)
        return link;
    // Something listens there but gave no answer: leave it out of the next enumerations.
    ++m_connects;
    if (ConnectUnixSocket(file->path, true).IsValid()) {
        std::lock_guard lock(m_mutex);
        m_silent[file->identity] = MonotonicMs();
    }
    return nullptr;
}

}  // namespace quorix::platform::usb
