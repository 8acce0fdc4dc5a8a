// The current user's settings store for Linux applications and the quorix tool: where it is, its
// text, export, import and reset. None of these takes a context; contexts read and write the
// store themselves.
#include <algorithm>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include <quorix/quorix.h>

#include "context/quorix.h"
#include "platform/file_io.h"
#include "platform/settings_store.h"

namespace {

using quorix::CQuorix;
using quorix::platform::SettingsStore;
using quorix::platform::SettingsTree;

// The root of what a call with this camera selector covers.
std::string Root(int32_t camera) {
    return camera == QUORIX_SETTINGS_ALL_CAMERAS ? std::string(CQuorix::kSettingsProductKey)
                                                 : CQuorix::SettingsCameraKey(camera);
}

// The store's text; false when its file exists but holds nothing that can be read. Looking
// never changes the file. Lines of the file that were left out are named in comments after the
// header, so that whoever reads the text learns what the next save will drop.
bool Text(int32_t camera, std::string& text) {
    const SettingsStore store = SettingsStore::CurrentUser();
    SettingsStore::ReadNotes notes;
    const SettingsTree stored = store.Peek(&notes);
    if (!notes.readable || notes.unusable) {
        return false;
    }
    text = (camera == QUORIX_SETTINGS_ALL_CAMERAS ? stored : stored.Subtree(Root(camera))).Format();
    // A path with a line break in it must not end the comment.
    std::string path = store.FilePath();
    std::replace_if(
        path.begin(), path.end(), [](char c) { return c == '\r' || c == '\n'; }, '?');
    std::string comments;
    for (const quorix::platform::SkippedLine& line : notes.skipped) {
        comments += "; " + path + ": " + SettingsStore::SkippedLineText(line) + "\r\n";
    }
    text.insert(text.find('\n') + 1, comments);
    return true;
}

// Copies `text` with its terminator when it fits; the bytes it needs, 0 when that is no int32.
int32_t CopyOut(const std::string& text, char* buffer, int32_t size) {
    if (text.size() + 1 > static_cast<size_t>(INT32_MAX)) {
        return 0;
    }
    const auto needed = static_cast<int32_t>(text.size() + 1);
    if (buffer != nullptr && size >= needed) {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    }
    return needed;
}

// The whole file, if it is a regular file of at most the bytes a settings text may hold.
bool ReadFile(const char* fileName, std::string& bytes) {
    std::vector<uint8_t> contents;
    if (quorix::platform::ReadFileContents(fileName, SettingsTree::kMaxTextBytes, contents) !=
        quorix::platform::ReadResult::kRead) {
        return false;
    }
    bytes.assign(contents.begin(), contents.end());
    return true;
}

}  // namespace

extern "C" {

QUORIX_API int32_t Quorix_GetSettingsPath(char* buffer, int32_t size) {
    try {
        const SettingsStore store = SettingsStore::CurrentUser();
        return store.Directory().empty() ? 0 : CopyOut(store.FilePath(), buffer, size);
    } catch (const std::exception&) {
        return 0;
    }
}

QUORIX_API int32_t Quorix_GetSettingsText(int32_t camera, char* buffer, int32_t size) {
    try {
        std::string text;
        return Text(camera, text) ? CopyOut(text, buffer, size) : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

QUORIX_API int Quorix_ExportSettings(const char* fileName, int32_t camera) {
    if (fileName == nullptr || fileName[0] == '\0') {
        return 0;
    }
    try {
        std::string text;
        if (!Text(camera, text)) {
            return 0;
        }
        return quorix::platform::ReplaceFileContents(
                   fileName, reinterpret_cast<const uint8_t*>(text.data()), text.size())
                   ? 1
                   : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

QUORIX_API int Quorix_ImportSettings(const char* fileName, int32_t camera) {
    if (fileName == nullptr) {
        return 0;
    }
    try {
        std::string text;
        if (!ReadFile(fileName, text)) {
            return 0;
        }
        bool parsed = false;
        const bool written = SettingsStore::CurrentUser().Update([&](SettingsTree& stored) {
            // The file applies to a copy: a text that fails half-way changes nothing.
            SettingsTree changed = stored;
            parsed = changed.Parse(text);
            if (!parsed) {
                return false;
            }
            if (camera == QUORIX_SETTINGS_ALL_CAMERAS) {
                stored = std::move(changed);
            } else {
                stored.ReplaceSubtree(Root(camera), changed);
            }
            return true;
        });
        return parsed && written ? 1 : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

QUORIX_API int Quorix_ResetSettings(int32_t camera) {
    try {
        return SettingsStore::CurrentUser().Update([camera](SettingsTree& stored) {
            stored.DeleteKey(Root(camera));
            return true;
        })
                   ? 1
                   : 0;
    } catch (const std::exception&) {
        return 0;
    }
}

}  // extern "C"
