#include "output/preview_window.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <vector>

#include "imaging/demosaic_rows.h"
#include "imaging/pixel_operations.h"
#include "platform/log.h"
#include "platform/message_window.h"
#include "platform/thread_priority.h"

namespace quorix {

namespace {

// How long ShowLastFrame waits for a display that does not answer [ms].
constexpr auto kLastFrameWait = std::chrono::milliseconds(5000);
// Frames are drawn at most this often, about a display's refresh; more would take processor
// time from the frames without being seen [ms].
constexpr auto kDrawInterval = std::chrono::milliseconds(16);

bool IsGrayType(int32_t colourType) {
    return colourType == 0 || colourType == 1;
}

// An 8-bit channel value placed into a display pixel's channel mask, scaled to the mask's width.
uint32_t Channel(uint32_t value, uint32_t mask) {
    if (mask == 0) {
        return 0;
    }
    const int shift = std::countr_zero(mask);
    const int width = std::popcount(mask);
    const uint32_t scaled = width >= 8 ? value << (width - 8) : value >> (8 - width);
    return (scaled << shift) & mask;
}

// One row of 8-bit gray or 24-bit B, G, R pixels into B, G, R, 0 display pixels, from pixel
// `first` on. The plain reference of the vector rows below.
void RowToBgrx(const uint8_t* src, uint8_t* dst, int32_t first, int32_t width, bool gray) {
    for (int32_t x = first; x < width; ++x) {
        const uint8_t* p = gray ? src + x : src + 3 * x;
        const uint32_t blue = p[0];
        const uint32_t green = gray ? p[0] : p[1];
        const uint32_t red = gray ? p[0] : p[2];
        const uint32_t pixel = blue | (green << 8) | (red << 16);
        std::memcpy(dst + 4 * x, &pixel, 4);
    }
}

// The same with 128-bit byte shuffles: four colour pixels from each 16 bytes read (read only
// while 16 bytes remain in the row), or sixteen gray pixels; the plain row finishes the tail.
__attribute__((target("ssse3"))) void RowToBgrxSsse3(const uint8_t* src, uint8_t* dst,
                                                     int32_t width, bool gray) {
    int32_t x = 0;
    if (gray) {
        const __m128i spread[4] = {
            _mm_setr_epi8(0, 0, 0, -1, 1, 1, 1, -1, 2, 2, 2, -1, 3, 3, 3, -1),
            _mm_setr_epi8(4, 4, 4, -1, 5, 5, 5, -1, 6, 6, 6, -1, 7, 7, 7, -1),
            _mm_setr_epi8(8, 8, 8, -1, 9, 9, 9, -1, 10, 10, 10, -1, 11, 11, 11, -1),
            _mm_setr_epi8(12, 12, 12, -1, 13, 13, 13, -1, 14, 14, 14, -1, 15, 15, 15, -1)};
        for (; x + 16 <= width; x += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x));
            for (int k = 0; k < 4; ++k) {
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * (x + 4 * k)),
                                 _mm_shuffle_epi8(v, spread[k]));
            }
        }
    } else {
        const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
        for (; 3 * x + 16 <= 3 * width; x += 4) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * x));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * x), _mm_shuffle_epi8(v, spread));
        }
    }
    RowToBgrx(src, dst, x, width, gray);
}

// The shuffles run wherever the pixel kernels run vectors (128-bit kernels need SSE4.1, which
// has the shuffles); QUORIX_SIMD=0 keeps this to the plain rows as well.
bool HasSsse3() {
    static const bool has = ChosenBayerVectorLevel() != BayerVectorLevel::kPlain;
    return has;
}

// Puts an 8-bit gray or 24-bit B, G, R picture (top row first) into the display's image of the
// same size.
void ToDisplayPixels(const CImageBuffer& picture, uint8_t* out, int32_t outStride,
                     const platform::DisplayPixelFormat& format) {
    const int32_t width = picture.Width();
    const bool gray = picture.BitsPerPixel() == 8;
    for (int32_t y = 0; y < picture.Height(); ++y) {
        const uint8_t* src = picture.Row(y);
        uint8_t* dst = out + static_cast<size_t>(y) * static_cast<size_t>(outStride);
        if (format.IsBgrx()) {
            if (HasSsse3()) {
                RowToBgrxSsse3(src, dst, width, gray);
            } else {
                RowToBgrx(src, dst, 0, width, gray);
            }
            continue;
        }
        for (int32_t x = 0; x < width; ++x) {
            const uint8_t* p = gray ? src + x : src + 3 * x;
            const uint32_t pixel = Channel(gray ? p[0] : p[2], format.redMask) |
                                   Channel(gray ? p[0] : p[1], format.greenMask) |
                                   Channel(p[0], format.blueMask);
            uint8_t* d = dst + static_cast<size_t>(x) * static_cast<size_t>(format.bytesPerPixel);
            for (int32_t b = 0; b < format.bytesPerPixel; ++b) {
                const int32_t byte = format.msbFirst ? format.bytesPerPixel - 1 - b : b;
                d[b] = static_cast<uint8_t>(pixel >> (8 * byte));
            }
        }
    }
}

// Nearest-neighbour scaling of the view into the back buffer (same depth, any size). Rows are
// sampled from the bottom up, as bottom-up bitmaps are: the window's bottom row shows the frame's
// bottom row. Ratios in single precision, positions truncated and kept inside the frame.
void ScaleNearest(const CImageBuffer& view, CImageBuffer& back) {
    const int32_t viewWidth = view.Width();
    const int32_t viewHeight = view.Height();
    const int32_t width = back.Width();
    const int32_t height = back.Height();
    const float rx = static_cast<float>(viewWidth) / static_cast<float>(width);
    const float ry = static_cast<float>(viewHeight) / static_cast<float>(height);
    const int32_t bytes = view.BytesPerPixel();
    std::vector<int32_t> columns(static_cast<size_t>(width));
    for (int32_t j = 0; j < width; ++j) {
        const auto sx = static_cast<int32_t>(static_cast<float>(j) * rx);
        columns[static_cast<size_t>(j)] = std::clamp(sx, 0, viewWidth - 1) * bytes;
    }
    for (int32_t row = 0; row < height; ++row) {
        const int32_t i = height - 1 - row;
        const int32_t sy =
            std::clamp(static_cast<int32_t>(static_cast<float>(i) * ry), 0, viewHeight - 1);
        const uint8_t* src = view.Row(viewHeight - 1 - sy);
        uint8_t* dst = back.Row(row);
        if (bytes == 1) {
            for (int32_t j = 0; j < width; ++j) {
                dst[j] = src[columns[static_cast<size_t>(j)]];
            }
        } else {
            for (int32_t j = 0; j < width; ++j) {
                std::memcpy(dst + 3 * j, src + columns[static_cast<size_t>(j)], 3);
            }
        }
    }
}

}  // namespace

std::unique_ptr<PreviewWindow> PreviewWindow::Create(const PreviewPlacement& placement,
                                                     int32_t frameWidth, int32_t frameHeight,
                                                     const std::string& className,
                                                     CImageBuffer& backBuffer, CloseHandler onClose,
                                                     CreateResult* result) {
    platform::DisplayWindow::Options options;
    options.className = className;
    if (placement.parent != 0) {
        options.parent = platform::X11WindowOf(placement.parent);
        if (options.parent == 0) {
            platform::Log("Preview", "the parent is no X11 window");
            *result = CreateResult::kRefused;
            return nullptr;
        }
        options.left = placement.left;
        options.top = placement.top;
        options.width = placement.width;
        options.height = placement.height;
        options.title = "ActiveMovie Window";
    } else {
        options.width = frameWidth;
        options.height = frameHeight;
        options.title = "Active Window";
    }
    platform::DisplayWindow::CreateResult created{};
    std::unique_ptr<platform::DisplayWindow> display =
        platform::DisplayWindow::Create(options, &created);
    if (!display) {
        *result = created == platform::DisplayWindow::CreateResult::kNoDisplay
                      ? CreateResult::kNoDisplay
                      : CreateResult::kRefused;
        return nullptr;
    }
    std::unique_ptr<PreviewWindow> window(new PreviewWindow(std::move(display), placement,
                                                            frameWidth, frameHeight, className,
                                                            backBuffer, std::move(onClose)));
    if (!window->Start()) {
        *result = CreateResult::kRefused;
        return nullptr;
    }
    *result = CreateResult::kCreated;
    return window;
}

PreviewWindow::PreviewWindow(std::unique_ptr<platform::DisplayWindow> display,
                             const PreviewPlacement& placement, int32_t frameWidth,
                             int32_t frameHeight, std::string className, CImageBuffer& backBuffer,
                             CloseHandler onClose)
    : m_display(std::move(display)),
      m_placement(placement),
      m_frameWidth(frameWidth),
      m_frameHeight(frameHeight),
      m_className(std::move(className)),
      m_backBuffer(backBuffer),
      m_onClose(std::move(onClose)) {}

PreviewWindow::~PreviewWindow() {
    Shutdown();
}

bool PreviewWindow::Start() {
    if (!m_wake.Open()) {
        return false;
    }
    try {
        m_thread = std::thread([this] { DrawingLoop(); });
    } catch (const std::system_error& error) {
        platform::Log("Preview", "no drawing thread: %s", error.what());
        return false;
    }
    return true;
}

void PreviewWindow::Shutdown() {
    if (m_thread.joinable()) {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        Wake();
        m_thread.join();
    }
    {
        std::lock_guard lock(m_mutex);
        m_open.store(false);
        m_drawable.store(false);
    }
    m_drawn.notify_all();
    m_display.reset();
}

bool PreviewWindow::Serves(const PreviewPlacement& placement, int32_t frameWidth,
                           int32_t frameHeight) const {
    if (!m_open.load() || !(placement == m_placement)) {
        return false;
    }
    return placement.parent != 0 || (frameWidth == m_frameWidth && frameHeight == m_frameHeight);
}

PreviewWindow::Counts PreviewWindow::GetCounts() const {
    std::lock_guard lock(m_mutex);
    return Counts{m_offered, m_drawnCount};
}

void PreviewWindow::Wake() {
    m_wake.Set();
}

bool PreviewWindow::Stage(const CImageBuffer& output, int32_t colourType) {
    const uint16_t bits = IsGrayType(colourType) ? 8 : 24;
    if (output.Bits() == nullptr) {
        return false;
    }
    if (m_staged.Width() != output.Width() || m_staged.Height() != output.Height() ||
        m_staged.BitsPerPixel() != bits) {
        if (!m_staged.Create(output.Width(), output.Height(), bits)) {
            return false;
        }
    }
    int done = 0;
    switch (colourType) {
        case 0:
        case 2:
            // Already the view: same size and depth, so the same rows.
            std::memcpy(m_staged.Bits(), output.Bits(),
                        std::min(m_staged.SizeBytes(), output.SizeBytes()));
            done = 1;
            break;
        case 1:
            done = CImageBuffer::ApplyPixelOperation(m_staged, Gray16To8HighByte, output, nullptr,
                                                     0, 0, 0, 0);
            break;
        case 3:
            done = CImageBuffer::ApplyPixelOperation(m_staged, Copy24, output, nullptr, 0, 0, 0, 0);
            break;
        default:
            done = CImageBuffer::ApplyPixelOperation(m_staged, Convert48To24, output, nullptr, 0, 0,
                                                     0, 0);
            break;
    }
    m_stagedType = colourType;
    return done != 0;
}

void PreviewWindow::OfferFrame(const CImageBuffer& output, int32_t colourType) {
    if (!m_open.load()) {
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        ++m_offered;
        // A window that cannot show it, or still drawing the previous frame: this one is left
        // out, and the worker goes on with the next at once.
        const auto now = std::chrono::steady_clock::now();
        if (m_pending || !m_drawable.load() || now - m_lastStaged < kDrawInterval) {
            m_lastSkipped = true;
            return;
        }
        m_lastStaged = now;
    }
    // The drawing thread leaves the staging image alone while nothing is pending.
    const bool staged = Stage(output, colourType);
    {
        std::lock_guard lock(m_mutex);
        m_pending = staged;
        m_lastSkipped = !staged;
    }
    if (staged) {
        Wake();
    }
}

void PreviewWindow::ShowLastFrame(const CImageBuffer& output, int32_t colourType) {
    if (std::this_thread::get_id() == m_thread.get_id() || !m_open.load()) {
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLastFrameWait;
    const auto settled = [this] { return !m_pending || !m_open.load(); };
    std::unique_lock lock(m_mutex);
    if (!m_drawn.wait_until(lock, deadline, settled) || !m_open.load() || !m_lastSkipped) {
        return;
    }
    lock.unlock();
    const bool staged = Stage(output, colourType);
    lock.lock();
    if (!staged) {
        return;
    }
    m_pending = true;
    m_lastSkipped = false;
    lock.unlock();
    Wake();
    lock.lock();
    m_drawn.wait_until(lock, deadline, settled);
}

void PreviewWindow::Close() {
    m_display->DestroyWindow();
    {
        std::lock_guard lock(m_mutex);
        m_open.store(false);
        m_drawable.store(false);
    }
    m_drawn.notify_all();
    platform::Log("Preview", "the preview window %s was closed", m_className.c_str());
    if (m_onClose) {
        m_onClose();
    }
}

void PreviewWindow::DrawingLoop() {
    platform::LowerThreadPriority();
    for (;;) {
        const platform::DisplayWindowState state = m_display->ProcessEvents();
        if (m_open.load() && (state.closeRequested || state.destroyed)) {
            Close();
        }
        m_drawable.store(m_open.load() && !state.destroyed && state.mapped && state.width > 0 &&
                         state.height > 0);
        bool draw = false;
        bool quit = false;
        {
            std::lock_guard lock(m_mutex);
            quit = m_quit;
            draw = m_pending;
        }
        if (quit) {
            // The window and the connection end on this thread: after the connection broke, Xlib
            // takes further calls on it only from the thread that met the break.
            m_display.reset();
            return;
        }
        if (draw) {
            Draw();
            {
                std::lock_guard lock(m_mutex);
                m_pending = false;
                ++m_drawnCount;
            }
            m_drawn.notify_all();
            continue;
        }
        // Sleeps until a frame is offered, the window has events, or the window is shut down.
        // A window that is gone has nothing more to say.
        m_wake.Wait(state.destroyed ? platform::WakeEvent::kNoHandle : m_display->ConnectionFd());
    }
}

void PreviewWindow::Draw() {
    if (!m_open.load()) {
        return;
    }
    const platform::DisplayWindowState& state = m_display->State();
    if (state.destroyed || !state.mapped || state.width <= 0 || state.height <= 0) {
        return;
    }
    const int32_t width = state.width;
    const int32_t height = state.height;
    const CImageBuffer* picture = &m_staged;
    // A 16-bit frame always goes through the back buffer, also at the frame's own size.
    if (width != m_staged.Width() || height != m_staged.Height() || m_stagedType == 1) {
        // The back buffer follows the client size, remade only when a frame finds it different.
        if (m_backBuffer.Width() != width || m_backBuffer.Height() != height ||
            m_backBuffer.BitsPerPixel() != m_staged.BitsPerPixel()) {
            if (!m_backBuffer.Create(width, height, m_staged.BitsPerPixel())) {
                return;
            }
        }
        ScaleNearest(m_staged, m_backBuffer);
        picture = &m_backBuffer;
    }
    int32_t stride = 0;
    uint8_t* image = m_display->Image(width, height, &stride);
    if (image == nullptr) {
        return;
    }
    ToDisplayPixels(*picture, image, stride, m_display->Format());
    // Drawing failures are not the stream's: the error is logged, the next frame tries again.
    m_display->PutImage();
}

}  // namespace quorix
