#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/guid.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// The cameras an emulator daemon (quorix-camsim) serves, seen through its socket directory. The
// daemon serves each camera with a SocketLinkServer on a socket file in that directory named
//
//     vvvv-pppp-<instanceId>.sock
//
// vvvv and pppp: vendor and product ID, 4 lower-case hex digits each; instanceId: 1 to 64
// characters of [A-Za-z0-9._-], unique among the cameras of the directory and new for each plug-in
// (a replugged camera gets a new socket file, and the daemon removes the old one). Every camera
// listed belongs to one interface class, the camera's unless told otherwise.
//
// The driver consults such a provider by itself when the environment variable QUORIX_SIM_DIR
// names a directory; an application that does not set it sees no emulated camera.
//
// Whatever else the directory holds costs little and never blocks: files that are not sockets
// named as above are skipped without being connected to, at most kMaxDirectoryEntries entries
// are read and kMaxCameraSockets sockets looked at per scan, and a socket that accepts but does
// not answer is left out for kSilentRetryMs before it is tried again. Open finds a camera's
// socket from the last scan and rescans only for a camera it has not seen. Thread-safe.
class SocketLinkProvider : public UsbLinkProvider {
public:
    static constexpr size_t kMaxDirectoryEntries = 65536;
    static constexpr size_t kMaxCameraSockets = 256;
    static constexpr uint64_t kSilentRetryMs = 30000;  // [ms] of the SDK clock

    explicit SocketLinkProvider(std::string directory,
                                const Guid& interfaceClass = kCameraInterfaceGuid);

    // The cameras whose socket accepts a connection now, in file-name order. Socket files left
    // behind by a daemon that died are not listed.
    std::vector<LinkDescriptor> Enumerate() override;
    // Connects to the camera's socket; null when it is gone or nobody answers.
    std::shared_ptr<UsbLink> Open(const std::string& instanceId) override;

    const std::string& Directory() const { return m_directory; }

    // How often the directory was read and sockets in it were connected to, for tests that
    // check what a request costs.
    uint64_t DirectoryScans() const { return m_scans.load(); }
    uint64_t SocketConnects() const { return m_connects.load(); }

private:
    struct SocketFile {
        std::string path;
        LinkDescriptor device;
        std::pair<uint64_t, uint64_t> identity;  // device and inode of the socket
    };

    // The camera sockets of the directory, sorted by name; also remembers where each one is.
    std::vector<SocketFile> SocketFiles();
    bool IsSilent(const std::pair<uint64_t, uint64_t>& identity);

    const std::string m_directory;
    const Guid m_interfaceClass;
    std::mutex m_mutex;
    std::map<std::string, SocketFile> m_known;  // by instance ID, as of the last scan
    std::map<std::pair<uint64_t, uint64_t>, uint64_t> m_silent;  // socket -> when it was silent
    std::atomic<uint64_t> m_scans{0};
    std::atomic<uint64_t> m_connects{0};
};

// The socket file name for a camera; empty when the instance ID does not fit the scheme.
std::string SocketFileName(uint16_t vendorId, uint16_t productId, std::string_view instanceId);

// The camera a socket file name stands for (interface class left empty); nothing when the name
// does not follow the scheme.
std::optional<LinkDescriptor> ParseSocketFileName(std::string_view fileName);

}  // namespace quorix::platform::usb
