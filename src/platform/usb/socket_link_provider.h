#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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
class SocketLinkProvider : public UsbLinkProvider {
public:
    explicit SocketLinkProvider(std::string directory,
                                const Guid& interfaceClass = kCameraInterfaceGuid);

    // The cameras whose socket accepts a connection now, in file-name order. Socket files left
    // behind by a daemon that died are not listed.
    std::vector<LinkDescriptor> Enumerate() override;
    // Connects to the camera's socket; null when it is gone or nobody answers.
    std::shared_ptr<UsbLink> Open(const std::string& instanceId) override;

    const std::string& Directory() const { return m_directory; }

private:
    // The socket files of the directory with the camera each one names, sorted by name.
    std::vector<std::pair<std::string, LinkDescriptor>> SocketFiles() const;

    const std::string m_directory;
    const Guid m_interfaceClass;
};

// The socket file name for a camera; empty when the instance ID does not fit the scheme.
std::string SocketFileName(uint16_t vendorId, uint16_t productId, std::string_view instanceId);

// The camera a socket file name stands for (interface class left empty); nothing when the name
// does not follow the scheme.
std::optional<LinkDescriptor> ParseSocketFileName(std::string_view fileName);

}  // namespace quorix::platform::usb
