#include "platform/display_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "platform/log.h"

namespace quorix::platform {

// The Xlib side of one display window: its connection and what lives on it.
struct X11Connection {
    Display* display = nullptr;
    Visual* visual = nullptr;
    int depth = 0;
    Colormap colormap = 0;
    bool ownColormap = false;
    GC gc = nullptr;
    bool ownGc = false;  // made for a window of another depth than the screen's
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    Atom wmProtocols = 0;
    Atom wmDelete = 0;
    std::atomic<uint64_t> errors{0};
    std::atomic<bool> broken{false};
};

namespace {

// The library's connections by display, for the process-wide error handler.
struct ConnectionTable {
    std::mutex mutex;
    std::unordered_map<Display*, X11Connection*> connections;
    XErrorHandler previous = nullptr;
    XIOErrorHandler previousIo = nullptr;
};

ConnectionTable& Connections() {
    static ConnectionTable table;
    return table;
}

// Errors on the library's own connections are counted and logged; the window's owner sees them
// as failed requests. Errors on the application's connections go to its handler as before.
int OnXError(Display* display, XErrorEvent* event) {
    XErrorHandler previous = nullptr;
    {
        ConnectionTable& table = Connections();
        std::lock_guard lock(table.mutex);
        const auto it = table.connections.find(display);
        if (it != table.connections.end()) {
            it->second->errors.fetch_add(1);
            Log("Display", "X error %u on request %u.%u (resource 0x%lx)",
                static_cast<unsigned>(event->error_code),
                static_cast<unsigned>(event->request_code),
                static_cast<unsigned>(event->minor_code), event->resourceid);
            return 0;
        }
        previous = table.previous;
    }
    return previous != nullptr ? previous(display, event) : 0;
}

// A broken connection (the server went away) of the library's marks its window destroyed. Xlib
// first calls the process's I/O error handler, whose default ends the process, then the
// connection's exit handler: the library's handlers both return for its own connections, so the
// process goes on and Xlib fails the connection's later requests at once. A broken connection of
// the application goes to its handler as before.
int OnIoError(Display* display) {
    XIOErrorHandler previous = nullptr;
    {
        ConnectionTable& table = Connections();
        std::lock_guard lock(table.mutex);
        const auto it = table.connections.find(display);
        if (it != table.connections.end()) {
            it->second->broken.store(true);
            Log("Display", "the connection to the X display broke");
            return 0;
        }
        previous = table.previousIo;
    }
    return previous != nullptr ? previous(display) : 0;
}

// The exit handler of the library's connections: returning is what keeps the process alive (the
// default one ends it); OnIoError has already marked the connection.
void OnConnectionLost(Display*, void*) {}

void InitialiseXlib() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Before any other Xlib call of the library: each connection is used by its window's
        // drawing thread while the application's threads open and close others.
        XInitThreads();
        ConnectionTable& table = Connections();
        std::lock_guard lock(table.mutex);
        table.previous = XSetErrorHandler(OnXError);
        table.previousIo = XSetIOErrorHandler(OnIoError);
    });
}

}  // namespace

void ReinstallXErrorHandlers() {
    InitialiseXlib();
    ConnectionTable& table = Connections();
    std::lock_guard lock(table.mutex);
    const XErrorHandler previous = XSetErrorHandler(OnXError);
    if (previous != OnXError) {
        table.previous = previous;
    }
    const XIOErrorHandler previousIo = XSetIOErrorHandler(OnIoError);
    if (previousIo != OnIoError) {
        table.previousIo = previousIo;
    }
}

namespace {

void Register(Display* display, X11Connection* connection) {
    ConnectionTable& table = Connections();
    std::lock_guard lock(table.mutex);
    table.connections.insert_or_assign(display, connection);
}

// Only the entry of this connection goes: a display opened meanwhile at the same address by
// another window keeps its own.
void Unregister(Display* display, const X11Connection* connection) {
    ConnectionTable& table = Connections();
    std::lock_guard lock(table.mutex);
    const auto it = table.connections.find(display);
    if (it != table.connections.end() && it->second == connection) {
        table.connections.erase(it);
    }
}

// Bits per pixel of the images of a depth, as the server lays them out; 0 when unknown.
int BitsPerPixelOfDepth(Display* display, int depth) {
    int count = 0;
    XPixmapFormatValues* formats = XListPixmapFormats(display, &count);
    int bits = 0;
    for (int i = 0; i < count; ++i) {
        if (formats[i].depth == depth) {
            bits = formats[i].bits_per_pixel;
        }
    }
    if (formats != nullptr) {
        XFree(formats);
    }
    return bits;
}

}  // namespace

DisplayWindow::DisplayWindow() : m_x(std::make_unique<X11Connection>()) {}

namespace {

// How long a display that refuses connections is tried again before it counts as missing [ms].
constexpr uint64_t kDisplayRetryMs = 2000;
constexpr uint32_t kDisplayRetryStepMs = 50;

// Opens the display DISPLAY names. A server that resets when its last client leaves (Xvfb does,
// unless told not to) refuses connections for a moment after that: when the preview window that
// was its only client has just been closed, the next preview would find no display. So a named
// display is tried again for a while; without DISPLAY there is nothing to wait for.
Display* OpenDisplay() {
    const char* name = std::getenv("DISPLAY");  // NOLINT(concurrency-mt-unsafe): read only
    if (name == nullptr || name[0] == '\0') {
        return nullptr;
    }
    // The server keeps real time, whatever pace the SDK's own clock is given.
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kDisplayRetryMs);
    for (;;) {
        if (Display* display = XOpenDisplay(nullptr)) {
            return display;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kDisplayRetryStepMs));
    }
}

}  // namespace

std::unique_ptr<DisplayWindow> DisplayWindow::Create(const Options& options, CreateResult* result) {
    InitialiseXlib();
    *result = CreateResult::kNoDisplay;
    Display* display = OpenDisplay();
    if (display == nullptr) {
        Log("Display", "no X display (DISPLAY=%s)",
            std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : "");
        return nullptr;
    }
    std::unique_ptr<DisplayWindow> window(new DisplayWindow());
    window->m_x->display = display;
    Register(display, window->m_x.get());
    XSetIOErrorExitHandler(display, OnConnectionLost, nullptr);
    window->m_fd = ConnectionNumber(display);
    *result = CreateResult::kRefused;
    if (!window->Open(options)) {
        return nullptr;
    }
    *result = CreateResult::kCreated;
    return window;
}

bool DisplayWindow::Open(const Options& options) {
    X11Connection& x = *m_x;
    Display* display = x.display;
    const int screen = DefaultScreen(display);
    Window parent = RootWindow(display, screen);
    x.visual = DefaultVisual(display, screen);
    x.depth = DefaultDepth(display, screen);
    if (options.parent != 0) {
        // A child takes its parent's visual, as X requires of a window that copies from it.
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, options.parent, &attributes) == 0 || !NoNewErrors()) {
            Log("Display", "parent 0x%x is no window", options.parent);
            return false;
        }
        parent = options.parent;
        x.visual = attributes.visual;
        x.depth = attributes.depth;
    }
    if (x.visual->c_class != TrueColor) {
        Log("Display", "the display has no true-colour visual");
        return false;
    }
    const int bits = BitsPerPixelOfDepth(display, x.depth);
    if (bits != 16 && bits != 24 && bits != 32) {
        Log("Display", "images of depth %d take %d bits per pixel", x.depth, bits);
        return false;
    }
    m_format.bytesPerPixel = bits / 8;
    m_format.msbFirst = ImageByteOrder(display) == MSBFirst;
    m_format.redMask = static_cast<uint32_t>(x.visual->red_mask);
    m_format.greenMask = static_cast<uint32_t>(x.visual->green_mask);
    m_format.blueMask = static_cast<uint32_t>(x.visual->blue_mask);

    if (x.visual == DefaultVisual(display, screen)) {
        x.colormap = DefaultColormap(display, screen);
    } else {
        x.colormap = XCreateColormap(display, parent, x.visual, AllocNone);
        x.ownColormap = true;
    }
    const bool empty = options.width <= 0 || options.height <= 0;
    const int width = std::max(1, options.width);
    const int height = std::max(1, options.height);
    int left = options.left;
    int top = options.top;
    if (options.parent == 0) {
        // Centred on the screen; a window larger than the screen starts at its top-left corner.
        left = std::max(0, (DisplayWidth(display, screen) - width) / 2);
        top = std::max(0, (DisplayHeight(display, screen) - height) / 2);
    }
    XSetWindowAttributes attributes{};
    attributes.background_pixel = 0;  // black in every true-colour visual
    attributes.border_pixel = 0;
    attributes.colormap = x.colormap;
    attributes.event_mask = StructureNotifyMask;
    m_window = static_cast<uint32_t>(
        XCreateWindow(display, parent, left, top, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, x.depth, InputOutput, x.visual,
                      CWBackPixel | CWBorderPixel | CWColormap | CWEventMask, &attributes));
    if (m_window == 0 || !NoNewErrors()) {
        Log("Display", "the window could not be made");
        m_state.destroyed = true;
        return false;
    }
    XClassHint hint{};
    hint.res_name = const_cast<char*>(options.className.c_str());
    hint.res_class = const_cast<char*>(options.className.c_str());
    XSetClassHint(display, m_window, &hint);
    XStoreName(display, m_window, options.title.c_str());
    if (options.parent == 0) {
        // The window manager's close button asks instead of destroying the window.
        x.wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
        x.wmDelete = XInternAtom(display, "WM_DELETE_WINDOW", False);
        XSetWMProtocols(display, m_window, &x.wmDelete, 1);
        XSizeHints* hints = XAllocSizeHints();
        if (hints != nullptr) {
            hints->flags = PPosition | PSize;
            hints->x = left;
            hints->y = top;
            hints->width = width;
            hints->height = height;
            XSetWMNormalHints(display, m_window, hints);
            XFree(hints);
        }
    }
    // The screen's own graphics context where the window has the screen's depth: it lives with
    // the connection, so even a connection that broke leaves nothing of it behind.
    if (x.depth == DefaultDepth(display, screen)) {
        x.gc = DefaultGC(display, screen);
    } else {
        x.gc = XCreateGC(display, m_window, 0, nullptr);
        x.ownGc = true;
    }
    m_state.width = empty ? 0 : width;
    m_state.height = empty ? 0 : height;
    if (!empty) {
        if (options.parent == 0) {
            XMapRaised(display, m_window);
        } else {
            XMapWindow(display, m_window);
        }
    }
    if (!NoNewErrors()) {
        return false;
    }
    int major = 0;
    int minor = 0;
    Bool pixmaps = False;
    m_shmAvailable = XShmQueryVersion(display, &major, &minor, &pixmaps) == True;
    return true;
}

DisplayWindow::~DisplayWindow() {
    X11Connection& x = *m_x;
    if (x.display == nullptr) {
        return;
    }
    FreeImage();
    // A broken connection takes no more requests: what lived on the server went with it.
    if (!x.broken.load()) {
        if (x.gc != nullptr && x.ownGc) {
            XFreeGC(x.display, x.gc);
        }
        DestroyWindow();
        if (x.ownColormap) {
            XFreeColormap(x.display, x.colormap);
        }
    }
    // Closed by the library itself: the server learns of it at once, and no broken connection
    // is ever left behind for Xlib to find.
    XCloseDisplay(x.display);
    Unregister(x.display, &x);
}

bool DisplayWindow::NoNewErrors() {
    XSync(m_x->display, False);
    const uint64_t errors = m_x->errors.load();
    const bool clean = errors == m_errorsSeen && !m_x->broken.load();
    m_errorsSeen = errors;
    return clean;
}

uint64_t DisplayWindow::ErrorCount() const {
    return m_x->errors.load();
}

DisplayWindowState DisplayWindow::ProcessEvents() {
    X11Connection& x = *m_x;
    while (!x.broken.load() && XPending(x.display) > 0) {
        XEvent event{};
        XNextEvent(x.display, &event);
        switch (event.type) {
            case ConfigureNotify:
                if (event.xconfigure.window == m_window) {
                    m_state.width = event.xconfigure.width;
                    m_state.height = event.xconfigure.height;
                }
                break;
            case MapNotify:
                if (event.xmap.window == m_window) {
                    m_state.mapped = true;
                }
                break;
            case UnmapNotify:
                if (event.xunmap.window == m_window) {
                    m_state.mapped = false;
                }
                break;
            case DestroyNotify:
                if (event.xdestroywindow.window == m_window) {
                    m_state.destroyed = true;
                    m_state.mapped = false;
                }
                break;
            case ClientMessage:
                if (x.wmProtocols != 0 && event.xclient.message_type == x.wmProtocols &&
                    static_cast<Atom>(event.xclient.data.l[0]) == x.wmDelete) {
                    m_state.closeRequested = true;
                }
                break;
            default:
                break;
        }
    }
    if (x.broken.load()) {
        m_state.destroyed = true;
        m_state.mapped = false;
    }
    return m_state;
}

void DisplayWindow::DestroyWindow() {
    X11Connection& x = *m_x;
    if (m_window != 0 && !m_state.destroyed && !x.broken.load()) {
        XDestroyWindow(x.display, m_window);
        XSync(x.display, False);
    }
    m_state.destroyed = true;
    m_state.mapped = false;
}

uint8_t* DisplayWindow::Image(int32_t width, int32_t height, int32_t* stride) {
    X11Connection& x = *m_x;
    if (width <= 0 || height <= 0 || m_state.destroyed || x.broken.load()) {
        return nullptr;
    }
    if (x.image == nullptr || x.image->width != width || x.image->height != height) {
        FreeImage();
        if (m_shmAvailable && !MakeSharedImage(width, height)) {
            // A display that offers shared memory may still refuse it (another machine, another
            // IPC namespace): plain images from then on.
            m_shmAvailable = false;
        }
        if (x.image == nullptr && !MakePlainImage(width, height)) {
            return nullptr;
        }
    }
    *stride = x.image->bytes_per_line;
    return reinterpret_cast<uint8_t*>(x.image->data);
}

bool DisplayWindow::MakeSharedImage(int32_t width, int32_t height) {
    X11Connection& x = *m_x;
    x.shm = XShmSegmentInfo{};
    XImage* image =
        XShmCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, nullptr,
                        &x.shm, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image == nullptr) {
        return false;
    }
    const size_t bytes = static_cast<size_t>(image->bytes_per_line) * static_cast<size_t>(height);
    x.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (x.shm.shmid < 0) {
        XDestroyImage(image);
        return false;
    }
    void* address = shmat(x.shm.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(x.shm.shmid, IPC_RMID, nullptr);
        XDestroyImage(image);
        return false;
    }
    x.shm.shmaddr = static_cast<char*>(address);
    x.shm.readOnly = False;
    image->data = x.shm.shmaddr;
    const bool attached = XShmAttach(x.display, &x.shm) != 0 && NoNewErrors();
    // The segment goes away by itself once the server and this process have let go of it, even
    // if the process ends without cleaning up.
    shmctl(x.shm.shmid, IPC_RMID, nullptr);
    if (!attached) {
        Log("Display", "shared-memory images refused; plain images from now on");
        shmdt(x.shm.shmaddr);
        image->data = nullptr;
        XDestroyImage(image);
        return false;
    }
    x.image = image;
    m_shmImage = true;
    return true;
}

bool DisplayWindow::MakePlainImage(int32_t width, int32_t height) {
    X11Connection& x = *m_x;
    const int32_t stride = (width * m_format.bytesPerPixel + 3) & ~3;
    // XDestroyImage frees the pixels with free().
    auto* pixels =
        static_cast<char*>(std::malloc(static_cast<size_t>(stride) * static_cast<size_t>(height)));
    if (pixels == nullptr) {
        return false;
    }
    x.image = XCreateImage(x.display, x.visual, static_cast<unsigned>(x.depth), ZPixmap, 0, pixels,
                           static_cast<unsigned>(width), static_cast<unsigned>(height), 32, stride);
    if (x.image == nullptr) {
        std::free(pixels);
        return false;
    }
    m_shmImage = false;
    return true;
}

void DisplayWindow::FreeImage() {
    X11Connection& x = *m_x;
    if (x.image == nullptr) {
        return;
    }
    if (m_shmImage) {
        if (!x.broken.load()) {
            XShmDetach(x.display, &x.shm);
            XSync(x.display, False);
        }
        shmdt(x.shm.shmaddr);
        x.image->data = nullptr;
    }
    XDestroyImage(x.image);
    x.image = nullptr;
    m_shmImage = false;
}

bool DisplayWindow::PutImage() {
    X11Connection& x = *m_x;
    if (x.image == nullptr || m_state.destroyed || x.broken.load()) {
        return false;
    }
    const auto width = static_cast<unsigned>(x.image->width);
    const auto height = static_cast<unsigned>(x.image->height);
    if (m_shmImage) {
        XShmPutImage(x.display, m_window, x.gc, x.image, 0, 0, 0, 0, width, height, False);
    } else {
        XPutImage(x.display, m_window, x.gc, x.image, 0, 0, 0, 0, width, height);
    }
    // Waits for the server: the shared image must not change while it is being read.
    return NoNewErrors();
}

}  // namespace quorix::platform
