// Message windows and thread queues for Linux applications: the receiving end of the error and
// frame notifications that camera contexts post.
#include <quorix/quorix.h>

#include "platform/message_window.h"

namespace {

using quorix::platform::WaitResult;
using quorix::platform::WindowHandle;

WindowHandle ToHandle(QuorixWindow window) {
    return reinterpret_cast<WindowHandle>(window);
}
QuorixWindow ToWindow(WindowHandle handle) {
    return reinterpret_cast<QuorixWindow>(handle);
}

// 1 with a message, 0 with none, -1 for an unknown window.
int Deliver(WaitResult result, const quorix::platform::Message& message, QuorixMessage* out) {
    switch (result) {
        case WaitResult::kMessage:
            *out = QuorixMessage{ToWindow(message.window), message.message, 0, message.wParam,
                                 message.lParam};
            return 1;
        case WaitResult::kTimeout:
            return 0;
        case WaitResult::kInvalid:
            break;
    }
    return -1;
}

int Get(WindowHandle window, QuorixMessage* out, int32_t timeoutMs) {
    if (out == nullptr) {
        return -1;
    }
    quorix::platform::Message message{};
    return Deliver(quorix::platform::GetMessage(window, message, timeoutMs), message, out);
}

int Peek(WindowHandle window, QuorixMessage* out) {
    if (out == nullptr) {
        return -1;
    }
    quorix::platform::Message message{};
    return Deliver(quorix::platform::PeekMessage(window, message), message, out);
}

}  // namespace

extern "C" {

QUORIX_API QuorixWindow Quorix_CreateMessageWindow(void) {
    return ToWindow(quorix::platform::CreateMessageWindow());
}

QUORIX_API int Quorix_DestroyMessageWindow(QuorixWindow window) {
    return window != nullptr && quorix::platform::DestroyMessageWindow(ToHandle(window)) ? 1 : 0;
}

QUORIX_API int Quorix_GetWindowMessage(QuorixWindow window, QuorixMessage* message,
                                       int32_t timeoutMs) {
    // A null window would read the thread queue; that has its own call.
    return window == nullptr ? -1 : Get(ToHandle(window), message, timeoutMs);
}

QUORIX_API int Quorix_PeekWindowMessage(QuorixWindow window, QuorixMessage* message) {
    return window == nullptr ? -1 : Peek(ToHandle(window), message);
}

QUORIX_API int Quorix_GetWindowMessageFd(QuorixWindow window) {
    return window == nullptr ? -1 : quorix::platform::MessageFd(ToHandle(window));
}

QUORIX_API int Quorix_GetThreadMessage(QuorixMessage* message, int32_t timeoutMs) {
    return Get(0, message, timeoutMs);
}

QUORIX_API int Quorix_PeekThreadMessage(QuorixMessage* message) {
    return Peek(0, message);
}

QUORIX_API QuorixWindow Quorix_WrapX11Window(unsigned long x11Window) {
    // X window ids are 29-bit values; anything wider names no window.
    if (x11Window > 0xFFFF'FFFFul) {
        return nullptr;
    }
    return ToWindow(quorix::platform::WrapX11Window(static_cast<uint32_t>(x11Window)));
}

QUORIX_API int Quorix_GetThreadMessageFd(void) {
    return quorix::platform::MessageFd(0);
}

}  // extern "C"
