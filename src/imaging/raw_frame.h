#pragma once

#include "imaging/image_buffer.h"

// Steps on the raw frame slot (8 or 16 bits per sample) before it is demosaiced: moving the
// engine's packed rows to their stride positions and the software mirror.
namespace quorix {

// The engine writes a frame with its rows back to back (width x bytes per sample each); when that
// differs from the slot's stride the rows are moved in place to their stride positions. Slots
// that are empty or not 8 or 16 bits per sample are left alone.
void RepackRows(CImageBuffer& raw);

// Mirrors the image in software: horizontally each row's pixels are reversed, vertically row k
// moves to row height - 1 - k; both at once when both are asked for. Works through a temporary
// copy of the pixels and honours the image's bytes per pixel.
void MirrorImage(CImageBuffer& image, bool horizontal, bool vertical);

}  // namespace quorix
