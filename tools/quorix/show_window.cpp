#include "show_window.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdlib>

namespace quorix::cli {

struct ShowWindow::X {
    Display* display = nullptr;
    Window window = 0;
    Atom wmProtocols = 0;
    Atom wmDelete = 0;
};

ShowWindow::ShowWindow() : m_x(std::make_unique<X>()) {}

std::unique_ptr<ShowWindow> ShowWindow::Open(int32_t width, int32_t height,
                                             const std::string& title, std::string* error) {
    std::unique_ptr<ShowWindow> show(new ShowWindow());
    X& x = *show->m_x;
    x.display = XOpenDisplay(nullptr);
    if (x.display == nullptr) {
        const char* name = std::getenv("DISPLAY");
        *error = name == nullptr || *name == '\0'
                     ? std::string("no X display (DISPLAY is not set)")
                     : "cannot open the X display " + std::string(name);
        return nullptr;
    }
    // Shrunk to at most nine tenths of the screen each way, in the picture's shape.
    const int screen = DefaultScreen(x.display);
    const double fit = std::min({1.0, 0.9 * DisplayWidth(x.display, screen) / std::max(width, 1),
                                 0.9 * DisplayHeight(x.display, screen) / std::max(height, 1)});
    show->m_width = std::max(1, static_cast<int32_t>(width * fit));
    show->m_height = std::max(1, static_cast<int32_t>(height * fit));
    x.window = XCreateSimpleWindow(x.display, RootWindow(x.display, screen), 0, 0,
                                   static_cast<unsigned>(show->m_width),
                                   static_cast<unsigned>(show->m_height), 0, 0, 0);
    XSelectInput(x.display, x.window, StructureNotifyMask);
    x.wmProtocols = XInternAtom(x.display, "WM_PROTOCOLS", False);
    x.wmDelete = XInternAtom(x.display, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(x.display, x.window, &x.wmDelete, 1);
    XClassHint hint{};
    hint.res_name = const_cast<char*>("quorix");
    hint.res_class = const_cast<char*>("Quorix");
    XSetClassHint(x.display, x.window, &hint);
    show->SetTitle(title);
    XMapWindow(x.display, x.window);
    XSync(x.display, False);
    return show;
}

ShowWindow::~ShowWindow() {
    if (m_x->display != nullptr) {
        XDestroyWindow(m_x->display, m_x->window);
        XCloseDisplay(m_x->display);
    }
}

QuorixWindow ShowWindow::Parent() const {
    return Quorix_WrapX11Window(m_x->window);
}

void ShowWindow::SetTitle(const std::string& title) {
    XStoreName(m_x->display, m_x->window, title.c_str());
    XFlush(m_x->display);
}

bool ShowWindow::Pump() {
    X& x = *m_x;
    while (XPending(x.display) > 0) {
        XEvent event{};
        XNextEvent(x.display, &event);
        if (event.type == ClientMessage && event.xclient.message_type == x.wmProtocols &&
            static_cast<Atom>(event.xclient.data.l[0]) == x.wmDelete) {
            m_closed = true;
        } else if (event.type == ConfigureNotify && event.xconfigure.window == x.window &&
                   (event.xconfigure.width != m_width || event.xconfigure.height != m_height)) {
            // The library's window, the tool window's only child, follows the new size.
            m_width = event.xconfigure.width;
            m_height = event.xconfigure.height;
            Window root = 0;
            Window parent = 0;
            Window* children = nullptr;
            unsigned count = 0;
            if (XQueryTree(x.display, x.window, &root, &parent, &children, &count) != 0) {
                for (unsigned i = 0; i < count; ++i) {
                    XResizeWindow(x.display, children[i], static_cast<unsigned>(m_width),
                                  static_cast<unsigned>(m_height));
                }
                if (children != nullptr) {
                    XFree(children);
                }
            }
            XFlush(x.display);
        } else if (event.type == DestroyNotify && event.xdestroywindow.window == x.window) {
            m_closed = true;
        }
    }
    return !m_closed;
}

}  // namespace quorix::cli
