// quorix - command-line tool over the SDK's public C interface. It links the SDK library and
// calls nothing else of it; with --sim it also runs emulated cameras in its own process, which
// the library finds through QUORIX_SIM_DIR like any other emulated camera.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include <quorix/quorix.h>

#if QUORIX_CLI_SIM
#include "sim_cameras.h"
#endif

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

constexpr int kMaxSimCameras = 10;  // as many as Quorix_EnumDevice lists
constexpr int32_t kMaxDeviceIndex = 31;

// FPGA registers of the camera board holding its configuration's version.
constexpr uint32_t kFpgaVersionLow = 0x10;
constexpr uint32_t kFpgaVersionHigh = 0x11;

int Usage(FILE* out) {
    std::fprintf(
        out,
        "usage: quorix <command> [options]\n"
        "\n"
        "commands:\n"
        "  version          print the SDK version\n"
        "  list [options]   list the cameras that are present\n"
        "  info [options]   show a camera's name, firmware and FPGA versions, serial number\n"
        "                   and sensor limits\n"
        "  help             show this text\n"
        "\n"
        "options:\n"
        "  --sim N          first start N emulated cameras (1..%d) in this process\n"
        "  --sim-if-none    start one emulated camera when no camera is attached\n"
        "  --camera I       info: the camera to show, by device index (0..%d) as\n"
        "                   Quorix_SetDeviceNumber takes it; needed when several are present\n"
        "\n"
        "environment:\n"
        "  QUORIX_SIM_DIR  socket directory of a running quorix-camsim, whose cameras are\n"
        "                  listed as well (also with --sim)\n",
        kMaxSimCameras, kMaxDeviceIndex);
    return out == stderr ? kExitUsage : kExitOk;
}

struct Options {
    int simCameras = 0;      // 0: none
    int32_t camera = -1;     // -1: not given
    bool simIfNone = false;  // one emulated camera when no camera is attached
};

// Parses a whole decimal number within [minimum, maximum] or fails.
bool ParseNumber(const char* text, long minimum, long maximum, long* value) {
    char* end = nullptr;
    errno = 0;
    const long parsed = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || parsed < minimum || parsed > maximum) {
        return false;
    }
    *value = parsed;
    return true;
}

// The options after the command word; `allowCamera` admits --camera. Prints why on failure.
bool ParseOptions(int argc, char** argv, bool allowCamera, Options* options) {
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long value = 0;
        if (arg == "--sim" && hasValue) {
            if (!ParseNumber(argv[++i], 1, kMaxSimCameras, &value)) {
                std::fprintf(stderr, "quorix: --sim takes 1..%d\n", kMaxSimCameras);
                return false;
            }
            options->simCameras = static_cast<int>(value);
        } else if (arg == "--sim-if-none") {
            options->simIfNone = true;
        } else if (allowCamera && arg == "--camera" && hasValue) {
            if (!ParseNumber(argv[++i], 0, kMaxDeviceIndex, &value)) {
                std::fprintf(stderr, "quorix: --camera takes a device index 0..%d\n",
                             kMaxDeviceIndex);
                return false;
            }
            options->camera = static_cast<int32_t>(value);
        } else {
            std::fprintf(stderr, "quorix: unknown or incomplete option '%s'\n", arg.c_str());
            return false;
        }
    }
    return true;
}

// What the SDK's error codes mean, for messages.
const char* ErrorText(uint32_t code) {
    switch (code) {
        case QUORIX_ERR_NONE:
            return "no error recorded";
        case QUORIX_ERR_NO_ENGINE:
            return "no camera engine, or not allowed now";
        case QUORIX_ERR_NO_CAMERA:
            return "camera not present or could not be opened";
        case QUORIX_ERR_THREAD:
            return "a thread could not be created";
        case QUORIX_ERR_WINDOW:
            return "window or size preset problem";
        case QUORIX_ERR_BUFFER:
            return "buffer problem";
        case QUORIX_ERR_REGISTER:
            return "register access or camera command failed";
        case QUORIX_ERR_CAPTURE_WINDOW:
            return "invalid capture window";
        case QUORIX_ERR_ACQUISITION:
            return "frame acquisition failed";
        case QUORIX_ERR_ARGUMENT:
            return "invalid argument";
        case QUORIX_ERR_UNSUPPORTED:
            return "not supported by this camera";
        case QUORIX_ERR_TEXT:
            return "text conversion or output problem";
        case QUORIX_ERR_TRANSFER_STOPPED:
            return "image transfer stopped";
        case QUORIX_ERR_MASK_FILE:
            return "mask file problem";
        default:
            return "unknown error";
    }
}

// One camera context for the length of a command.
class Context {
public:
    Context() : m_handle(Quorix_Initialize(nullptr)) {}
    ~Context() {
        if (m_handle != 0) {
            Quorix_Release(m_handle);
        }
    }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    QuorixHandle Handle() const { return m_handle; }

    // Reports a failed call with the code the context recorded for it.
    int Failed(const char* call) const {
        const uint32_t code = Quorix_GetLastError(m_handle);
        std::fprintf(stderr, "quorix: %s failed (error %u: %s)\n", call, code, ErrorText(code));
        return kExitFailure;
    }

private:
    QuorixHandle m_handle;
};

#if QUORIX_CLI_SIM
using SimCameras = quorix::cli::SimCameras;
static_assert(SimCameras::kMaxCameras == kMaxSimCameras);
#else
struct SimCameras {};
#endif

// True when the library sees no camera at all (attached or served by a running emulator).
bool NoCameraAttached() {
    const QuorixHandle probe = Quorix_Initialize(nullptr);
    if (probe == 0) {
        return false;
    }
    char names[10][256] = {};
    const int32_t count = Quorix_EnumDevice(probe, names);
    Quorix_Release(probe);
    return count == 0;
}

// Starts the emulated cameras the options ask for; false (after saying why) when they do not
// start. `cameras` stays empty without --sim, and with --sim-if-none while a camera is there.
bool StartSimCameras(const Options& options, std::unique_ptr<SimCameras>* cameras) {
    int wanted = options.simCameras;
    if (wanted == 0 && options.simIfNone && NoCameraAttached()) {
        std::puts("No camera attached: using the built-in emulated camera.");
        wanted = 1;
    }
    if (wanted == 0) {
        return true;
    }
#if QUORIX_CLI_SIM
    std::string error;
    *cameras = SimCameras::Start(wanted, &error);
    if (!*cameras) {
        std::fprintf(stderr, "quorix: cannot start emulated cameras: %s\n", error.c_str());
        return false;
    }
    return true;
#else
    (void)cameras;
    std::fputs("quorix: this build has no camera emulator\n", stderr);
    return false;
#endif
}

int PrintVersion() {
    const uint32_t version = Quorix_GetDllVersion();
    std::printf("Quorix SDK %u.%u.%u.%u\n", (version >> 24) & 0xFFu, (version >> 16) & 0xFFu,
                (version >> 8) & 0xFFu, version & 0xFFu);
    return kExitOk;
}

int ListCameras(const Options& options) {
    // Declared first, so the emulated cameras outlive the context that uses them.
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    const Context context;
    if (context.Handle() == 0) {
        std::fputs("quorix: could not create a camera context\n", stderr);
        return kExitFailure;
    }
    char names[10][256] = {};
    const int32_t count = Quorix_EnumDevice(context.Handle(), names);
    if (count <= 0) {
        // No camera is not a failure; a context that cannot look is.
        if (Quorix_GetLastError(context.Handle()) != QUORIX_ERR_NONE) {
            return context.Failed("Quorix_EnumDevice");
        }
        std::puts("No cameras found.");
        return kExitOk;
    }
    for (int32_t i = 0; i < count; ++i) {
        std::printf("%d: %s\n", i, names[i]);
    }
    return kExitOk;
}

int ShowCameraInfo(const Options& options) {
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    const Context context;
    const QuorixHandle handle = context.Handle();
    if (handle == 0) {
        std::fputs("quorix: could not create a camera context\n", stderr);
        return kExitFailure;
    }

    char names[10][256] = {};
    const int32_t count = Quorix_EnumDevice(handle, names);
    if (count <= 0) {
        if (Quorix_GetLastError(handle) != QUORIX_ERR_NONE) {
            return context.Failed("Quorix_EnumDevice");
        }
        std::puts("No cameras found.");
        return kExitFailure;
    }
    int32_t index = options.camera;
    if (index < 0) {
        if (count > 1) {
            std::fprintf(stderr, "quorix: %d cameras are present; choose one with --camera I\n",
                         count);
            return kExitUsage;
        }
        index = 0;
    }
    // With one camera the context has opened it already, and this returns at once.
    if (!Quorix_SetDeviceNumber(handle, index)) {
        return context.Failed("Quorix_SetDeviceNumber");
    }

    char name[256] = {};
    if (!Quorix_GetDeviceName(handle, index, name, sizeof name)) {
        return context.Failed("Quorix_GetDeviceName");
    }
    uint8_t device[QUORIX_DEVICE_INFO_SIZE] = {};
    if (!Quorix_GetDeviceInfo(handle, device, sizeof device)) {
        return context.Failed("Quorix_GetDeviceInfo");
    }
    const unsigned firmware = device[QUORIX_DEVICE_INFO_FIRMWARE_VERSION] |
                              (device[QUORIX_DEVICE_INFO_FIRMWARE_VERSION + 1] << 8);
    const unsigned readiness = device[QUORIX_DEVICE_INFO_READINESS_LINE];

    // The flag is only cleared by a failed read, so one check covers both registers.
    int32_t ok = 1;
    const uint32_t fpgaLow = Quorix_Fpga_ReadRegister(handle, kFpgaVersionLow, &ok);
    const uint32_t fpgaHigh = Quorix_Fpga_ReadRegister(handle, kFpgaVersionHigh, &ok);
    if (ok == 0) {
        return context.Failed("Quorix_Fpga_ReadRegister");
    }
    const unsigned fpgaVersion = ((fpgaHigh & 0xFFu) << 8) | (fpgaLow & 0xFFu);

    // A camera without a stored serial number leaves the buffer as it was.
    char serial[64] = {};
    if (!Quorix_ReadSerialNumberA(handle, serial, sizeof serial)) {
        return context.Failed("Quorix_ReadSerialNumberA");
    }

    QuorixCameraInfo limits;
    std::memset(&limits, 0, sizeof limits);
    limits.size = sizeof limits;
    if (!Quorix_GetCameraInfo(handle, &limits)) {
        return context.Failed("Quorix_GetCameraInfo");
    }

    // Exposure in the SDK's integer unit of 100 us, and in seconds.
    constexpr double kSecondsPerExposureUnit = 100e-6;
    std::printf("Camera          %s (device index %d)\n", name, index);
    std::printf("Serial number   %s\n", serial[0] != '\0' ? serial : "(none stored)");
    std::printf("USB firmware    0x%04X\n", firmware);
    std::printf("Readiness line  %u (%s)\n", readiness,
                readiness == 1 ? "the camera reports when it is ready" : "not used");
    std::printf("FPGA version    0x%04X\n", fpgaVersion);
    std::printf("Maximum size    %u x %u pixels\n", limits.maxWidth, limits.maxHeight);
    std::printf("Gain            %d .. %d\n", limits.gainMin, limits.gainMax);
    std::printf("Colour gain     %d .. %d\n", limits.colorGainMin, limits.colorGainMax);
    std::printf("Exposure        %d .. %d x 100 us (%g .. %g s)\n", limits.exposureMin,
                limits.exposureMax, limits.exposureMin * kSecondsPerExposureUnit,
                limits.exposureMax * kSecondsPerExposureUnit);
    if (limits.exposureExMax > 0.0) {
        std::printf("Exposure [s]    %g .. %g s\n", limits.exposureExMin, limits.exposureExMax);
    } else {
        std::printf("Exposure [s]    not supported\n");
    }
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage(stderr);
    }
    const std::string command = argv[1];
    if (command == "version") {
        return argc == 2 ? PrintVersion() : Usage(stderr);
    }
    if (command == "list" || command == "info") {
        const bool info = command == "info";
        Options options;
        if (!ParseOptions(argc, argv, info, &options)) {
            return Usage(stderr);
        }
        return info ? ShowCameraInfo(options) : ListCameras(options);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        return Usage(stdout);
    }
    std::fprintf(stderr, "quorix: unknown command '%s'\n\n", command.c_str());
    return Usage(stderr);
}
