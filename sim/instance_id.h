#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace quorix::sim {

// A new instance id for a plug-in of an emulated camera: unique in the process, one per plug-in,
// whichever camera it belongs to.
inline std::string NextInstanceId() {
    static std::atomic<uint64_t> counter{0};
    return "sim&" + std::to_string(++counter);
}

}  // namespace quorix::sim
