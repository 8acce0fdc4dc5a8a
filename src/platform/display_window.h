#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace quorix::platform {

struct X11Connection;

// How a display window takes its pixels: bytes per pixel in memory (2, 3 or 4), the byte order
// of a pixel value, and where red, green and blue sit in it.
struct DisplayPixelFormat {
    int32_t bytesPerPixel = 4;
    bool msbFirst = false;
    uint32_t redMask = 0xFF0000;
    uint32_t greenMask = 0x00FF00;
    uint32_t blueMask = 0x0000FF;

    // The usual layout of 24-bit displays: four bytes per pixel, blue, green, red, unused.
    bool IsBgrx() const {
        return bytesPerPixel == 4 && !msbFirst && redMask == 0xFF0000 && greenMask == 0x00FF00 &&
               blueMask == 0x0000FF;
    }
};

// What the events read so far say about a display window.
struct DisplayWindowState {
    int32_t width = 0;  // client size [pixels]; 0 x 0 for a window asked to be empty
    int32_t height = 0;
    bool mapped = false;          // shown on the screen (or at least mapped by its owner)
    bool closeRequested = false;  // a person asked to close it (the window manager's close)
    bool destroyed = false;       // the window is gone (destroyed by someone else, or the
                                  // connection to the display broke)
};

// Puts the library's X error and I/O error handlers back in front after a toolkit loaded into the
// process has installed its own. GTK's handlers end the process on a broken connection of any
// display and swallow the errors of connections that are not its own, the library's included:
// with the library's handlers in front again, its connections keep their errors counted and
// survive a display going away, and every other connection's errors still reach the toolkit's.
void ReinstallXErrorHandlers();

// One window on the X display named by DISPLAY, on a connection of its own that the library opens
// for it, so that neither the application's connection nor another window is ever involved.
// Pictures reach the window as client-sized images in the display's pixel layout, through shared
// memory when the display offers it (MIT-SHM) and as plain protocol requests otherwise.
//
// X errors on the library's connections are recorded, never fatal: the library installs one error
// handler and one I/O error handler for the process that count errors and broken connections on
// its own connections and hand everything else to the handlers that were there before. A broken
// connection (the server went away) marks the window destroyed instead of ending the process.
//
// After Create, the window must be used by one thread at a time (its owner's drawing thread).
class DisplayWindow {
public:
    struct Options {
        // X window id of the parent; 0 for a top-level window.
        uint32_t parent = 0;
        // Position in the parent [pixels]; ignored for a top-level window, which is centred on
        // its screen.
        int32_t left = 0;
        int32_t top = 0;
        // Client size [pixels]. A child of 0 x 0 (or less) exists but stays unmapped: X has no
        // empty windows.
        int32_t width = 0;
        int32_t height = 0;
        std::string title;
        // The window's class (its WM_CLASS name and class).
        std::string className;
    };

    enum class CreateResult {
        kCreated,
        kNoDisplay,  // DISPLAY unset, or the server refused the connection
        kRefused,    // the server refused the window (a parent that is no window, no true colour)
    };

    // Opens the connection and makes the window, shown (mapped) unless it is empty. Null with the
    // reason in `result` on failure; nothing is left open then.
    static std::unique_ptr<DisplayWindow> Create(const Options& options, CreateResult* result);

    // Destroys the window (unless it is already gone) and closes the connection.
    ~DisplayWindow();
    DisplayWindow(const DisplayWindow&) = delete;
    DisplayWindow& operator=(const DisplayWindow&) = delete;

    // The connection's descriptor: readable when events wait to be read by ProcessEvents.
    int ConnectionFd() const { return m_fd; }
    uint32_t WindowId() const { return m_window; }
    const DisplayPixelFormat& Format() const { return m_format; }
    bool UsesSharedMemory() const { return m_shmImage; }

    // Reads every event that has arrived and returns the window's state after them.
    DisplayWindowState ProcessEvents();
    const DisplayWindowState& State() const { return m_state; }

    // Destroys the window now, keeping the connection until the object goes.
    void DestroyWindow();

    // The image for a picture of width x height (> 0), in Format(), made or remade when the size
    // differs. Returns its pixels and row length [bytes], or null when no image can be had.
    uint8_t* Image(int32_t width, int32_t height, int32_t* stride);
    // Puts the whole image into the window at (0, 0) and waits until the server has taken it, so
    // that the image may be written again. False when the display reported an error.
    bool PutImage();

    // X errors recorded on this window's connection.
    uint64_t ErrorCount() const;

private:
    DisplayWindow();
    bool Open(const Options& options);
    void FreeImage();
    bool MakeSharedImage(int32_t width, int32_t height);
    bool MakePlainImage(int32_t width, int32_t height);
    // True when the requests sent since the last check raised no X error.
    bool NoNewErrors();

    std::unique_ptr<X11Connection> m_x;
    int m_fd = -1;
    uint32_t m_window = 0;
    DisplayPixelFormat m_format;
    DisplayWindowState m_state;
    bool m_shmAvailable = false;
    bool m_shmImage = false;
    uint64_t m_errorsSeen = 0;
};

}  // namespace quorix::platform
