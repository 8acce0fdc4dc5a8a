#pragma once

#include <cstdint>
#include <vector>

#include "context/quorix.h"
#include "dialogs/dialog_model.h"

namespace quorix::dialogs {

// The image dialog: the software adjustments of the processed frames (image filter) and, for the
// monochrome colour types, the gray filter. Changes go straight into the context's values, so
// the next frames show them; a copy of the values from before is written back unless OK closes
// it. The exported call owns it; the context must have an engine.
class ImageDialog final : public DialogModel {
public:
    static constexpr int32_t kImagePage = 0;
    static constexpr int32_t kGrayPage = 1;

    static constexpr Trio kBrightness{2001, 2002, 2003};
    static constexpr Trio kContrast{2011, 2012, 2013};
    static constexpr Trio kHue{2021, 2022, 2023};
    static constexpr Trio kSaturation{2031, 2032, 2033};
    static constexpr Trio kSharpness{2041, 2042, 2043};
    static constexpr Trio kGainRed{2051, 2052, 2053};
    static constexpr Trio kGainGreen{2061, 2062, 2063};
    static constexpr Trio kGainBlue{2071, 2072, 2073};
    static constexpr Trio kGamma{2081, 2082, 2083};
    // Gray gains R, G1, G2, B, then gray offsets R, G1, G2, B.
    static constexpr Trio kGrayTrios[8] = {
        {2100, 2101, 2102}, {2103, 2104, 2105}, {2106, 2107, 2108}, {2109, 2110, 2111},
        {2112, 2113, 2114}, {2115, 2116, 2117}, {2118, 2119, 2120}, {2121, 2122, 2123}};
    static constexpr int32_t kIdBayerMode0 = 1030;  // to 1033: Bayer modes 0-3
    static constexpr int32_t kIdAutoAllFrames = 1035;
    static constexpr int32_t kIdAutoOnce = 2074;
    static constexpr int32_t kIdGrayMode0 = 1046;  // to 1048: gray modes 0-2

    ImageDialog(CQuorix& context, platform::Language language);
    // A dialog left without Finish counts as cancelled.
    ~ImageDialog() override;

    // After the modal loop: unless OK closed it, the values from before are put back. Returns 1.
    int Finish() override;

    bool HasGrayPage() const { return m_grayPage; }

private:
    void RefreshPages();
    void ShowFrameValues() override;
    void ReadBack();

    void OnTrio(int32_t page, const Trio& trio, int32_t value) override;
    void OnCheck(int32_t page, int32_t id, bool checked) override;
    void OnClick(int32_t page, int32_t id) override;

    CQuorix& m_context;
    ImageValues m_kept;
    std::vector<int32_t> m_touched;  // trackbars of the trios the user moved
    bool m_grayPage = false;
    bool m_finished = false;
};

}  // namespace quorix::dialogs
