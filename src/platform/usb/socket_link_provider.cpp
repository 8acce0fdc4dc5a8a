#include "platform/usb/socket_link_provider.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <utility>

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

std::vector<std::pair<std::string, LinkDescriptor>> SocketLinkProvider::SocketFiles() const {
    std::vector<std::pair<std::string, LinkDescriptor>> files;
    DIR* directory = opendir(m_directory.c_str());
    if (directory == nullptr)
        return files;
    // readdir is only unsafe on a directory stream shared between threads; this one is ours.
    while (const dirent* entry = readdir(directory)) {  // NOLINT(concurrency-mt-unsafe)
        std::optional<LinkDescriptor> device = ParseSocketFileName(entry->d_name);
        if (!device)
            continue;
        device->interfaceClass = m_interfaceClass;
        files.emplace_back(m_directory + "/" + entry->d_name, std::move(*device));
    }
    closedir(directory);
    // The directory's own order changes as files come and go; enumeration order must not.
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    return files;
}

std::vector<LinkDescriptor> SocketLinkProvider::Enumerate() {
    std::vector<LinkDescriptor> present;
    for (auto& [path, device] : SocketFiles())
        if (ConnectUnixSocket(path, true).IsValid())
            present.push_back(std::move(device));
    return present;
}

std::shared_ptr<UsbLink> SocketLinkProvider::Open(const std::string& instanceId) {
    for (const auto& [path, device] : SocketFiles())
        if (device.instanceId == instanceId)
            return SocketLink::Connect(path);
    return nullptr;
}

}  // namespace quorix::platform::usb
