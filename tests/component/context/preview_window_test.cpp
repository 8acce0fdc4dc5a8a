// The preview window on an X server of the test's own (Xvfb, started by the test): what the window
// shows is read back with XGetImage and compared with the frame the SDK delivered, drawn by the
// window's rules (gray for 8 and 16 bits, the 16-bit high byte, B G R for 24 bits, nearest
// neighbour sampled from the bottom row up when the sizes differ). Every screenshot is kept as a
// PNG file in the build tree (tests/screenshots) for a person to look at.

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "context_test_support.h"
#include "output/image_file.h"
#include "picture_support.h"
#include "support/x_server.h"

// Xlib last: its macros (None, Bool, Status) would rename GoogleTest's names.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace quorix {
namespace {

using test::ContextCameraTest;
using test::XServer;

constexpr int32_t kScreenWidth = XServer::kScreenWidth;
constexpr int32_t kScreenHeight = XServer::kScreenHeight;
// The frame of the whole sensor with 2x2 sub-sampling.
constexpr int32_t kFrameWidth = 1024;
constexpr int32_t kFrameHeight = 768;
constexpr int32_t kMessageWaitMs = 10'000;

// A window seen from the test's own connection.
struct SeenWindow {
    Window id = 0;
    std::string className;
    std::string title;
    int x = 0;  // in its parent
    int y = 0;
    int width = 0;
    int height = 0;
    bool mapped = false;
};

// The picture a window shows as 24-bit B, G, R, top row first.
struct Shot {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bgr;
    const uint8_t* At(int x, int y) const {
        return bgr.data() + (static_cast<size_t>(y) * static_cast<size_t>(width) + x) * 3;
    }
};

// The picture a window must show for a frame the SDK delivered (rows top-down), at a client size:
// gray for the 8- and 16-bit types (16 bits: the high byte of each little-endian sample), B, G, R
// for 24 bits; window row d shows frame row h - 1 - trunc((ch - 1 - d) * h / ch) and window
// column j frame column trunc(j * w / cw), the ratios in single precision.
Shot ExpectedWindow(const std::vector<uint8_t>& frame, int32_t bits, int32_t width, int32_t height,
                    int32_t clientWidth, int32_t clientHeight) {
    Shot shot{clientWidth, clientHeight, {}};
    shot.bgr.resize(static_cast<size_t>(clientWidth) * static_cast<size_t>(clientHeight) * 3);
    const size_t stride = test::StrideOf(width, bits);
    const float rx = static_cast<float>(width) / static_cast<float>(clientWidth);
    const float ry = static_cast<float>(height) / static_cast<float>(clientHeight);
    for (int d = 0; d < clientHeight; ++d) {
        const int fromBottom =
            std::min(static_cast<int>(static_cast<float>(clientHeight - 1 - d) * ry), height - 1);
        const int row = height - 1 - fromBottom;
        for (int j = 0; j < clientWidth; ++j) {
            const int column = std::min(static_cast<int>(static_cast<float>(j) * rx), width - 1);
            const uint8_t* p = frame.data() + static_cast<size_t>(row) * stride +
                               static_cast<size_t>(column) * static_cast<size_t>(bits / 8);
            uint8_t* out = shot.bgr.data() + (static_cast<size_t>(d) * clientWidth + j) * 3;
            if (bits == 24) {
                std::copy(p, p + 3, out);
            } else {
                std::fill(out, out + 3, bits == 16 ? p[1] : p[0]);
            }
        }
    }
    return shot;
}

class PreviewWindowTest : public ContextCameraTest {
protected:
    static void SetUpTestSuite() {
        s_server = new XServer();
        s_startFailure = s_server->Start();
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override {
        ASSERT_EQ(s_startFailure, "");
        setenv("DISPLAY", s_server->Name().c_str(), 1);
        XInitThreads();
        m_display = XOpenDisplay(nullptr);
        ASSERT_NE(m_display, nullptr) << "the test's own connection to " << s_server->Name();
        std::filesystem::create_directories(QUORIX_SCREENSHOT_DIR);
    }
    void TearDown() override {
        ContextCameraTest::TearDown();
        for (QuorixWindow window : m_windows) {
            Quorix_DestroyMessageWindow(window);
        }
        if (m_display != nullptr) {
            XCloseDisplay(m_display);
        }
    }

    // A context on its own emulated camera (the cameras are opened by index), making sub-sampled
    // frames of the whole sensor at `bits` per pixel.
    QuorixHandle OpenContext(int32_t cameraIndex, int32_t bits, QuorixWindow notify = nullptr) {
        const QuorixHandle handle = Quorix_Initialize(notify);
        EXPECT_NE(handle, 0u);
        m_handles.push_back(handle);
        EXPECT_EQ(Quorix_SetDeviceNumber(handle, cameraIndex), 1);
        EXPECT_EQ(Quorix_SetSubSample(handle, 1), 1);
        EXPECT_EQ(Quorix_SetColorMode(handle, bits), 1);
        return handle;
    }
    QuorixWindow MessageWindow() {
        m_windows.push_back(Quorix_CreateMessageWindow());
        return m_windows.back();
    }

    // The class prefix of a context's preview windows: "VideoRenderer_" and its address.
    static std::string ClassPrefix(QuorixHandle handle) {
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "VideoRenderer_%08x_",
                      static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&ContextOf(handle))));
        return prefix;
    }

    // Every window on the display whose class starts with `prefix`.
    std::vector<SeenWindow> FindWindows(const std::string& prefix) {
        std::vector<SeenWindow> found;
        XSync(m_display, False);
        const std::function<void(Window)> visit = [&](Window window) {
            Window root = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned count = 0;
            if (XQueryTree(m_display, window, &root, &parent, &children, &count) == 0) {
                return;
            }
            const std::vector<Window> list(children, children + count);
            if (children != nullptr) {
                XFree(children);
            }
            for (const Window child : list) {
                XClassHint hint{};
                if (XGetClassHint(m_display, child, &hint) != 0) {
                    const std::string name = hint.res_class != nullptr ? hint.res_class : "";
                    XFree(hint.res_name);
                    XFree(hint.res_class);
                    if (name.rfind(prefix, 0) == 0) {
                        SeenWindow seen;
                        seen.id = child;
                        seen.className = name;
                        char* title = nullptr;
                        if (XFetchName(m_display, child, &title) != 0 && title != nullptr) {
                            seen.title = title;
                            XFree(title);
                        }
                        XWindowAttributes attributes{};
                        XGetWindowAttributes(m_display, child, &attributes);
                        seen.x = attributes.x;
                        seen.y = attributes.y;
                        seen.width = attributes.width;
                        seen.height = attributes.height;
                        seen.mapped = attributes.map_state != IsUnmapped;
                        found.push_back(seen);
                    }
                }
                visit(child);
            }
        };
        visit(DefaultRootWindow(m_display));
        return found;
    }
    // The one preview window of a context.
    SeenWindow OnlyWindow(QuorixHandle handle) {
        const std::vector<SeenWindow> found = FindWindows(ClassPrefix(handle));
        EXPECT_EQ(found.size(), 1u) << "preview windows of the context";
        return found.empty() ? SeenWindow{} : found.front();
    }

    // What a window shows, saved as <name>.png in the build tree.
    Shot Screenshot(Window window, int width, int height, const std::string& name) {
        Shot shot{width, height, {}};
        XImage* image = XGetImage(m_display, window, 0, 0, static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), AllPlanes, ZPixmap);
        EXPECT_NE(image, nullptr) << "XGetImage of " << name;
        if (image == nullptr) {
            return shot;
        }
        CImageBuffer png;
        EXPECT_TRUE(png.Create(width, height, 24));
        shot.bgr.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const unsigned long pixel = XGetPixel(image, x, y);
                const uint8_t bgr[3] = {static_cast<uint8_t>(pixel & image->blue_mask),
                                        static_cast<uint8_t>((pixel & image->green_mask) >> 8),
                                        static_cast<uint8_t>((pixel & image->red_mask) >> 16)};
                std::copy(bgr, bgr + 3, shot.bgr.data() + (static_cast<size_t>(y) * width + x) * 3);
                std::copy(bgr, bgr + 3, png.Row(y) + 3 * x);
            }
        }
        XDestroyImage(image);
        const std::string file = std::string(QUORIX_SCREENSHOT_DIR) + "/" + name + ".png";
        EXPECT_EQ(SaveImageFile(file.c_str(), png, kFilePng), SaveResult::kSaved) << file;
        return shot;
    }

    // Compares a screenshot with the expected picture, pixel by pixel.
    static void ExpectSame(const Shot& seen, const Shot& expected, const std::string& what) {
        ASSERT_EQ(seen.width, expected.width) << what;
        ASSERT_EQ(seen.height, expected.height) << what;
        test::Findings findings(what);
        for (int y = 0; y < seen.height; ++y) {
            for (int x = 0; x < seen.width; ++x) {
                findings.Checked();
                if (!std::equal(seen.At(x, y), seen.At(x, y) + 3, expected.At(x, y))) {
                    findings.Add("(" + std::to_string(x) + ", " + std::to_string(y) + ") shows " +
                                 std::to_string(seen.At(x, y)[0]) + "/" +
                                 std::to_string(seen.At(x, y)[1]) + "/" +
                                 std::to_string(seen.At(x, y)[2]) + ", expected " +
                                 std::to_string(expected.At(x, y)[0]) + "/" +
                                 std::to_string(expected.At(x, y)[1]) + "/" +
                                 std::to_string(expected.At(x, y)[2]));
                }
            }
        }
        findings.Report();
    }

    // Waits for `count` frame messages that carry a frame.
    static bool WaitForFrames(QuorixWindow window, int count) {
        QuorixMessage message{};
        for (int seen = 0; seen < count;) {
            if (Quorix_GetWindowMessage(window, &message, kMessageWaitMs) != 1) {
                return false;
            }
            if (message.message == QUORIX_MSG_FRAME && message.wParam != 0) {
                ++seen;
            }
        }
        return true;
    }
    // Waits for a message of one kind, passing over the others.
    static bool WaitForMessage(QuorixWindow window, uint32_t kind) {
        QuorixMessage message{};
        while (Quorix_GetWindowMessage(window, &message, kMessageWaitMs) == 1) {
            if (message.message == kind) {
                return true;
            }
        }
        return false;
    }

    // The last frame the preview processed (after Quorix_StopPreview), top row first.
    static std::vector<uint8_t> LastFrame(QuorixHandle handle, int32_t bits) {
        std::vector<uint8_t> frame(test::StrideOf(kFrameWidth, bits) * kFrameHeight);
        EXPECT_EQ(Quorix_GetImage(handle, frame.data(), static_cast<uint32_t>(frame.size()), 1), 1);
        return frame;
    }

    static size_t OpenDescriptors() {
        size_t count = 0;
        for ([[maybe_unused]] const auto& entry :
             std::filesystem::directory_iterator("/proc/self/fd")) {
            ++count;
        }
        return count;
    }
    // Shared-memory segments mapped into this process.
    static size_t SharedSegments() {
        std::ifstream maps("/proc/self/maps");
        size_t count = 0;
        for (std::string line; std::getline(maps, line);) {
            count += line.find("SYSV") != std::string::npos ? 1 : 0;
        }
        return count;
    }

    static inline XServer* s_server = nullptr;
    static inline std::string s_startFailure;
    Display* m_display = nullptr;
    std::vector<QuorixWindow> m_windows;
};

// The window shows the frame the SDK delivered, upright and pixel for pixel: the 8- and 24-bit
// frames straight, the 16-bit frame by its high bytes through the back buffer. The default
// placement makes a top-level window "Active Window" whose client area is the sub-sampled frame
// (1024 x 768 of the 2048 x 1536 sensor), centred on the screen.
class PreviewPicture : public PreviewWindowTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(PreviewPicture, WindowShowsTheDeliveredFrame) {
    const int32_t bits = GetParam();
    Attach("PICTURE");
    const QuorixHandle handle = OpenContext(0, bits);
    const QuorixWindow frames = MessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrames(frames, 3));
    ASSERT_EQ(Quorix_StopPreview(handle), 1);

    const SeenWindow window = OnlyWindow(handle);
    EXPECT_EQ(window.title, "Active Window");
    EXPECT_EQ(window.width, kFrameWidth);
    EXPECT_EQ(window.height, kFrameHeight);
    EXPECT_EQ(window.x, (kScreenWidth - kFrameWidth) / 2);
    EXPECT_EQ(window.y, (kScreenHeight - kFrameHeight) / 2);
    EXPECT_TRUE(window.mapped);
    const Shot seen = Screenshot(window.id, kFrameWidth, kFrameHeight,
                                 "top_level_" + std::to_string(bits) + "_bit");
    ExpectSame(seen,
               ExpectedWindow(LastFrame(handle, bits), bits, kFrameWidth, kFrameHeight, kFrameWidth,
                              kFrameHeight),
               std::to_string(bits) + "-bit frame in its window");
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, PreviewPicture, ::testing::Values(8, 16, 24),
                         [](const ::testing::TestParamInfo<int32_t>& info) {
                             return std::to_string(info.param) + "Bit";
                         });

// A window resized from outside (wider and lower than the frame) is filled by scaling from the
// next frame on, by the ratio rule.
TEST_F(PreviewWindowTest, ResizedWindowIsFilledByScaling) {
    constexpr int32_t kWidth = 1500;
    constexpr int32_t kHeight = 500;
    Attach("RESIZE");
    const QuorixHandle handle = OpenContext(0, 24);
    const QuorixWindow frames = MessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrames(frames, 2));
    const SeenWindow window = OnlyWindow(handle);
    XResizeWindow(m_display, window.id, kWidth, kHeight);
    XSync(m_display, False);
    ASSERT_TRUE(WaitForFrames(frames, 5));
    ASSERT_EQ(Quorix_StopPreview(handle), 1);

    const Shot seen = Screenshot(window.id, kWidth, kHeight, "resized_24_bit");
    ExpectSame(
        seen, ExpectedWindow(LastFrame(handle, 24), 24, kFrameWidth, kFrameHeight, kWidth, kHeight),
        "frame scaled into the resized window");
}

// Child windows inside a window of the application: two contexts previewing at once get distinct
// classes and each draws its own frame at its own place; a child of 0 x 0 is made but never shows
// anything while its preview delivers frames; a parent that is no window is refused with code 4
// (the X error it raises does not end the process).
TEST_F(PreviewWindowTest, ChildWindowsOfTwoContextsAndAnEmptyOne) {
    for (const char* serial : {"LEFT", "RIGHT", "EMPTY"}) {
        Attach(serial);
    }
    const Window parent = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0,
                                              2 * kFrameWidth + 64, kFrameHeight + 32, 0, 0, 0);
    XMapWindow(m_display, parent);
    XSync(m_display, False);
    const QuorixWindow wrapped = Quorix_WrapX11Window(parent);
    ASSERT_NE(wrapped, nullptr);

    const QuorixHandle refused = OpenContext(2, 8);
    ASSERT_EQ(Quorix_SetPreviewWindow(refused, Quorix_WrapX11Window(0x1FFFFFFF), 0, 0, 64, 64), 1);
    EXPECT_EQ(Quorix_Preview(refused), 0);
    EXPECT_EQ(Quorix_GetLastError(refused), QUORIX_ERR_WINDOW);

    struct Child {
        QuorixHandle handle;
        int32_t bits;
        int x;
        int y;
    };
    const std::vector<Child> children = {{OpenContext(0, 24), 24, 0, 0},
                                         {OpenContext(1, 8), 8, kFrameWidth + 48, 16}};
    const QuorixWindow frames = MessageWindow();
    for (const Child& child : children) {
        ASSERT_EQ(Quorix_SetPreviewWindow(child.handle, wrapped, child.x, child.y, kFrameWidth,
                                          kFrameHeight),
                  1);
        ASSERT_EQ(Quorix_CallBackPreview(child.handle, frames, nullptr, 0, 1), 1);
    }
    ASSERT_EQ(Quorix_SetPreviewWindow(refused, wrapped, 10, 10, 0, 0), 1);
    const QuorixWindow emptyFrames = MessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(refused, emptyFrames, nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrames(frames, 6));
    ASSERT_TRUE(WaitForFrames(emptyFrames, 3)) << "the preview with the empty child delivers";

    std::vector<std::string> classes;
    for (const Child& child : children) {
        ASSERT_EQ(Quorix_StopPreview(child.handle), 1);
        const SeenWindow window = OnlyWindow(child.handle);
        classes.push_back(window.className);
        EXPECT_EQ(window.title, "ActiveMovie Window");
        EXPECT_EQ(window.x, child.x);
        EXPECT_EQ(window.y, child.y);
        const std::string name = "child_" + std::to_string(child.bits) + "_bit";
        ExpectSame(Screenshot(window.id, kFrameWidth, kFrameHeight, name),
                   ExpectedWindow(LastFrame(child.handle, child.bits), child.bits, kFrameWidth,
                                  kFrameHeight, kFrameWidth, kFrameHeight),
                   name);
    }
    EXPECT_NE(classes[0], classes[1]);

    const SeenWindow empty = OnlyWindow(refused);
    EXPECT_EQ(empty.title, "ActiveMovie Window");
    EXPECT_FALSE(empty.mapped) << "a 0 x 0 window shows nothing";
    EXPECT_EQ(Quorix_StopPreview(refused), 1);
    XDestroyWindow(m_display, parent);
}

// Stopped and started again, the preview draws into the window it had (a recording that shows the
// window too); Quorix_Close destroys it. Repeated, nothing stays behind: no window, no connection
// to the display, no shared-memory image (and, under AddressSanitizer, no memory).
TEST_F(PreviewWindowTest, RestartReusesTheWindowAndCloseRemovesIt) {
    Attach("REUSE");
    const QuorixHandle handle = OpenContext(0, 24);
    const QuorixWindow frames = MessageWindow();
    const std::string avi = std::string(QUORIX_SCREENSHOT_DIR) + "/reuse.avi";
    size_t descriptors = 0;
    size_t segments = 0;
    for (int round = 0; round < 4; ++round) {
        ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
        ASSERT_TRUE(WaitForFrames(frames, 2));
        ASSERT_EQ(Quorix_StopPreview(handle), 1);
        const SeenWindow first = OnlyWindow(handle);

        // The same window: the same id and class (every new window gets a class of its own).
        const auto same = [&](const SeenWindow& window) {
            return window.id == first.id && window.className == first.className;
        };
        ASSERT_EQ(Quorix_Record(handle, avi.c_str(), 60'000, 1), 1);
        ASSERT_EQ(Quorix_StopPreview(handle), 1);
        EXPECT_TRUE(same(OnlyWindow(handle))) << "a recording shows another window";
        ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
        ASSERT_TRUE(WaitForFrames(frames, 2));
        EXPECT_TRUE(same(OnlyWindow(handle))) << "a restart shows another window";

        ASSERT_EQ(Quorix_Close(handle), 1);
        EXPECT_TRUE(FindWindows(ClassPrefix(handle)).empty()) << "Quorix_Close leaves a window";
        // The first round sets up what stays for the process (the emulator, Xlib's own state).
        if (round == 0) {
            descriptors = OpenDescriptors();
            segments = SharedSegments();
        }
    }
    EXPECT_EQ(OpenDescriptors(), descriptors) << "descriptors left open (display connections)";
    EXPECT_EQ(SharedSegments(), segments) << "shared-memory images left mapped";
    std::filesystem::remove(avi);
}

// A person closing the window (the window manager's WM_DELETE_WINDOW) stops the preview as
// Quorix_StopPreview would: the window goes, QUORIX_MSG_PREVIEW_CLOSED reaches the notification
// window, the context is idle (a snapshot works), and the next preview makes a new window.
TEST_F(PreviewWindowTest, ClosingTheWindowStopsThePreview) {
    Attach("CLOSE");
    const QuorixWindow notify = MessageWindow();
    const QuorixHandle handle = OpenContext(0, 8, notify);
    const QuorixWindow frames = MessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrames(frames, 2));
    const SeenWindow window = OnlyWindow(handle);

    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window.id;
    close.xclient.message_type = XInternAtom(m_display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(m_display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_display, window.id, False, NoEventMask, &close);
    XSync(m_display, False);

    ASSERT_TRUE(WaitForMessage(notify, QUORIX_MSG_PREVIEW_CLOSED));
    EXPECT_TRUE(FindWindows(ClassPrefix(handle)).empty());
    std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight);
    EXPECT_EQ(Quorix_SnapShot(handle, frame.data(), static_cast<uint32_t>(frame.size()), 1), 1)
        << "the preview still runs";

    ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrames(frames, 2));
    EXPECT_NE(OnlyWindow(handle).className, window.className);
    EXPECT_EQ(Quorix_Close(handle), 1);
}

// A display that refuses connections for a moment, as a server does while it resets after its
// last client left (the preview window the person just closed), is waited for: the preview starts
// once the server answers again instead of failing with "no display".
TEST_F(PreviewWindowTest, DisplayRefusingConnectionsForAMomentIsWaitedFor) {
    // A number far above those servers pick for themselves, and one per test process.
    const int number = 900 + static_cast<int>(getpid() % 90);
    ASSERT_FALSE(std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(number)));
    setenv("DISPLAY", (":" + std::to_string(number)).c_str(), 1);
    Attach("LATE");
    const QuorixHandle handle = OpenContext(0, 8);
    const QuorixWindow frames = MessageWindow();
    // The server is started from this thread: it is bound to the life of the thread that
    // starts it.
    XServer late;
    int result = 0;
    std::thread previewer([&] { result = Quorix_CallBackPreview(handle, frames, nullptr, 0, 1); });
    usleep(300'000);
    const std::string started = late.Start(number);
    previewer.join();
    ASSERT_EQ(started, "");
    EXPECT_EQ(result, 1) << "the preview gave up on a display that answered 0.3 s later, code "
                         << Quorix_GetLastError(handle);
    EXPECT_TRUE(WaitForFrames(frames, 2));
    EXPECT_EQ(Quorix_Close(handle), 1);
}

// A display that goes away while the preview shows on it (the server ends) ends the window, never
// the process: the preview stops and the application hears of it as of a closed window.
TEST_F(PreviewWindowTest, DisplayGoingAwayEndsTheWindowNotTheProcess) {
    XServer doomed;
    ASSERT_EQ(doomed.Start(), "");
    setenv("DISPLAY", doomed.Name().c_str(), 1);
    Attach("DOOMED");
    const QuorixWindow notify = MessageWindow();
    const QuorixHandle handle = OpenContext(0, 8, notify);
    const QuorixWindow frames = MessageWindow();
    ASSERT_EQ(Quorix_CallBackPreview(handle, frames, nullptr, 0, 1), 1);
    ASSERT_TRUE(WaitForFrames(frames, 2));
    doomed.Kill();
    ASSERT_TRUE(WaitForMessage(notify, QUORIX_MSG_PREVIEW_CLOSED));
    std::vector<uint8_t> frame(static_cast<size_t>(kFrameWidth) * kFrameHeight);
    EXPECT_EQ(Quorix_SnapShot(handle, frame.data(), static_cast<uint32_t>(frame.size()), 1), 1);
    EXPECT_EQ(Quorix_Close(handle), 1);
}

}  // namespace
}  // namespace quorix
