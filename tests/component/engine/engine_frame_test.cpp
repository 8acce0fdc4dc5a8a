// The picture the host gets for the geometry it programs: the head's window registers, the
// engine's FPGA geometry and read-out mode, and the camera's read-out must agree on which sensor
// pixels arrive. Checked on the scene's horizontal gray ramp (rows 768-1023, nominal 12-bit
// value 2 x column, the same through every colour filter), at the default exposure and gain,
// which give the nominal values.

#include <gtest/gtest.h>

#include <vector>

#include "engine_fixture.h"
#include "platform/clock.h"
#include "sensors/sensor_base.h"
#include "transport/frame_record.h"
#include "transport/vol_cy3_cam.h"

namespace quorix {
namespace {

using test::EngineTest;

class EngineFrames : public EngineTest {
protected:
    // One frame as the camera sends it, through the controller's frame protocol.
    std::vector<uint8_t> ReadOneFrame() {
        CVolCy3Cam& controller = *m_engine->Controller();
        std::vector<uint8_t> frame(m_engine->FrameSize());
        FrameRecord record;
        record.destination = frame.data();
        record.capacity = static_cast<uint32_t>(frame.size());
        EXPECT_EQ(controller.OpenStreamHandle(), 1);
        EXPECT_EQ(controller.ReadFrameHeader(&record), 1);
        EXPECT_EQ(record.ByteCount(), m_engine->FrameSize());
        EXPECT_EQ(controller.ReadFrameData(&record, 3000), 1);
        controller.CloseStreamHandle();
        return frame;
    }
};

TEST_F(EngineFrames, FullResolutionWindowDeliversItsOwnColumns) {
    platform::SetTimeScale(1);  // real frame timing: the receive limits are real too
    auto camera = Attach();
    ASSERT_NO_FATAL_FAILURE(CreateEngine());
    ASSERT_EQ(m_engine->OpenCamera(0), 0);
    CSensorBase& head = *m_engine->Sensor();
    ASSERT_EQ(head.SetDataWidth(0), 1);  // 8-bit data; the default 17 ms exposure applies
    constexpr int32_t kX = 512, kWidth = 640, kY = 768, kHeight = 256;
    ASSERT_EQ(head.SetCaptureWindow(kX, kWidth, kY, kHeight, 0), 1);
    ASSERT_EQ(m_engine->PrepareFrameBuffers(), 1);
    ASSERT_EQ(m_engine->FrameSize(), static_cast<uint32_t>(kWidth * kHeight));

    const std::vector<uint8_t> frame = ReadOneFrame();
    // Rows leave the sensor right to left: position p of a line is column x + width - 1 - p.
    int mismatches = 0;
    for (int row : {0, 1, 100, kHeight - 1}) {
        for (int p : {0, 1, 2, 300, kWidth - 2, kWidth - 1}) {
            const int column = kX + kWidth - 1 - p;
            const int expected = (2 * column) >> 4;
            const int got = frame[static_cast<size_t>(row * kWidth + p)];
            if (got != expected && ++mismatches <= 5) {
                ADD_FAILURE() << "row " << row << " position " << p << ": got " << got
                              << ", column " << column << " reads " << expected;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace quorix
