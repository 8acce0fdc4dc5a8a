#include "output/avi_writer.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

#include "platform/byte_order.h"
#include "platform/file_io.h"
#include "platform/log.h"

namespace quorix {

namespace {

constexpr const char* kLogCategory = "Output";

// The file's headers up to and including the movi list's identifier (little-endian):
//   0 "RIFF" size "AVI "   12 "LIST" 200 "hdrl"   24 "avih" 56 + main header (56 bytes)
//   88 "LIST" 124 "strl"   100 "strh" 64 + stream header (64 bytes)
//   172 "strf" 40 + bitmap info header (40 bytes)   220 "LIST" movi size "movi"
constexpr size_t kHeaderBytes = AviWriter::kFirstChunkOffset;
constexpr uint32_t kRiffSizeOffset = 4;
constexpr uint32_t kMicroSecondsPerFrameOffset = 32;
constexpr uint32_t kMaxBytesPerSecondOffset = 36;
constexpr uint32_t kFlagsOffset = 44;
constexpr uint32_t kTotalFramesOffset = 48;
constexpr uint32_t kStreamsOffset = 56;
constexpr uint32_t kMainBufferSizeOffset = 60;
constexpr uint32_t kMainWidthOffset = 64;
constexpr uint32_t kMainHeightOffset = 68;
constexpr uint32_t kStreamTypeOffset = 108;
constexpr uint32_t kHandlerOffset = 112;
constexpr uint32_t kScaleOffset = 128;
constexpr uint32_t kRateOffset = 132;
constexpr uint32_t kLengthOffset = 140;
constexpr uint32_t kStreamBufferSizeOffset = 144;
constexpr uint32_t kFormatOffset = 180;

constexpr uint32_t kHasIndexWasCaptureFile = 0x00010010;
// Free disk space below which the index's space is reserved before each frame [bytes].
constexpr uint64_t kReserveBelowBytes = uint64_t{256} << 20;
constexpr uint32_t kKeyFrame = 0x10;
// The stream's rate is rate / scale frames per second with a fixed rate of 10^7.
constexpr uint32_t kStreamRate = 10'000'000;

void PutFourCc(uint8_t* at, const char (&code)[5]) {
    std::memcpy(at, code, 4);
}

// Microseconds per frame and the stream's scale for a rate in hundredths of frames per second.
uint32_t MicroSecondsPerFrame(uint32_t rate) {
    return static_cast<uint32_t>(100'000'000ull / rate);
}
uint32_t StreamScale(uint32_t rate) {
    return static_cast<uint32_t>(1'000'000'000ull / rate);
}
// The data rate of the file: one chunk per frame at the rate, saturated at 32 bits [bytes/s].
uint32_t BytesPerSecond(uint32_t chunkBytes, uint32_t rate) {
    const uint64_t bytes = static_cast<uint64_t>(chunkBytes) * rate / 100;
    return static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX));
}

}  // namespace

// Writes one block range at a time for the writer's thread, which meanwhile writes another.
class AviWriter::PartWriter {
public:
    PartWriter() : m_thread([this] { Serve(); }) {}
    ~PartWriter() {
        {
            std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    PartWriter(const PartWriter&) = delete;
    PartWriter& operator=(const PartWriter&) = delete;

    void Start(AviWriter* writer, uint64_t offset, const uint8_t* data, size_t bytes) {
        std::lock_guard lock(m_mutex);
        m_writer = writer;
        m_offset = offset;
        m_data = data;
        m_bytes = bytes;
        m_pending = true;
        m_changed.notify_all();
    }
    // Waits for the range started last; false with errno set when it was not written.
    bool Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_pending; });
        errno = m_error;
        return m_written;
    }

private:
    void Serve() {
        std::unique_lock lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_stopping || (m_pending && !m_busy); });
            if (m_stopping) {
                return;
            }
            m_busy = true;
            lock.unlock();
            const bool written = m_writer->WriteAt(m_offset, m_data, m_bytes);
            const int error = errno;
            lock.lock();
            m_busy = false;
            m_written = written;
            m_error = error;
            m_pending = false;
            m_changed.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    AviWriter* m_writer = nullptr;
    uint64_t m_offset = 0;
    const uint8_t* m_data = nullptr;
    size_t m_bytes = 0;
    bool m_pending = false;
    bool m_busy = false;
    bool m_written = false;
    int m_error = 0;
    bool m_stopping = false;
    std::thread m_thread;  // last: starts once everything above is set up
};

AviWriter::AviWriter(uint64_t maxFileBytes)
    : m_maxFileBytes(std::min(maxFileBytes, kMaxFileBytes)) {}

AviWriter::~AviWriter() {
    if (IsOpen()) {
        CloseAvi(kProvisionalRate);
    }
}

bool AviWriter::WriteInParts(uint64_t offset, const uint8_t* data, size_t bytes) {
    // Parts of whole blocks, all but the last on the part writers; small writes in one piece.
    const size_t part = bytes / kDirectParts / kSlotAlignment * kSlotAlignment;
    if (part == 0) {
        return WriteAt(offset, data, bytes);
    }
    try {
        while (m_partWriters.size() < kDirectParts - 1) {
            m_partWriters.push_back(std::make_unique<PartWriter>());
        }
    } catch (const std::system_error&) {
        return WriteAt(offset, data, bytes);
    }
    for (size_t i = 0; i + 1 < kDirectParts; ++i) {
        m_partWriters[i]->Start(this, offset + i * part, data + i * part, part);
    }
    const size_t last = (kDirectParts - 1) * part;
    bool written = WriteAt(offset + last, data + last, bytes - last);
    int error = errno;
    for (size_t i = 0; i + 1 < kDirectParts; ++i) {
        if (!m_partWriters[i]->Wait() && written) {
            written = false;
            error = errno;
        }
    }
    errno = error;
    return written;
}

uint32_t AviWriter::FrameBytesFor(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0) {
        return 0;
    }
    const uint64_t stride = (static_cast<uint64_t>(width) * 3 + 3) & ~uint64_t{3};
    const uint64_t bytes = stride * static_cast<uint64_t>(height);
    return bytes + kChunkHeaderBytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

bool AviWriter::OpenAvi(const char* fileName, int32_t width, int32_t height) {
    if (IsOpen()) {
        CloseAvi(kProvisionalRate);
    }
    m_index.clear();
    m_frameBytes = FrameBytesFor(width, height);
    if (m_frameBytes == 0 ||
        kHeaderBytes + kChunkHeaderBytes + m_frameBytes + IndexBytes(1) > m_maxFileBytes) {
        errno = EFBIG;
        return false;
    }
    // The file is made beside its name and put under it once the headers are in: a recording
    // that cannot start leaves an earlier file of that name as it was, and one that is cut short
    // is still found under its name. A device (/dev/null) is written in place.
    platform::OutputFile file;
    if (!file.Open(fileName)) {
        return false;
    }
    m_fd = file.Descriptor();
    m_regular = file.IsRegular();
    m_markedFrames = 0;
    m_width = width;
    m_height = height;
    m_moviEnd = kFirstChunkOffset;
    m_fileBytes = 0;
    m_canReserve = true;

    std::array<uint8_t, kHeaderBytes> header{};
    uint8_t* h = header.data();
    PutFourCc(h, "RIFF");
    PutFourCc(h + 8, "AVI ");
    PutFourCc(h + 12, "LIST");
    WriteLe32(h + 16, 200);
    PutFourCc(h + 20, "hdrl");
    PutFourCc(h + 24, "avih");
    WriteLe32(h + 28, 56);
    WriteLe32(h + kFlagsOffset, kHasIndexWasCaptureFile);
    WriteLe32(h + kStreamsOffset, 1);
    WriteLe32(h + kMainBufferSizeOffset, m_frameBytes + kChunkHeaderBytes);
    WriteLe32(h + kMainWidthOffset, static_cast<uint32_t>(width));
    WriteLe32(h + kMainHeightOffset, static_cast<uint32_t>(height));
    PutFourCc(h + 88, "LIST");
    WriteLe32(h + 92, 124);
    PutFourCc(h + 96, "strl");
    PutFourCc(h + 100, "strh");
    WriteLe32(h + 104, 64);
    PutFourCc(h + kStreamTypeOffset, "vids");
    PutFourCc(h + kHandlerOffset, "DIB ");
    WriteLe32(h + kRateOffset, kStreamRate);
    WriteLe32(h + kStreamBufferSizeOffset, m_frameBytes + kChunkHeaderBytes);
    PutFourCc(h + 172, "strf");
    WriteLe32(h + 176, 40);
    uint8_t* format = h + kFormatOffset;
    WriteLe32(format, 40);
    WriteLe32(format + 4, static_cast<uint32_t>(width));
    WriteLe32(format + 8, static_cast<uint32_t>(height));  // positive: bottom row first
    WriteLe16(format + 12, 1);
    WriteLe16(format + 14, 24);
    PutFourCc(h + 220, "LIST");
    PutFourCc(h + 228, "movi");
    // The rate fields hold 30 frames per second until the measured rate is known; the sizes and
    // counts stay 0 until the file is finished.
    WriteLe32(h + kMicroSecondsPerFrameOffset, MicroSecondsPerFrame(kProvisionalRate));
    WriteLe32(h + kMaxBytesPerSecondOffset,
              BytesPerSecond(m_frameBytes + kChunkHeaderBytes, kProvisionalRate));
    WriteLe32(h + kScaleOffset, StreamScale(kProvisionalRate));
    if (!WriteAt(0, header.data(), header.size()) || !ReserveIndexSpace() || !file.Publish()) {
        // The file closes and its temporary name goes with `file`.
        m_fd = -1;
        return false;
    }
    m_fd = file.Release();
    m_fileBytes = kHeaderBytes;
    // Frames of two blocks or more go to the disk directly where the file system allows: the
    // headers, written already, are the first bytes held back for the first frame's write.
    m_direct = m_frameBytes >= 2 * kSlotAlignment && SetDirect(true);
    if (m_direct) {
        m_heldBack.assign(header.begin(), header.end());
    } else {
        m_heldBack.clear();
    }
    return true;
}

bool AviWriter::SetDirect(bool direct) {
    return platform::SetDirectWrites(m_fd, direct);
}

size_t AviWriter::SlotBytes() const {
    const size_t bytes = kSlotAlignment + kChunkHeaderBytes + m_frameBytes + kSlotAlignment;
    return (bytes + kSlotAlignment - 1) / kSlotAlignment * kSlotAlignment;
}

size_t AviWriter::SlotFrameOffset(uint64_t frameNumber) const {
    const uint64_t chunk = kFirstChunkOffset + frameNumber * (kChunkHeaderBytes + m_frameBytes);
    return static_cast<size_t>(chunk % kSlotAlignment) + kChunkHeaderBytes;
}

bool AviWriter::FlushHeldBack() {
    if (m_direct) {
        m_direct = false;
        SetDirect(false);
    }
    if (m_heldBack.empty()) {
        return true;
    }
    const uint64_t start = m_moviEnd - m_heldBack.size();
    if (!WriteAt(start, m_heldBack.data(), m_heldBack.size())) {
        return false;
    }
    m_heldBack.clear();
    return true;
}

bool AviWriter::WriteAt(uint64_t offset, const void* data, size_t bytes) {
    return platform::WriteFileAt(m_fd, offset, data, bytes);
}

bool AviWriter::ReserveIndexSpace() {
    if (!m_canReserve) {
        return true;
    }
    // Where the index goes once the next frame is in, and how long it then is.
    const uint64_t offset = m_moviEnd + kChunkHeaderBytes + m_frameBytes;
    const uint64_t length = IndexBytes(Frames() + 1);
    // A reservation costs the file system work on every frame, so it is made only once the disk
    // nears full; with more room than a few frames and the reserve, the next frame and its index
    // fit anyway.
    if (const std::optional<uint64_t> free = platform::FreeDiskBytes(m_fd)) {
        const uint64_t room = std::max<uint64_t>(
            kReserveBelowBytes, 4 * (kChunkHeaderBytes + static_cast<uint64_t>(m_frameBytes)));
        if (*free > room + length) {
            return true;
        }
    }
    switch (platform::ReserveFileSpace(m_fd, offset, length)) {
        case platform::ReserveResult::kReserved:
            return true;
        case platform::ReserveResult::kNoRoom:
            return false;
        case platform::ReserveResult::kUnsupported:
            break;
    }
    // A file system without reservations: a full disk then costs the frame the index needs.
    m_canReserve = false;
    return true;
}

AviWriter::WriteResult AviWriter::WriteAviFrame(const uint8_t* frame) {
    if (!IsOpen()) {
        errno = EBADF;
        return WriteResult::kFailed;
    }
    if (!m_ownSlot) {
        void* memory = platform::AllocateAligned(kSlotAlignment, SlotBytes());
        if (memory == nullptr) {
            errno = ENOMEM;
            return WriteResult::kFailed;
        }
        m_ownSlot.reset(static_cast<uint8_t*>(memory));
    }
    std::memcpy(m_ownSlot.get() + SlotFrameOffset(Frames()), frame, m_frameBytes);
    return WriteAviSlot(m_ownSlot.get());
}

AviWriter::WriteResult AviWriter::WriteAviSlot(uint8_t* slot) {
    if (!IsOpen()) {
        errno = EBADF;
        return WriteResult::kFailed;
    }
    const uint64_t frames = Frames();
    const uint64_t chunk = kChunkHeaderBytes + static_cast<uint64_t>(m_frameBytes);
    // The index's offsets are counted from the "movi" identifier in 32 bits, and the finished
    // file's RIFF size must fit 32 bits.
    if (m_moviEnd + chunk + IndexBytes(frames + 1) > m_maxFileBytes) {
        return WriteResult::kSizeLimit;
    }
    if (!ReserveIndexSpace()) {
        return WriteResult::kFailed;
    }
    // The chunk header goes right before the frame, where the slot has room for it.
    const size_t at = SlotFrameOffset(frames) - kChunkHeaderBytes;
    uint8_t* header = slot + at;
    PutFourCc(header, m_regular ? "JUNK" : "00db");
    WriteLe32(header + 4, m_frameBytes);
    const uint64_t end = m_moviEnd + chunk;
    bool written = false;
    if (m_direct) {
        // Whole blocks from the block the chunk starts in: the bytes of that block before the
        // chunk are the ones held back; the partial block at the end is held back in turn.
        std::memcpy(slot + at - m_heldBack.size(), m_heldBack.data(), m_heldBack.size());
        const uint64_t start = m_moviEnd - m_heldBack.size();
        const uint64_t whole = end / kSlotAlignment * kSlotAlignment;
        written = WriteInParts(start, slot + at - m_heldBack.size(), whole - start);
        if (!written && errno == EINVAL) {
            // The file system takes no direct I/O after all: ordinary writes from here on.
            m_direct = false;
            SetDirect(false);
        } else if (written) {
            m_heldBack.assign(slot + at + (whole - m_moviEnd), slot + at + chunk);
        }
    }
    if (!m_direct) {
        written = FlushHeldBack() && WriteInParts(m_moviEnd, header, chunk);
    }
    if (!written) {
        // What reached the file of this frame is overwritten by the index when it closes.
        m_fileBytes = std::max(m_fileBytes, m_moviEnd);
        return WriteResult::kFailed;
    }
    std::array<uint8_t, kIndexEntryBytes> entry{};
    PutFourCc(entry.data(), "00db");
    WriteLe32(entry.data() + 4, kKeyFrame);
    // Counted from the "movi" identifier, which sits 4 bytes before the first chunk.
    WriteLe32(entry.data() + 8, static_cast<uint32_t>(m_moviEnd - (kFirstChunkOffset - 4)));
    WriteLe32(entry.data() + 12, m_frameBytes);
    m_index.insert(m_index.end(), entry.begin(), entry.end());
    m_moviEnd = end;
    m_fileBytes = m_moviEnd;
    return WriteResult::kWritten;
}

bool AviWriter::PatchHeaders(uint32_t rate, uint64_t fileBytes) {
    std::array<uint8_t, 4> value{};
    bool written = true;
    const auto patch = [&](uint32_t offset, uint32_t number) {
        WriteLe32(value.data(), number);
        // These bytes lie in the first block of the file, which exists: rewriting them needs no
        // new space.
        written = WriteAt(offset, value.data(), value.size()) && written;
    };
    patch(kRiffSizeOffset, static_cast<uint32_t>(fileBytes - 8));
    patch(kMoviSizeOffset, static_cast<uint32_t>(m_moviEnd - (kFirstChunkOffset - 4)));
    patch(kTotalFramesOffset, Frames());
    patch(kLengthOffset, Frames());
    patch(kMicroSecondsPerFrameOffset, MicroSecondsPerFrame(rate));
    patch(kScaleOffset, StreamScale(rate));
    patch(kMaxBytesPerSecondOffset, BytesPerSecond(m_frameBytes + kChunkHeaderBytes, rate));
    return written;
}

bool AviWriter::MarkFrameChunks() {
    // Only a regular file can be rewritten where its frames lie; a device gets "00db" at once.
    if (!m_regular) {
        return true;
    }
    const uint64_t chunk = kChunkHeaderBytes + static_cast<uint64_t>(m_frameBytes);
    for (; m_markedFrames < Frames(); ++m_markedFrames) {
        // The chunks lie back to back from the first one.
        if (!WriteAt(kFirstChunkOffset + m_markedFrames * chunk, "00db", 4)) {
            return false;
        }
    }
    return true;
}

bool AviWriter::WriteProgress(uint32_t rate) {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    rate = std::max<uint32_t>(rate, 1);
    // Direct I/O takes whole blocks only: ordinary writes for these few bytes. The held-back
    // bytes stay held back, and the next frame's direct write covers their block again.
    const bool direct = m_direct;
    if (direct && !SetDirect(false)) {
        return false;
    }
    bool written = true;
    if (direct && !m_heldBack.empty()) {
        written = WriteAt(m_moviEnd - m_heldBack.size(), m_heldBack.data(), m_heldBack.size());
    }
    // Until the index is written, the file ends with the last frame: bytes of a frame that
    // failed half-way lie beyond the RIFF size and are not read.
    written = written && MarkFrameChunks() && PatchHeaders(rate, m_moviEnd);
    const int error = errno;
    if (direct && !SetDirect(true)) {
        // Ordinary writes from here on; the held-back bytes go with the next frame.
        m_direct = false;
    }
    errno = error;
    return written;
}

bool AviWriter::CloseAvi(uint32_t rate) {
    if (!IsOpen()) {
        errno = EBADF;
        return false;
    }
    rate = std::max<uint32_t>(rate, 1);
    // The last frame's held-back bytes first; a frame that cannot be completed gives way below.
    bool heldBackWritten = FlushHeldBack();
    // The index goes right after the last whole frame. If the file cannot take it there (a disk
    // that filled up without reservations, a file size limit inside the index), the newest frames
    // give way until it fits.
    bool finished = false;
    bool cutPartialFrame = false;
    int error = 0;
    while (!finished) {
        std::array<uint8_t, 8> header{};
        PutFourCc(header.data(), "idx1");
        WriteLe32(header.data() + 4, static_cast<uint32_t>(m_index.size()));
        finished = heldBackWritten && WriteAt(m_moviEnd, header.data(), header.size()) &&
                   WriteAt(m_moviEnd + header.size(), m_index.data(), m_index.size());
        if (finished) {
            break;
        }
        error = errno;
        // Space the failed frame took may be enough once it is given back.
        if (!cutPartialFrame) {
            cutPartialFrame = true;
            if (platform::TruncateFile(m_fd, m_moviEnd)) {
                continue;
            }
        }
        if (m_index.empty()) {
            break;
        }
        platform::Log(kLogCategory, "AVI index does not fit after frame %u: the frame is dropped",
                      Frames());
        m_index.resize(m_index.size() - kIndexEntryBytes);
        m_moviEnd -= kChunkHeaderBytes + m_frameBytes;
        // Everything before an earlier frame's end reached the file with the next frame's write.
        m_heldBack.clear();
        heldBackWritten = true;
    }
    m_fileBytes = m_moviEnd + IndexBytes(Frames());
    if (!MarkFrameChunks() && finished) {
        finished = false;
        error = errno;
    }
    PatchHeaders(rate, m_fileBytes);
    // Whatever a failed frame left beyond the index goes.
    if (m_regular && !platform::TruncateFile(m_fd, m_fileBytes) && finished) {
        finished = false;
        error = errno;
    }
    m_heldBack.clear();
    m_direct = false;
    m_partWriters.clear();
    if (!platform::CloseDescriptor(m_fd) && finished) {
        finished = false;
        error = errno;
    }
    m_fd = -1;
    if (!finished) {
        errno = error;
    }
    return finished;
}

}  // namespace quorix
