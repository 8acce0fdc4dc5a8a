// The AVI writer's file, read back by the test's own reader and by ffprobe: the layout of the
// headers, the frame chunks and the index; the rate patched at the end (also a rate of 0); a file
// left open as a killed process leaves it; and a file that reaches its size limit or a full disk,
// which must still end as a readable file with every frame it counts.
#include "output/avi_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "output_test_support.h"

namespace quorix {
namespace {

using test::AviFile;
using test::ExpectConsistentAvi;
using test::FileSizeLimit;
using test::ReadAvi;
using test::ScratchDirectory;

// 5 pixels of 3 bytes pad each row to 16 bytes: a frame of 3 rows is 48 bytes.
constexpr int32_t kWidth = 5;
constexpr int32_t kHeight = 3;
constexpr uint32_t kFrameBytes = 48;
constexpr uint32_t kHeaderBytes = test::kAviHeaderBytes;

std::vector<uint8_t> Frame(uint8_t seed, uint32_t bytes = kFrameBytes) {
    std::vector<uint8_t> frame(bytes);
    for (uint32_t i = 0; i < bytes; ++i) {
        frame[i] = static_cast<uint8_t>(seed * 31 + i);
    }
    return frame;
}

TEST(AviWriter, WritesTheHeadersChunksAndIndexOfAPaddedFrameSize) {
    ScratchDirectory directory;
    const std::string path = directory.File("clip.avi");
    AviWriter writer;
    ASSERT_EQ(AviWriter::FrameBytesFor(kWidth, kHeight), kFrameBytes);
    ASSERT_TRUE(writer.OpenAvi(path.c_str(), kWidth, kHeight));
    // Before any frame the file already has its headers.
    EXPECT_EQ(std::filesystem::file_size(path), kHeaderBytes);
    for (uint8_t i = 0; i < 3; ++i) {
        ASSERT_EQ(writer.WriteAviFrame(Frame(i).data()), AviWriter::WriteResult::kWritten);
    }
    ASSERT_TRUE(writer.CloseAvi(2500));  // 25 frames per second

    const AviFile avi = ReadAvi(path);
    ExpectConsistentAvi(avi, 3, kFrameBytes);
    EXPECT_EQ(avi.microSecondsPerFrame, 40000u);
    EXPECT_EQ(avi.scale, 400000u);
    EXPECT_EQ(avi.rate, 10000000u);
    EXPECT_DOUBLE_EQ(avi.Rate(), 25.0);
    // The true data rate: one chunk of 8 + F bytes per frame.
    EXPECT_EQ(avi.maxBytesPerSecond, (8 + kFrameBytes) * 25);
    EXPECT_EQ(avi.flags, 0x00010010u);
    EXPECT_EQ(avi.streams, 1u);
    EXPECT_EQ(avi.suggestedBuffer, kFrameBytes + 8);
    EXPECT_EQ(avi.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(avi.height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(avi.streamType, "vids");
    EXPECT_EQ(avi.handler, "DIB ");
    EXPECT_EQ(avi.bitCount, 24);
    EXPECT_EQ(avi.chunkSize, kFrameBytes);
    for (uint8_t i = 0; i < 3; ++i) {
        const std::vector<uint8_t> expected = Frame(i);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                               avi.bytes.begin() + static_cast<ptrdiff_t>(avi.chunkData[i])))
            << "frame " << int{i};
    }
    // An independent reader takes the padded rows and counts every frame.
    const test::Probe probe = test::ProbeVideo(path);
    EXPECT_EQ(probe.width, static_cast<uint32_t>(kWidth));
    EXPECT_EQ(probe.height, static_cast<uint32_t>(kHeight));
    EXPECT_EQ(probe.frames, 3u);
}

// A measured rate of 0 (fewer than one frame per 100 s) is taken as one hundredth of a frame per
// second instead of dividing by zero.
TEST(AviWriter, RateOfZeroIsBoundedToOneHundredthFramePerSecond) {
    ScratchDirectory directory;
    const std::string path = directory.File("slow.avi");
    AviWriter writer;
    ASSERT_TRUE(writer.OpenAvi(path.c_str(), kWidth, kHeight));
    ASSERT_EQ(writer.WriteAviFrame(Frame(1).data()), AviWriter::WriteResult::kWritten);
    ASSERT_TRUE(writer.CloseAvi(0));
    const AviFile avi = ReadAvi(path);
    ExpectConsistentAvi(avi, 1, kFrameBytes);
    EXPECT_EQ(avi.microSecondsPerFrame, 100000000u);
    EXPECT_EQ(avi.scale, 1000000000u);
}

// A file that would pass its size limit takes no further frame and ends with the frames so far.
TEST(AviWriter, StopsCleanlyAtItsSizeLimit) {
    ScratchDirectory directory;
    const std::string path = directory.File("limit.avi");
    // Room for two frames and their index, not for a third.
    const uint64_t limit = kHeaderBytes + 2 * (8 + kFrameBytes) + 8 + 16 * 2 + 30;
    AviWriter writer(limit);
    ASSERT_TRUE(writer.OpenAvi(path.c_str(), kWidth, kHeight));
    EXPECT_EQ(writer.WriteAviFrame(Frame(0).data()), AviWriter::WriteResult::kWritten);
    EXPECT_EQ(writer.WriteAviFrame(Frame(1).data()), AviWriter::WriteResult::kWritten);
    EXPECT_EQ(writer.WriteAviFrame(Frame(2).data()), AviWriter::WriteResult::kSizeLimit);
    ASSERT_TRUE(writer.CloseAvi(3000));
    const AviFile avi = ReadAvi(path);
    ExpectConsistentAvi(avi, 2, kFrameBytes);
    EXPECT_LE(avi.bytes.size(), limit);
}

// A recording that cannot start (its headers pass the file size limit, as on a full disk) leaves
// an earlier file of its name as it was; one that starts is under its name at once, so a
// recording cut short by the process ending is found where it was asked for.
TEST(AviWriter, ReplacesAnEarlierFileOnlyOnceItsHeadersAreWritten) {
    ScratchDirectory directory;
    const std::string path = directory.File("take.avi");
    const std::string earlier = "earlier take";
    std::ofstream(path, std::ios::binary) << earlier;
    {
        const FileSizeLimit limit(100);
        ASSERT_TRUE(limit.Set());
        AviWriter writer;
        EXPECT_FALSE(writer.OpenAvi(path.c_str(), kWidth, kHeight));
    }
    EXPECT_EQ(test::ReadWholeFile(path), std::vector<uint8_t>(earlier.begin(), earlier.end()));
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"take.avi"});

    AviWriter writer;
    ASSERT_TRUE(writer.OpenAvi(path.c_str(), kWidth, kHeight));
    ASSERT_EQ(writer.WriteAviFrame(Frame(0).data()), AviWriter::WriteResult::kWritten);
    EXPECT_EQ(test::FourCc(test::ReadWholeFile(path), 8), "AVI ");
    EXPECT_EQ(directory.Entries(), std::vector<std::string>{"take.avi"});
    ASSERT_TRUE(writer.CloseAvi(3000));
    ExpectConsistentAvi(ReadAvi(path), 1, kFrameBytes);
}

// Frames of several blocks go to the disk by direct I/O where the file system allows it: whole
// blocks only, the bytes of each last partial block held back for the next frame's write and the
// close. Every frame must come back byte for byte, whichever way the file system took them; the
// chunk boundaries fall at a different place in a block each time (9224-byte chunks).
TEST(AviWriter, FramesOfSeveralBlocksComeBackWhole) {
    ScratchDirectory directory;
    const std::string path = directory.File("direct.avi");
    constexpr int32_t kBigWidth = 64;
    constexpr int32_t kBigHeight = 48;
    const uint32_t frameBytes = AviWriter::FrameBytesFor(kBigWidth, kBigHeight);
    AviWriter writer;
    ASSERT_TRUE(writer.OpenAvi(path.c_str(), kBigWidth, kBigHeight));
    std::cout << "direct I/O: " << (writer.WritesDirect() ? "yes" : "no") << "\n";
    constexpr uint8_t kFrames = 7;
    for (uint8_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(writer.WriteAviFrame(Frame(i, frameBytes).data()),
                  AviWriter::WriteResult::kWritten);
    }
    ASSERT_TRUE(writer.CloseAvi(11800));
    const AviFile avi = ReadAvi(path);
    ExpectConsistentAvi(avi, kFrames, frameBytes);
    ASSERT_EQ(avi.chunkData.size(), kFrames);
    for (uint8_t i = 0; i < kFrames; ++i) {
        const std::vector<uint8_t> expected = Frame(i, frameBytes);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                               avi.bytes.begin() + static_cast<ptrdiff_t>(avi.chunkData[i])))
            << "frame " << int{i};
    }
}

// A file whose process never closes it (killed, crashed) holds what the last WriteProgress made
// of it: the headers count the frames written until then, the RIFF and movi sizes end after the
// last of them, each is a whole "00db" chunk (also the tail that direct I/O holds back), and
// ffprobe reads exactly those; frames written since are not among them. Closed, the file holds
// every frame with its index.
TEST(AviWriter, AFileLeftOpenPlaysWithTheFramesOfItsLastProgress) {
    ScratchDirectory directory;
    const std::string path = directory.File("killed.avi");
    constexpr int32_t kBigWidth = 64;
    constexpr int32_t kBigHeight = 48;
    const uint32_t frameBytes = AviWriter::FrameBytesFor(kBigWidth, kBigHeight);
    AviWriter writer;
    ASSERT_TRUE(writer.OpenAvi(path.c_str(), kBigWidth, kBigHeight));
    constexpr uint8_t kFrames = 3;
    const auto write = [&](uint8_t first, uint8_t end) {
        for (uint8_t i = first; i < end; ++i) {
            ASSERT_EQ(writer.WriteAviFrame(Frame(i, frameBytes).data()),
                      AviWriter::WriteResult::kWritten);
        }
    };
    ASSERT_NO_FATAL_FAILURE(write(0, kFrames));
    ASSERT_TRUE(writer.WriteProgress(2500));
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round == 0 ? "right after the progress" : "two frames later");
        const AviFile open = ReadAvi(path);
        EXPECT_EQ(open.totalFrames, kFrames);
        EXPECT_EQ(open.length, kFrames);
        EXPECT_EQ(open.moviSize, 4 + kFrames * (8 + frameBytes));
        EXPECT_EQ(open.riffSize + 8, kHeaderBytes + kFrames * (8 + frameBytes));
        EXPECT_EQ(open.scale, 1'000'000'000u / 2500);
        EXPECT_TRUE(open.chunksAgree);
        ASSERT_EQ(open.chunkData.size(), kFrames);
        for (uint8_t i = 0; i < kFrames; ++i) {
            const std::vector<uint8_t> expected = Frame(i, frameBytes);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(),
                                   open.bytes.begin() + static_cast<ptrdiff_t>(open.chunkData[i])))
                << "frame " << int{i};
        }
        EXPECT_EQ(test::ProbeVideo(path).frames, kFrames);
        ASSERT_NO_FATAL_FAILURE(write(kFrames + 2 * round, kFrames + 2 * round + 2));
    }
    ASSERT_TRUE(writer.CloseAvi(2500));
    ExpectConsistentAvi(ReadAvi(path), kFrames + 4, frameBytes);
}

// A disk that fills up in the middle of a frame: the writer reports the failure, and the file it
// closes holds the frames it reports, each readable, with nothing of the failed frame.
TEST(AviWriter, FinishesAFileTheDiskHadNoRoomFor) {
    ScratchDirectory directory;
    const std::string path = directory.File("full.avi");
    constexpr int32_t kBigWidth = 64;
    constexpr int32_t kBigHeight = 48;
    const uint32_t frameBytes = AviWriter::FrameBytesFor(kBigWidth, kBigHeight);  // 9216
    const std::vector<uint8_t> frame = Frame(7, frameBytes);
    AviWriter writer;
    uint32_t written = 0;
    {
        // The fifth frame does not fit.
        const FileSizeLimit limit(kHeaderBytes + 4 * (8 + frameBytes) + 5000);
        ASSERT_TRUE(limit.Set());
        ASSERT_TRUE(writer.OpenAvi(path.c_str(), kBigWidth, kBigHeight));
        AviWriter::WriteResult result = AviWriter::WriteResult::kWritten;
        while (result == AviWriter::WriteResult::kWritten && written < 100) {
            result = writer.WriteAviFrame(frame.data());
            written += result == AviWriter::WriteResult::kWritten ? 1 : 0;
        }
        EXPECT_EQ(result, AviWriter::WriteResult::kFailed);
        EXPECT_EQ(written, 4u);
        EXPECT_TRUE(writer.CloseAvi(2500));
    }
    const AviFile avi = ReadAvi(path);
    ExpectConsistentAvi(avi, writer.Frames(), frameBytes);
    EXPECT_EQ(writer.Frames(), written);
    EXPECT_EQ(test::ProbeVideo(path).frames, written);
}

}  // namespace
}  // namespace quorix
