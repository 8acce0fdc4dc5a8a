#include "sim/scene.h"

#include <algorithm>
#include <cstddef>

namespace quorix::sim {

namespace {

uint16_t Pick(const SceneColour& colour, CfaColour filter) {
    switch (filter) {
        case CfaColour::kRed:
            return colour.red;
        case CfaColour::kBlue:
            return colour.blue;
        case CfaColour::kGreen:
            break;
    }
    return colour.green;
}

SceneColour Gray(int value) {
    const auto v = static_cast<uint16_t>(value);
    return {v, v, v};
}

bool InMarker(int row, int column, uint32_t frameNumber) {
    const int left = Scene::MarkerColumn(frameNumber);
    return row >= kMarkerTop && row < kMarkerTop + kMarkerSize && column >= left &&
           column < left + kMarkerSize;
}

bool CodeBitSet(int column, uint32_t frameNumber) {
    const int bit = column / kCodeCellWidth;
    return bit < kCodeBits && ((frameNumber >> bit) & 1u) != 0;
}

bool InCodeCells(int row) {
    return row >= kCodeCellTop && row < kCodeCellTop + kCodeCellHeight;
}

}  // namespace

CfaColour Scene::ColourAt(int row, int column) {
    // G R on even rows, B G on odd rows; the parity of negative coordinates follows the same
    // two-by-two tiling.
    const bool oddRow = (row & 1) != 0;
    const bool oddColumn = (column & 1) != 0;
    if (oddRow == oddColumn)
        return CfaColour::kGreen;
    return oddRow ? CfaColour::kBlue : CfaColour::kRed;
}

int Scene::MarkerColumn(uint32_t frameNumber) {
    return kMarkerStep * static_cast<int>(frameNumber % kMarkerPositions);
}

SceneColour Scene::ColourOf(int row, int column, uint32_t frameNumber) {
    if (row < 0 || row >= kSensorHeight || column < 0 || column >= kSensorWidth)
        return Gray(0);
    if (row < kHorizontalRampTop) {
        const int patch = (row - kPatchTop) / kPatchSize * kPatchColumns + column / kPatchSize;
        return kPatchColours[static_cast<size_t>(patch)];
    }
    if (row < kVerticalRampTop)
        return Gray(kHorizontalRampSlope * column);
    if (row < kMarkerLaneTop)
        return Gray(kVerticalRampSlope * (row - kVerticalRampTop));
    if (row < kCodeBandTop)
        return Gray(InMarker(row, column, frameNumber) ? kMarkerLevel : kDarkLevel);
    if (InCodeCells(row) && CodeBitSet(column, frameNumber))
        return Gray(kMarkerLevel);
    return Gray(kDarkLevel);
}

uint16_t Scene::NominalSample(int row, int column, uint32_t frameNumber) {
    return Pick(ColourOf(row, column, frameNumber), ColourAt(row, column));
}

bool Scene::RowChangesWithFrame(int row) {
    return (row >= kMarkerTop && row < kMarkerTop + kMarkerSize) || InCodeCells(row);
}

void Scene::NominalRow(int row, uint32_t frameNumber, uint16_t* out) {
    if (row < 0 || row >= kSensorHeight) {
        std::fill(out, out + kSensorWidth, uint16_t{0});
        return;
    }
    if (row < kHorizontalRampTop) {
        // A patch row: each patch alternates between two filter colours along the row.
        const size_t first = static_cast<size_t>((row - kPatchTop) / kPatchSize) * kPatchColumns;
        const CfaColour evenFilter = ColourAt(row, 0);
        const CfaColour oddFilter = ColourAt(row, 1);
        for (int patch = 0; patch < kPatchColumns; ++patch) {
            const SceneColour& colour = kPatchColours[first + static_cast<size_t>(patch)];
            const uint16_t even = Pick(colour, evenFilter);
            const uint16_t odd = Pick(colour, oddFilter);
            uint16_t* p = out + static_cast<ptrdiff_t>(patch) * kPatchSize;
            for (int c = 0; c < kPatchSize; c += 2) {
                p[c] = even;
                p[c + 1] = odd;
            }
        }
        return;
    }
    if (row < kVerticalRampTop) {
        for (int c = 0; c < kSensorWidth; ++c)
            out[c] = static_cast<uint16_t>(kHorizontalRampSlope * c);
        return;
    }
    if (row < kMarkerLaneTop) {
        std::fill(out, out + kSensorWidth,
                  static_cast<uint16_t>(kVerticalRampSlope * (row - kVerticalRampTop)));
        return;
    }
    std::fill(out, out + kSensorWidth, kDarkLevel);
    if (row < kCodeBandTop) {
        if (row >= kMarkerTop && row < kMarkerTop + kMarkerSize) {
            const int left = MarkerColumn(frameNumber);
            std::fill(out + left, out + left + kMarkerSize, kMarkerLevel);
        }
        return;
    }
    if (InCodeCells(row)) {
        for (int bit = 0; bit < kCodeBits; ++bit) {
            if (((frameNumber >> bit) & 1u) != 0)
                std::fill(out + static_cast<ptrdiff_t>(bit) * kCodeCellWidth,
                          out + static_cast<ptrdiff_t>(bit + 1) * kCodeCellWidth, kMarkerLevel);
        }
    }
}

}  // namespace quorix::sim
