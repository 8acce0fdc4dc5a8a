// Frame buffers and the FPGA's frame geometry: the engine sizes its raw buffer and ring by the
// sensor's current window and data width and tells the FPGA the frame it must send. Sizes are
// the frame padded by 128 columns and 128 lines, rounded up to whole 8192-byte blocks.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>

#include "engine_fixture.h"
#include "sensors/sensor_base.h"

namespace quorix {
namespace {

using test::EngineTest;
using test::FpgaWrites;
using test::RegWrites;

struct GeometryCase {
    int32_t x, width, y, height, mode;
    int32_t wide;
};

void PrintTo(const GeometryCase& c, std::ostream* os) {
    *os << "window (" << c.x << ", " << c.width << ", " << c.y << ", " << c.height << ", mode "
        << c.mode << "), " << (c.wide != 0 ? 16 : 8) << " bits";
}

class EngineFrameBuffers : public EngineTest, public ::testing::WithParamInterface<GeometryCase> {
protected:
    void SetUp() override {
        m_camera = Attach();
        ASSERT_NO_FATAL_FAILURE(CreateEngine());
        ASSERT_EQ(m_engine->OpenCamera(0), 0);
        m_camera->Log().Clear();
    }

    std::shared_ptr<sim::EmulatedCamera> m_camera;
};

TEST_P(EngineFrameBuffers, AreSizedByTheWindowAndProgramTheFpgaGeometry) {
    const GeometryCase& c = GetParam();
    ASSERT_EQ(m_engine->Sensor()->SetCaptureWindow(c.x, c.width, c.y, c.height, c.mode), 1);
    m_engine->SetDataWidthFlag(c.wide);
    m_camera->Log().Clear();
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);

    const uint32_t d = c.mode == 1 ? 2 : 1;
    const uint32_t width = static_cast<uint32_t>(c.width) / d / 4 * 4;
    const uint32_t height = static_cast<uint32_t>(c.height) / d / 4 * 4;
    const uint32_t bytes = c.wide != 0 ? 2 : 1;
    const uint64_t padded = uint64_t{height + 128} * (width + 128) * bytes;
    EXPECT_EQ(m_engine->RawBufferCapacity(), (padded + 8191) / 8192 * 8192);
    EXPECT_EQ(m_engine->FrameSize(), width * height * bytes);
    EXPECT_FALSE(m_engine->GeometryPending());

    // At full resolution the FPGA is given the window's place from the far edge in mode 12; in
    // 2x2 sub-sampling mode 11 and no offset.
    const bool full = c.mode != 1;
    const uint32_t offset = full ? 2048 - static_cast<uint32_t>(c.x) - width : 0;
    const RegWrites expected = {
        {0x44, width & 0xFF},   {0x45, width >> 8}, {0x40, height & 0xFF}, {0x41, height >> 8},
        {0x48, full ? 12 : 11}, {0x49, 0},          {0x4C, offset & 0xFF}, {0x4D, offset >> 8}};
    EXPECT_EQ(FpgaWrites(*m_camera), expected);
    const sim::ReadoutSettings r = m_camera->Readout();
    EXPECT_EQ(r.frameWidth, static_cast<int>(width));
    EXPECT_EQ(r.frameHeight, static_cast<int>(height));
    EXPECT_EQ(r.readoutMode, full ? 12 : 11);
    EXPECT_EQ(r.horizontalOffset, static_cast<int>(offset));
}

INSTANTIATE_TEST_SUITE_P(
    Windows, EngineFrameBuffers,
    ::testing::Values(GeometryCase{0, 2048, 0, 1536, 0, 0}, GeometryCase{0, 2048, 0, 1536, 0, 1},
                      GeometryCase{512, 640, 384, 480, 0, 0}, GeometryCase{2, 1024, 6, 800, 0, 1},
                      GeometryCase{0, 2048, 0, 1536, 1, 0},
                      GeometryCase{512, 1024, 256, 768, 1, 1}),
    [](const auto& info) {
        // Formatted in one go: GCC 12 at -O3 misreads string
        // concatenation with short literals as overlapping copies
        // (-Wrestrict).
        const GeometryCase& c = info.param;
        char name[96];
        std::snprintf(name, sizeof name, "x%dw%dy%dh%dm%d_%d", static_cast<int>(c.x),
                      static_cast<int>(c.width), static_cast<int>(c.y), static_cast<int>(c.height),
                      static_cast<int>(c.mode), c.wide != 0 ? 16 : 8);
        return std::string(name);
    });

class EngineBuffers : public EngineTest {};

// The full sensor at 8 bits: (1536 + 128) x (2048 + 128) bytes is exactly 442 blocks of 8192,
// and a frame is 2048 x 1536 bytes; 16-bit data doubles both.
TEST_F(EngineBuffers, FullSensorSizes) {
    Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->OpenCamera(0), 0);
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    EXPECT_EQ(m_engine->RawBufferCapacity(), 3620864u);
    EXPECT_EQ(m_engine->FrameSize(), 3145728u);
    m_engine->SetDataWidthFlag(1);
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    EXPECT_EQ(m_engine->RawBufferCapacity(), 2 * 3620864u);
    EXPECT_EQ(m_engine->FrameSize(), 2 * 3145728u);
}

// Without a head there is no window to size anything by: no buffer, no FPGA write.
TEST_F(EngineBuffers, NothingIsPreparedWithoutASensor) {
    auto camera = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    EXPECT_EQ(m_engine->PrepareFrameBuffers(), 0);
    EXPECT_EQ(m_engine->RawBufferCapacity(), 0u);
    EXPECT_TRUE(camera->Log().RegisterWrites().empty());
}

// A head whose state holds a window without pixels (a negative or zero size) cannot size a
// frame: the engine refuses rather than program the FPGA with a wrapped-around geometry or keep
// a frame size that does not fit its buffers.
TEST_F(EngineBuffers, AWindowWithoutPixelsIsRefused) {
    auto camera = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->OpenCamera(0), 0);
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    camera->Log().Clear();
    m_engine->Sensor()->State().m_nWidth = -16;
    EXPECT_EQ(m_engine->PrepareFrameBuffers(), 0);
    m_engine->Sensor()->State().m_nWidth = 2048;
    m_engine->Sensor()->State().m_nHeight = 0;
    EXPECT_EQ(m_engine->PrepareFrameBuffers(), 0);
    EXPECT_EQ(m_engine->RawBufferCapacity(), 0u);
    EXPECT_EQ(m_engine->FrameSize(), 0u);
    EXPECT_TRUE(camera->Log().RegisterWrites().empty());
}

}  // namespace
}  // namespace quorix
