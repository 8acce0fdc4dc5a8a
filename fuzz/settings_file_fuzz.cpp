// The settings file parser on any bytes: it must not crash, and whatever it accepts it writes back
// as a text that reads, strictly, as the same keys and values.
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/settings_tree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using quorix::platform::SettingsTree;
    // The store reads its file leniently, leaving out the lines it cannot read.
    SettingsTree tree;
    std::vector<quorix::platform::SkippedLine> skipped;
    if (!tree.ParseLenient(std::string_view(reinterpret_cast<const char*>(data), size), skipped)) {
        return 0;
    }
    // The lookups a camera context makes.
    constexpr const char* kCamera = "Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00\\Gain";
    (void)tree.HasKey(kCamera);
    (void)tree.Dword(kCamera, "Global");
    (void)tree.Bytes(kCamera, "ExposureEx", 8);

    const std::string text = tree.Format();
    if (text.size() > SettingsTree::kMaxTextBytes) {
        return 0;  // the store refuses to write such a file
    }
    SettingsTree again;
    if (!again.Parse(text) || !(again == tree) || again.Format() != text) {
        std::abort();
    }
    return 0;
}
