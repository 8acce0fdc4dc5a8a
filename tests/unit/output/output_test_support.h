#pragma once

// Shared by the image-file, AVI and recording tests: a scratch directory, a file size limit for
// the process (a disk that fills up), whole-file reads, and a small AVI reader that follows the
// chunk structure rather than fixed offsets where a reader would.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace quorix::test {

// A directory of its own under the system's temporary directory, removed with what it holds.
class ScratchDirectory {
public:
    ScratchDirectory() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quorix-output-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            m_path = pattern;
        }
    }
    ~ScratchDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    std::string File(const std::string& name) const { return (m_path / name).string(); }
    // The names of everything in the directory.
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().string());
        }
        return names;
    }

private:
    std::filesystem::path m_path;
};

// The process may write files up to `bytes` long while it lives: a write beyond fails with EFBIG
// as on a full disk (the signal the kernel sends with it is ignored meanwhile). Applies to root
// too.
class FileSizeLimit {
public:
    explicit FileSizeLimit(uint64_t bytes) {
        m_oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        ::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool Set() const { return m_set; }

private:
    rlimit m_old{};
    sighandler_t m_oldHandler = SIG_DFL;
    bool m_set = false;
};

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset) {
    if (offset + 4 > bytes.size()) {
        ADD_FAILURE() << "read past the end at " << offset;
        return 0;
    }
    return static_cast<uint32_t>(bytes[offset]) | (static_cast<uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<uint32_t>(bytes[offset + 3]) << 24);
}
inline uint16_t Le16(const std::vector<uint8_t>& bytes, size_t offset) {
    return static_cast<uint16_t>(bytes.at(offset) | (bytes.at(offset + 1) << 8));
}
inline std::string FourCc(const std::vector<uint8_t>& bytes, size_t offset) {
    return offset + 4 <= bytes.size()
               ? std::string(reinterpret_cast<const char*>(bytes.data() + offset), 4)
               : std::string();
}

// What an AVI file of one uncompressed video stream says about itself.
struct AviFile {
    bool valid = false;     // RIFF/AVI with hdrl, strl, strf, movi and idx1 where expected
    uint32_t riffSize = 0;  // offset 4
    uint32_t microSecondsPerFrame = 0;
    uint32_t maxBytesPerSecond = 0;
    uint32_t flags = 0;
    uint32_t totalFrames = 0;  // avih
    uint32_t streams = 0;
    uint32_t suggestedBuffer = 0;  // avih
    uint32_t width = 0;
    uint32_t height = 0;
    std::string streamType;
    std::string handler;
    uint32_t scale = 0;
    uint32_t rate = 0;
    uint32_t length = 0;    // strh
    uint16_t bitCount = 0;  // strf
    uint32_t moviSize = 0;
    std::vector<size_t> chunkData;  // file offsets of the frames' data, movi order
    uint32_t chunkSize = 0;         // of the first chunk (all must agree)
    bool chunksAgree = true;        // every chunk "00db" of chunkSize bytes
    struct IndexEntry {
        std::string id;
        uint32_t flags;
        uint32_t offset;
        uint32_t size;
    };
    std::vector<IndexEntry> index;
    std::vector<uint8_t> bytes;

    // Frames per second the headers give.
    double Rate() const { return scale == 0 ? 0.0 : static_cast<double>(rate) / scale; }
};

inline AviFile ReadAvi(const std::string& path) {
    AviFile avi;
    avi.bytes = ReadWholeFile(path);
    const std::vector<uint8_t>& b = avi.bytes;
    if (b.size() < 232 || FourCc(b, 0) != "RIFF" || FourCc(b, 8) != "AVI " ||
        FourCc(b, 12) != "LIST" || FourCc(b, 20) != "hdrl" || FourCc(b, 24) != "avih" ||
        FourCc(b, 88) != "LIST" || FourCc(b, 96) != "strl" || FourCc(b, 100) != "strh" ||
        FourCc(b, 172) != "strf" || FourCc(b, 220) != "LIST" || FourCc(b, 228) != "movi") {
        return avi;
    }
    avi.riffSize = Le32(b, 4);
    avi.microSecondsPerFrame = Le32(b, 32);
    avi.maxBytesPerSecond = Le32(b, 36);
    avi.flags = Le32(b, 44);
    avi.totalFrames = Le32(b, 48);
    avi.streams = Le32(b, 56);
    avi.suggestedBuffer = Le32(b, 60);
    avi.width = Le32(b, 64);
    avi.height = Le32(b, 68);
    avi.streamType = FourCc(b, 108);
    avi.handler = FourCc(b, 112);
    avi.scale = Le32(b, 128);
    avi.rate = Le32(b, 132);
    avi.length = Le32(b, 140);
    avi.bitCount = Le16(b, 194);
    avi.moviSize = Le32(b, 224);
    // The movi list's chunks, by their sizes, up to the end of the list.
    const size_t moviEnd = 228 + static_cast<size_t>(avi.moviSize);
    size_t at = 232;
    while (at + 8 <= moviEnd && moviEnd <= b.size()) {
        const uint32_t size = Le32(b, at + 4);
        if (avi.chunkData.empty()) {
            avi.chunkSize = size;
        }
        avi.chunksAgree = avi.chunksAgree && FourCc(b, at) == "00db" && size == avi.chunkSize;
        avi.chunkData.push_back(at + 8);
        at += 8 + size + (size & 1);
    }
    if (at != moviEnd || FourCc(b, moviEnd) != "idx1") {
        return avi;
    }
    const uint32_t indexBytes = Le32(b, moviEnd + 4);
    if (indexBytes % 16 != 0 || moviEnd + 8 + indexBytes > b.size()) {
        return avi;
    }
    for (size_t e = moviEnd + 8; e < moviEnd + 8 + indexBytes; e += 16) {
        avi.index.push_back({FourCc(b, e), Le32(b, e + 4), Le32(b, e + 8), Le32(b, e + 12)});
    }
    avi.valid = true;
    return avi;
}

// Bytes before the first frame chunk of the SDK's AVI files.
inline constexpr uint32_t kAviHeaderBytes = 232;

// Every frame the file's headers count is in its movi list and its index, the index points at
// the chunks in order, and the file ends right after the index.
inline void ExpectConsistentAvi(const AviFile& avi, uint32_t frames, uint32_t frameBytes) {
    ASSERT_TRUE(avi.valid);
    EXPECT_EQ(avi.riffSize + 8, avi.bytes.size());
    EXPECT_EQ(avi.totalFrames, frames);
    EXPECT_EQ(avi.length, frames);
    EXPECT_EQ(avi.chunkData.size(), frames);
    ASSERT_EQ(avi.index.size(), frames);
    EXPECT_TRUE(avi.chunksAgree);
    EXPECT_EQ(avi.moviSize, 4 + frames * (8 + frameBytes));
    EXPECT_EQ(avi.bytes.size(), kAviHeaderBytes + frames * (8 + frameBytes) + 8 + 16 * frames);
    for (uint32_t i = 0; i < frames; ++i) {
        // Offsets count from the "movi" identifier: the first chunk at 4, each next 8 + F on.
        EXPECT_EQ(avi.index[i].id, "00db");
        EXPECT_EQ(avi.index[i].flags, 0x10u);
        EXPECT_EQ(avi.index[i].offset, 4 + i * (8 + frameBytes)) << "entry " << i;
        EXPECT_EQ(avi.index[i].size, frameBytes);
    }
}

// What ffprobe, an independent reader, finds in a video file's first video stream: its size and
// the frames it decodes.
struct Probe {
    bool ran = false;
    uint32_t width = 0;
    uint32_t height = 0;
    uint64_t frames = 0;
};

inline Probe ProbeVideo(const std::string& path) {
    Probe probe;
    const std::string command =
        "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
        "stream=width,height,nb_read_frames -of default=noprint_wrappers=1 '" +
        path + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return probe;
    }
    char line[256];
    std::string output;
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        output += line;
        unsigned long long value = 0;
        if (std::sscanf(line, "width=%llu", &value) == 1) {
            probe.width = static_cast<uint32_t>(value);
        } else if (std::sscanf(line, "height=%llu", &value) == 1) {
            probe.height = static_cast<uint32_t>(value);
        } else if (std::sscanf(line, "nb_read_frames=%llu", &value) == 1) {
            probe.frames = value;
        }
    }
    probe.ran = ::pclose(pipe) == 0;
    EXPECT_TRUE(probe.ran) << "ffprobe (Debian's ffmpeg, scripts/install-deps.sh) failed on "
                           << path << ":\n"
                           << output;
    return probe;
}

}  // namespace quorix::test
