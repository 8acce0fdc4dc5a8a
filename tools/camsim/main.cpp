// quorix-camsim: serves emulated Quorix 252 cameras to other processes. Each camera gets a Unix
// socket in the given directory, named as the SDK's socket provider expects; an application that
// sets QUORIX_SIM_DIR to that directory sees the cameras as if they were plugged in. Runs until
// SIGINT or SIGTERM and removes its sockets on the way out.

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "platform/usb/socket_link_provider.h"
#include "sim/emulator.h"
#include "sim/socket_link_server.h"

namespace {

using quorix::platform::usb::SocketFileName;
using quorix::sim::SocketLinkServer;

constexpr int kMaxCameras = 32;

struct Options {
    std::string directory;
    int cameras = 1;
    double framesPerSecond = 0.0;
    bool asFastAsPossible = false;
};

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: quorix-camsim --dir DIR [--cameras N] [--fps F] [--fast]\n"
                 "  --dir DIR      directory for the camera sockets (created if missing);\n"
                 "                 applications find the cameras with QUORIX_SIM_DIR=DIR\n"
                 "  --cameras N    number of emulated cameras, 1..%d (default 1)\n"
                 "  --fps F        frames per second; 0 = the sensor's own timing (default)\n"
                 "  --fast         answer every frame request at once (throughput tests)\n",
                 kMaxCameras);
}

// Parses a whole decimal number or fails.
bool ParseInt(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < 0 || parsed > 1000000)
        return false;
    *value = static_cast<int>(parsed);
    return true;
}

bool ParseDouble(const char* text, double* value) {
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text, &end);
    if (errno != 0 || end == text || *end != '\0' || !(parsed >= 0.0) || parsed > 100000.0)
        return false;
    *value = parsed;
    return true;
}

// Exit codes of the daemon.
constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// ParseOptions asks for an exit with kExitOk (after --help) by this value.
constexpr int kHelpShown = -1;

// 0 to go on, kHelpShown after printing the usage, kExitUsage on a usage error (after printing
// why).
int ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--help" || arg == "-h") {
            PrintUsage(stdout);
            return kHelpShown;
        } else if (arg == "--dir" && hasValue) {
            options->directory = argv[++i];
        } else if (arg == "--cameras" && hasValue) {
            if (!ParseInt(argv[++i], &options->cameras) || options->cameras < 1 ||
                options->cameras > kMaxCameras) {
                std::fprintf(stderr, "quorix-camsim: --cameras takes 1..%d\n", kMaxCameras);
                return kExitUsage;
            }
        } else if (arg == "--fps" && hasValue) {
            if (!ParseDouble(argv[++i], &options->framesPerSecond)) {
                std::fprintf(stderr, "quorix-camsim: --fps takes a number from 0 to 100000\n");
                return kExitUsage;
            }
        } else if (arg == "--fast") {
            options->asFastAsPossible = true;
        } else {
            std::fprintf(stderr, "quorix-camsim: unknown or incomplete option '%s'\n", arg.c_str());
            PrintUsage(stderr);
            return kExitUsage;
        }
    }
    if (options->directory.empty()) {
        std::fprintf(stderr, "quorix-camsim: --dir is required\n");
        PrintUsage(stderr);
        return kExitUsage;
    }
    return 0;
}

bool EnsureDirectory(const std::string& directory) {
    struct stat info {};
    if (stat(directory.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    return mkdir(directory.c_str(), 0700) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (const int parsed = ParseOptions(argc, argv, &options); parsed != 0)
        return parsed == kHelpShown ? kExitOk : parsed;
    if (!EnsureDirectory(options.directory)) {
        const std::string why = std::error_code(errno, std::generic_category()).message();
        std::fprintf(stderr, "quorix-camsim: cannot use directory %s: %s\n",
                     options.directory.c_str(), why.c_str());
        return kExitFailure;
    }

    // The signals are taken by sigwait below; blocking them first keeps every thread the servers
    // start from being interrupted by them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A client that hangs up mid-reply must not end the daemon.
    signal(SIGPIPE, SIG_IGN);

    std::vector<std::shared_ptr<quorix::sim::EmulatedCamera>> cameras;
    std::vector<std::unique_ptr<SocketLinkServer>> servers;
    const auto stopAll = [&servers] {
        for (auto& server : servers)
            server->Stop();
        servers.clear();
    };

    for (int i = 0; i < options.cameras; ++i) {
        quorix::sim::CameraConfig config;
        char serial[32];
        std::snprintf(serial, sizeof serial, "QX252-%06d", i + 1);
        config.serialNumber = serial;
        config.framesPerSecond = options.framesPerSecond;
        config.asFastAsPossible = options.asFastAsPossible;
        // Nobody outside this process can read the camera's log: keep none.
        config.logCapacity = 0;
        auto camera = quorix::sim::CreateCamera(config);

        // The process id keeps the sockets of a restarted daemon apart from those of its
        // predecessor, so that clients never take a new camera for one they knew.
        const std::string instanceId =
            "camsim-" + std::to_string(getpid()) + "-" + std::to_string(i + 1);
        const std::string fileName = SocketFileName(config.vendorId, config.productId, instanceId);
        const std::string path = options.directory + "/" + fileName;
        auto server = std::make_unique<SocketLinkServer>(path, camera);
        if (fileName.empty() || !server->Start()) {
            std::fprintf(stderr, "quorix-camsim: cannot serve a camera at %s\n", path.c_str());
            stopAll();
            return kExitFailure;
        }
        std::printf("camera %d: serial %s, socket %s\n", i + 1, serial, path.c_str());
        cameras.push_back(std::move(camera));
        servers.push_back(std::move(server));
    }
    std::printf("quorix-camsim: serving %d camera(s); set QUORIX_SIM_DIR=%s\n", options.cameras,
                options.directory.c_str());
    std::fflush(stdout);

    int received = 0;
    while (sigwait(&stopSignals, &received) != 0) {
    }

    // Unplugging ends every transfer still waiting on a camera; stopping a server then ends its
    // connections and removes its socket file.
    for (const auto& camera : cameras)
        quorix::sim::Unplug(camera);
    stopAll();
    std::printf("quorix-camsim: stopped (signal %d)\n", received);
    return kExitOk;
}
