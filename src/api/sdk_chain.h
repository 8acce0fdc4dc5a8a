#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>

#include "api/t_ring.h"
#include "platform/lock.h"

namespace quorix {

class CQuorix;

// One registry entry: a handle, the camera context it names and the number of exported calls
// running on it. The context pointer owns the context; it becomes null when the handle is
// released, and the entry leaves the ring once the last call has finished.
struct CSDKDATA {
    uint32_t handle = 0;
    CQuorix* context = nullptr;
    uint32_t callsInFlight = 0;
};

// The handle registry: maps the handles given to applications onto camera contexts. One static
// instance serves the whole library (SdkRegistry()); tests build their own.
//
// Every walk of the ring moves its head, so lookups, insertions and removals all run under the
// registry lock. Contexts are created and destroyed outside the lock, because destroying one
// joins its threads and closes its camera, which must not stall calls on other handles.
//
// An exported call holds its context through a Call for as long as it runs. Releasing a handle
// first makes it unknown to calls that start later, then waits until the calls already running
// on it have finished, and only then destroys the context, so no call ever runs on a freed one.
class CSdkChain : public CTRing<CSDKDATA> {
public:
    // One exported call's hold on a context: the context stays alive until the Call ends.
    class Call {
    public:
        Call() = default;
        ~Call();
        Call(Call&& other) noexcept;
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;
        Call& operator=(Call&&) = delete;

        // Null when the handle named no live context. The context is the one the handle named
        // when the call entered: a release meanwhile clears the entry, not this call's context,
        // and waits for the call to leave.
        CQuorix* Context() const { return m_context; }

    private:
        friend class CSdkChain;
        Call(CSdkChain* chain, Node* node, CQuorix* context)
            : m_chain(chain), m_node(node), m_context(context) {}
        CSdkChain* m_chain = nullptr;
        Node* m_node = nullptr;
        CQuorix* m_context = nullptr;
    };

    using TickSource = std::function<uint32_t()>;
    using RandomSource = std::function<uint32_t()>;

    // The defaults draw from the platform's tick count and pseudo-random source.
    CSdkChain();
    CSdkChain(TickSource ticks, RandomSource random);
    ~CSdkChain() override;

    // Links the entry in under the registry lock.
    void Insert(const CSDKDATA& entry) override;

    // Registers a new context under a fresh handle (tick count + random value + count, drawn
    // again while it is 0 or already taken) and returns the handle. Takes ownership of the
    // context.
    uint32_t Register(std::unique_ptr<CQuorix> context);

    // The context registered under the handle, or null when there is none (never issued,
    // released, or being released). A successful lookup leaves the head on the found node.
    // The pointer is not held: only for a caller that knows nobody releases the handle meanwhile.
    CQuorix* Lookup(uint32_t handle);

    // Looks the handle up as Lookup does and holds its context until the returned Call ends.
    Call Enter(uint32_t handle);

    // Makes the handle unknown to new calls, waits for the calls running on it to finish, then
    // destroys its context and removes its entry. False if the handle is unknown or already being
    // released. Must not be called from within a call on the same handle.
    bool Release(uint32_t handle);

private:
    // The ring walk of every lookup; the caller holds the lock. Leaves the head on the found
    // node, or on the last node when the handle is not in the ring.
    Node* FindLocked(uint32_t handle);
    bool ContainsLocked(uint32_t handle) const;

    // Ends a call entered on `node`; wakes a release waiting for the node's last call.
    void Leave(Node* node);

    TickSource m_ticks;
    RandomSource m_random;
    mutable platform::CriticalSection m_lock;
    std::condition_variable_any m_callsDone;
};

// The library's one registry.
CSdkChain& SdkRegistry();

}  // namespace quorix
