// quorix - command-line tool over the SDK's public C interface. It links the SDK library and
// calls nothing else of it; with --sim it also runs emulated cameras in its own process, which
// the library finds through QUORIX_SIM_DIR like any other emulated camera.
#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include <quorix/quorix.h>

#include "camera/fpga_registers.h"

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
        "  snap [options]   take a picture: PREFIX.raw holds the raw Bayer mosaic, top row\n"
        "                   first, without row padding; PREFIX.bmp the 24-bit colour image\n"
        "  stream [options] run the camera's preview without a window for a while and report\n"
        "                   the frames delivered, the frame rate and the errors\n"
        "  help             show this text\n"
        "\n"
        "options:\n"
        "  --sim N          first start N emulated cameras (1..%d) in this process\n"
        "  --sim-if-none    start one emulated camera when no camera is attached\n"
        "  --camera I       info, snap, stream: the camera to use, by device index (0..%d) as\n"
        "                   Quorix_SetDeviceNumber takes it; needed when several are present\n"
        "  --bits B         snap: bits per sample of the raw file, 8 (default) or 16;\n"
        "                   stream: bits per pixel delivered, 8 (default), 16, 24, 32, 48, 64\n"
        "  --subsample      snap, stream: 2x2 sub-sampling (half the size in each direction)\n"
        "  --out PREFIX     snap: where the files go (default quorix-snap)\n"
        "  --seconds N      stream: how long to run (1..%ld, default 5)\n"
        "  --wait MS        stream: pause before each frame [ms] (0..%ld, default 0)\n"
        "  --every-frame    stream: deliver every frame in camera order instead of the newest\n"
        "  --ring N         stream: depth of the every-frame ring (%d..%d frames, default %d)\n"
        "\n"
        "environment:\n"
        "  QUORIX_SIM_DIR  socket directory of a running quorix-camsim, whose cameras are\n"
        "                  listed as well (also with --sim)\n",
        kMaxSimCameras, kMaxDeviceIndex, kMaxStreamSeconds, kMaxWaitMs, QUORIX_FRAME_RING_DEPTH_MIN,
        QUORIX_FRAME_RING_DEPTH_MAX, QUORIX_FRAME_RING_DEPTH_DEFAULT);
    return out == stderr ? kExitUsage : kExitOk;
}

// The options a command takes besides --sim and --sim-if-none.
enum OptionSet : unsigned {
    kNoOptions = 0,
    kCameraOption = 1u << 0,   // --camera
    kSnapOptions = 1u << 1,    // --bits 8|16, --subsample, --out
    kStreamOptions = 1u << 2,  // --bits (any output format), --subsample, --seconds, --wait,
                               // --every-frame, --ring
};

struct Options {
    int simCameras = 0;      // 0: none
    int32_t camera = -1;     // -1: not given
    bool simIfNone = false;  // one emulated camera when no camera is attached
    int32_t bits = 8;        // bits per pixel of the camera's output
    bool subSample = false;  // 2x2 sub-sampling
    std::string outPrefix = "quorix-snap";
    long seconds = 5;  // length of a stream [s]
    long waitMs = 0;   // pause before each preview frame [ms]
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
bool IsRawBits(long bits) {
    return bits == 8 || bits == 16;
}
bool IsOutputBits(long bits) {
    return IsRawBits(bits) || bits == 24 || bits == 32 || bits == 48 || bits == 64;
}

// The options after the command word; `allowed` says which the command takes beyond --sim and
// --sim-if-none. Prints why on failure.
bool ParseOptions(int argc, char** argv, unsigned allowed, Options* options) {
    const bool snap = (allowed & kSnapOptions) != 0;
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
        } else if ((snap || stream) && arg == "--bits" && hasValue) {
            if (!ParseNumber(argv[++i], 8, 64, &value) ||
                !(snap ? IsRawBits(value) : IsOutputBits(value))) {
                std::fprintf(stderr, "quorix: --bits takes %s\n",
                             snap ? "8 or 16" : "8, 16, 24, 32, 48 or 64");
                return false;
            }
            options->bits = static_cast<int32_t>(value);
        } else if ((snap || stream) && arg == "--subsample") {
            options->subSample = true;
        } else if (snap && arg == "--out" && hasValue) {
            options->outPrefix = argv[++i];
            if (options->outPrefix.empty()) {
                std::fputs("quorix: --out takes a non-empty file name prefix\n", stderr);
                return false;
            }
        } else if (stream && arg == "--seconds" && hasValue) {
            if (!ParseNumber(argv[++i], 1, kMaxStreamSeconds, &value)) {
                std::fprintf(stderr, "quorix: --seconds takes 1..%ld\n", kMaxStreamSeconds);
                return false;
            }
            options->seconds = value;
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

// Row order of the images the library copies into a caller's buffer.
constexpr int32_t kBottomRowFirst = 0;  // as a BMP file stores them
constexpr int32_t kTopRowFirst = 1;

void StoreLe16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

void StoreLe32(uint8_t* bytes, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

// The two headers at the start of a BMP file, as the file lays them out (little-endian).
#pragma pack(push, 1)
struct BitmapFileHeader {
    char type[2];          // "BM"
    uint32_t fileSize;     // [bytes]
    uint16_t reserved[2];  // 0
    uint32_t pixelOffset;  // from the start of the file to the pixels [bytes]
};
struct BitmapInfoHeader {
    uint32_t headerSize;   // 40
    int32_t width;         // [pixels]
    int32_t height;        // [pixels]; positive: the bottom row comes first
    uint16_t planes;       // 1
    uint16_t bitCount;     // 24: B, G, R bytes
    uint32_t compression;  // 0: uncompressed
    uint32_t imageSize;    // the pixels with their row padding [bytes]
    int32_t xPixelsPerMetre;
    int32_t yPixelsPerMetre;
    uint32_t coloursUsed;       // 0: no colour table
    uint32_t coloursImportant;  // 0: all
};
#pragma pack(pop)
static_assert(sizeof(BitmapFileHeader) == 14);
static_assert(sizeof(BitmapInfoHeader) == 40);
static_assert(offsetof(BitmapInfoHeader, bitCount) == 14);
static_assert(offsetof(BitmapInfoHeader, coloursImportant) == 36);

constexpr size_t kBitmapHeadersSize = sizeof(BitmapFileHeader) + sizeof(BitmapInfoHeader);
constexpr uint16_t kBitmapBitsPerPixel = 24;
constexpr int32_t kBitmapColourMode = 24;

// The headers of a 24-bit BMP file whose pixels are the rows of `layout`, bottom row first.
std::array<uint8_t, kBitmapHeadersSize> EncodeBitmapHeaders(const ImageLayout& layout) {
    std::array<uint8_t, kBitmapHeadersSize> bytes = {};
    uint8_t* file = bytes.data();
    file[offsetof(BitmapFileHeader, type)] = 'B';
    file[offsetof(BitmapFileHeader, type) + 1] = 'M';
    StoreLe32(file + offsetof(BitmapFileHeader, fileSize),
              static_cast<uint32_t>(kBitmapHeadersSize) + layout.size);
    StoreLe32(file + offsetof(BitmapFileHeader, pixelOffset),
              static_cast<uint32_t>(kBitmapHeadersSize));

    uint8_t* info = bytes.data() + sizeof(BitmapFileHeader);
    StoreLe32(info + offsetof(BitmapInfoHeader, headerSize), sizeof(BitmapInfoHeader));
    StoreLe32(info + offsetof(BitmapInfoHeader, width), layout.width);
    StoreLe32(info + offsetof(BitmapInfoHeader, height), layout.height);
    StoreLe16(info + offsetof(BitmapInfoHeader, planes), 1);
    StoreLe16(info + offsetof(BitmapInfoHeader, bitCount), kBitmapBitsPerPixel);
    StoreLe32(info + offsetof(BitmapInfoHeader, imageSize), layout.size);
    // The rest stays 0: uncompressed, no resolution given, no colour table.
    return bytes;
}

// Writes the parts one after another into a new file (replacing an old one). On failure says why
// and removes what was written.
bool WriteFile(const std::string& path, std::initializer_list<std::span<const uint8_t>> parts) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        std::fprintf(stderr, "quorix: cannot create %s: %s\n", path.c_str(),
                     std::generic_category().message(errno).c_str());
        return false;
    }
    bool written = true;
    for (const std::span<const uint8_t> part : parts) {
        if (written && std::fwrite(part.data(), 1, part.size(), file) != part.size()) {
            written = false;
        }
    }
    int error = written ? 0 : errno;
    if (std::fclose(file) != 0 && written) {
        written = false;
        error = errno;
    }
    if (!written) {
        std::fprintf(stderr, "quorix: cannot write %s: %s\n", path.c_str(),
                     std::generic_category().message(error).c_str());
        std::remove(path.c_str());
    }
    return written;
}

// Moves the rows of an image together, dropping the padding at the end of each row.
void PackRows(std::vector<uint8_t>* image, const ImageLayout& layout) {
    const uint32_t rowBytes = layout.RowBytes();
    if (rowBytes == layout.stride) {
        return;
    }
    for (uint32_t row = 1; row < layout.height; ++row) {
        std::memmove(image->data() + static_cast<size_t>(row) * rowBytes,
                     image->data() + static_cast<size_t>(row) * layout.stride, rowBytes);
    }
    image->resize(static_cast<size_t>(rowBytes) * layout.height);
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

int TakeSnapshot(const Options& options) {
    std::unique_ptr<SimCameras> simCameras;
    if (!StartSimCameras(options, &simCameras)) {
        return kExitFailure;
    }
    const Context context;
    const QuorixHandle handle = context.Handle();
    if (const int status = OpenAndShowCamera(context, options, simCameras.get());
        status != kExitOk) {
        return status;
    }

    // The mosaic as the sensor delivered it, top row first as raw files are read.
    ImageLayout rawLayout;
    if (const int status = SetFormat(context, options.bits, options.subSample, &rawLayout);
        status != kExitOk) {
        return status;
    }
    std::vector<uint8_t> raw(rawLayout.size);
    if (!Quorix_SnapShot(handle, raw.data(), rawLayout.size, kTopRowFirst)) {
        return context.Failed("Quorix_SnapShot");
    }

    // The colour picture comes bottom row first with rows padded to 4 bytes: exactly the pixel
    // array of a 24-bit BMP file. The format changes only between frames, so this is the next one.
    ImageLayout colourLayout;
    if (const int status = SetFormat(context, kBitmapColourMode, options.subSample, &colourLayout);
        status != kExitOk) {
        return status;
    }
    std::vector<uint8_t> colour(colourLayout.size);
    if (!Quorix_SnapShot(handle, colour.data(), colourLayout.size, kBottomRowFirst)) {
        return context.Failed("Quorix_SnapShot");
    }

    PackRows(&raw, rawLayout);
    const std::string rawPath = options.outPrefix + ".raw";
    if (!WriteFile(rawPath, {raw})) {
        return kExitFailure;
    }
    const std::array<uint8_t, kBitmapHeadersSize> headers = EncodeBitmapHeaders(colourLayout);
    const std::string bitmapPath = options.outPrefix + ".bmp";
    if (!WriteFile(bitmapPath, {headers, colour})) {
        return kExitFailure;
    }
    std::printf("Image           %u x %u pixels\n", colourLayout.width, colourLayout.height);
    std::printf("Raw mosaic      %s (%d bits per sample, top row first, %zu bytes)\n",
                rawPath.c_str(), options.bits, raw.size());
    std::printf("Colour picture  %s (24-bit BMP, %zu bytes)\n", bitmapPath.c_str(),
                headers.size() + colour.size());
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
    if (const int status = OpenAndShowCamera(context, options, simCameras.get());
        status != kExitOk) {
        return status;
    }
    ImageLayout layout;
    if (const int status = SetFormat(context, options.bits, options.subSample, &layout);
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

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage(stderr);
    }
    const std::string command = argv[1];
    if (command == "version") {
        return argc == 2 ? PrintVersion() : Usage(stderr);
    }
    if (command == "list" || command == "info" || command == "snap" || command == "stream") {
        unsigned allowed = kNoOptions;
        if (command != "list") {
            allowed |= kCameraOption;
        }
        if (command == "snap") {
            allowed |= kSnapOptions;
        } else if (command == "stream") {
            allowed |= kStreamOptions;
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
        return command == "snap" ? TakeSnapshot(options) : RunStream(options);
    }
    if (command == "help" || command == "--help" || command == "-h") {
        return Usage(stdout);
    }
    std::fprintf(stderr, "quorix: unknown command '%s'\n\n", command.c_str());
    return Usage(stderr);
}
