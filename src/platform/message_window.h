#pragma once

#include <cstdint>

#include "platform/message_queue.h"

namespace quorix::platform {

// Message windows: named queues that any thread may post to and read from, kept in one
// process-wide table. Window 0 stands for the calling thread's own queue, made on first use and
// released when the thread ends. Handles count up from an odd base in large steps, so a handle is
// never 0, never looks like a pointer, and a stale one never reaches a newer window.

enum class WaitResult {
    kMessage,  // a message was removed into `out`
    kTimeout,  // nothing arrived in time (for a peek: nothing pending)
    kInvalid,  // unknown window, or destroyed before or while waiting
};

// An X11 window of the application (a preview parent) as a window handle, and back. A wrapped
// window is no message window: posts to it are dropped. Its handle has the top bit set, which no
// message window's handle ever reaches. WrapX11Window returns 0 for window id 0.
WindowHandle WrapX11Window(uint32_t x11Window);
// The X11 window id of a wrapped handle; 0 for any other handle.
uint32_t X11WindowOf(WindowHandle window);

// Returns 0 when no queue could be made.
WindowHandle CreateMessageWindow();

// Drops the window and its pending messages and wakes its blocked readers (they get kInvalid).
// False if the window is unknown.
bool DestroyMessageWindow(WindowHandle window);

bool IsWindow(WindowHandle window);

// Never blocks. False for an unknown or destroyed window.
bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// Waits up to `timeoutMs` of SDK time (< 0: no limit) for the window's next message.
WaitResult GetMessage(WindowHandle window, Message& out, int32_t timeoutMs);

// Removes the window's next message if one is pending.
WaitResult PeekMessage(WindowHandle window, Message& out);

// The pollable descriptor of the window's queue, or -1 if the window is unknown. It stays owned
// here and is valid until the window is destroyed (for window 0: until the thread ends).
int MessageFd(WindowHandle window);

}  // namespace quorix::platform
