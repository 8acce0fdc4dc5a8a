#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "context/quorix.h"
#include "dialogs/dialog_model.h"

namespace quorix::dialogs {

// The units the exposure in seconds is shown in.
enum class ExposureUnit : int32_t { kNanoseconds = 0, kMicroseconds, kMilliseconds, kSeconds };

// The unit an exposure [s] is best shown in: above one second seconds, from 1 ms milliseconds,
// from 1 us microseconds, below that nanoseconds.
ExposureUnit ClassifyExposure(double seconds);
// Its name: "ns", "μs", "ms", "sec".
const char* UnitName(ExposureUnit unit);
// Seconds scaled into a unit, and a number of a unit back into seconds.
double ScaleToUnit(double seconds, ExposureUnit unit);
double ScaleFromUnit(double number, ExposureUnit unit);
// A number as the seconds edit box shows it: three decimals when its fractional part is at least
// 0.001, six when at least 0.000001, else the whole number.
std::string FormatExposureNumber(double number);

// The analog dialog: gains, exposure, mirroring, automatic exposure or gain and the head's own
// analog features of the open camera, applied to the context and the camera as they change. It
// works on the context's values and keeps a copy of them, which Cancel sends back to the camera.
// The exported call owns it; the context must have an engine.
class AnalogDialog final : public DialogModel {
public:
    // Identifiers of the page's controls.
    static constexpr Trio kGlobalGain{1013, 1015, 1050};
    static constexpr Trio kColourGainGreen1{1018, 1019, 1051};
    static constexpr Trio kColourGainRed{1020, 1021, 1052};
    static constexpr Trio kColourGainBlue{1022, 1023, 1053};
    static constexpr Trio kColourGainGreen2{1024, 1025, 1054};
    static constexpr Trio kExposure{1026, 1027, 1055};  // [100 us]
    static constexpr Trio kBlackLevel{2128, 2129, 2130};
    static constexpr int32_t kIdMirrorV = 1028;
    static constexpr int32_t kIdMirrorH = 1029;
    static constexpr int32_t kIdAutoGain = 1036;      // auto-iris mode 2
    static constexpr int32_t kIdAutoExposure = 1037;  // auto-iris mode 1
    static constexpr int32_t kIdExposureMs = 1049;
    static constexpr int32_t kIdCooler = 2124;
    static constexpr int32_t kIdShortExposure = 2125;
    static constexpr int32_t kIdGainMode = 2126;
    static constexpr int32_t kIdBlackLevelLabel = 2127;
    static constexpr int32_t kIdSeconds = 2131;
    static constexpr int32_t kIdUnit = 2132;
    static constexpr int32_t kIdRange = 2133;
    static constexpr int32_t kIdSecondsLabel = 2134;

    AnalogDialog(CQuorix& context, platform::Language language);
    // A dialog left without Finish counts as cancelled.
    ~AnalogDialog() override;

    // After the modal loop: unless OK closed it, the kept values go back to the camera and the
    // context. Returns 1, the exported call's result.
    int Finish() override;

    // Whether the page is the one of colour heads (with colour gains).
    bool ColourPage() const { return m_colourPage; }

private:
    static constexpr int32_t kPage = 0;

    void InitialisePage();
    void RefreshPage();
    void ShowSeconds(double seconds);
    void ShowSecondsIn(double seconds, ExposureUnit unit);
    void ShowMilliseconds();
    void ReadBack();
    void SendCameraValues(const CameraValues& values);
    void Default();

    void OnTrio(int32_t page, const Trio& trio, int32_t value) override;
    void OnEdit(int32_t page, int32_t id) override;
    void OnSelect(int32_t page, int32_t id, int32_t index) override;
    void OnCheck(int32_t page, int32_t id, bool checked) override;
    void OnClick(int32_t page, int32_t id) override;
    void ShowFrameValues() override;

    CQuorix& m_context;
    CQuorixU3R5Base& m_engine;
    CameraValues m_kept;
    bool m_colourPage = false;
    bool m_seconds = false;
    bool m_blackLevel = false;
    bool m_cooler = false;
    bool m_shortExposure = false;
    bool m_gainMode = false;
    std::vector<ExposureUnit> m_units;  // of the entries of the unit list
    std::vector<int32_t> m_touched;     // trackbars of the trios the user moved
    bool m_secondsTyped = false;
    bool m_finished = false;
};

}  // namespace quorix::dialogs
