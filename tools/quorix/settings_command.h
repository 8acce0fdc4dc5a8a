#pragma once

namespace quorix::cli {

// `quorix settings show|export FILE|import FILE|reset [--camera N]`: the current user's settings
// store through the SDK's settings calls. argv holds what follows "settings". Returns the tool's
// exit code.
int RunSettings(int argc, char** argv);

// The usage lines of the command, for the tool's help text.
extern const char* const kSettingsUsage;

}  // namespace quorix::cli
