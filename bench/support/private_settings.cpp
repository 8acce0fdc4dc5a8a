// Every benchmark program keeps the SDK's settings in a directory of its own: the contexts it
// makes must neither read nor change the real user's settings (which could switch adjustments on
// or change the exposure under a measurement). Linked into every benchmark program.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

class PrivateSettings {
public:
    PrivateSettings() : m_owner(::getpid()) {
        const char* tmp = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe): before main
        std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                              "/quorix-bench-config-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        m_path = pattern;
        setenv("XDG_CONFIG_HOME", m_path.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    }
    ~PrivateSettings() {
        if (::getpid() == m_owner) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    PrivateSettings(const PrivateSettings&) = delete;
    PrivateSettings& operator=(const PrivateSettings&) = delete;

private:
    pid_t m_owner;
    std::string m_path;
};

const PrivateSettings g_privateSettings;

}  // namespace
