#pragma once

#include <functional>
#include <string>

#include "platform/settings_tree.h"

namespace quorix::platform {

// The current user's settings hive on disk: one text file, settings.reg, in the registry-export
// format of SettingsTree, in $XDG_CONFIG_HOME/quorix (or ~/.config/quorix). Every change is a
// read-modify-write under an advisory lock on a separate lock file in that directory, and the
// new text replaces the file atomically (temporary file, fsync, rename, fsync of the directory):
// processes saving at the same time lose nothing, and a process killed mid-save leaves the old
// or the new file, never a torn one. A file that cannot be parsed is renamed aside
// (settings.reg.corrupt-<time>) and the store carries on empty. A store is a cheap value; the
// contexts make one whenever they read or save.
class SettingsStore {
public:
    static constexpr const char* kFileName = "settings.reg";

    // The store of the current user, its directory taken from the environment now.
    static SettingsStore CurrentUser();
    explicit SettingsStore(std::string directory);

    const std::string& Directory() const { return m_directory; }
    std::string FilePath() const;

    // The stored keys and values: empty when there is no file, when it cannot be read, or when it
    // could not be parsed (it is then set aside). `readable` (may be null) is set to false only
    // when a file exists that cannot be read.
    SettingsTree Read(bool* readable = nullptr) const;
    // Applies `change` to the stored tree and, when it answers true, writes the result, all under
    // the lock. False when nothing could be written (no directory, an existing file that cannot
    // be read, a full disk); the file is then as it was.
    bool Update(const std::function<bool(SettingsTree&)>& change) const;

private:
    enum class Load { kLoaded, kMissing, kUnreadable, kCorrupt };
    Load LoadFile(SettingsTree& tree) const;
    // Renames an unparsable file aside; runs under the lock.
    void SetAside() const;

    std::string m_directory;
};

}  // namespace quorix::platform
