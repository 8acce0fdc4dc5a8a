// The quorixsrc element in GStreamer pipelines, against the emulated camera of a quorix-camsim
// daemon that the program starts: the pictures show the emulator's scene in the negotiated
// format's layout and colours, the mosaic's order is the true one at the top-left pixel, the
// stream ends after num-buffers, the camera's full rate arrives without a lost frame, frames lost
// to a slow consumer are counted and announced, a camera that sends no frame fails the pipeline
// promptly, the properties fixed when the camera opens keep their value while the element runs,
// and starting and stopping leaks nothing.
//
// Expected values come from the emulated camera's scene (sim/scene.h) at the camera's default
// exposure and gain, where the samples are the nominal 12-bit scene values: 8-bit output is
// value >> 4, 16-bit output value << 4. Every frame also carries its camera frame number in the
// scene's code band, which tells the frames that reached a buffer from those that did not.
#include <fcntl.h>
#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gtest/gtest.h>
#include <png.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/usb/socket_link_provider.h"
#include "sim/emulator.h"
#include "sim/scene.h"
#include "sim/socket_link_server.h"

namespace {

namespace fs = std::filesystem;
using quorix::sim::kCodeBits;
using quorix::sim::kCodeCellHeight;
using quorix::sim::kCodeCellTop;
using quorix::sim::kCodeCellWidth;
using quorix::sim::kDarkLevel;
using quorix::sim::kMarkerLevel;
using quorix::sim::kPatchColours;
using quorix::sim::kPatchColumns;
using quorix::sim::kPatchSize;
using quorix::sim::SceneColour;

constexpr int kWidth = quorix::sim::kSensorWidth;
constexpr int kHeight = quorix::sim::kSensorHeight;
// Two 8-bit steps of rounding; two converter steps in 16-bit samples.
constexpr int kTolerance8 = 2;
constexpr int kTolerance16 = 2 << 4;

int To8(int value) {
    return value >> 4;
}
int To16(int value) {
    return value << 4;
}

// --- The emulator daemon -------------------------------------------------------------------------

// One quorix-camsim daemon with one camera for the whole program; the SDK inside the plugin finds
// it through QUORIX_SIM_DIR.
class CamsimEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        char pattern[] = "/tmp/quorix-gst-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_directory = pattern;
        m_daemon = fork();
        if (m_daemon == 0) {
            const int devNull = open("/dev/null", O_WRONLY);
            dup2(devNull, STDOUT_FILENO);
            execl(QUORIX_CAMSIM_PATH, QUORIX_CAMSIM_PATH, "--dir", m_directory.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        ASSERT_GT(m_daemon, 0);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!HasSocket() && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_TRUE(HasSocket()) << "quorix-camsim made no camera socket";
        setenv("QUORIX_SIM_DIR", m_directory.c_str(), 1);
    }
    void TearDown() override {
        if (m_daemon > 0) {
            kill(m_daemon, SIGTERM);
            waitpid(m_daemon, nullptr, 0);
        }
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }

private:
    bool HasSocket() const {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(m_directory, error)) {
            if (entry.path().extension() == ".sock") {
                return true;
            }
        }
        return false;
    }

    std::string m_directory;
    pid_t m_daemon = -1;
};

// --- Pipelines -----------------------------------------------------------------------------------

struct PipelineDeleter {
    void operator()(GstElement* pipeline) const {
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
};
using Pipeline = std::unique_ptr<GstElement, PipelineDeleter>;

Pipeline Launch(const std::string& description) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(description.c_str(), &error);
    EXPECT_EQ(error, nullptr) << description << ": " << (error ? error->message : "");
    if (error != nullptr) {
        g_error_free(error);
    }
    return Pipeline(pipeline);
}

GstElement* ByName(const Pipeline& pipeline, const char* name) {
    GstElement* element = gst_bin_get_by_name(GST_BIN(pipeline.get()), name);
    // The pipeline keeps the element alive; the tests use it while the pipeline lives.
    gst_object_unref(element);
    return element;
}

// Plays the pipeline until EOS or an error; returns "" for EOS, else the error's text.
std::string PlayToEnd(const Pipeline& pipeline, int timeoutSeconds = 60) {
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        // The element posted why on the bus.
    }
    GstBus* bus = gst_element_get_bus(pipeline.get());
    GstMessage* message = gst_bus_timed_pop_filtered(
        bus, static_cast<GstClockTime>(timeoutSeconds) * GST_SECOND,
        static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    gst_object_unref(bus);
    std::string result = "no EOS within the time";
    if (message != nullptr) {
        result.clear();
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
            GError* error = nullptr;
            gchar* debug = nullptr;
            gst_message_parse_error(message, &error, &debug);
            result = std::string(error->message) + " (" + (debug ? debug : "") + ")";
            g_error_free(error);
            g_free(debug);
        }
        gst_message_unref(message);
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return result;
}

// --- Reading frames ------------------------------------------------------------------------------

// A picture as the tests read it: `channels` bytes (or 16-bit words) per pixel.
struct Picture {
    const uint8_t* data = nullptr;
    size_t stride = 0;  // [bytes]
    int bytesPerSample = 1;
    int channels = 1;
    int Sample(int row, int column, int channel = 0) const {
        const uint8_t* p = data + static_cast<size_t>(row) * stride +
                           static_cast<size_t>((column * channels + channel) * bytesPerSample);
        return bytesPerSample == 1 ? p[0] : p[0] | (p[1] << 8);
    }
};

// The camera frame number a full-size picture carries in the scene's code band: bit k is the
// cell at columns [64 k, 64 k + 64), bright when set. Read from channel `channel`.
uint32_t FrameNumber(const Picture& picture, int channel = 0) {
    const int row = kCodeCellTop + kCodeCellHeight / 2;
    const int threshold8 = (To8(kDarkLevel) + To8(kMarkerLevel)) / 2;
    const int threshold = picture.bytesPerSample == 1 ? threshold8 : threshold8 << 8;
    uint32_t number = 0;
    for (int bit = 0; bit < kCodeBits; ++bit) {
        if (picture.Sample(row, bit * kCodeCellWidth + kCodeCellWidth / 2, channel) > threshold) {
            number |= 1u << bit;
        }
    }
    return number;
}

// Centre of patch `index` in sensor coordinates.
int PatchRow(size_t index) {
    return static_cast<int>(index / kPatchColumns) * kPatchSize + 128;
}
int PatchColumn(size_t index) {
    return static_cast<int>(index % kPatchColumns) * kPatchSize + 128;
}

// --- The tests -----------------------------------------------------------------------------------

// Thirty frames through videoconvert and pngenc: the stream ends after exactly num-buffers, and
// each PNG shows the scene upright in its colours (a swapped channel, a flipped row order or a
// wrong stride shows in the patches), each frame another one of the camera's.
TEST(QuorixSrc, ThirtyFramesToPngShowTheSceneInItsColours) {
    const fs::path directory = fs::path(std::getenv("XDG_CONFIG_HOME")) / "frames";
    fs::create_directories(directory);
    const Pipeline pipeline = Launch(
        "quorixsrc"
        " num-buffers=30 ! videoconvert ! pngenc ! multifilesink "
        "location=" +
        (directory / "frame-%05d.png").string());
    ASSERT_TRUE(pipeline);
    ASSERT_EQ(PlayToEnd(pipeline), "");

    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
        files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 30u) << "one file per buffer, then EOS";

    int64_t previous = -1;
    for (const fs::path& file : files) {
        png_image image;
        std::memset(&image, 0, sizeof image);
        image.version = PNG_IMAGE_VERSION;
        ASSERT_TRUE(png_image_begin_read_from_file(&image, file.c_str())) << file;
        image.format = PNG_FORMAT_RGB;
        ASSERT_EQ(image.width, static_cast<png_uint_32>(kWidth));
        ASSERT_EQ(image.height, static_cast<png_uint_32>(kHeight));
        std::vector<uint8_t> rgb(PNG_IMAGE_SIZE(image));
        ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) << file;
        const Picture picture{rgb.data(), static_cast<size_t>(kWidth) * 3, 1, 3};

        const int64_t number = FrameNumber(picture, 1);
        EXPECT_GT(number, previous) << file << ": a frame twice, or out of order";
        previous = number;
        if (file != files.front() && file != files.back()) {
            continue;
        }
        for (size_t i = 0; i < kPatchColours.size(); ++i) {
            const SceneColour& colour = kPatchColours[i];
            const int row = PatchRow(i), column = PatchColumn(i);
            EXPECT_NEAR(picture.Sample(row, column, 0), To8(colour.red), kTolerance8)
                << file << " patch " << i << " red";
            EXPECT_NEAR(picture.Sample(row, column, 1), To8(colour.green), kTolerance8)
                << file << " patch " << i << " green";
            EXPECT_NEAR(picture.Sample(row, column, 2), To8(colour.blue), kTolerance8)
                << file << " patch " << i << " blue";
        }
        // The ramps below the patches: left to right, then top to bottom.
        for (int column : {256, 1024, 1800}) {
            EXPECT_NEAR(picture.Sample(900, column, 1),
                        To8(quorix::sim::kHorizontalRampSlope * column), kTolerance8)
                << file << " horizontal ramp at column " << column;
        }
        for (int row : {1040, 1150, 1270}) {
            EXPECT_NEAR(picture.Sample(row, 1000, 1),
                        To8(quorix::sim::kVerticalRampSlope * (row - 1024)), kTolerance8)
                << file << " vertical ramp at row " << row;
        }
    }
}

// --- Caps negotiation for each format ------------------------------------------------------------

// The mosaic's order at the picture's top-left 2x2 pixels, from the camera: the scene's filter
// is G R on even rows and B G on odd ones; a mirror flips the picture's rows or columns (whose
// counts are even), and 2x2 sub-sampling starts on the sensor's second row (a blue-green one).
std::string ExpectedOrder(bool mirrorH, bool mirrorV, bool subsample) {
    std::string order;
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 2; ++column) {
            const int sensorRow = (mirrorV ? 1 - row : row) + (subsample ? 1 : 0);
            const int sensorColumn = mirrorH ? 1 - column : column;
            const bool oddRow = (sensorRow & 1) != 0, oddColumn = (sensorColumn & 1) != 0;
            order += oddRow == oddColumn ? 'g' : (oddRow ? 'b' : 'r');
        }
    }
    return order;
}

struct CapsCase {
    const char* name;
    const char* properties;
    const char* caps;
    const char* format;  // expected in the negotiated caps
    int width, height;
    bool mirrorH, mirrorV, subsample;
};

void PrintTo(const CapsCase& c, std::ostream* out) {
    *out << c.name;
}

class QuorixSrcCaps : public ::testing::TestWithParam<CapsCase> {};

// Where a sensor pixel of the scene lands in the picture.
void PictureOf(const CapsCase& c, int sensorRow, int sensorColumn, int* row, int* column) {
    *row = c.subsample ? sensorRow / 2 : sensorRow;
    *column = c.subsample ? sensorColumn / 2 : sensorColumn;
    if (c.mirrorV) {
        *row = c.height - 1 - *row;
    }
    if (c.mirrorH) {
        *column = c.width - 1 - *column;
    }
}

// One frame in the format the caps ask for: the caps carry it with the picture's size and the
// camera's rate, the buffer holds height rows of the format's stride, and its samples are the
// scene's in that format's layout.
TEST_P(QuorixSrcCaps, OneFrameInTheFormatAsked) {
    const CapsCase& c = GetParam();
    const Pipeline pipeline = Launch(std::string("quorixsrc num-buffers=1 ") + c.properties +
                                     " ! " + c.caps + " ! appsink name=sink sync=false");
    ASSERT_TRUE(pipeline);
    GstAppSink* sink = GST_APP_SINK(ByName(pipeline, "sink"));
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstSample* sample = gst_app_sink_try_pull_sample(sink, 30 * GST_SECOND);
    ASSERT_NE(sample, nullptr) << "no frame";
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int width = 0, height = 0, num = 0, den = 0;
    EXPECT_STREQ(gst_structure_get_string(s, "format"), c.format);
    EXPECT_TRUE(gst_structure_get_int(s, "width", &width) && width == c.width) << width;
    EXPECT_TRUE(gst_structure_get_int(s, "height", &height) && height == c.height) << height;
    EXPECT_TRUE(gst_structure_get_fraction(s, "framerate", &num, &den) && num > 0 && den > 0)
        << "a live camera's caps carry its rate";

    const std::string format = c.format;
    const bool bayer = gst_structure_has_name(s, "video/x-bayer");
    Picture picture;
    picture.bytesPerSample = format.find("16") != std::string::npos ? 2 : 1;
    picture.channels = format == "BGR" ? 3 : format == "BGRx" ? 4 : 1;
    picture.stride =
        (static_cast<size_t>(c.width * picture.channels * picture.bytesPerSample) + 3) & ~3u;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(buffer, &map, GST_MAP_READ));
    EXPECT_EQ(map.size, picture.stride * static_cast<size_t>(c.height));
    picture.data = map.data;
    const auto scale = [&](int value) {
        return picture.bytesPerSample == 1 ? To8(value) : To16(value);
    };
    const int tolerance = picture.bytesPerSample == 1 ? kTolerance8 : kTolerance16;

    if (bayer) {
        const std::string order = ExpectedOrder(c.mirrorH, c.mirrorV, c.subsample);
        EXPECT_EQ(format.substr(0, 4), order);
        // In the red and the blue patch, each site of the mosaic sees its own colour's share.
        for (size_t patch : {5u, 7u}) {
            const SceneColour& colour = kPatchColours[patch];
            int row = 0, column = 0;
            PictureOf(c, PatchRow(patch), PatchColumn(patch), &row, &column);
            row &= ~1;
            column &= ~1;
            for (int i = 0; i < 4; ++i) {
                const char site = format[static_cast<size_t>(i)];
                const int expected = site == 'r'   ? colour.red
                                     : site == 'b' ? colour.blue
                                                   : colour.green;
                EXPECT_NEAR(picture.Sample(row + i / 2, column + i % 2), scale(expected), tolerance)
                    << "patch " << patch << " site " << site;
            }
        }
    } else if (picture.channels > 1) {
        for (size_t patch : {5u, 7u, 16u}) {
            const SceneColour& colour = kPatchColours[patch];
            int row = 0, column = 0;
            PictureOf(c, PatchRow(patch), PatchColumn(patch), &row, &column);
            EXPECT_NEAR(picture.Sample(row, column, 0), To8(colour.blue), kTolerance8) << patch;
            EXPECT_NEAR(picture.Sample(row, column, 1), To8(colour.green), kTolerance8) << patch;
            EXPECT_NEAR(picture.Sample(row, column, 2), To8(colour.red), kTolerance8) << patch;
        }
    } else {
        // Gray: the gray patches keep their level whatever the site.
        for (size_t patch = 0; patch < 5; ++patch) {
            int row = 0, column = 0;
            PictureOf(c, PatchRow(patch), PatchColumn(patch), &row, &column);
            EXPECT_NEAR(picture.Sample(row, column), scale(kPatchColours[patch].green), tolerance)
                << "patch " << patch;
            EXPECT_NEAR(picture.Sample(row, column + 1), scale(kPatchColours[patch].green),
                        tolerance)
                << "patch " << patch;
        }
    }
    gst_buffer_unmap(buffer, &map);
    gst_sample_unref(sample);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, QuorixSrcCaps,
    ::testing::Values(
        CapsCase{"Bgr", "", "video/x-raw,format=BGR", "BGR", kWidth, kHeight, false, false, false},
        CapsCase{"Bgrx", "", "video/x-raw,format=BGRx", "BGRx", kWidth, kHeight, false, false,
                 false},
        CapsCase{"Gray8", "", "video/x-raw,format=GRAY8", "GRAY8", kWidth, kHeight, false, false,
                 false},
        CapsCase{"Gray16", "", "video/x-raw,format=GRAY16_LE", "GRAY16_LE", kWidth, kHeight, false,
                 false, false},
        CapsCase{"Bayer", "", "video/x-bayer,format={bggr,gbrg,grbg,rggb}", "grbg", kWidth, kHeight,
                 false, false, false},
        CapsCase{"Bayer16", "", "video/x-bayer,format={bggr16le,gbrg16le,grbg16le,rggb16le}",
                 "grbg16le", kWidth, kHeight, false, false, false},
        CapsCase{"BayerMirrorH", "mirror=horizontal", "video/x-bayer", "rggb", kWidth, kHeight,
                 true, false, false},
        CapsCase{"BayerMirrorV", "mirror=vertical", "video/x-bayer", "bggr", kWidth, kHeight, false,
                 true, false},
        CapsCase{"BayerMirrorBoth", "mirror=both", "video/x-bayer", "gbrg", kWidth, kHeight, true,
                 true, false},
        CapsCase{"BayerSubsampled", "subsample=true", "video/x-bayer", "bggr", kWidth / 2,
                 kHeight / 2, false, false, true},
        CapsCase{"BgrMirrorBoth", "mirror=both", "video/x-raw,format=BGR", "BGR", kWidth, kHeight,
                 true, true, false}),
    [](const ::testing::TestParamInfo<CapsCase>& info) { return std::string(info.param.name); });

// A capture window: the caps carry its size and the picture starts at its corner.
TEST(QuorixSrc, CaptureWindowSetsTheSizeAndTheCorner) {
    const Pipeline pipeline = Launch(
        "quorixsrc num-buffers=1 window=256,512,1024,768 ! "
        "video/x-raw,format=BGR ! appsink name=sink sync=false");
    ASSERT_TRUE(pipeline);
    GstAppSink* sink = GST_APP_SINK(ByName(pipeline, "sink"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstSample* sample = gst_app_sink_try_pull_sample(sink, 30 * GST_SECOND);
    ASSERT_NE(sample, nullptr);
    GstStructure* s = gst_caps_get_structure(gst_sample_get_caps(sample), 0);
    int width = 0, height = 0;
    gst_structure_get_int(s, "width", &width);
    gst_structure_get_int(s, "height", &height);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 768);
    GstMapInfo map;
    ASSERT_TRUE(gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ));
    const Picture picture{map.data, 1024 * 3, 1, 3};
    // Picture (128, 128) is sensor (640, 384): patch 17 of the scene.
    const SceneColour& colour = kPatchColours[17];
    EXPECT_NEAR(picture.Sample(128, 128, 0), To8(colour.blue), kTolerance8);
    EXPECT_NEAR(picture.Sample(128, 128, 1), To8(colour.green), kTolerance8);
    EXPECT_NEAR(picture.Sample(128, 128, 2), To8(colour.red), kTolerance8);
    gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    gst_sample_unref(sample);
}

// One GRAY8 frame with the given properties; the sample at the centre of gray patch `patch`.
int GrayPatchLevel(const std::string& properties, size_t patch) {
    const Pipeline pipeline = Launch("quorixsrc num-buffers=1 " + properties +
                                     " ! video/x-raw,format=GRAY8 ! appsink name=sink sync=false");
    if (!pipeline) {
        return -1;
    }
    GstAppSink* sink = GST_APP_SINK(ByName(pipeline, "sink"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstSample* sample = gst_app_sink_try_pull_sample(sink, 30 * GST_SECOND);
    if (sample == nullptr) {
        ADD_FAILURE() << properties << ": no frame";
        return -1;
    }
    GstMapInfo map;
    int level = -1;
    if (gst_buffer_map(gst_sample_get_buffer(sample), &map, GST_MAP_READ)) {
        level = map.data[static_cast<size_t>(PatchRow(patch)) * kWidth +
                         static_cast<size_t>(PatchColumn(patch))];
        gst_buffer_unmap(gst_sample_get_buffer(sample), &map);
    }
    gst_sample_unref(sample);
    return level;
}

// Exposure and gain reach the camera: the scene's levels scale with the exposure time over the
// nominal 17 ms, and with 10^((gain - 64) / 200) (60 steps of 0.1 dB: twice as bright).
TEST(QuorixSrc, ExposureAndGainReachTheCamera) {
    EXPECT_NEAR(GrayPatchLevel("exposure=8500 gain=64", 0), To8(kPatchColours[0].green / 2),
                kTolerance8);
    EXPECT_NEAR(GrayPatchLevel("exposure=17000 gain=124", 3), To8(kPatchColours[3].green * 2),
                kTolerance8);
}

// Downstream that wants another picture size than the camera's gets a negotiation error, not
// buffers of the wrong size.
TEST(QuorixSrc, SizeTheCameraLacksFailsNegotiation) {
    const Pipeline pipeline =
        Launch("quorixsrc num-buffers=1 ! video/x-raw,format=BGR,width=640,height=480 ! fakesink");
    ASSERT_TRUE(pipeline);
    const std::string error = PlayToEnd(pipeline);
    EXPECT_NE(error, "") << "EOS for a size the camera lacks";
    EXPECT_NE(error, "no EOS within the time");
}

// --- Lost frames ---------------------------------------------------------------------------------

// What a fakesink saw: each buffer's camera frame number (from the picture), offset, time and
// DISCONT flag, and the gap events before it; and the QoS messages the source posted before each
// buffer it sent (posted on its streaming thread, counted there by the source pad's probe).
struct Seen {
    GstElement* source = nullptr;
    std::vector<uint32_t> numbers;
    std::vector<uint64_t> offsets;
    std::vector<GstClockTime> times;
    std::vector<bool> discont;
    std::vector<int> gapsBefore;
    std::vector<int> qosBefore;
    int gaps = 0;
    int qos = 0;
};

void OnHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer data) {
    Seen* seen = static_cast<Seen*>(data);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) {
        return;
    }
    const Picture picture{map.data, static_cast<size_t>(kWidth), 1, 1};
    seen->numbers.push_back(FrameNumber(picture));
    gst_buffer_unmap(buffer, &map);
    seen->offsets.push_back(GST_BUFFER_OFFSET(buffer));
    seen->times.push_back(GST_BUFFER_PTS(buffer));
    seen->discont.push_back(GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DISCONT));
    seen->gapsBefore.push_back(seen->gaps);
    seen->gaps = 0;
}

GstPadProbeReturn CountGaps(GstPad*, GstPadProbeInfo* info, gpointer data) {
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_GAP) {
        ++static_cast<Seen*>(data)->gaps;
    }
    return GST_PAD_PROBE_OK;
}

GstBusSyncReply CountQos(GstBus*, GstMessage* message, gpointer data) {
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_QOS) {
        ++static_cast<Seen*>(data)->qos;
    }
    return GST_BUS_PASS;
}

GstPadProbeReturn NoteQosBefore(GstPad*, GstPadProbeInfo*, gpointer data) {
    Seen* seen = static_cast<Seen*>(data);
    seen->qosBefore.push_back(seen->qos);
    seen->qos = 0;
    return GST_PAD_PROBE_OK;
}

// Runs quorixsrc in 8-bit mosaic format into `tail` ending in a fakesink named "sink"; `lost`
// and `late` receive the element's counts at the end.
Seen RunMosaic(int buffers, const std::string& tail, guint64* lost, guint64* late) {
    Seen seen;
    const Pipeline pipeline = Launch("quorixsrc name=src num-buffers=" + std::to_string(buffers) +
                                     " ! video/x-bayer,format=grbg ! " + tail);
    if (!pipeline) {
        return seen;
    }
    seen.source = ByName(pipeline, "src");
    GstElement* sink = ByName(pipeline, "sink");
    g_object_set(sink, "signal-handoffs", TRUE, nullptr);
    g_signal_connect(sink, "handoff", G_CALLBACK(OnHandoff), &seen);
    GstPad* pad = gst_element_get_static_pad(sink, "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, CountGaps, &seen, nullptr);
    gst_object_unref(pad);
    pad = gst_element_get_static_pad(seen.source, "src");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, NoteQosBefore, &seen, nullptr);
    gst_object_unref(pad);
    GstBus* bus = gst_element_get_bus(pipeline.get());
    gst_bus_set_sync_handler(bus, CountQos, &seen, nullptr);
    gst_object_unref(bus);
    EXPECT_EQ(PlayToEnd(pipeline), "");
    EXPECT_EQ(seen.numbers.size(), static_cast<size_t>(buffers));
    g_object_get(seen.source, "lost-frames", lost, "late-frames", late, nullptr);
    return seen;
}

// Every frame the camera made from the first buffer's to the last one's is accounted for: it
// arrives once and in order, or it is counted lost, skipped in the offsets and announced right
// before the buffer after it (one gap event, one QoS message, the DISCONT flag); the first buffer
// is DISCONT too. The pictures carry the camera's frame numbers, so these are exact. Returns the
// frames missing between the first and the last buffer.
uint64_t ExpectAccounted(const Seen& seen, guint64 lost) {
    uint64_t missing = 0;
    EXPECT_EQ(seen.qosBefore.size(), seen.numbers.size());
    EXPECT_TRUE(!seen.discont.empty() && seen.discont[0]) << "the first buffer is DISCONT";
    for (size_t i = 1; i < seen.numbers.size(); ++i) {
        if (seen.numbers[i] <= seen.numbers[i - 1]) {
            ADD_FAILURE() << "buffer " << i << " shows frame " << seen.numbers[i] << " after "
                          << seen.numbers[i - 1];
            break;
        }
        const uint64_t skipped = seen.numbers[i] - seen.numbers[i - 1] - 1;
        missing += skipped;
        EXPECT_EQ(seen.offsets[i] - seen.offsets[0], seen.numbers[i] - seen.numbers[0])
            << "buffer " << i << ": offset";
        const int announced = skipped > 0 ? 1 : 0;
        EXPECT_EQ(seen.gapsBefore[i], announced) << "buffer " << i << ": gap events";
        if (i < seen.qosBefore.size()) {
            EXPECT_EQ(seen.qosBefore[i], announced) << "buffer " << i << ": QoS messages";
        }
        EXPECT_EQ(seen.discont[i], skipped > 0) << "buffer " << i << ": DISCONT";
        EXPECT_GT(seen.times[i], seen.times[i - 1]) << "buffer " << i;
    }
    EXPECT_EQ(lost, missing) << "lost-frames and the pictures disagree";
    if (::testing::Test::HasFailure()) {
        std::string sequence;
        for (size_t i = 0; i < seen.numbers.size(); ++i) {
            sequence +=
                " " + std::to_string(seen.numbers[i]) + "@" + std::to_string(seen.offsets[i]);
        }
        ADD_FAILURE() << "frame@offset:" << sequence;
    }
    return missing;
}

// The camera's full rate into a queue and a fakesink that never waits: the element takes every
// frame the SDK delivers (none is late), and the frames lost on their way from the camera (when
// the machine is short of processor time) are accounted for. Prints the rate and the counts.
TEST(QuorixSrc, FullRateTakesEveryFrameDelivered) {
    constexpr int kBuffers = 150;
    guint64 lost = 0, late = 0;
    const Seen seen = RunMosaic(kBuffers, "queue ! fakesink name=sink sync=false", &lost, &late);
    ASSERT_EQ(seen.numbers.size(), static_cast<size_t>(kBuffers));
    const uint64_t missing = ExpectAccounted(seen, lost);
    EXPECT_EQ(late, 0u) << "frames delivered by the SDK that no buffer took";
    const double seconds = static_cast<double>(seen.times.back() - seen.times.front()) / GST_SECOND;
    std::printf(
        "quorixsrc ! queue ! fakesink sync=false: %d frames of 2048 x 1536 in %.2f s, "
        "%.1f frames/s; lost frames %llu (late %llu; %llu missing between the buffers)\n",
        kBuffers, seconds, (kBuffers - 1) / seconds, static_cast<unsigned long long>(lost),
        static_cast<unsigned long long>(late), static_cast<unsigned long long>(missing));
}

// A consumer slower than the camera: the frames that never reach a buffer count as lost and as
// late, are announced by a gap event before the next buffer and are skipped in the offsets.
TEST(QuorixSrc, FramesLostToASlowConsumerAreCountedAndAnnounced) {
    constexpr int kBuffers = 25;
    guint64 lost = 0, late = 0;
    // 40 ms per buffer against the camera's 17 ms frames.
    const Seen seen =
        RunMosaic(kBuffers, "identity sleep-time=40000 ! fakesink name=sink", &lost, &late);
    ASSERT_EQ(seen.numbers.size(), static_cast<size_t>(kBuffers));
    const uint64_t missing = ExpectAccounted(seen, lost);
    EXPECT_GT(missing, static_cast<uint64_t>(kBuffers)) << "the consumer was not slow enough";
    // Frames the SDK itself did not get in time (a machine short of processor time) are lost
    // but not late.
    EXPECT_GT(late, 0u) << "the frames the consumer missed are late";
    EXPECT_LE(late, lost);
}

// --- A camera that sends no frame ----------------------------------------------------------------

// A camera of the test's own, served in a socket directory of its own that the SDK inside the
// plugin looks in while this object lives (the daemon's camera is out of its sight meanwhile), so
// that the test can inject faults into it.
class OwnCamera {
public:
    OwnCamera() {
        char pattern[] = "/tmp/quorix-gst-fault-XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            return;
        }
        m_directory = pattern;
        quorix::sim::CameraConfig config;
        config.serialNumber = "QX252-000960";
        config.logCapacity = 0;
        m_camera = quorix::sim::CreateCamera(config);
        // A new instance each time: the SDK never takes this camera for one it knew.
        static int instances = 0;
        const std::string file = quorix::platform::usb::SocketFileName(
            config.vendorId, config.productId,
            "gst-test-" + std::to_string(getpid()) + "-" + std::to_string(++instances));
        auto server =
            std::make_unique<quorix::sim::SocketLinkServer>(m_directory + "/" + file, m_camera);
        if (file.empty() || !server->Start()) {
            return;
        }
        m_server = std::move(server);
        m_previousDirectory = std::getenv("QUORIX_SIM_DIR");
        setenv("QUORIX_SIM_DIR", m_directory.c_str(), 1);
    }
    ~OwnCamera() {
        if (m_camera) {
            quorix::sim::Unplug(m_camera);
        }
        if (m_server) {
            m_server->Stop();
            setenv("QUORIX_SIM_DIR", m_previousDirectory.c_str(), 1);
        }
        std::error_code ignored;
        fs::remove_all(m_directory, ignored);
    }
    OwnCamera(const OwnCamera&) = delete;
    OwnCamera& operator=(const OwnCamera&) = delete;

    bool Ok() const { return m_server != nullptr; }
    quorix::sim::CameraFaults& Faults() { return m_camera->Faults(); }

private:
    std::string m_directory;
    std::string m_previousDirectory;
    std::shared_ptr<quorix::sim::EmulatedCamera> m_camera;
    std::unique_ptr<quorix::sim::SocketLinkServer> m_server;
};

GstPadProbeReturn NoteBuffer(GstPad*, GstPadProbeInfo*, gpointer data) {
    static_cast<std::atomic<int>*>(data)->fetch_add(1);
    return GST_PAD_PROBE_OK;
}

// Counts the buffers that reach the element named "sink".
void CountBuffers(const Pipeline& pipeline, std::atomic<int>* buffers) {
    GstPad* pad = gst_element_get_static_pad(ByName(pipeline, "sink"), "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, NoteBuffer, buffers, nullptr);
    gst_object_unref(pad);
}

bool WaitForBuffer(const std::atomic<int>& buffers) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (buffers.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return buffers.load() > 0;
}

struct FaultCase {
    const char* name;
    bool stallData;     // headers come, their data never; else no header comes at all
    bool whilePlaying;  // injected once a buffer arrived; else before the start
};

class QuorixSrcFault : public ::testing::TestWithParam<FaultCase> {};

// A camera that stops sending, from the start or once frames flowed, fails the pipeline with an
// error on the bus that names the SDK's code 13 (transfer stopped), within the exposure plus the
// SDK's 3 s frame wait. The SDK itself retries for half a minute before it gives up, and while the
// element measures the rate at the start nothing would ever end the wait. 10 s is a bound for the
// error to arrive at all, far from the expected 3 to 4 s.
TEST_P(QuorixSrcFault, CameraSendingNoFrameFailsThePipelinePromptly) {
    const FaultCase& fault = GetParam();
    OwnCamera camera;
    ASSERT_TRUE(camera.Ok());
    constexpr uint32_t kEveryFrame = 1'000'000;
    const auto inject = [&] {
        if (fault.stallData) {
            camera.Faults().StallFrameData(kEveryFrame);
        } else {
            camera.Faults().DropFrameHeaders(kEveryFrame);
        }
    };
    if (!fault.whilePlaying) {
        inject();
    }
    const Pipeline pipeline = Launch("quorixsrc ! video/x-bayer ! fakesink name=sink");
    ASSERT_TRUE(pipeline);
    std::atomic<int> buffers{0};
    CountBuffers(pipeline, &buffers);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    if (fault.whilePlaying) {
        ASSERT_TRUE(WaitForBuffer(buffers)) << "no frame before the fault";
        inject();
    }
    GstBus* bus = gst_element_get_bus(pipeline.get());
    GstMessage* message = gst_bus_timed_pop_filtered(bus, 10 * GST_SECOND, GST_MESSAGE_ERROR);
    gst_object_unref(bus);
    ASSERT_NE(message, nullptr) << "no error on the bus within 10 s";
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    EXPECT_NE(std::string(error->message).find("(code 13)"), std::string::npos) << error->message;
    g_error_free(error);
    gst_message_unref(message);
}

INSTANTIATE_TEST_SUITE_P(Faults, QuorixSrcFault,
                         ::testing::Values(FaultCase{"StalledDataFromTheStart", true, false},
                                           FaultCase{"DroppedFramesFromTheStart", false, false},
                                           FaultCase{"StalledDataWhilePlaying", true, true},
                                           FaultCase{"DroppedFramesWhilePlaying", false, true}),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

// --- Properties fixed when the camera opens ------------------------------------------------------

// The READY-only properties as a text: camera, subsample, window, mirror (0 none .. 3 both).
std::string ReadyOnlyProperties(GstElement* source) {
    gint camera = 0, mirror = 0;
    gboolean subsample = FALSE;
    gchar* window = nullptr;
    g_object_get(source, "camera", &camera, "subsample", &subsample, "window", &window, "mirror",
                 &mirror, nullptr);
    std::string text = std::to_string(camera) + " " + std::to_string(subsample) + " " +
                       (window != nullptr ? window : "") + " " + std::to_string(mirror);
    g_free(window);
    return text;
}

// The camera, sub-sampling, window and mirroring take effect only when the camera opens: set
// while the element plays they must keep their value rather than read back a setting the
// picture does not have; stopped, the element takes them again.
TEST(QuorixSrc, ReadyOnlyPropertiesKeepTheirValueWhilePlaying) {
    const Pipeline pipeline =
        Launch("quorixsrc name=src window=0,0,1024,768 ! video/x-bayer ! fakesink name=sink");
    ASSERT_TRUE(pipeline);
    GstElement* source = ByName(pipeline, "src");
    std::atomic<int> buffers{0};
    CountBuffers(pipeline, &buffers);
    ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    ASSERT_TRUE(WaitForBuffer(buffers));
    const auto change = [&] {
        g_object_set(source, "camera", 5, "subsample", TRUE, "window", "0,0,512,512", "mirror", 3,
                     nullptr);
    };
    change();
    EXPECT_EQ(ReadyOnlyProperties(source), "-1 0 0,0,1024,768 0");
    ASSERT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    change();
    EXPECT_EQ(ReadyOnlyProperties(source), "5 1 0,0,512,512 3") << "once stopped";
}

// --- Starting and stopping -----------------------------------------------------------------------

size_t OpenDescriptors() {
    size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

GstTracer* LeaksTracer() {
    GstTracer* found = nullptr;
    GList* tracers = gst_tracing_get_active_tracers();
    for (GList* t = tracers; t != nullptr; t = t->next) {
        if (found == nullptr && std::strcmp(G_OBJECT_TYPE_NAME(t->data), "GstLeaksTracer") == 0) {
            found = GST_TRACER(gst_object_ref(t->data));
        }
    }
    g_list_free_full(tracers, gst_object_unref);
    return found;
}

// Adds +1 (created) or -1 (freed) for each object of a leaks tracer checkpoint list, by type
// and address.
void Tally(const GstStructure* checkpoint, const char* field, int sign,
           std::map<std::string, int>* net) {
    const GValue* list = gst_structure_get_value(checkpoint, field);
    for (guint i = 0; list != nullptr && i < gst_value_list_get_size(list); ++i) {
        const GstStructure* object = gst_value_get_structure(gst_value_list_get_value(list, i));
        const char* type = gst_structure_get_string(object, "type-name");
        const char* address = gst_structure_get_string(object, "address");
        (*net)[std::string(type ? type : "?") + " at " + (address ? address : "?")] += sign;
    }
}

// NULL -> PLAYING -> NULL a hundred times, every other time after the first frame arrived and
// otherwise while the camera is still starting: no GStreamer object or buffer, no descriptor
// (message window, camera socket) and no thread is left behind.
TEST(QuorixSrc, HundredStartsAndStopsLeakNothing) {
    GstTracer* tracer = LeaksTracer();
    ASSERT_NE(tracer, nullptr) << "GST_TRACERS=leaks is set by main()";
    const Pipeline pipeline = Launch("quorixsrc ! video/x-bayer ! fakesink name=sink");
    ASSERT_TRUE(pipeline);
    std::atomic<int> buffers{0};
    GstPad* pad = gst_element_get_static_pad(ByName(pipeline, "sink"), "sink");
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, NoteBuffer, &buffers, nullptr);
    gst_object_unref(pad);
    const auto cycle = [&](bool waitForFrame) {
        buffers.store(0);
        ASSERT_NE(gst_element_set_state(pipeline.get(), GST_STATE_PLAYING),
                  GST_STATE_CHANGE_FAILURE);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (waitForFrame && buffers.load() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        EXPECT_TRUE(!waitForFrame || buffers.load() > 0) << "no frame";
        ASSERT_EQ(gst_element_set_state(pipeline.get(), GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    };
    // The first start loads what stays for the process: plugins, types, the SDK's tables.
    cycle(true);
    const size_t descriptors = OpenDescriptors();
    g_signal_emit_by_name(tracer, "activity-start-tracking");
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i) {
        cycle(i % 10 == 0);
    }
    std::printf("100 starts and stops in %.1f s\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    GstStructure* checkpoint = nullptr;
    g_signal_emit_by_name(tracer, "activity-get-checkpoint", &checkpoint);
    g_signal_emit_by_name(tracer, "activity-stop-tracking");
    ASSERT_NE(checkpoint, nullptr);
    // Objects made during the cycles and not freed since; an address may serve several objects
    // one after another.
    std::map<std::string, int> net;
    Tally(checkpoint, "objects-created-list", 1, &net);
    EXPECT_GT(net.size(), 100u) << "the leaks tracer saw no objects being made";
    Tally(checkpoint, "objects-removed-list", -1, &net);
    gst_structure_free(checkpoint);
    for (const auto& [object, count] : net) {
        EXPECT_LE(count, 0) << object << " was made and never freed";
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "descriptors left open";
    gst_object_unref(tracer);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The plugin from the build tree, the few system plugins the pipelines use, and a registry of
    // the test's own; scanned in this process, which also works when it runs under a sanitizer.
    setenv("GST_PLUGIN_PATH_1_0", QUORIX_GST_PLUGIN_DIR, 1);
    setenv("GST_PLUGIN_SYSTEM_PATH_1_0", QUORIX_GST_SYSTEM_PLUGINS, 1);
    setenv("GST_REGISTRY_1_0", QUORIX_GST_REGISTRY, 1);
    setenv("GST_REGISTRY_FORK", "no", 1);
    setenv("GST_TRACERS", "leaks", 1);
    gst_init(nullptr, nullptr);
    ::testing::AddGlobalTestEnvironment(new CamsimEnvironment);
    const int result = RUN_ALL_TESTS();
    gst_deinit();
    return result;
}
