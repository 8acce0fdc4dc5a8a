// The camera's frame renderer keeps the picture of one set of settings and redraws only what the
// frame number shows. Every frame it hands out must be byte for byte the frame rendered in full
// from the scene: across frame numbers (the marker wrapping round, code bits set and cleared) and
// right after any setting that shapes the picture changes (no stale kept picture).

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/camera_registers.h"
#include "sim/frame_generator.h"
#include "sim/scene.h"

namespace quorix::sim::test {
namespace {

FrameRecipe WholeSensor(int bytesPerPixel) {
    FrameRecipe recipe;
    ReadoutSettings& r = recipe.readout;
    r.readoutMode = reg::kReadoutFull;
    r.bytesPerPixel = bytesPerPixel;
    r.windowWidth = r.frameWidth = kSensorWidth;
    r.windowHeight = r.frameHeight = kSensorHeight;
    r.frameBytes = static_cast<uint32_t>(kSensorWidth * kSensorHeight * bytesPerPixel);
    return recipe;
}

TEST(EmulatorFrameRenderer, EveryFrameMatchesTheFullRendering) {
    FrameRenderer renderer;
    int step = 0;
    // Renders a few frame numbers under one set of settings, the first right after the change.
    const auto expectSame = [&](FrameRecipe recipe) {
        ++step;
        for (uint32_t frame : {7u, 8u, 62u, 63u, 64u, 0x80000000u, 0xFFFFFFFFu, 5u}) {
            recipe.frameNumber = frame;
            ASSERT_EQ(renderer.Render(recipe), FrameGenerator::Render(recipe))
                << "settings " << step << ", frame " << frame;
        }
    };
    FrameRecipe recipe = WholeSensor(1);
    expectSame(recipe);
    recipe.readout.mirrorH = true;
    expectSame(recipe);
    recipe.readout.mirrorV = true;
    expectSame(recipe);
    // A window across the marker lane and the code band, at 16 bits.
    recipe = WholeSensor(2);
    recipe.readout.windowX = 200;
    recipe.readout.windowY = 1200;
    recipe.readout.windowWidth = recipe.readout.frameWidth = 640;
    recipe.readout.windowHeight = recipe.readout.frameHeight = 320;
    expectSame(recipe);
    recipe.readout.brightness = 0.5;  // gain or exposure
    expectSame(recipe);
    recipe.blackShift = 12;
    recipe.imperfections.darkOffset = 40;
    recipe.imperfections.castRed = 0.7;
    expectSame(recipe);
    recipe.imperfections.vignetting = 0.4;
    expectSame(recipe);
    // Sub-sampled whole lines with an FPGA offset, defects on.
    recipe = WholeSensor(1);
    recipe.readout.readoutMode = reg::kReadoutSubSampled;
    recipe.readout.subSampleH = recipe.readout.subSampleV = true;
    recipe.readout.horizontalOffset = 6;
    recipe.readout.frameWidth = 1000;
    recipe.readout.frameHeight = 768;
    recipe.imperfections.defectPixels = true;
    expectSame(recipe);
    // Noise changes every pixel of every frame.
    recipe.imperfections.noiseSigma = 30;
    expectSame(recipe);
}

}  // namespace
}  // namespace quorix::sim::test
