#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "context/quorix.h"
#include "context/settings_keys.h"
#include "dialogs/dialog_model.h"

namespace quorix::dialogs {

// The format dialog: colour type, capture window presets, sub-sampling and the preview's wait
// time of the open camera, kept in the settings store under its camera number. Acquisition is
// stopped while it is open; OK and "Apply(&A)" save the settings, and after OK the context takes
// them over. The exported call owns it; the context must have an engine.
class CameraDialog final : public DialogModel {
public:
    static constexpr int32_t kIdApply = 1002;
    static constexpr int32_t kIdColour = 1009;
    static constexpr int32_t kIdSize = 1010;
    static constexpr int32_t kIdSubSample = 1012;
    static constexpr int32_t kIdClock = 1014;
    // Total width, total height, width, height, horizontal start, vertical start.
    static constexpr int32_t kIdGeometry[6] = {1039, 1040, 1041, 1042, 1043, 1044};
    static constexpr int32_t kIdWaitTime = 1045;
    // Why OK or "Apply(&A)" refused the window in the geometry edits; hidden while there is none.
    static constexpr int32_t kIdWindowRule = 1056;

    // A size preset: the six geometry values and the buffer count, in the store's order.
    using Preset = std::array<uint32_t, 7>;
    static constexpr Preset kDefaultPreset = {2048, 1536, 2048, 1536, 0, 0, 4};

    // Stops a running preview or capture first.
    CameraDialog(CQuorix& context, platform::Language language);
    // A dialog left without Finish counts as cancelled; acquisition restarts either way.
    ~CameraDialog() override;

    // After the modal loop: after OK the context reloads the capture window and format settings
    // from the store; then the preview or capture that ran before starts again. Returns 1.
    int Finish() override;

    // The presets as the dialog holds them now.
    std::vector<Preset> Presets() const {
        return {m_presets.begin(), m_presets.begin() + m_presetCount};
    }

private:
    static constexpr int32_t kPage = 0;
    static constexpr int32_t kClockEntries = 3;
    static constexpr int32_t kHighClockEntry = 2;

    void ReadStore();
    void ShowPreset(int32_t index);
    void UpdateGeometryEnables();
    void ChooseHalfSkipPreset();
    int32_t AppendPreset(const Preset& preset);
    std::string Title(const Preset& preset) const;
    // The preset the edits describe: the selected one (the defaults for "Custom") with every
    // geometry edit that holds a number not below 0.
    Preset EditedPreset() const;
    // The rule of the sensor's read-out that the window of `preset` breaks with this
    // sub-sampling, in the dialog's language; empty when the camera can read it.
    std::string BrokenWindowRule(const Preset& preset, int32_t subSample) const;
    // Shows why the edited window cannot be read and answers false; true when it can.
    bool CheckWindow();
    void Save();

    void OnTrio(int32_t, const Trio&, int32_t) override {}
    void OnEdit(int32_t page, int32_t id) override;
    void OnSelect(int32_t page, int32_t id, int32_t index) override;
    void OnClick(int32_t page, int32_t id) override;

    CQuorix& m_context;
    CQuorixU3R5Base& m_engine;
    int32_t m_stateBefore = 0;  // acquisition state when the dialog opened
    int32_t m_cameraNumber = 0;
    bool m_widthAdjustable = true;
    bool m_heightAdjustable = true;

    std::array<Preset, kMaxSizePresets> m_presets;
    int32_t m_presetCount = 0;
    int32_t m_size = 0;
    int32_t m_colourType = 2;
    int32_t m_subSample = 0;
    int32_t m_waitTime = 1;
    int32_t m_clock = 0;
    std::vector<int32_t> m_colourTypes;  // of the entries of the colour list
    bool m_finished = false;
};

}  // namespace quorix::dialogs
