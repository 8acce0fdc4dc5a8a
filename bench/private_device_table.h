#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "transport/fx3_api.h"

namespace quorix::bench {

// A device table of this process alone, so that a benchmark never touches the machine's.
class PrivateDeviceTable {
public:
    PrivateDeviceTable() : m_name("/quorix-bench-" + std::to_string(getpid())) {
        shm_unlink(m_name.c_str());
        CFx3Api::SetSharedSectionNameForTesting(m_name);
    }
    ~PrivateDeviceTable() { shm_unlink(m_name.c_str()); }
    PrivateDeviceTable(const PrivateDeviceTable&) = delete;
    PrivateDeviceTable& operator=(const PrivateDeviceTable&) = delete;

private:
    std::string m_name;
};

}  // namespace quorix::bench
