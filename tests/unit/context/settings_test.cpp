// The context's settings calls in a context without a camera engine: each fails with code 1,
// recorded or posted only as the call documents it, and changes nothing; the sampling rate fails
// silently.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "context/quorix.h"
#include "platform/message_window.h"

namespace quorix {
namespace {

void DrainThreadQueue() {
    platform::Message message{};
    while (platform::PeekMessage(0, message) == platform::WaitResult::kMessage) {
    }
}

struct NoEngineCase {
    const char* name;
    std::function<bool(CQuorix&)> call;  // true when the result (and flag) are the failure's
    uint32_t recorded;                   // code in the history afterwards, 0 for none
    uint32_t posted;                     // code posted to the thread queue, 0 for none
};

TEST(SettingsWithoutEngine, FailWithCodeOneRecordedOrPosted) {
    DrainThreadQueue();
    CQuorix context([] { return std::unique_ptr<CQuorixU3R5Base>(); });
    ASSERT_EQ(context.Initialize(0), 1);
    ASSERT_EQ(context.Engine(), nullptr);
    int32_t ok = 7;
    uint8_t port = 0x77;
    const auto flagCleared = [&ok] {
        const bool cleared = ok == 0;
        ok = 7;
        return cleared;
    };
    const std::vector<NoEngineCase> cases = {
        {"GetFilterValue brightness",
         [&](CQuorix& c) { return c.GetFilterValue(1, &ok) == 0 && flagCleared(); }, 1, 0},
        {"GetFilterValue gain mode",
         [&](CQuorix& c) { return c.GetFilterValue(104, &ok) == -1 && flagCleared(); }, 1, 0},
        {"SetFilterValue brightness", [](CQuorix& c) { return c.SetFilterValue(1, 5) == 0; }, 1, 0},
        {"SetFilterValue bad ID", [](CQuorix& c) { return c.SetFilterValue(400, 5) == 0; }, 1, 0},
        {"SetExposureTimeEx", [](CQuorix& c) { return c.SetExposureTimeEx(0.1) == 0; }, 1, 0},
        {"GetExposureTimeEx",
         [&](CQuorix& c) { return c.GetExposureTimeEx(&ok) == -1.0 && flagCleared(); }, 1, 0},
        {"SetRealExposureTime", [](CQuorix& c) { return c.SetRealExposureTime(1000) == 0; }, 1, 0},
        {"SetMirrorH", [](CQuorix& c) { return c.SetMirrorH(1) == 0; }, 1, 0},
        {"GetMirrorH", [](CQuorix& c) { return c.GetMirrorH() == 0; }, 1, 0},
        {"SetMirrorV", [](CQuorix& c) { return c.SetMirrorV(1) == 0; }, 0, 1},
        {"GetMirrorV", [](CQuorix& c) { return c.GetMirrorV() == 0; }, 0, 1},
        {"GetTemperatureEx",
         [&](CQuorix& c) { return c.GetTemperatureEx(&ok) == 0.0 && flagCleared(); }, 1, 0},
        {"SetInternalCorrection", [](CQuorix& c) { return c.SetInternalCorrection(1) == 0; }, 1, 0},
        {"GetInternalCorrection",
         [&](CQuorix& c) { return c.GetInternalCorrection(&ok) == 0 && flagCleared(); }, 1, 0},
        {"SetSamplingRate", [](CQuorix& c) { return c.SetSamplingRate(3) == 0; }, 0, 0},
        {"SetIOPort", [](CQuorix& c) { return c.SetIOPort(3) == 0; }, 0, 1},
        {"GetIOPort", [&](CQuorix& c) { return c.GetIOPort(&port) == 0 && port == 0x77; }, 0, 1},
        {"ReadRegister",
         [&](CQuorix& c) { return c.ReadRegister(0x404, &ok) == 0 && flagCleared(); }, 1, 0},
        {"WriteRegister", [](CQuorix& c) { return c.WriteRegister(0x404, 1) == 0; }, 1, 0},
        {"ReadSromId", [&](CQuorix& c) { return c.ReadSromId(0x80, &ok) == 0 && flagCleared(); }, 0,
         1},
        {"WriteSromId", [](CQuorix& c) { return c.WriteSromId(0x80, 1) == 0; }, 0, 1},
    };
    for (const NoEngineCase& e : cases) {
        EXPECT_TRUE(e.call(context)) << e.name << ": result";
        EXPECT_EQ(context.GetLastError(), e.recorded) << e.name << ": recorded code";
        EXPECT_EQ(context.GetLastError(), 0u) << e.name << ": more than one code";
        platform::Message message{};
        if (e.posted != 0) {
            ASSERT_EQ(platform::PeekMessage(0, message), platform::WaitResult::kMessage) << e.name;
            EXPECT_EQ(message.message, CQuorix::kMsgError) << e.name;
            EXPECT_EQ(message.lParam, static_cast<intptr_t>(e.posted)) << e.name;
        }
        EXPECT_EQ(platform::PeekMessage(0, message), platform::WaitResult::kTimeout)
            << e.name << ": unexpected post";
    }
    // Nothing was stored on the way.
    EXPECT_EQ(context.Camera().mirrorH, 0);
    EXPECT_EQ(context.Camera().mirrorV, 0);
    EXPECT_EQ(context.Images().brightness, 0);
}

}  // namespace
}  // namespace quorix
