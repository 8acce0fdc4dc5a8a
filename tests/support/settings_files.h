#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/settings_store.h"

namespace quorix::test {

// The product key's section line and the start of every settings file.
inline const std::string kSettingsHeader = "Windows Registry Editor Version 5.00\n\n";
inline const std::string kProductSection =
    "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk]\n";

// The section line of a key below a camera's key ("" for the camera key itself).
inline std::string CameraSection(int camera, const std::string& subkey = "") {
    char number[16];
    std::snprintf(number, sizeof number, "%02d", camera);
    return "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_" +
           std::string(number) + (subkey.empty() ? "" : "\\" + subkey) + "]\n";
}

// The key path of a camera's key or one of its subkeys, as the tree names it.
inline std::string CameraKeyPath(int camera, const std::string& subkey = "") {
    std::string section = CameraSection(camera, subkey);
    return section.substr(19, section.size() - 21);  // without "[HKEY_CURRENT_USER\" and "]\n"
}

// Writes the test's settings file as a person would (the test's own XDG_CONFIG_HOME).
inline void WriteSettingsFile(const std::string& text) {
    const platform::SettingsStore store = platform::SettingsStore::CurrentUser();
    std::filesystem::create_directories(store.Directory());
    std::ofstream(store.FilePath(), std::ios::binary) << text;
}

inline platform::SettingsTree StoredSettings() {
    return platform::SettingsStore::CurrentUser().Read();
}

}  // namespace quorix::test
