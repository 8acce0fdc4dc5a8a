// Every test program runs with a settings directory of its own, and every test with a fresh one
// inside it: the SDK keeps its settings file in $XDG_CONFIG_HOME/quorix, and no test may read or
// change the real user's settings, nor see another test's. Linked into every test program.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

// The program's directory, removed when the program ends normally (also after only listing its
// tests). Forked children of a test share it; only the program that made it removes it.
class BaseDirectory {
public:
    BaseDirectory() : m_owner(::getpid()) {
        const char* tmp = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe): before main
        std::string pattern = std::string(tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp") +
                              "/quorix-test-config-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            // Without a directory of its own no test may reach the user's settings.
            std::abort();
        }
        m_path = pattern;
    }
    ~BaseDirectory() { Remove(m_path); }
    BaseDirectory(const BaseDirectory&) = delete;
    BaseDirectory& operator=(const BaseDirectory&) = delete;

    const std::string& Path() const { return m_path; }
    void Remove(const std::string& directory) const {
        if (::getpid() == m_owner) {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
        }
    }

private:
    pid_t m_owner;
    std::string m_path;
};

void Use(const std::string& directory) {
    setenv("XDG_CONFIG_HOME", directory.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
}

class ConfigHome : public ::testing::EmptyTestEventListener {
public:
    explicit ConfigHome(const BaseDirectory& base) : m_base(base) { Use(m_base.Path()); }

    void OnTestStart(const ::testing::TestInfo& /*test*/) override {
        m_current = m_base.Path() + "/" + std::to_string(++m_count);
        std::filesystem::create_directory(m_current);
        Use(m_current);
    }
    void OnTestEnd(const ::testing::TestInfo& /*test*/) override {
        Use(m_base.Path());
        m_base.Remove(m_current);
    }

private:
    const BaseDirectory& m_base;
    std::string m_current;
    int m_count = 0;
};

// Set by the test program that made the directory. A program a test starts as its child (this
// program again in a child role) shares the test's directory, as a second process of the user
// shares the user's settings, and makes none of its own.
constexpr const char* kOwnerVariable = "QUORIX_TEST_CONFIG_OWNER";

const bool kRegistered = [] {
    if (std::getenv(kOwnerVariable) != nullptr) {  // NOLINT(concurrency-mt-unsafe): before main
        return false;
    }
    static const BaseDirectory base;
    setenv(kOwnerVariable, base.Path().c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    ::testing::UnitTest::GetInstance()->listeners().Append(new ConfigHome(base));
    return true;
}();

}  // namespace
