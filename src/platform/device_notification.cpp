#include "platform/device_notification.h"

namespace quorix::platform {

bool RegisterDeviceInterfaceNotification(WindowHandle /*window*/, const Guid& /*interfaceClass*/) {
    return true;
}

}  // namespace quorix::platform
