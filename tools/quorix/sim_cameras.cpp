#include "sim_cameras.h"

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/usb/socket_link_provider.h"
#include "platform/usb/unix_socket.h"
#include "sim/emulator.h"
#include "sim/socket_link_server.h"

namespace quorix::cli {

namespace {

using platform::usb::ParseSocketFileName;
using platform::usb::SocketFileName;
using sim::SocketLinkServer;

constexpr const char* kSimDirVariable = "QUORIX_SIM_DIR";
constexpr std::array<int, 3> kCleanupSignals = {SIGINT, SIGTERM, SIGHUP};

// What the signal handler removes. A handler may neither allocate nor lock, so the paths sit in
// fixed storage, and a count published after each path is complete says how many are valid.
constexpr sig_atomic_t kMaxCleanupFiles = 64;
constexpr size_t kCleanupPathBytes = PATH_MAX;
char g_cleanupFiles[kMaxCleanupFiles][kCleanupPathBytes];
volatile sig_atomic_t g_cleanupFileCount = 0;
char g_cleanupDirectory[kCleanupPathBytes];
volatile sig_atomic_t g_cleanupDirectorySet = 0;

void RemoveSimFilesOnSignal(int signalNumber) {
    for (sig_atomic_t i = 0; i < g_cleanupFileCount; ++i) {
        unlink(g_cleanupFiles[i]);
    }
    if (g_cleanupDirectorySet != 0) {
        rmdir(g_cleanupDirectory);
    }
    // End the process by the signal, as if nothing had caught it.
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

bool CopyPath(const std::string& path, char* destination) {
    if (path.size() >= kCleanupPathBytes) {
        return false;
    }
    std::memcpy(destination, path.c_str(), path.size() + 1);
    return true;
}

// Notes a file the signal handler must remove; false when there is no room for it.
bool NoteForCleanup(const std::string& path) {
    const sig_atomic_t count = g_cleanupFileCount;
    if (count >= kMaxCleanupFiles || !CopyPath(path, g_cleanupFiles[count])) {
        return false;
    }
    g_cleanupFileCount = count + 1;
    return true;
}

// Whether a camera is served at `path` now: a daemon that was killed leaves its socket file
// behind, and nobody accepts a connection there any more.
bool IsServedNow(const std::string& path) {
    return platform::usb::ConnectUnixSocket(path, true).IsValid();
}

std::string ErrnoText() {
    return std::error_code(errno, std::generic_category()).message();
}

}  // namespace

struct SimCameras::State {
    std::string directory;
    std::vector<std::string> files;  // socket files and links made in the directory
    int linkedCameras = 0;           // links to a daemon's sockets among `files`
    std::vector<std::shared_ptr<sim::EmulatedCamera>> cameras;
    std::vector<std::unique_ptr<SocketLinkServer>> servers;
    bool hadSimDir = false;
    std::string previousSimDir;
    std::array<struct sigaction, kCleanupSignals.size()> previousActions{};
    bool handlersInstalled = false;
};

SimCameras::SimCameras(std::unique_ptr<State> state) : m_state(std::move(state)) {}

SimCameras::~SimCameras() {
    State& state = *m_state;
    // Unplugging ends every transfer still waiting on a camera; stopping a server then ends its
    // connections and removes its socket file.
    for (const auto& camera : state.cameras) {
        sim::Unplug(camera);
    }
    for (auto& server : state.servers) {
        server->Stop();
    }
    state.servers.clear();
    for (const std::string& file : state.files) {
        unlink(file.c_str());
    }
    if (!state.directory.empty()) {
        rmdir(state.directory.c_str());
    }
    if (state.hadSimDir) {
        setenv(kSimDirVariable, state.previousSimDir.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)
    } else {
        unsetenv(kSimDirVariable);  // NOLINT(concurrency-mt-unsafe)
    }
    if (state.handlersInstalled) {
        for (size_t i = 0; i < kCleanupSignals.size(); ++i) {
            sigaction(kCleanupSignals[i], &state.previousActions[i], nullptr);
        }
    }
    g_cleanupFileCount = 0;
    g_cleanupDirectorySet = 0;
}

const std::string& SimCameras::Directory() const {
    return m_state->directory;
}

int SimCameras::EmulatedCameraCount() const {
    return static_cast<int>(m_state->cameras.size()) + m_state->linkedCameras;
}

int SimCameras::CountServedCameras(const std::string& directory) {
    DIR* stream = opendir(directory.c_str());
    if (stream == nullptr) {
        return 0;
    }
    int count = 0;
    // The stream is this function's own, so readdir has no other user.
    while (const dirent* entry = readdir(stream)) {  // NOLINT(concurrency-mt-unsafe)
        if (ParseSocketFileName(entry->d_name) && IsServedNow(directory + "/" + entry->d_name)) {
            ++count;
        }
    }
    closedir(stream);
    return count;
}

std::unique_ptr<SimCameras> SimCameras::Start(int count, std::string* error) {
    const auto fail = [error](std::string why) {
        if (error != nullptr) {
            *error = std::move(why);
        }
        return nullptr;
    };
    if (count < 1 || count > kMaxCameras) {
        return fail("the number of emulated cameras must be 1.." + std::to_string(kMaxCameras));
    }
    // From here on the object's destructor undoes whatever was set up, on every way out.
    std::unique_ptr<SimCameras> cameras(new SimCameras(std::make_unique<State>()));
    State& state = *cameras->m_state;

    const char* existing = std::getenv(kSimDirVariable);  // NOLINT(concurrency-mt-unsafe)
    state.hadSimDir = existing != nullptr;
    state.previousSimDir = existing != nullptr ? existing : "";

    const char* temporary = std::getenv("TMPDIR");  // NOLINT(concurrency-mt-unsafe)
    std::string pattern =
        std::string(temporary != nullptr && *temporary != '\0' ? temporary : "/tmp") +
        "/quorix-sim-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        return fail("cannot create a socket directory: " + ErrnoText());
    }
    state.directory = pattern;
    if (!CopyPath(state.directory, g_cleanupDirectory)) {
        return fail("the socket directory's path is too long: " + state.directory);
    }
    g_cleanupDirectorySet = 1;
    struct sigaction action {};
    action.sa_handler = RemoveSimFilesOnSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kCleanupSignals.size(); ++i) {
        sigaction(kCleanupSignals[i], &action, &state.previousActions[i]);
    }
    state.handlersInstalled = true;

    // The daemon's cameras: each of its sockets gets a link of the same name, which a client
    // connects through as if it were the socket itself.
    if (existing != nullptr && *existing != '\0') {
        char resolved[PATH_MAX];
        DIR* daemonDirectory =
            realpath(existing, resolved) != nullptr ? opendir(resolved) : nullptr;
        if (daemonDirectory != nullptr) {
            // The stream is this function's own, so readdir has no other user.
            while (const dirent* entry = readdir(daemonDirectory)) {  // NOLINT
                if (!ParseSocketFileName(entry->d_name)) {
                    continue;
                }
                const std::string target = std::string(resolved) + "/" + entry->d_name;
                const std::string link = state.directory + "/" + entry->d_name;
                if (!IsServedNow(target) || !NoteForCleanup(link) ||
                    symlink(target.c_str(), link.c_str()) != 0) {
                    continue;
                }
                state.files.push_back(link);
                ++state.linkedCameras;
            }
            closedir(daemonDirectory);
        }
    }

    setenv(kSimDirVariable, state.directory.c_str(), 1);  // NOLINT(concurrency-mt-unsafe)

    for (int i = 0; i < count; ++i) {
        sim::CameraConfig config;
        char serial[32];
        std::snprintf(serial, sizeof serial, "QX252-%06d", i + 1);
        config.serialNumber = serial;
        // Nobody reads the cameras' logs here.
        config.logCapacity = 0;
        auto camera = sim::CreateCamera(config);

        // The process id keeps these cameras apart from those of other quorix processes and of
        // daemons whose sockets are linked in.
        const std::string instanceId =
            "quorix-" + std::to_string(getpid()) + "-" + std::to_string(i + 1);
        const std::string fileName = SocketFileName(config.vendorId, config.productId, instanceId);
        const std::string path = state.directory + "/" + fileName;
        if (fileName.empty() || !NoteForCleanup(path)) {
            return fail("cannot name the socket of emulated camera " + std::to_string(i + 1));
        }
        state.files.push_back(path);
        auto server = std::make_unique<SocketLinkServer>(path, camera);
        if (!server->Start()) {
            return fail("cannot serve emulated camera " + std::to_string(i + 1) + " at " + path);
        }
        state.cameras.push_back(std::move(camera));
        state.servers.push_back(std::move(server));
    }
    return cameras;
}

}  // namespace quorix::cli
