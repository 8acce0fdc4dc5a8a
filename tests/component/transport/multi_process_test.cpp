// The device table shared by two processes: a child process (this test program started again
// in a child role) creates its own CFx3Api over the same section and reports through a pipe.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "sim/emulator.h"
#include "transport/fx3_api.h"
#include "transport_test_support.h"

extern char** environ;

namespace quorix {
namespace {

using test::IdleProvider;
using test::ScopedSectionName;

constexpr const char* kRoleVariable = "QUORIX_TRANSPORT_CHILD_ROLE";
constexpr const char* kSectionVariable = "QUORIX_TRANSPORT_CHILD_SECTION";
constexpr const char* kReportFdVariable = "QUORIX_TRANSPORT_CHILD_REPORT_FD";
constexpr const char* kGoFdVariable = "QUORIX_TRANSPORT_CHILD_GO_FD";
constexpr int kInterfacesPerProcess = 12;
// Each process runs this many create-enumerate-destroy rounds, adding one interface of its own
// every kRoundsPerInterface rounds, so the two processes' read-modify-writes overlap many times.
constexpr int kRoundsPerInterface = 100;

// One process's share of the concurrent enumeration. Both processes see the same cameras, as on
// one bus, each discovering them at its own pace: a camera one process has entered may not be
// listed in the other yet, which must neither lose nor duplicate it.
void EnumerateRounds(test::IdleProvider& provider) {
    for (int round = 0; round < kInterfacesPerProcess * kRoundsPerInterface; ++round) {
        if (round % kRoundsPerInterface == 0) {
            provider.Add(0x31C0, "parent-" + std::to_string(round / kRoundsPerInterface));
            provider.Add(0x31C0, "child-" + std::to_string(round / kRoundsPerInterface));
        }
        CFx3Api api;
        api.EnumerateDevices();
    }
}

// Starts this test program in a child role, with the given pipe ends inherited.
pid_t SpawnChild(const std::string& role, const std::string& section, int reportFd, int goFd) {
    std::vector<std::string> variables;
    variables.reserve(64);
    for (char** entry = environ; *entry != nullptr; ++entry)
        variables.emplace_back(*entry);
    variables.push_back(std::string(kRoleVariable) + "=" + role);
    variables.push_back(std::string(kSectionVariable) + "=" + section);
    variables.push_back(std::string(kReportFdVariable) + "=" + std::to_string(reportFd));
    variables.push_back(std::string(kGoFdVariable) + "=" + std::to_string(goFd));
    std::vector<char*> envp;
    envp.reserve(variables.size() + 1);
    for (std::string& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::string program = "/proc/self/exe";
    std::string filter = "--gtest_filter=TransportChildProcess.ActsOnTheParentsRequest";
    char* argv[] = {program.data(), filter.data(), nullptr};

    const pid_t pid = fork();
    if (pid == 0) {
        const int devNull = open("/dev/null", O_WRONLY);
        if (devNull >= 0)
            dup2(devNull, STDOUT_FILENO);
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
    return pid;
}

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof(buffer));
        if (n <= 0)
            break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return text;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

struct Pipe {
    int read = -1;
    int write = -1;
    Pipe() {
        int fds[2];
        if (pipe(fds) == 0) {
            read = fds[0];
            write = fds[1];
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    void CloseRead() {
        if (read >= 0)
            close(read);
        read = -1;
    }
    void CloseWrite() {
        if (write >= 0)
            close(write);
        write = -1;
    }
};

// What the child reported: one line per used entry, "index instance productId path".
std::vector<std::string> TableLines() {
    std::vector<std::string> lines;
    for (int32_t i = 0; i < CFx3Api::GetEntryCount(); ++i) {
        DeviceTableEntry entry;
        CFx3Api::GetDeviceEntry(i, &entry);
        lines.push_back(std::to_string(i) + " " + std::to_string(entry.instance) + " " +
                        std::to_string(entry.productId) + " " + entry.path);
    }
    return lines;
}

// The child side. Run by the tests below through SpawnChild; skipped in a normal run.
TEST(TransportChildProcess, ActsOnTheParentsRequest) {
    // The child is single-threaded here and nothing changes its environment.
    const char* role = std::getenv(kRoleVariable);            // NOLINT(concurrency-mt-unsafe)
    const char* section = std::getenv(kSectionVariable);      // NOLINT(concurrency-mt-unsafe)
    const char* reportText = std::getenv(kReportFdVariable);  // NOLINT(concurrency-mt-unsafe)
    const char* goText = std::getenv(kGoFdVariable);          // NOLINT(concurrency-mt-unsafe)
    if (role == nullptr || section == nullptr || reportText == nullptr || goText == nullptr)
        GTEST_SKIP() << "runs only as the child process of the multi-process tests";
    CFx3Api::SetSharedSectionNameForTesting(section);
    const int reportFd = std::atoi(reportText);
    const int goFd = std::atoi(goText);
    const std::string what = role;

    if (what == "observe") {
        CFx3Api api;
        std::string report;
        for (const std::string& line : TableLines())
            report += line + "\n";
        ASSERT_EQ(write(reportFd, report.data(), report.size()),
                  static_cast<ssize_t>(report.size()));
    } else if (what == "vanish") {
        // A process that dies without destroying its object.
        new CFx3Api;
        _exit(0);
    } else if (what == "find") {
        // A new process looks for cameras a and b.
        auto provider = std::make_shared<IdleProvider>();
        provider->Add(0x31C0, "a");
        provider->Add(0x31C0, "b");
        platform::usb::RegisterProvider(provider);
        CFx3Api api;
        api.EnumerateDevices();
        std::string report;
        for (const std::string& line : TableLines())
            report += line + "\n";
        platform::usb::UnregisterProvider(provider);
        ASSERT_EQ(write(reportFd, report.data(), report.size()),
                  static_cast<ssize_t>(report.size()));
    } else if (what == "hold") {
        // A process that keeps the table in use, with camera "kept" found present, until the
        // parent lets it go.
        auto provider = std::make_shared<IdleProvider>();
        provider->Add(0x31C0, "kept");
        platform::usb::RegisterProvider(provider);
        CFx3Api api;
        api.EnumerateDevices();
        platform::usb::UnregisterProvider(provider);
        ASSERT_EQ(write(reportFd, "ready\n", 6), 6);
        char go = 0;
        ASSERT_EQ(read(goFd, &go, 1), 1);
    } else if (what == "enumerate") {
        auto provider = std::make_shared<IdleProvider>();
        platform::usb::RegisterProvider(provider);
        ASSERT_EQ(write(reportFd, "ready\n", 6), 6);
        char go = 0;
        ASSERT_EQ(read(goFd, &go, 1), 1);
        EnumerateRounds(*provider);
        platform::usb::UnregisterProvider(provider);
        ASSERT_EQ(write(reportFd, "done\n", 5), 5);
    }
}

class TransportMultiProcessTest : public ::testing::Test {
protected:
    void TearDown() override { sim::DetachAllCameras(); }
    // The section's user count as another process reads it.
    int32_t UserCount() const {
        const test::SectionBytes section(m_section.Name());
        return section.Valid() ? section.UserCount() : -1;
    }
    ScopedSectionName m_section;
};

TEST_F(TransportMultiProcessTest, AChildProcessSeesTheSameEntriesAndInstanceNumbers) {
    sim::CameraConfig other;
    other.productId = 0x31B0;
    sim::AttachCamera();
    sim::AttachCamera(other);
    sim::AttachCamera();
    CFx3Api api;
    ASSERT_EQ(api.EnumerateDevices(), 3);

    Pipe report;
    Pipe go;
    const pid_t child = SpawnChild("observe", m_section.Name(), report.write, go.read);
    ASSERT_GT(child, 0);
    report.CloseWrite();
    const std::string seen = ReadAll(report.read);
    ASSERT_EQ(WaitExit(child), 0);

    std::string expected;
    for (const std::string& line : TableLines())
        expected += line + "\n";
    EXPECT_EQ(seen, expected);
    EXPECT_NE(seen.find(" 1 12736 "), std::string::npos);  // the second camera of this model
    // The child's object is gone again.
    EXPECT_EQ(UserCount(), 1);
}

// Both processes add interfaces and create and destroy objects at the same time. Every
// read-modify-write of the section is locked and merges what the other process wrote: nothing is
// lost, nothing entered twice, and the instance numbers are 0..23 without gaps or repeats.
TEST_F(TransportMultiProcessTest, TwoProcessesEnumeratingAtOnceLoseAndDuplicateNothing) {
    CFx3Api keeper;
    auto provider = std::make_shared<IdleProvider>();
    platform::usb::RegisterProvider(provider);

    Pipe report;
    Pipe go;
    const pid_t child = SpawnChild("enumerate", m_section.Name(), report.write, go.read);
    ASSERT_GT(child, 0);
    report.CloseWrite();
    go.CloseRead();
    // Start together once the child is up.
    char ready[6] = {};
    ASSERT_EQ(read(report.read, ready, sizeof(ready)), 6);
    ASSERT_EQ(write(go.write, "g", 1), 1);
    EnumerateRounds(*provider);
    EXPECT_EQ(ReadAll(report.read), "done\n");
    ASSERT_EQ(WaitExit(child), 0);
    platform::usb::UnregisterProvider(provider);

    CFx3Api reader;  // re-reads the section
    ASSERT_EQ(CFx3Api::GetEntryCount(), 2 * kInterfacesPerProcess);
    std::multiset<std::string> paths;
    std::set<int32_t> instances;
    for (int32_t i = 0; i < 2 * kInterfacesPerProcess; ++i) {
        DeviceTableEntry entry;
        ASSERT_TRUE(CFx3Api::GetDeviceEntry(i, &entry));
        const std::string path = entry.path;
        const size_t start = path.find('#', 22) + 1;
        paths.insert(path.substr(start, path.find('#', start) - start));
        instances.insert(+entry.instance);
    }
    for (int i = 0; i < kInterfacesPerProcess; ++i) {
        EXPECT_EQ(paths.count("parent-" + std::to_string(i)), 1u) << i;
        EXPECT_EQ(paths.count("child-" + std::to_string(i)), 1u) << i;
    }
    EXPECT_EQ(instances.size(), static_cast<size_t>(2 * kInterfacesPerProcess));
    EXPECT_EQ(*instances.begin(), 0);
    EXPECT_EQ(*instances.rbegin(), 2 * kInterfacesPerProcess - 1);
    EXPECT_EQ(UserCount(), 2);  // keeper and reader
}

// Random bytes over the section while this process has camera b selected: a new process must
// still find both cameras, and this process must keep the camera it has open.
TEST_F(TransportMultiProcessTest, GarbageInTheSectionHidesNoCameraFromAnyProcess) {
    auto provider = std::make_shared<IdleProvider>();
    provider->Add(0x31C0, "a");
    provider->Add(0x31C0, "b");
    platform::usb::RegisterProvider(provider);
    CFx3Api live;
    ASSERT_EQ(live.EnumerateDevices(), 2);
    live.HoldDeviceEntry(1);
    {
        test::SectionBytes section(m_section.Name());
        ASSERT_TRUE(section.Valid());
        uint32_t noise = 987654321;
        for (size_t i = 4; i < test::SectionBytes::kSize; ++i) {
            noise = noise * 1103515245u + 12345u;
            section.Raw()[i] = static_cast<uint8_t>(noise >> 16);
        }
        section.SetEntryCount(32);
    }

    Pipe report;
    Pipe go;
    const pid_t child = SpawnChild("find", m_section.Name(), report.write, go.read);
    ASSERT_GT(child, 0);
    report.CloseWrite();
    const std::string seen = ReadAll(report.read);
    ASSERT_EQ(WaitExit(child), 0);
    EXPECT_NE(seen.find("0 0 12736 \\\\?\\usb#vid_04b4&pid_31c0#a#"), std::string::npos) << seen;
    EXPECT_NE(seen.find("1 1 12736 \\\\?\\usb#vid_04b4&pid_31c0#b#"), std::string::npos) << seen;

    EXPECT_EQ(live.EnumerateDevices(), 2);
    CFx3Api::DeviceHandle handle;
    EXPECT_EQ(live.OpenDevice(&handle, 1, false), 1);
    handle.Close();
    platform::usb::UnregisterProvider(provider);
    DeviceTableEntry entry;
    ASSERT_TRUE(CFx3Api::GetDeviceEntry(1, &entry));
    EXPECT_NE(std::string(entry.path).find("#b#"), std::string::npos);
}

// Entries left by processes that are gone fill the section while another process holds the
// table, so it is not started afresh. They name cameras of other interface classes, which this
// process does not look for. A camera plugged in now must still get an entry and be listed, and
// the entry the live process relies on must stay.
TEST_F(TransportMultiProcessTest, EntriesOfDeadProcessesMakeRoomForAPresentCamera) {
    Pipe report;
    Pipe go;
    const pid_t child = SpawnChild("hold", m_section.Name(), report.write, go.read);
    ASSERT_GT(child, 0);
    report.CloseWrite();
    char ready[6] = {};
    ASSERT_EQ(read(report.read, ready, sizeof ready), 6);
    {
        test::SectionBytes section(m_section.Name());
        ASSERT_TRUE(section.Valid());
        ASSERT_EQ(section.EntryCount(), 1);
        // Entry 0 is the live process's camera; 31 dead entries behind it, half of another
        // class and half without any class at the end of the path.
        for (int i = 1; i < 32; ++i) {
            const std::string ghost = "\\\\?\\usb#vid_04b4&pid_31c0#ghost-" + std::to_string(i);
            section.SetEntry(
                i, 0x04B4, 0x31C0, i,
                i % 2 == 0 ? ghost + "#{00000000-1111-2222-3333-444444444444}" : ghost);
        }
        section.SetEntryCount(32);
    }
    auto provider = std::make_shared<IdleProvider>();
    provider->Add(0x31C0, "live");
    platform::usb::RegisterProvider(provider);
    {
        CFx3Api api;
        api.EnumerateDevices();
        std::string lines;
        for (const std::string& line : TableLines())
            lines += line + "\n";
        EXPECT_NE(lines.find("0 0 12736 \\\\?\\usb#vid_04b4&pid_31c0#kept#"), std::string::npos)
            << lines;
        EXPECT_NE(lines.find("12736 \\\\?\\usb#vid_04b4&pid_31c0#live#"), std::string::npos)
            << lines;
    }
    platform::usb::UnregisterProvider(provider);
    ASSERT_EQ(write(go.write, "x", 1), 1);
    EXPECT_EQ(WaitExit(child), 0);
}

// A process that dies holding an object leaves its user in the count. Once every live user is
// gone, the next object must still start a fresh table rather than trust the dead one's count.
TEST_F(TransportMultiProcessTest, AUserThatDiedDoesNotKeepTheTableAlive) {
    sim::AttachCamera();
    auto keeper = std::make_unique<CFx3Api>();
    ASSERT_EQ(keeper->EnumerateDevices(), 1);

    Pipe report;
    Pipe go;
    const pid_t child = SpawnChild("vanish", m_section.Name(), report.write, go.read);
    ASSERT_GT(child, 0);
    report.CloseWrite();
    ReadAll(report.read);
    ASSERT_EQ(WaitExit(child), 0);
    EXPECT_EQ(UserCount(), 2);

    keeper.reset();
    EXPECT_EQ(UserCount(), 1);  // the dead process's user
    CFx3Api fresh;
    EXPECT_EQ(UserCount(), 1);
    EXPECT_EQ(CFx3Api::GetEntryCount(), 0);
}

}  // namespace
}  // namespace quorix
