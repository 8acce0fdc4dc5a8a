#pragma once

#include <string>

#include "platform/guid.h"
#include "platform/usb/usb_link.h"

namespace quorix::platform::usb {

// The device-interface path under which the driver lists a device:
// \\?\usb#vid_04b4&pid_31c0#<instanceId>#{5d1b7c2e-4a90-4f6b-8e13-9c07a2f4d6b1}, all hex in lower
// case, so the vendor ID stands at character 12 and the product ID at character 21, where the
// transport parses them.
std::string FormatDevicePath(const LinkDescriptor& device);

// An interface class in its registry form, {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}, lower case.
std::string FormatGuid(const Guid& guid);

}  // namespace quorix::platform::usb
