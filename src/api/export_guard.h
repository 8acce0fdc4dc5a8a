#pragma once

#include <exception>
#include <new>

#include "api/sdk_chain.h"
#include "context/quorix.h"

namespace quorix {

// The rule every exported function that takes a handle follows: look the handle up; without a
// context answer `noContext` at once and record nothing; otherwise run the operation, holding the
// context so that a release on another thread waits for it. Nothing throws across the C
// interface: an allocation failure inside records code 5, any other exception gives the failure
// result.
template <typename R, typename Operation>
R WithContext(uint32_t handle, R noContext, Operation&& operation) noexcept {
    const CSdkChain::Call call = SdkRegistry().Enter(handle);
    CQuorix* context = call.Context();
    if (context == nullptr) {
        return noContext;
    }
    try {
        return operation(*context);
    } catch (const std::bad_alloc&) {
        context->SetError(kErrBuffer);
    } catch (...) {
    }
    return noContext;
}

}  // namespace quorix
