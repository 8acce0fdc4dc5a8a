#include "api/sdk_chain.h"

#include <mutex>
#include <utility>

#include "context/quorix.h"
#include "platform/clock.h"
#include "platform/random.h"

namespace quorix {

CSdkChain::CSdkChain()
    : CSdkChain([] { return platform::GetTickCount(); }, [] { return platform::Random(); }) {}

CSdkChain::CSdkChain(TickSource ticks, RandomSource random)
    : m_ticks(std::move(ticks)), m_random(std::move(random)) {}

// Frees the remaining nodes; the contexts they point to belong to handles the application never
// released and are left alone, since tearing down a camera while the process unloads is unsafe.
CSdkChain::~CSdkChain() = default;

void CSdkChain::Insert(const CSDKDATA& entry) {
    std::lock_guard lock(m_lock);
    CTRing<CSDKDATA>::Insert(entry);
}

uint32_t CSdkChain::Register(std::unique_ptr<CQuorix> context) {
    std::lock_guard lock(m_lock);
    // The count takes part so that two contexts created within one tick that draw the same random
    // value still differ; a handle of 0 or one already taken is drawn again.
    uint32_t handle = 0;
    do {
        handle = m_ticks() + m_random() + static_cast<uint32_t>(m_count);
    } while (handle == 0 || ContainsLocked(handle));
    CTRing<CSDKDATA>::Insert(CSDKDATA{handle, context.release()});
    return handle;
}

CQuorix* CSdkChain::Lookup(uint32_t handle) {
    std::lock_guard lock(m_lock);
    Node* node = FindLocked(handle);
    return node != nullptr ? node->data.context : nullptr;
}

CSdkChain::Call CSdkChain::Enter(uint32_t handle) {
    std::lock_guard lock(m_lock);
    Node* node = FindLocked(handle);
    if (node == nullptr || node->data.context == nullptr) {
        return Call();
    }
    ++node->data.callsInFlight;
    return Call(this, node, node->data.context);
}

void CSdkChain::Leave(Node* node) {
    bool last = false;
    {
        std::lock_guard lock(m_lock);
        last = --node->data.callsInFlight == 0;
    }
    if (last) {
        m_callsDone.notify_all();
    }
}

CSdkChain::Call::~Call() {
    if (m_node != nullptr) {
        m_chain->Leave(m_node);
    }
}

CSdkChain::Call::Call(Call&& other) noexcept
    : m_chain(other.m_chain), m_node(other.m_node), m_context(other.m_context) {
    other.m_node = nullptr;
    other.m_context = nullptr;
}

bool CSdkChain::Release(uint32_t handle) {
    std::unique_ptr<CQuorix> context;
    {
        std::unique_lock lock(m_lock);
        Node* node = FindLocked(handle);
        if (node == nullptr || node->data.context == nullptr) {
            return false;
        }
        // The entry stays in the ring without a context while the context is destroyed, so a
        // call starting now finds "no context" instead of a dying object, and the handle cannot
        // be issued again meanwhile. The node itself stays until this release unlinks it, so
        // waiting on it is safe; calls already running keep using the context until they end.
        context.reset(node->data.context);
        node->data.context = nullptr;
        m_callsDone.wait(lock, [node] { return node->data.callsInFlight == 0; });
    }
    context.reset();

    std::lock_guard lock(m_lock);
    if (FindLocked(handle) != nullptr) {
        UnlinkHead();
    }
    return true;
}

CSdkChain::Node* CSdkChain::FindLocked(uint32_t handle) {
    if (m_head == nullptr) {
        return nullptr;
    }
    const uint32_t last = m_head->previous->data.handle;
    while (m_head->data.handle != handle) {
        if (m_head->data.handle == last) {
            return nullptr;
        }
        m_head = m_head->next;
    }
    return m_head;
}

bool CSdkChain::ContainsLocked(uint32_t handle) const {
    if (m_head == nullptr) {
        return false;
    }
    const Node* node = m_head;
    do {
        if (node->data.handle == handle) {
            return true;
        }
        node = node->next;
    } while (node != m_head);
    return false;
}

CSdkChain& SdkRegistry() {
    static CSdkChain registry;
    return registry;
}

}  // namespace quorix
