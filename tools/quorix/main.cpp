// quorix - command-line tool over the SDK's public C interface.
#include <cstdio>
#include <cstring>
#include <string>

#include <quorix/quorix.h>

namespace {

int Usage(FILE* out) {
    std::fputs(
        "usage: quorix <command>\n"
        "\n"
        "commands:\n"
        "  version    print the SDK version\n"
        "  list       list the cameras that are present\n"
        "  help       show this text\n",
        out);
    return out == stderr ? 2 : 0;
}

int PrintVersion() {
    const uint32_t version = Quorix_GetDllVersion();
    std::printf("Quorix SDK %u.%u.%u.%u\n", (version >> 24) & 0xFFu, (version >> 16) & 0xFFu,
                (version >> 8) & 0xFFu, version & 0xFFu);
    return 0;
}

int ListCameras() {
    const QuorixHandle handle = Quorix_Initialize(nullptr);
    if (handle == 0) {
        std::fputs("quorix: could not create a camera context\n", stderr);
        return 1;
    }
    char names[10][256] = {};
    const int32_t count = Quorix_EnumDevice(handle, names);
    if (count <= 0) {
        std::puts("No cameras found.");
    } else {
        for (int32_t i = 0; i < count; ++i) {
            std::printf("%d: %s\n", i, names[i]);
        }
    }
    Quorix_Release(handle);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return Usage(stderr);
    }
    const std::string command = argv[1];
    if (command == "version") {
        return PrintVersion();
    }
    if (command == "list") {
        return ListCameras();
    }
    if (command == "help" || command == "--help" || command == "-h") {
        return Usage(stdout);
    }
    std::fprintf(stderr, "quorix: unknown command '%s'\n\n", command.c_str());
    return Usage(stderr);
}
