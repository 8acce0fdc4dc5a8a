#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <quorix/quorix.h>

namespace quorix::cli {

// The tool's own top-level window on the X display, in which the library's preview window is
// made as a child (Quorix_SetPreviewWindow with the wrapped window as parent). The tool sets its
// title (with the frame rate), learns when a person closes it, and keeps the library's window
// filling it when it is resized (the library then scales the frames to the new size).
class ShowWindow {
public:
    // Opens the display and the window for pictures of width x height, shrunk to fit the screen
    // (keeping the picture's shape). Null with the reason in `error` when there is no display.
    static std::unique_ptr<ShowWindow> Open(int32_t width, int32_t height, const std::string& title,
                                            std::string* error);
    ~ShowWindow();
    ShowWindow(const ShowWindow&) = delete;
    ShowWindow& operator=(const ShowWindow&) = delete;

    // The window as the parent of the preview, and the client size the preview takes [pixels].
    QuorixWindow Parent() const;
    int32_t Width() const { return m_width; }
    int32_t Height() const { return m_height; }

    void SetTitle(const std::string& title);
    // Reads the window's events; false once a person has closed it.
    bool Pump();

private:
    struct X;
    ShowWindow();
    std::unique_ptr<X> m_x;
    int32_t m_width = 0;
    int32_t m_height = 0;
    bool m_closed = false;
};

}  // namespace quorix::cli
