#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "imaging/image_buffer.h"
#include "platform/display_window.h"
#include "platform/message_queue.h"
#include "platform/wake_event.h"

namespace quorix {

// Where a preview window goes, as the application set it: a parent window (0 for a top-level
// window) and the child's position and size [pixels].
struct PreviewPlacement {
    platform::WindowHandle parent = 0;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    friend bool operator==(const PreviewPlacement&, const PreviewPlacement&) = default;
};

// The live picture of a preview: a window on the display that shows every processed frame it
// can. The preview's worker offers each frame (DrawPreview); a drawing thread of the window's
// own, at a low priority, turns it into the display's pixels and puts it into the window, so
// that a slow display never holds the worker up: a frame that comes while the previous one is
// still being drawn, or less than 16 ms after the last one drawn (about a display's refresh), is
// not drawn. What the window shows:
// - when its client size is the frame's and the frame is not 16-bit, the frame pixel for pixel;
// - otherwise the frame scaled by nearest neighbour into the back buffer at the client size,
//   sampled from the bottom row up: window row d (from the top) shows frame row
//   h - 1 - trunc((ch - 1 - d) * h / ch) and window column j frame column trunc(j * w / cw),
//   with the ratios in single precision;
// 8- and 16-bit frames in gray (16 bits by their high byte), the colour types by the high byte
// of each of blue, green and red. A window the application or a person resizes is filled by
// scaling from the next frame on.
//
// A person closing the window (the window manager's close) destroys it and calls the close
// handler on the drawing thread. Owned by the camera context.
class PreviewWindow {
public:
    using CloseHandler = std::function<void()>;

    enum class CreateResult { kCreated, kNoDisplay, kRefused };

    // Makes the window for frames of frameWidth x frameHeight: a child of the placement's parent
    // (a wrapped X11 window) at its position and size, titled "ActiveMovie Window", or without a
    // parent a top-level window titled "Active Window" whose client area is the frame, centred
    // on the screen. `className` becomes the window's class. `backBuffer` is the image the
    // drawing thread scales into; only that thread touches it while the window exists.
    static std::unique_ptr<PreviewWindow> Create(const PreviewPlacement& placement,
                                                 int32_t frameWidth, int32_t frameHeight,
                                                 const std::string& className,
                                                 CImageBuffer& backBuffer, CloseHandler onClose,
                                                 CreateResult* result);
    // Shuts the window down (see Shutdown).
    ~PreviewWindow();
    PreviewWindow(const PreviewWindow&) = delete;
    PreviewWindow& operator=(const PreviewWindow&) = delete;

    // Whether a new preview start may show its frames here: the window is still there and was
    // made for this placement (and, top-level, for this frame size).
    bool Serves(const PreviewPlacement& placement, int32_t frameWidth, int32_t frameHeight) const;
    bool IsOpen() const { return m_open.load(); }

    // A processed frame of the worker (output image of colour type 0-5), with the frame lock
    // held. Hands it to the drawing thread when that thread is free; never waits for it.
    void OfferFrame(const CImageBuffer& output, int32_t colourType);
    // Once the worker has ended: makes sure the window shows `output`, the last frame processed,
    // and returns when it is drawn (at most a few seconds for a display that does not answer).
    // Returns at once on the drawing thread or when the window is gone.
    void ShowLastFrame(const CImageBuffer& output, int32_t colourType);
    // Ends the drawing thread, destroys the window and closes the connection. Must not run on
    // the drawing thread.
    void Shutdown();

    struct Counts {
        uint64_t offered = 0;
        uint64_t drawn = 0;
    };
    Counts GetCounts() const;

private:
    PreviewWindow(std::unique_ptr<platform::DisplayWindow> display,
                  const PreviewPlacement& placement, int32_t frameWidth, int32_t frameHeight,
                  std::string className, CImageBuffer& backBuffer, CloseHandler onClose);
    bool Start();
    // Makes the 8- or 24-bit view of an output image in the staging image.
    bool Stage(const CImageBuffer& output, int32_t colourType);
    void Wake();
    void DrawingLoop();
    // Draws the staged view: straight when the client size is the view's, scaled otherwise.
    void Draw();
    void Close();

    std::unique_ptr<platform::DisplayWindow> m_display;  // only the drawing thread uses it
    const PreviewPlacement m_placement;
    const int32_t m_frameWidth;
    const int32_t m_frameHeight;
    const std::string m_className;
    CImageBuffer& m_backBuffer;
    CloseHandler m_onClose;

    // What the drawing thread saw last, for the worker's quick look before it stages a frame.
    std::atomic<bool> m_open{true};
    std::atomic<bool> m_drawable{false};

    // The hand-over: the worker fills m_staged while m_pending is false; the drawing thread
    // draws it while m_pending is true.
    mutable std::mutex m_mutex;
    std::condition_variable m_drawn;
    bool m_pending = false;
    bool m_lastSkipped = false;  // the newest frame offered was not staged
    std::chrono::steady_clock::time_point m_lastStaged{};
    bool m_quit = false;
    CImageBuffer m_staged;
    int32_t m_stagedType = 0;
    uint64_t m_offered = 0;
    uint64_t m_drawnCount = 0;

    platform::WakeEvent m_wake;  // wakes the drawing thread
    std::thread m_thread;
    std::thread::id m_threadId;
};

}  // namespace quorix
