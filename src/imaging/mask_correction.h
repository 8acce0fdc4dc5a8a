#pragma once

#include <cstdint>

#include "imaging/image_buffer.h"

// The two corrections of a raw frame (8 or 16 bits per sample) that come before any other
// processing: the flat field, which maps every sample between a dark and a white frame recorded
// from the camera itself, and the dot filter, which replaces defective pixels. The recorded
// frames and the defect maps derived from them cover the whole sensor; a frame from a capture
// window reads them at its window's sensor position, without scaling for sub-sampling.
namespace quorix {

// A pixel at least this far from the mean of its four direct neighbours counts as a dot.
inline constexpr int32_t kDotThreshold8 = 30;
inline constexpr int32_t kDotThreshold16 = 480;
// A dark-frame sample above these reads light where there is none (hot); a white-frame sample
// below these stays dark under light (dead).
inline constexpr int32_t kHotLevel8 = 192;
inline constexpr int32_t kDeadLevel8 = 64;
inline constexpr int32_t kHotLevel16 = 12288;
inline constexpr int32_t kDeadLevel16 = 4096;
// Rows and columns along each edge of a defect map that never mark a defect [pixels].
inline constexpr int32_t kDefectMapBorder = 2;

// Flat field, in place: each sample v of `frame` with dark d and white w at its sensor position
// becomes ((v - d) x 256) / (w - d) (8 bits, integer division toward zero; left alone where
// w = d) or ((v - d) x 65536) / (w - d) (16 bits; left alone unless w > d), limited to the
// sample's range. `dark` and `white` are planes of the frame's depth; (x0, y0) is the sensor
// position of the frame's top-left pixel; `margin` rows and columns along the frame's edges are
// left alone. Positions beyond the planes are left alone too. Nothing happens when the depths do
// not match.
void ApplyFlatField(CImageBuffer& frame, const CImageBuffer& dark, const CImageBuffer& white,
                    int32_t x0, int32_t y0, int32_t margin);

// Dot filter, in place. Marks, in `dotMap` (a map of the frame's depth at least the frame's
// size, addressed like the frame), every pixel off the frame's edges that the hot or dead map
// marks at its sensor position (window origin x0, y0) or that differs by the threshold or more
// from the mean of its four direct neighbours ((left + right + up + down) >> 2). Then, in scan
// order, each marked pixel becomes the integer mean of the first unmarked pixel found searching
// left, right, up and down from it, and counts as unmarked from then on, so the pixels after it
// see its new value. Every other entry of the frame's area in `dotMap` is cleared. Nothing
// happens when the depths or sizes do not match.
void ApplyDotFilter(CImageBuffer& frame, const CImageBuffer& hotMap, const CImageBuffer& deadMap,
                    CImageBuffer& dotMap, int32_t x0, int32_t y0);

// The defect map of a recorded plane (8 or 16 bits, same size and depth as `map`): 1 inside the
// border where a dark plane (`hot`) is above the hot level or a white plane is below the dead
// level, else 0; the border stays 0.
void DeriveDefectMap(CImageBuffer& map, const CImageBuffer& plane, bool hot);

}  // namespace quorix
