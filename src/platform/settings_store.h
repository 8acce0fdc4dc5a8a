#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/settings_tree.h"

namespace quorix::platform {

// The current user's settings hive on disk: one text file, settings.reg, in the registry-export
// format of SettingsTree, in $XDG_CONFIG_HOME/quorix (or ~/.config/quorix). Every change is a
// read-modify-write under an advisory lock on a separate lock file in that directory, and the
// new text replaces the file atomically (temporary file, fsync, rename, fsync of the directory):
// processes saving at the same time lose nothing, and a process killed mid-save leaves the old
// or the new file, never a torn one. The file is people's to edit: a line that cannot be read is
// left out and reported on stderr (once per process and file content), the rest is read, and
// the next save writes the file again without that line. Only a file that holds nothing readable
// as settings is renamed aside (settings.reg.corrupt-<time>), when a context reads or a change
// is saved, never by a read-only look; that too is reported on stderr, as is a save that fails.
// A store is a cheap value; the contexts make one whenever they read or save.
class SettingsStore {
public:
    static constexpr const char* kFileName = "settings.reg";

    // What reading the file found besides its keys and values.
    struct ReadNotes {
        bool readable = true;              // false: a file exists that cannot be read at all
        bool unusable = false;             // the file holds nothing that reads as settings
        std::vector<SkippedLine> skipped;  // the lines left out
    };

    // The store of the current user, its directory taken from the environment now.
    static SettingsStore CurrentUser();
    explicit SettingsStore(std::string directory);

    const std::string& Directory() const { return m_directory; }
    std::string FilePath() const;

    // The stored keys and values: empty when there is no file, when it cannot be read, or when
    // nothing in it reads as settings (it is then set aside).
    SettingsTree Read(ReadNotes* notes = nullptr) const;
    // As Read, but the file is never changed: one that holds nothing readable stays where it is.
    SettingsTree Peek(ReadNotes* notes = nullptr) const;
    // Applies `change` to the stored tree and, when it answers true, writes the result, all under
    // the lock. False when nothing could be written (no directory, an existing file that cannot
    // be read, a full disk); the file is then as it was, a line on stderr names it with the
    // system's reason, and `failure` (may be null) receives that reason.
    bool Update(const std::function<bool(SettingsTree&)>& change,
                std::string* failure = nullptr) const;

    // How a left-out line is reported: "line 12 ignored: <why>; the next save leaves it out".
    static std::string SkippedLineText(const SkippedLine& skipped);

private:
    enum class Load { kLoaded, kMissing, kUnreadable, kCorrupt };
    Load LoadFile(SettingsTree& tree, std::vector<SkippedLine>* skipped = nullptr) const;
    SettingsTree ReadFile(ReadNotes* notes, bool mayChangeFile) const;
    // Renames an unparsable file aside; runs under the lock.
    void SetAside() const;

    std::string m_directory;
};

}  // namespace quorix::platform
