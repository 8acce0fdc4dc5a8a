#include "settings_command.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <quorix/quorix.h>

namespace quorix::cli {

const char* const kSettingsUsage =
    "  settings show [--camera N]         print the stored settings (registry-export text)\n"
    "  settings export FILE [--camera N]  write them into FILE\n"
    "  settings import FILE [--camera N]  merge a registry-export FILE into them\n"
    "  settings reset [--camera N]        remove them, so that cameras start from defaults\n"
    "                   --camera N: only camera number N's key (-1..99; -1 is what a context\n"
    "                   keeps before any camera opens), else the whole store\n";

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr long kFirstCamera = -1;
constexpr long kLastCamera = 99;

int Usage() {
    std::fprintf(stderr, "usage:\n%s", kSettingsUsage);
    return kExitUsage;
}

// A string from one of the SDK's "bytes needed" calls.
template <typename Call>
bool Fetch(Call call, std::string* text) {
    const int32_t needed = call(nullptr, 0);
    if (needed <= 0) {
        return false;
    }
    std::vector<char> buffer(static_cast<size_t>(needed));
    // The store may have grown between the two calls: ask again until it fits.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int32_t now = call(buffer.data(), static_cast<int32_t>(buffer.size()));
        if (now <= 0) {
            return false;
        }
        if (static_cast<size_t>(now) <= buffer.size()) {
            text->assign(buffer.data(), static_cast<size_t>(now) - 1);
            return true;
        }
        buffer.resize(static_cast<size_t>(now));
    }
    return false;
}

}  // namespace

int RunSettings(int argc, char** argv) {
    if (argc < 1) {
        return Usage();
    }
    const std::string action = argv[0];
    std::vector<std::string> operands;
    int32_t camera = QUORIX_SETTINGS_ALL_CAMERAS;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--camera" && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            const long number = std::strtol(argv[++i], &end, 10);
            if (errno != 0 || end == argv[i] || *end != '\0' || number < kFirstCamera ||
                number > kLastCamera) {
                std::fprintf(stderr, "quorix settings: --camera takes %ld..%ld\n", kFirstCamera,
                             kLastCamera);
                return kExitUsage;
            }
            camera = static_cast<int32_t>(number);
        } else if (!argument.empty() && argument[0] == '-' && argument != "-") {
            return Usage();
        } else {
            operands.push_back(argument);
        }
    }
    const size_t wanted = (action == "export" || action == "import") ? 1 : 0;
    if (operands.size() != wanted ||
        (action != "show" && action != "export" && action != "import" && action != "reset")) {
        return Usage();
    }

    std::string path;
    if (!Fetch([](char* b, int32_t s) { return Quorix_GetSettingsPath(b, s); }, &path)) {
        std::fprintf(stderr, "quorix settings: no home directory to keep settings in\n");
        return kExitFailure;
    }
    if (action == "show") {
        std::string text;
        if (!Fetch([camera](char* b, int32_t s) { return Quorix_GetSettingsText(camera, b, s); },
                   &text)) {
            std::fprintf(stderr, "quorix settings: cannot read %s as settings (left as it is)\n",
                         path.c_str());
            return kExitFailure;
        }
        std::fputs(text.c_str(), stdout);
        return kExitOk;
    }
    if (action == "export") {
        if (!Quorix_ExportSettings(operands[0].c_str(), camera)) {
            std::fprintf(stderr, "quorix settings: cannot write %s\n", operands[0].c_str());
            return kExitFailure;
        }
        return kExitOk;
    }
    if (action == "import") {
        if (!Quorix_ImportSettings(operands[0].c_str(), camera)) {
            std::fprintf(stderr,
                         "quorix settings: %s was not imported (unreadable, not a registry-export"
                         " text of HKEY_CURRENT_USER keys, or %s cannot be written)\n",
                         operands[0].c_str(), path.c_str());
            return kExitFailure;
        }
        return kExitOk;
    }
    if (!Quorix_ResetSettings(camera)) {
        std::fprintf(stderr, "quorix settings: cannot write %s\n", path.c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace quorix::cli
