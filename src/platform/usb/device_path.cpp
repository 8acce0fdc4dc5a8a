#include "platform/usb/device_path.h"

#include <cstdio>

namespace quorix::platform::usb {

std::string FormatGuid(const Guid& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                  guid.data1, guid.data2, guid.data3, guid.data4[0], guid.data4[1], guid.data4[2],
                  guid.data4[3], guid.data4[4], guid.data4[5], guid.data4[6], guid.data4[7]);
    return text;
}

std::string FormatDevicePath(const LinkDescriptor& device) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "\\\\?\\usb#vid_%04x&pid_%04x#", device.vendorId,
                  device.productId);
    return prefix + device.instanceId + "#" + FormatGuid(device.interfaceClass);
}

}  // namespace quorix::platform::usb
