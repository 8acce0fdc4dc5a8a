// quorix - command-line tool over the SDK's public C interface. It links the SDK library and
// calls nothing else of it; with --sim it also runs emulated cameras in its own process, which
// the library finds through QUORIX_SIM_DIR like any other emulated camera.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include <quorix/quorix.h>

#include "camera/fpga_registers.h"
#include "settings_command.h"
#include "show_window.h"

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

// The longest stream the tool runs [s], and the longest pause between preview frames [ms].
constexpr long kMaxStreamSeconds = 3600;
constexpr long kMaxWaitMs = 10000;

// Bits per pixel of pictures and recordings unless --bits says otherwise: 24-bit colour. The
// stream's default is the 8-bit raw mosaic.
constexpr int32_t kDefaultSnapBits = 24;
constexpr int32_t kDefaultStreamBits = 8;

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
        "  snap [options]   take a picture and save it (-o FILE) in the format the file's\n"
        "                   extension names (.bmp .raw .jpg .png .tif) or --format gives\n"
        "  record [options] record the preview into an uncompressed AVI file (-o FILE.avi)\n"
        "                   for --seconds S; --show shows it in a window meanwhile\n"
        "  preview [options] show the camera's live picture in a window, with the frame rate\n"
        "                   in its title, until the window is closed (or for --seconds S)\n"
        "  stream [options] run the camera's preview without a window for a while and report\n"
        "                   the frames delivered, the frame rate and the errors\n"
        "  dialog analog|image|camera [options]\n"
        "                   open a settings dialog over the camera's live picture\n"
        "%s"
        "  help             show this text\n"
        "\n"
        "options:\n"
        "  --sim N          first start N emulated cameras (1..%d) in this process\n"
        "  --sim-if-none    start one emulated camera when no camera is attached\n"
        "  --camera I       info, snap, record, stream, preview: the camera to use, by device\n"
        "                   index\n"
        "                   (0..%d) as Quorix_SetDeviceNumber takes it; needed when several\n"
        "                   are present\n"
        "  -o FILE          snap: the picture (default quorix-snap.png);\n"
        "                   record: the AVI file (default quorix-record.avi)\n"
        "  --format F       snap: bmp, raw (the pixel memory, rows padded to 4 bytes), jpg,\n"
        "                   png or tif; default: from the file's extension\n"
        "  --quality Q      snap: JPEG quality 100 (default), 70 or 20\n"
        "  --bits B         bits per pixel: 8 or 16 (the raw mosaic), 24, 32, 48 or 64\n"
        "                   (colour); snap, record and preview default to 24, stream to 8\n"
        "  --exposure MS    snap, record, stream, preview: exposure time [ms], e.g. 12.5\n"
        "  --gain G         snap, record, stream, preview: global gain (the camera's units)\n"
        "  --window X,Y,W,H snap, record, stream, preview: capture window on the sensor\n"
        "                   [pixels]\n"
        "  --subsample      snap, record, stream, preview: 2x2 sub-sampling (half the size\n"
        "                   each way)\n"
        "  --seconds N      record, stream, preview: how long (1..%ld; default 5, preview:\n"
        "                   until its window is closed)\n"
        "  --show           record: show the picture in a window while recording\n"
        "  --wait MS        stream: pause before each frame [ms] (0..%ld, default 0)\n"
        "  --every-frame    stream: deliver every frame in camera order instead of the newest\n"
        "  --ring N         stream: depth of the every-frame ring (%d..%d frames, default %d)\n"
        "\n"
        "environment:\n"
        "  QUORIX_SIM_DIR  socket directory of a running quorix-camsim, whose cameras are\n"
        "                  listed as well (also with --sim)\n"
        "  XDG_CONFIG_HOME the settings file is quorix/settings.reg in it (default ~/.config)\n",
        quorix::cli::kSettingsUsage, kMaxSimCameras, kMaxDeviceIndex, kMaxStreamSeconds, kMaxWaitMs,
        QUORIX_FRAME_RING_DEPTH_MIN, QUORIX_FRAME_RING_DEPTH_MAX, QUORIX_FRAME_RING_DEPTH_DEFAULT);
    return out == stderr ? kExitUsage : kExitOk;
}
// The options a command takes besides --sim and --sim-if-none.
enum OptionSet : unsigned {
    kNoOptions = 0,
    kCameraOption = 1u << 0,    // --camera
    kCameraSettings = 1u << 1,  // --bits, --exposure, --gain, --window, --subsample
    kSnapOptions = 1u << 2,     // -o, --format, --quality
    kRecordOptions = 1u << 3,   // -o, --seconds
    kStreamOptions = 1u << 4,   // --seconds, --wait, --every-frame, --ring
    kShowOption = 1u << 5,      // --show
    kPreviewOptions = 1u << 6,  // --seconds
};

// A capture window as Quorix_SetCaptureWindowEx takes it [pixels].
struct Window {
    int32_t x = 0;
    int32_t y = 0;
    int32_t width = 0;
    int32_t height = 0;
};

struct Options {
    int simCameras = 0;       // 0: none
    int32_t camera = -1;      // -1: not given
    bool simIfNone = false;   // one emulated camera when no camera is attached
    int32_t bits = 0;         // bits per pixel of the camera's output; 0: the command's default
    bool subSample = false;   // 2x2 sub-sampling
    double exposureMs = 0.0;  // 0: the camera's setting
    long gain = -1;           // -1: the camera's setting
    bool windowGiven = false;
    Window window;
    std::string output;   // -o; empty: the command's default
    int32_t format = -1;  // QUORIX_SAVE_*; -1: from the file's extension
    long quality = 100;   // JPEG
    long seconds = 5;     // length of a stream or a recording [s]
    bool secondsGiven = false;
    bool show = false;  // a recording shown in a window
    long waitMs = 0;    // pause before each preview frame [ms]
    bool everyFrame = false;
    long ringDepth = QUORIX_FRAME_RING_DEPTH_DEFAULT;
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

// Output formats by bits per pixel: the raw mosaic (8, 16) and demosaiced colour.
bool IsOutputBits(long bits) {
    return bits == 8 || bits == 16 || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

// The image file formats by name, as --format and file extensions give them.
struct FileFormat {
    const char* name;
    int32_t code;  // QUORIX_SAVE_* (JPEG at quality 100)
    const char* description;
};
constexpr std::array<FileFormat, 7> kFileFormats = {{
    {"bmp", QUORIX_SAVE_BMP, "BMP"},
    {"raw", QUORIX_SAVE_RAW, "pixel memory, no header"},
    {"jpg", QUORIX_SAVE_JPEG_HIGH, "JPEG"},
    {"jpeg", QUORIX_SAVE_JPEG_HIGH, "JPEG"},
    {"png", QUORIX_SAVE_PNG, "PNG"},
    {"tif", QUORIX_SAVE_TIFF, "TIFF"},
    {"tiff", QUORIX_SAVE_TIFF, "TIFF"},
}};

const FileFormat* FindFormat(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const FileFormat& format : kFileFormats) {
        if (name == format.name) {
            return &format;
        }
    }
    return nullptr;
}

// The format a file name's extension names, or null.
const FileFormat* FormatOfFile(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return nullptr;
    }
    return FindFormat(path.substr(dot + 1));
}

// "X,Y,W,H" in whole pixels.
bool ParseWindow(const char* text, Window* window) {
    std::array<long, 4> values{};
    const char* at = text;
    for (size_t i = 0; i < values.size(); ++i) {
        char* end = nullptr;
        errno = 0;
        values[i] = std::strtol(at, &end, 10);
        const char expected = i + 1 < values.size() ? ',' : '\0';
        if (errno != 0 || end == at || *end != expected || values[i] < 0 || values[i] > 65535) {
            return false;
        }
        at = end + 1;
    }
    *window = {static_cast<int32_t>(values[0]), static_cast<int32_t>(values[1]),
               static_cast<int32_t>(values[2]), static_cast<int32_t>(values[3])};
    return true;
}

// The options after the command word; `allowed` says which the command takes beyond --sim and
// --sim-if-none. Prints why on failure.
bool ParseOptions(int argc, char** argv, unsigned allowed, Options* options) {
    const bool settings = (allowed & kCameraSettings) != 0;
    const bool snap = (allowed & kSnapOptions) != 0;
    const bool record = (allowed & kRecordOptions) != 0;
    const bool stream = (allowed & kStreamOptions) != 0;
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
        } else if ((allowed & kCameraOption) != 0 && arg == "--camera" && hasValue) {
            if (!ParseNumber(argv[++i], 0, kMaxDeviceIndex, &value)) {
                std::fprintf(stderr, "quorix: --camera takes a device index 0..%d\n",
                             kMaxDeviceIndex);
                return false;
            }
            options->camera = static_cast<int32_t>(value);
        } else if (settings && arg == "--bits" && hasValue) {
            if (!ParseNumber(argv[++i], 8, 64, &value) || !IsOutputBits(value)) {
                std::fputs("quorix: --bits takes 8, 16, 24, 32, 48 or 64\n", stderr);
                return false;
            }
            options->bits = static_cast<int32_t>(value);
        } else if (settings && arg == "--subsample") {
            options->subSample = true;
        } else if (settings && arg == "--exposure" && hasValue) {
            const char* text = argv[++i];
            char* end = nullptr;
            errno = 0;
            const double ms = std::strtod(text, &end);
            if (errno != 0 || end == text || *end != '\0' || !(ms > 0.0) || ms > 1e6) {
                std::fputs("quorix: --exposure takes a time in milliseconds, e.g. 12.5\n", stderr);
                return false;
            }
            options->exposureMs = ms;
        } else if (settings && arg == "--gain" && hasValue) {
            if (!ParseNumber(argv[++i], 0, 65535, &value)) {
                std::fputs("quorix: --gain takes a whole number (see quorix info)\n", stderr);
                return false;
            }
            options->gain = value;
        } else if (settings && arg == "--window" && hasValue) {
            if (!ParseWindow(argv[++i], &options->window)) {
                std::fputs("quorix: --window takes X,Y,W,H in pixels\n", stderr);
                return false;
            }
            options->windowGiven = true;
        } else if ((snap || record) && (arg == "-o" || arg == "--output") && hasValue) {
            options->output = argv[++i];
            if (options->output.empty()) {
                std::fputs("quorix: -o takes a file name\n", stderr);
                return false;
            }
        } else if (snap && arg == "--format" && hasValue) {
            const FileFormat* format = FindFormat(argv[++i]);
            if (format == nullptr) {
                std::fputs("quorix: --format takes bmp, raw, jpg, png or tif\n", stderr);
                return false;
            }
            options->format = format->code;
        } else if (snap && arg == "--quality" && hasValue) {
            if (!ParseNumber(argv[++i], 20, 100, &value) ||
                (value != 20 && value != 70 && value != 100)) {
                std::fputs("quorix: --quality takes 100, 70 or 20\n", stderr);
                return false;
            }
            options->quality = value;
        } else if ((stream || record || (allowed & kPreviewOptions) != 0) && arg == "--seconds" &&
                   hasValue) {
            if (!ParseNumber(argv[++i], 1, kMaxStreamSeconds, &value)) {
                std::fprintf(stderr, "quorix: --seconds takes 1..%ld\n", kMaxStreamSeconds);
                return false;
            }
            options->seconds = value;
            options->secondsGiven = true;
        } else if ((allowed & kShowOption) != 0 && arg == "--show") {
            options->show = true;
        } else if (stream && arg == "--wait" && hasValue) {
            if (!ParseNumber(argv[++i], 0, kMaxWaitMs, &value)) {
                std::fprintf(stderr, "quorix: --wait takes 0..%ld ms\n", kMaxWaitMs);
                return false;
            }
            options->waitMs = value;
        } else if (stream && arg == "--every-frame") {
            options->everyFrame = true;
        } else if (stream && arg == "--ring" && hasValue) {
            if (!ParseNumber(argv[++i], QUORIX_FRAME_RING_DEPTH_MIN, QUORIX_FRAME_RING_DEPTH_MAX,
                             &value)) {
                std::fprintf(stderr, "quorix: --ring takes %d..%d frames\n",
                             QUORIX_FRAME_RING_DEPTH_MIN, QUORIX_FRAME_RING_DEPTH_MAX);
                return false;
            }
            options->ringDepth = value;
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
    int Failed(const char* call) const { return Failed(call, Quorix_GetLastError(m_handle)); }

    // Reports a failed call with its code, already taken from the context.
    static int Failed(const char* call, uint32_t code) {
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

// The device index a name from Quorix_EnumDevice stands for: its number NN less one; -1 for a
// name without a number.
int32_t DeviceIndexOfName(const char* name) {
    const char* separator = std::strrchr(name, '_');
    if (separator == nullptr) {
        return -1;
    }
    char* end = nullptr;
    const long number = std::strtol(separator + 1, &end, 10);
    return end != separator + 1 && *end == '\0' && number >= 1 && number <= 32
               ? static_cast<int32_t>(number - 1)
               : -1;
}

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

// True when every camera the library lists is an emulated one: the tool's own and those a daemon
// serves through QUORIX_SIM_DIR. With a real camera attached besides them the library's list
// does not tell which is which, and the answer is false.
bool AllCamerasEmulated(const SimCameras* cameras, int32_t listed) {
#if QUORIX_CLI_SIM
    int emulated = 0;
    if (cameras != nullptr) {
        emulated = cameras->EmulatedCameraCount();
    } else if (const char* directory = std::getenv("QUORIX_SIM_DIR");  // NOLINT
               directory != nullptr && *directory != '\0') {
        emulated = SimCameras::CountServedCameras(directory);
    }
    return emulated > 0 && listed == emulated;
#else
    (void)cameras;
    (void)listed;
    return false;
#endif
}

// Chooses the camera the options name, or the only one present, and opens it. Returns kExitOk
// with its device index and, when `listed` is given, the number of cameras present; or the exit
// status after saying why.
int OpenCamera(const Context& context, const Options& options, int32_t* index,
               int32_t* listed = nullptr) {
    const QuorixHandle handle = context.Handle();
    char names[10][256] = {};
    const int32_t count = Quorix_EnumDevice(handle, names);
    if (count <= 0) {
        // No camera at all records nothing; a context that cannot look records why.
        if (const uint32_t code = Quorix_GetLastError(handle); code != QUORIX_ERR_NONE) {
            return Context::Failed("Quorix_EnumDevice", code);
        }
        std::puts("No cameras found.");
        return kExitFailure;
    }
    int32_t chosen = options.camera;
    if (chosen < 0) {
        if (count > 1) {
            std::fprintf(stderr, "quorix: %d cameras are present; choose one with --camera I\n",
                         count);
            return kExitUsage;
        }
        // The only camera present need not have index 0: an unplugged one may still hold it.
        chosen = DeviceIndexOfName(names[0]);
    }
    // With one camera the context has opened it already, and this returns at once.
    if (!Quorix_SetDeviceNumber(handle, chosen)) {
        return context.Failed("Quorix_SetDeviceNumber");
    }
    *index = chosen;
    if (listed != nullptr) {
        *listed = count;
    }
    return kExitOk;
}

// Prints which camera a command works with: its name, serial number, and whether it is emulated.
int PrintCamera(const Context& context, int32_t index, bool emulated) {
    char name[256] = {};
    if (!Quorix_GetDeviceName(context.Handle(), index, name, sizeof name)) {
        return context.Failed("Quorix_GetDeviceName");
    }
    // A camera without a stored serial number leaves the buffer as it was.
    char serial[64] = {};
    if (!Quorix_ReadSerialNumberA(context.Handle(), serial, sizeof serial)) {
        return context.Failed("Quorix_ReadSerialNumberA");
    }
    std::printf("Camera          %s, serial number %s%s\n", name,
                serial[0] != '\0' ? serial : "(none stored)", emulated ? " (simulated)" : "");
    return kExitOk;
}

// How the camera's images lie in memory in one output format.
struct ImageLayout {
    uint32_t width = 0;          // [pixels]
    uint32_t height = 0;         // [pixels]
    uint32_t bytesPerPixel = 0;  // [bytes]
    uint32_t stride = 0;         // row pitch, padded to a multiple of 4 [bytes]
    uint32_t size = 0;           // height x stride [bytes]

    uint32_t RowBytes() const { return width * bytesPerPixel; }
};

// Sets the output format and tells how its images will lie in memory: the capture window's size,
// halved with sub-sampling, rows padded to 4 bytes. Returns kExitOk or the exit status after
// saying why.
int SetFormat(const Context& context, int32_t bitsPerPixel, bool subSample, ImageLayout* layout) {
    const QuorixHandle handle = context.Handle();
    if (!Quorix_SetColorMode(handle, bitsPerPixel)) {
        return context.Failed("Quorix_SetColorMode");
    }
    if (!Quorix_SetSubSample(handle, subSample ? 1 : 0)) {
        return context.Failed("Quorix_SetSubSample");
    }
    const int32_t divisor = subSample ? 2 : 1;
    const int32_t width = Quorix_Width(handle) / divisor;
    const int32_t height = Quorix_Height(handle) / divisor;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "quorix: the camera's capture window holds no pixels (%d x %d)\n",
                     width, height);
        return kExitFailure;
    }
    // The library takes buffer sizes as 32-bit numbers, and a BMP file's size is one as well.
    const uint64_t bytesPerPixel = static_cast<uint64_t>(bitsPerPixel) / 8;
    const uint64_t stride = (static_cast<uint64_t>(width) * bytesPerPixel + 3) & ~uint64_t{3};
    const uint64_t size = stride * static_cast<uint64_t>(height);
    constexpr uint64_t kLargestImage = 0xFFFFFFFFu - 1024;  // leaves room for file headers
    if (size > kLargestImage) {
        std::fprintf(stderr, "quorix: a %d x %d image at %d bits does not fit in 4 GB\n", width,
                     height, bitsPerPixel);
        return kExitFailure;
    }
    layout->width = static_cast<uint32_t>(width);
    layout->height = static_cast<uint32_t>(height);
    layout->bytesPerPixel = static_cast<uint32_t>(bytesPerPixel);
    layout->stride = static_cast<uint32_t>(stride);
    layout->size = static_cast<uint32_t>(size);
    return kExitOk;
}

// Row order of the images the library copies into a caller's buffer: top row first.
constexpr int32_t kTopRowFirst = 1;

// Sets what the options ask of the camera: capture window, output format and sub-sampling,
// exposure and gain; tells how its images will lie in memory. Returns kExitOk or the exit status
// after saying why.
int ApplySettings(const Context& context, const Options& options, int32_t defaultBits,
                  ImageLayout* layout) {
    const QuorixHandle handle = context.Handle();
    if (options.windowGiven) {
        int32_t totalWidth = 0;
        int32_t totalHeight = 0;
        Quorix_GetCaptureWindowEx(handle, &totalWidth, nullptr, nullptr, &totalHeight, nullptr,
                                  nullptr);
        const Window& w = options.window;
        if (!Quorix_SetCaptureWindowEx(handle, totalWidth, w.x, w.width, totalHeight, w.y,
                                       w.height)) {
            return context.Failed("Quorix_SetCaptureWindowEx");
        }
    }
    const int32_t bits = options.bits != 0 ? options.bits : defaultBits;
    if (const int status = SetFormat(context, bits, options.subSample, layout); status != kExitOk) {
        return status;
    }
    if (options.exposureMs > 0.0) {
        const auto microseconds = static_cast<uint32_t>(options.exposureMs * 1000.0 + 0.5);
        if (!Quorix_SetRealExposureTime(handle, microseconds)) {
            return context.Failed("Quorix_SetRealExposureTime");
        }
    }
    if (options.gain >= 0 && !Quorix_SetGlobalGain(handle, static_cast<int32_t>(options.gain))) {
        return context.Failed("Quorix_SetGlobalGain");
    }
    return kExitOk;
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
        if (const uint32_t code = Quorix_GetLastError(context.Handle()); code != QUORIX_ERR_NONE) {
            return Context::Failed("Quorix_EnumDevice", code);
        }
        std::puts("No cameras found.");
        return kExitOk;
    }
    // Each line starts with the device index that --camera takes.
    for (int32_t i = 0; i < count; ++i) {
        std::printf("%d: %s\n", static_cast<int>(DeviceIndexOfName(names[i])), names[i]);
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
    int32_t index = 0;
    if (const int status = OpenCamera(context, options, &index); status != kExitOk) {
        return status;
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
    const uint32_t fpgaLow = Quorix_Fpga_ReadRegister(handle, quorix::fpga::kVersion0, &ok);
    const uint32_t fpgaHigh = Quorix_Fpga_ReadRegister(handle, quorix::fpga::kVersion1, &ok);
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

// Opens the camera the options select in a new context and prints which one it is.
int OpenAndShowCamera(const Context& context, const Options& options,
                      const SimCameras* simCameras) {
    if (context.Handle() == 0) {
        std::fputs("quorix: could not create a camera context\n", stderr);
        return kExitFailure;
    }
    int32_t index = 0;
    int32_t listed = 0;
    if (const int status = OpenCamera(context, options, &index, &listed); status != kExitOk) {
        return status;
    }
    return PrintCamera(context, index, AllCamerasEmulated(simCameras, listed));
}

// Opens and shows the camera, then applies the options' settings (colour mode `defaultBits`
// unless they name one) and reports the image layout they give.
int OpenAndConfigureCamera(const Context& context, const Options& options,
                           const SimCameras* simCameras, int32_t defaultBits, ImageLayout* layout) {
    if (const int status = OpenAndShowCamera(context, options, simCameras); status != kExitOk) {
        return status;
    }
    return ApplySettings(context, options, defaultBits, layout);
}

int TakeSnapshot(const Options& options) {
    // The file and its format first: a wrong name costs no camera start.
    const std::string path = options.output.empty() ? "quorix-snap.png" : options.output;
    int32_t format = options.format;
    if (format < 0) {
        const FileFormat* named = FormatOfFile(path);
        if (named == nullptr) {
            std::fprintf(stderr,
                         "quorix: %s: the extension names no image format; give --format "
                         "bmp, raw, jpg, png or tif\n",
                         path.c_str());
            return kExitUsage;
        }
        format = named->code;
    }
    if (format == QUORIX_SAVE_JPEG_HIGH) {
        format = options.quality == 20   ? QUORIX_SAVE_JPEG_LOW
                 : options.quality == 70 ? QUORIX_SAVE_JPEG_MEDIUM
                                         : QUORIX_SAVE_JPEG_HIGH;
    }
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    const Context context;
    const QuorixHandle handle = context.Handle();
    ImageLayout layout;
    if (const int status =
            OpenAndConfigureCamera(context, options, simCameras.get(), kDefaultSnapBits, &layout);
        status != kExitOk) {
        return status;
    }
    // The frame stays in the library, which writes the file.
    if (!Quorix_SnapShot(handle, nullptr, 0, kTopRowFirst)) {
        return context.Failed("Quorix_SnapShot");
    }
    if (!Quorix_SaveImage(handle, path.c_str(), format)) {
        const uint32_t code = Quorix_GetLastError(handle);
        std::fprintf(stderr, "quorix: cannot save %s\n", path.c_str());
        return Context::Failed("Quorix_SaveImage", code);
    }
    const char* description = "JPEG";
    for (const FileFormat& known : kFileFormats) {
        if (known.code == format) {
            description = known.description;
        }
    }
    std::error_code error;
    const uintmax_t bytes = std::filesystem::file_size(path, error);
    std::printf("Image           %u x %u pixels, %u bits per pixel\n", layout.width, layout.height,
                layout.bytesPerPixel * 8);
    std::printf("Saved           %s (%s, %ju bytes)\n", path.c_str(), description,
                error ? uintmax_t{0} : bytes);
    return kExitOk;
}

// A message window for the length of a command.
class MessageWindow {
public:
    MessageWindow() : m_window(Quorix_CreateMessageWindow()) {}
    ~MessageWindow() {
        if (m_window != nullptr) {
            Quorix_DestroyMessageWindow(m_window);
        }
    }
    MessageWindow(const MessageWindow&) = delete;
    MessageWindow& operator=(const MessageWindow&) = delete;

    QuorixWindow Window() const { return m_window; }

private:
    QuorixWindow m_window;
};

using quorix::cli::ShowWindow;

// Opens the tool's window for the pictures of `layout` and makes it the preview's parent, the
// library's window filling it. Returns kExitOk or the exit status after saying why.
int OpenShowWindow(const Context& context, const ImageLayout& layout, const std::string& title,
                   std::unique_ptr<ShowWindow>* show) {
    std::string error;
    *show = ShowWindow::Open(static_cast<int32_t>(layout.width),
                             static_cast<int32_t>(layout.height), title, &error);
    if (!*show) {
        std::fprintf(stderr, "quorix: %s\n", error.c_str());
        return kExitFailure;
    }
    if (!Quorix_SetPreviewWindow(context.Handle(), (*show)->Parent(), 0, 0, (*show)->Width(),
                                 (*show)->Height())) {
        return context.Failed("Quorix_SetPreviewWindow");
    }
    return kExitOk;
}

// Ends a running preview on every way out, before the buffer the library's thread fills goes away.
class RunningPreview {
public:
    explicit RunningPreview(QuorixHandle handle) : m_handle(handle) {}
    ~RunningPreview() { Stop(); }
    RunningPreview(const RunningPreview&) = delete;
    RunningPreview& operator=(const RunningPreview&) = delete;

    // False when the library could not stop it.
    bool Stop() {
        const QuorixHandle handle = m_handle;
        m_handle = 0;
        return handle == 0 || Quorix_StopPreview(handle) != 0;
    }

private:
    QuorixHandle m_handle;
};

int RunStream(const Options& options) {
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    // The frame buffer and the message window outlive the context, whose release would still
    // end a preview that runs.
    std::vector<uint8_t> buffer;
    const MessageWindow messages;
    if (messages.Window() == nullptr) {
        std::fputs("quorix: could not create a message window\n", stderr);
        return kExitFailure;
    }
    const Context context;
    const QuorixHandle handle = context.Handle();
    ImageLayout layout;
    if (const int status =
            OpenAndConfigureCamera(context, options, simCameras.get(), kDefaultStreamBits, &layout);
        status != kExitOk) {
        return status;
    }
    buffer.resize(layout.size);

    // No window to draw in: the frames are only delivered.
    if (!Quorix_SetPreviewWindow(handle, nullptr, 0, 0, 0, 0)) {
        return context.Failed("Quorix_SetPreviewWindow");
    }
    if (!Quorix_SetWaitTime(handle, static_cast<int32_t>(options.waitMs))) {
        return context.Failed("Quorix_SetWaitTime");
    }
    if (!Quorix_SetDeliveryMode(
            handle, options.everyFrame ? QUORIX_DELIVERY_EVERY_FRAME : QUORIX_DELIVERY_NEWEST)) {
        return context.Failed("Quorix_SetDeliveryMode");
    }
    if (!Quorix_SetFrameRingDepth(handle, static_cast<int32_t>(options.ringDepth))) {
        return context.Failed("Quorix_SetFrameRingDepth");
    }
    if (!Quorix_CallBackPreview(handle, messages.Window(), buffer.data(), layout.size,
                                kTopRowFirst)) {
        return context.Failed("Quorix_CallBackPreview");
    }
    RunningPreview preview(handle);

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = start + std::chrono::seconds(options.seconds);
    uint64_t frames = 0;
    QuorixFrameInfo lastFrame;
    std::memset(&lastFrame, 0, sizeof lastFrame);
    std::map<uint32_t, uint64_t> errors;  // frame notifications without a frame, by error code
    bool transferStopped = false;
    for (Clock::time_point now = start; now < end && !transferStopped; now = Clock::now()) {
        const auto remaining = std::chrono::ceil<std::chrono::milliseconds>(end - now).count();
        QuorixMessage message;
        std::memset(&message, 0, sizeof message);
        const int taken =
            Quorix_GetWindowMessage(messages.Window(), &message, static_cast<int32_t>(remaining));
        if (taken < 0) {
            std::fputs("quorix: the message window failed\n", stderr);
            return kExitFailure;
        }
        if (taken == 0 || message.message != QUORIX_MSG_FRAME) {
            continue;
        }
        if (message.wParam != 0) {
            // wParam carries the record's address. The record lives in the camera context and
            // the next frame overwrites it, so it is copied at once.
            ++frames;
            const auto* record =
                reinterpret_cast<const void*>(message.wParam);  // NOLINT(performance-no-int-to-ptr)
            std::memcpy(&lastFrame, record, sizeof lastFrame);
        } else {
            const auto code = static_cast<uint32_t>(message.lParam);
            ++errors[code];
            // A stopped transfer ends the frames: no more will come.
            transferStopped = code == QUORIX_ERR_TRANSFER_STOPPED;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (!preview.Stop()) {
        return context.Failed("Quorix_StopPreview");
    }
    QuorixFrameStatistics statistics;
    std::memset(&statistics, 0, sizeof statistics);
    statistics.size = sizeof statistics;
    if (!Quorix_GetFrameStatistics(handle, &statistics)) {
        return context.Failed("Quorix_GetFrameStatistics");
    }

    if (frames > 0) {
        std::printf("Frame size      %u x %u pixels, %u bits per pixel\n", lastFrame.width,
                    lastFrame.height, lastFrame.bitsPerPixel);
    }
    std::printf("Frames          %llu delivered in %.2f s\n",
                static_cast<unsigned long long>(frames), elapsed);
    std::printf("Frame rate      %.1f frames/s measured", static_cast<double>(frames) / elapsed);
    if (frames > 0) {
        // The SDK counts in tenths of a frame per second.
        std::printf(", %.1f frames/s reported by the SDK", lastFrame.frameRate / 10.0);
    }
    std::printf("\n");
    const auto count = [](uint64_t value) { return static_cast<unsigned long long>(value); };
    std::printf("Delivery        %s\n", options.everyFrame ? "every frame" : "newest frame");
    std::printf(
        "Camera frames   %llu received: %llu delivered, %llu overtaken, %llu failed; "
        "%llu made but not fetched in time\n",
        count(statistics.framesReceived), count(statistics.framesDelivered),
        count(statistics.framesOvertaken), count(statistics.framesFailed),
        count(statistics.framesSkipped));
    std::printf(
        "Failed frames   transfer %llu, frame size %llu, buffer %llu, ring full %llu, "
        "stopped %llu\n",
        count(statistics.failedTransfer), count(statistics.failedFrame),
        count(statistics.failedBuffer), count(statistics.failedRingFull),
        count(statistics.failedStopped));
    if (statistics.newestFrameNumber >= 0) {
        std::printf("Newest frame    number %lld\n",
                    static_cast<long long>(statistics.newestFrameNumber));
    }
    if (errors.empty()) {
        std::printf("Errors          none\n");
    }
    for (const auto& [code, count] : errors) {
        std::printf("Error %-2u        %llu frame(s) missing: %s\n", code,
                    static_cast<unsigned long long>(count), ErrorText(code));
    }
    if (frames == 0) {
        std::fprintf(stderr, "quorix: no frame arrived in %.2f s\n", elapsed);
        return kExitFailure;
    }
    return kExitOk;
}

// Set by Ctrl-C while a recording runs: the recording then ends early, its file finished.
volatile std::sig_atomic_t g_interrupted = 0;

// The signals that end a recording early with its file finished: Ctrl-C, a request to terminate
// (kill, a service manager, a shutdown) and the loss of the terminal.
constexpr int kRecordEndSignals[] = {SIGINT, SIGTERM, SIGHUP};

const char* RecordEndText(uint32_t reason) {
    switch (reason) {
        case QUORIX_RECORD_END_DURATION:
            return "the time was up";
        case QUORIX_RECORD_END_STOPPED:
            return "stopped";
        case QUORIX_RECORD_END_ACQUISITION:
            return "the camera stopped sending frames";
        case QUORIX_RECORD_END_WRITE_FAILED:
            return "the file could not be written further (disk full?)";
        case QUORIX_RECORD_END_SIZE_LIMIT:
            return "the file reached the AVI format's 4 GiB limit";
        case QUORIX_RECORD_END_PICTURE_CHANGED:
            return "the picture's size changed";
        default:
            return "still running";
    }
}

int RunRecord(const Options& options) {
    const std::string path = options.output.empty() ? "quorix-record.avi" : options.output;
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    const Context context;
    const QuorixHandle handle = context.Handle();
    ImageLayout layout;
    if (const int status =
            OpenAndConfigureCamera(context, options, simCameras.get(), kDefaultSnapBits, &layout);
        status != kExitOk) {
        return status;
    }
    // Every frame the camera sends, in order and without a pause, so the file has them all.
    if (!Quorix_SetWaitTime(handle, 0)) {
        return context.Failed("Quorix_SetWaitTime");
    }
    if (!Quorix_SetDeliveryMode(handle, QUORIX_DELIVERY_EVERY_FRAME)) {
        return context.Failed("Quorix_SetDeliveryMode");
    }
    // The window is shown in the tool's own window, which a person may close to end early.
    std::unique_ptr<ShowWindow> show;
    if (options.show) {
        if (const int status = OpenShowWindow(context, layout, "quorix record " + path, &show);
            status != kExitOk) {
            return status;
        }
    }
    const auto durationMs = static_cast<uint32_t>(options.seconds * 1000);
    if (!Quorix_Record(handle, path.c_str(), durationMs, options.show ? 1 : 0)) {
        return context.Failed("Quorix_Record");
    }
    RunningPreview preview(handle);
    for (const int number : kRecordEndSignals) {
        std::signal(number, [](int) { g_interrupted = 1; });
    }

    // A live line on a terminal, plain lines once a second otherwise.
    const bool terminal = ::isatty(::fileno(stdout)) != 0;
    const auto period = std::chrono::milliseconds(terminal ? 200 : 1000);
    using Clock = std::chrono::steady_clock;
    // The duration counts from the first frame; a camera that sends none is given up on.
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(options.seconds + 10);
    QuorixRecordStatus status;
    std::memset(&status, 0, sizeof status);
    status.size = sizeof status;
    Clock::time_point nextLine = Clock::now() + period;
    for (;;) {
        if (!Quorix_GetRecordStatus(handle, &status)) {
            return context.Failed("Quorix_GetRecordStatus");
        }
        if (status.state != QUORIX_RECORD_RUNNING || g_interrupted != 0 || Clock::now() > limit ||
            (show && !show->Pump())) {
            break;
        }
        if (Clock::now() >= nextLine) {
            nextLine += period;
            std::printf("%sRecording       %llu frames, %.1f frames/s, %llu dropped, %.1f MB%s",
                        terminal ? "\r" : "", static_cast<unsigned long long>(status.framesWritten),
                        status.rate / 100.0, static_cast<unsigned long long>(status.framesDropped),
                        static_cast<double>(status.fileBytes) / 1e6, terminal ? "   " : "\n");
            std::fflush(stdout);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (terminal) {
        std::printf("\n");
    }
    // Ends the preview, and a recording still running, whose file is then finished.
    if (!preview.Stop()) {
        return context.Failed("Quorix_StopPreview");
    }
    for (const int number : kRecordEndSignals) {
        std::signal(number, SIG_DFL);
    }
    if (!Quorix_GetRecordStatus(handle, &status)) {
        return context.Failed("Quorix_GetRecordStatus");
    }
    std::printf("Recorded        %s: %llu frames of %u x %u pixels at %.2f frames/s, %llu bytes\n",
                path.c_str(), static_cast<unsigned long long>(status.framesWritten), status.width,
                status.height, status.rate / 100.0,
                static_cast<unsigned long long>(status.fileBytes));
    std::printf("Dropped         %llu frames\n",
                static_cast<unsigned long long>(status.framesDropped));
    std::printf("Ended           %s\n", RecordEndText(status.endReason));
    const bool stoppedByPerson = g_interrupted != 0 || (show && !show->Pump());
    const bool complete = status.endReason == QUORIX_RECORD_END_DURATION ||
                          (stoppedByPerson && status.endReason == QUORIX_RECORD_END_STOPPED);
    if (status.framesWritten == 0) {
        std::fputs("quorix: no frame was recorded\n", stderr);
        return kExitFailure;
    }
    return complete ? kExitOk : kExitFailure;
}

// The settings dialogs `quorix dialog` opens, by name.
struct DialogCommand {
    const char* name;
    int (*open)(QuorixHandle, QuorixWindow);
    const char* function;
};
constexpr DialogCommand kDialogs[] = {
    {"analog", Quorix_SetAnalogDlg, "Quorix_SetAnalogDlg"},
    {"image", Quorix_SetImageDlg, "Quorix_SetImageDlg"},
    {"camera", Quorix_SetCameraDlg, "Quorix_SetCameraDlg"},
};

// Shows the live picture in the tool's window until it is closed or --seconds pass; with
// `dialog`, opens that settings dialog over the running preview instead and ends when the
// dialog closes.
int RunPreview(const Options& options, const DialogCommand* dialog = nullptr) {
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    const MessageWindow messages;
    if (messages.Window() == nullptr) {
        std::fputs("quorix: could not create a message window\n", stderr);
        return kExitFailure;
    }
    // The tool's window outlives the context, whose release destroys the library's window in it.
    std::unique_ptr<ShowWindow> show;
    const Context context;
    const QuorixHandle handle = context.Handle();
    ImageLayout layout;
    if (const int status =
            OpenAndConfigureCamera(context, options, simCameras.get(), kDefaultSnapBits, &layout);
        status != kExitOk) {
        return status;
    }
    const std::string picture = std::to_string(layout.width) + " x " +
                                std::to_string(layout.height) + ", " +
                                std::to_string(layout.bytesPerPixel * 8) + " bits";
    if (const int status = OpenShowWindow(context, layout, "quorix preview " + picture, &show);
        status != kExitOk) {
        return status;
    }
    if (!Quorix_SetWaitTime(handle, 0)) {
        return context.Failed("Quorix_SetWaitTime");
    }
    if (!Quorix_CallBackPreview(handle, messages.Window(), nullptr, 0, kTopRowFirst)) {
        return context.Failed("Quorix_CallBackPreview");
    }
    RunningPreview preview(handle);
    if (dialog != nullptr) {
        // Modal on this thread: the library's window keeps drawing the frames meanwhile.
        show->SetTitle(std::string("quorix dialog ") + dialog->name + " - " + picture);
        if (!dialog->open(handle, show->Parent())) {
            return context.Failed(dialog->function);
        }
        if (!preview.Stop()) {
            return context.Failed("Quorix_StopPreview");
        }
        std::printf("Dialog          %s closed\n", dialog->name);
        return kExitOk;
    }
    std::signal(SIGINT, [](int) { g_interrupted = 1; });

    using Clock = std::chrono::steady_clock;
    const Clock::time_point start = Clock::now();
    const Clock::time_point end = options.secondsGiven
                                      ? start + std::chrono::seconds(options.seconds)
                                      : Clock::time_point::max();
    Clock::time_point secondStart = start;
    uint64_t frames = 0;
    uint64_t framesThisSecond = 0;
    uint32_t lostCode = 0;
    while (g_interrupted == 0 && lostCode == 0 && Clock::now() < end && show->Pump()) {
        QuorixMessage message;
        std::memset(&message, 0, sizeof message);
        const int taken = Quorix_GetWindowMessage(messages.Window(), &message, 50);
        if (taken < 0) {
            std::fputs("quorix: the message window failed\n", stderr);
            return kExitFailure;
        }
        if (taken == 1 && message.message == QUORIX_MSG_FRAME) {
            if (message.wParam != 0) {
                ++frames;
                ++framesThisSecond;
            } else if (message.lParam == QUORIX_ERR_TRANSFER_STOPPED ||
                       message.lParam == QUORIX_ERR_ACQUISITION) {
                // The preview has ended: no more frames come.
                lostCode = static_cast<uint32_t>(message.lParam);
            }
        }
        const Clock::time_point now = Clock::now();
        if (now - secondStart >= std::chrono::seconds(1)) {
            const double rate = static_cast<double>(framesThisSecond) /
                                std::chrono::duration<double>(now - secondStart).count();
            char title[160];
            std::snprintf(title, sizeof title, "quorix preview %s - %.1f frames/s", picture.c_str(),
                          rate);
            show->SetTitle(title);
            secondStart = now;
            framesThisSecond = 0;
        }
    }
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    if (!preview.Stop()) {
        return context.Failed("Quorix_StopPreview");
    }
    std::signal(SIGINT, SIG_DFL);
    std::printf("Frame size      %s\n", picture.c_str());
    std::printf("Frames          %llu delivered in %.2f s, %.1f frames/s\n",
                static_cast<unsigned long long>(frames), elapsed,
                static_cast<double>(frames) / elapsed);
    if (lostCode != 0) {
        return Context::Failed("the preview", lostCode);
    }
    if (frames == 0) {
        std::fprintf(stderr, "quorix: no frame arrived in %.2f s\n", elapsed);
        return kExitFailure;
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
    if (command == "list" || command == "info" || command == "snap" || command == "record" ||
        command == "stream" || command == "preview") {
        unsigned allowed = kNoOptions;
        if (command != "list") {
            allowed |= kCameraOption;
        }
        if (command == "snap") {
            allowed |= kCameraSettings | kSnapOptions;
        } else if (command == "record") {
            allowed |= kCameraSettings | kRecordOptions | kShowOption;
        } else if (command == "preview") {
            allowed |= kCameraSettings | kPreviewOptions;
        } else if (command == "stream") {
            allowed |= kCameraSettings | kStreamOptions;
        }
        Options options;
        if (!ParseOptions(argc, argv, allowed, &options)) {
            return Usage(stderr);
        }
        if (command == "list") {
            return ListCameras(options);
        }
        if (command == "info") {
            return ShowCameraInfo(options);
        }
        if (command == "record") {
            return RunRecord(options);
        }
        if (command == "preview") {
            return RunPreview(options);
        }
        return command == "snap" ? TakeSnapshot(options) : RunStream(options);
    }
    if (command == "settings") {
        return quorix::cli::RunSettings(argc - 2, argv + 2);
    }
    if (command == "dialog") {
        const DialogCommand* dialog = nullptr;
        for (const DialogCommand& candidate : kDialogs) {
            if (argc >= 3 && std::strcmp(argv[2], candidate.name) == 0) {
                dialog = &candidate;
            }
        }
        Options options;
        if (dialog == nullptr ||
            !ParseOptions(argc - 1, argv + 1, kCameraOption | kCameraSettings, &options)) {
            return Usage(stderr);
        }
        return RunPreview(options, dialog);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        return Usage(stdout);
    }
    std::fprintf(stderr, "quorix: unknown command '%s'\n\n", command.c_str());
    return Usage(stderr);
}
