#pragma once

#include "platform/guid.h"
#include "platform/message_window.h"

namespace quorix::platform {

// Asks for camera arrival and removal notices of one interface class to be posted to a window.
// The notices go to the application's window as they happen; nothing in the SDK consumes them.
// Until the USB layer watches the bus there are no notices to send, and the request succeeds.
bool RegisterDeviceInterfaceNotification(WindowHandle window, const Guid& interfaceClass);

}  // namespace quorix::platform
