#include "platform/message_window.h"

#include <mutex>
#include <unordered_map>

namespace quorix::platform {

namespace {

constexpr WindowHandle kFirstWindow = 0x51'0001;
constexpr WindowHandle kWindowStride = 0x1'0000;
constexpr WindowHandle kX11Tag = WindowHandle{1} << (sizeof(WindowHandle) * 8 - 1);

struct WindowTable {
    std::mutex mutex;
    std::unordered_map<WindowHandle, std::shared_ptr<MessageQueue>> queues;
    WindowHandle next = kFirstWindow;
};

WindowTable& Table() {
    static WindowTable table;
    return table;
}

std::shared_ptr<MessageQueue> ThreadQueue() {
    // Only the owning thread reads this queue; other threads can reach it only through its fd.
    thread_local std::shared_ptr<MessageQueue> queue;
    if (!queue)
        queue = MessageQueue::Create();
    return queue;
}

// A reference of its own keeps the queue alive even if the window is destroyed meanwhile.
std::shared_ptr<MessageQueue> FindQueue(WindowHandle window) {
    if (window == 0)
        return ThreadQueue();
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const auto it = table.queues.find(window);
    return it == table.queues.end() ? nullptr : it->second;
}

}  // namespace

WindowHandle WrapX11Window(uint32_t x11Window) {
    return x11Window == 0 ? 0 : kX11Tag | x11Window;
}

uint32_t X11WindowOf(WindowHandle window) {
    const WindowHandle id = window & ~kX11Tag;
    return (window & kX11Tag) != 0 && id <= 0xFFFF'FFFFu ? static_cast<uint32_t>(id) : 0;
}

WindowHandle CreateMessageWindow() {
    auto queue = MessageQueue::Create();
    if (!queue)
        return 0;
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    const WindowHandle window = table.next;
    table.next += kWindowStride;
    table.queues.emplace(window, std::move(queue));
    return window;
}

bool DestroyMessageWindow(WindowHandle window) {
    std::shared_ptr<MessageQueue> queue;
    {
        WindowTable& table = Table();
        std::lock_guard lock(table.mutex);
        const auto it = table.queues.find(window);
        if (it == table.queues.end())
            return false;
        queue = std::move(it->second);
        table.queues.erase(it);
    }
    queue->Close();
    return true;
}

bool IsWindow(WindowHandle window) {
    WindowTable& table = Table();
    std::lock_guard lock(table.mutex);
    return table.queues.contains(window);
}

bool PostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    const auto queue = FindQueue(window);
    return queue && queue->Post(Message{window, message, wParam, lParam});
}

WaitResult GetMessage(WindowHandle window, Message& out, int32_t timeoutMs) {
    const auto queue = FindQueue(window);
    if (!queue)
        return WaitResult::kInvalid;
    if (queue->Get(out, timeoutMs))
        return WaitResult::kMessage;
    return queue->IsClosed() ? WaitResult::kInvalid : WaitResult::kTimeout;
}

WaitResult PeekMessage(WindowHandle window, Message& out) {
    const auto queue = FindQueue(window);
    if (!queue)
        return WaitResult::kInvalid;
    if (queue->Peek(out))
        return WaitResult::kMessage;
    return queue->IsClosed() ? WaitResult::kInvalid : WaitResult::kTimeout;
}

int MessageFd(WindowHandle window) {
    const auto queue = FindQueue(window);
    return queue ? queue->Fd() : -1;
}

}  // namespace quorix::platform
