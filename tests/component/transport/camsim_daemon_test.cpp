// The emulator daemon as other processes use it: quorix-camsim serves its cameras on sockets in a
// directory; every process that names the directory in QUORIX_SIM_DIR sees them, and two such
// processes share one device table with the same instance numbers.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "sim/emulator.h"
#include "transport/fx3_api.h"
#include "transport/vol_cy3_cam.h"
#include "transport_test_support.h"

extern char** environ;

namespace quorix {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSectionVariable = "QUORIX_CAMSIM_TEST_SECTION";

// One line per used table entry: "instance productId path".
std::string TableText() {
    std::string text;
    for (int32_t i = 0; i < CFx3Api::GetEntryCount(); ++i) {
        DeviceTableEntry entry;
        CFx3Api::GetDeviceEntry(i, &entry);
        text += std::to_string(entry.instance) + " " + std::to_string(entry.productId) + " " +
                entry.path + "\n";
    }
    return text;
}

// The serial number text the camera at a table index keeps in its EEPROM at 0x1040.
std::string SerialOf(int32_t index) {
    CVolCy3Cam camera;
    camera.EnumerateDevices();
    if (!camera.SelectDevice(index)) {
        return "";
    }
    std::string serial;
    for (uint16_t address = 0x1040; address < 0x1060; ++address) {
        uint8_t byte = 0;
        if (!camera.ReadEepromByte(address, &byte) || byte == 0xFF || byte == 0) {
            break;
        }
        serial.push_back(static_cast<char>(byte));
    }
    return serial;
}

// Runs a program with extra environment variables; returns its standard output.
std::string RunAndRead(const std::vector<std::string>& argv,
                       const std::vector<std::string>& extraEnvironment, int* exitCode) {
    int fds[2];
    if (pipe(fds) != 0) {
        return "";
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    environment.insert(environment.end(), extraEnvironment.begin(), extraEnvironment.end());
    std::vector<char*> envp;
    for (std::string& variable : environment) {
        envp.push_back(variable.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& arg : args) {
        argp.push_back(arg.data());
    }
    argp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], STDOUT_FILENO);
        close(fds[0]);
        execve(argp[0], argp.data(), envp.data());
        _exit(127);
    }
    close(fds[1]);
    std::string text;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        text.append(buffer, static_cast<size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return text;
}

class CamsimDaemon : public ::testing::Test {
protected:
    void SetUp() override {
        sim::DetachAllCameras();
        char pattern[] = "/tmp/quorix-camsim-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_directory = pattern;
        m_daemon = fork();
        if (m_daemon == 0) {
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            execl(QUORIX_CAMSIM_PATH, QUORIX_CAMSIM_PATH, "--dir", m_directory.c_str(), "--cameras",
                  "2", static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(m_daemon, 0);
        // The daemon is ready once both sockets are there (bounded so a broken daemon cannot
        // hang the suite).
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (Sockets() < 2 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_EQ(Sockets(), 2);
        setenv("QUORIX_SIM_DIR", m_directory.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QUORIX_SIM_DIR");
        if (m_daemon > 0) {
            kill(m_daemon, SIGTERM);
            int status = 0;
            waitpid(m_daemon, &status, 0);
            EXPECT_TRUE(WIFEXITED(status)) << "the daemon must end cleanly on SIGTERM";
            EXPECT_EQ(Sockets(), 0) << "the daemon removes its sockets on the way out";
        }
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }
    int Sockets() const {
        int count = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_directory, error)) {
            count += entry.path().extension() == ".sock" ? 1 : 0;
        }
        return count;
    }

    std::string m_directory;
    pid_t m_daemon = -1;
};

TEST_F(CamsimDaemon, TwoProcessesSeeTheSameCamerasAndInstanceNumbers) {
    test::ScopedSectionName section;
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 2);
    const std::string table = TableText();
    EXPECT_NE(table.find("0 12736 \\\\?\\usb#vid_04b4&pid_31c0#"), std::string::npos) << table;
    EXPECT_NE(table.find("1 12736 "), std::string::npos) << table;
    EXPECT_TRUE(api.DeviceExists(0));
    EXPECT_TRUE(api.DeviceExists(1));
    // Each daemon camera answers vendor requests with its own EEPROM.
    const std::string first = SerialOf(0);
    const std::string second = SerialOf(1);
    EXPECT_EQ(first.rfind("QX252-", 0), 0u) << first;
    EXPECT_EQ(second.rfind("QX252-", 0), 0u) << second;
    EXPECT_NE(first, second);

    // A second process, holding the table alive with this one, sees the same entries.
    int exitCode = -1;
    const std::string childTable =
        RunAndRead({"/proc/self/exe", "--gtest_filter=CamsimChildProcess.PrintTable"},
                   {std::string(kSectionVariable) + "=" + section.Name()}, &exitCode);
    EXPECT_EQ(exitCode, 0);
    EXPECT_NE(childTable.find("TABLE\n" + table + "END\n"), std::string::npos)
        << "child saw:\n"
        << childTable << "parent has:\n"
        << table;
}

// The child's side: enumerate the daemon's cameras over the parent's section and print the table.
TEST(CamsimChildProcess, PrintTable) {
    const char* section = std::getenv(kSectionVariable);  // NOLINT(concurrency-mt-unsafe)
    if (section == nullptr) {
        GTEST_SKIP() << "runs only as the child of CamsimDaemon tests";
    }
    CFx3Api::SetSharedSectionNameForTesting(section);
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 2);
    std::printf("TABLE\n%sEND\n", TableText().c_str());
    std::fflush(stdout);
}

}  // namespace
}  // namespace quorix
