#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "api/t_ring.h"
#include "platform/lock.h"

namespace quorix {

class CQuorix;

// One registry entry: a handle and the camera context it names. The context pointer owns the
// context; it becomes null just before the entry leaves the ring.
struct CSDKDATA {
    uint32_t handle = 0;
    CQuorix* context = nullptr;
};

// The handle registry: maps the handles given to applications onto camera contexts. One static
// instance serves the whole library (SdkRegistry()); tests build their own.
//
// Every walk of the ring moves its head, so lookups, insertions and removals all run under the
// registry lock. Contexts are created and destroyed outside the lock, because destroying one
// joins its threads and closes its camera, which must not stall calls on other handles.
class CSdkChain : public CTRing<CSDKDATA> {
public:
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
    CQuorix* Lookup(uint32_t handle);

    // Destroys the context of the handle and removes its entry. False if the handle is unknown.
    bool Release(uint32_t handle);

private:
    // The ring walk of every lookup; the caller holds the lock. Leaves the head on the found
    // node, or on the last node when the handle is not in the ring.
    Node* FindLocked(uint32_t handle);
    bool ContainsLocked(uint32_t handle) const;

    TickSource m_ticks;
    RandomSource m_random;
    mutable platform::CriticalSection m_lock;
};

// The library's one registry.
CSdkChain& SdkRegistry();

}  // namespace quorix
