#include "platform/settings_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "platform/file_io.h"
#include "platform/log.h"

namespace quorix::platform {

namespace {

constexpr const char* kLogCategory = "Settings";

// Holds the store's advisory lock while it lives: an exclusive flock on a lock file of its own,
// so that replacing the settings file never drops the lock another process waits for. The kernel
// releases it when the process ends, however it ends.
class StoreLock {
public:
    explicit StoreLock(const std::string& path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (m_fd < 0) {
            Log(kLogCategory, "cannot open the lock file %s: errno %d", path.c_str(), errno);
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                Log(kLogCategory, "cannot lock %s: errno %d", path.c_str(), errno);
                ::close(m_fd);
                m_fd = -1;
                return;
            }
        }
    }
    ~StoreLock() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    StoreLock(const StoreLock&) = delete;
    StoreLock& operator=(const StoreLock&) = delete;

    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

// Makes the directory and its missing parents, readable by the user alone.
bool MakeDirectories(const std::string& directory) {
    for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            Log(kLogCategory, "cannot make %s: errno %d", part.c_str(), errno);
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

std::string HomeDirectory() {
    const char* home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe): read-only use
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    struct passwd entry = {};
    struct passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return {};
}

}  // namespace

SettingsStore SettingsStore::CurrentUser() {
    // A relative XDG_CONFIG_HOME is to be ignored, as an unset one is.
    const char* config = std::getenv("XDG_CONFIG_HOME");  // NOLINT(concurrency-mt-unsafe)
    std::string base = (config != nullptr && config[0] == '/') ? std::string(config) : "";
    if (base.empty()) {
        const std::string home = HomeDirectory();
        base = home.empty() ? std::string() : home + "/.config";
    }
    // Without any home the store stays unusable (empty directory) rather than writing elsewhere.
    return SettingsStore(base.empty() ? std::string() : base + "/quorix");
}

SettingsStore::SettingsStore(std::string directory) : m_directory(std::move(directory)) {}

std::string SettingsStore::FilePath() const {
    return m_directory + "/" + kFileName;
}

SettingsStore::Load SettingsStore::LoadFile(SettingsTree& tree) const {
    tree = SettingsTree();
    if (m_directory.empty()) {
        return Load::kUnreadable;
    }
    const std::string path = FilePath();
    std::vector<uint8_t> bytes;
    switch (ReadFileContents(path.c_str(), SettingsTree::kMaxTextBytes, bytes)) {
        case ReadResult::kRead:
            break;
        case ReadResult::kMissing:
            return Load::kMissing;
        case ReadResult::kTooLarge:
            return Load::kCorrupt;
        case ReadResult::kNotRegular:
            Log(kLogCategory, "%s is not a readable file", path.c_str());
            return Load::kUnreadable;
        default:
            Log(kLogCategory, "cannot read %s: errno %d", path.c_str(), errno);
            return Load::kUnreadable;
    }
    const std::string text(bytes.begin(), bytes.end());
    if (!tree.Parse(text)) {
        tree = SettingsTree();
        return Load::kCorrupt;
    }
    return Load::kLoaded;
}

void SettingsStore::SetAside() const {
    const std::string path = FilePath();
    char stamp[32] = "unknown";
    const std::time_t now = std::time(nullptr);
    struct tm local = {};
    if (::localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    }
    // Under the lock no other SDK process names a file here; an earlier copy is never replaced.
    const std::string base = path + ".corrupt-" + stamp;
    std::string aside = base;
    for (int n = 2; ::access(aside.c_str(), F_OK) == 0 && n < 1000; ++n) {
        aside = base + "-" + std::to_string(n);
    }
    if (::rename(path.c_str(), aside.c_str()) == 0) {
        Log(kLogCategory, "%s could not be read as settings; kept as %s", path.c_str(),
            aside.c_str());
    } else {
        Log(kLogCategory, "cannot set aside %s: errno %d", path.c_str(), errno);
    }
}

SettingsTree SettingsStore::Read(bool* readable) const {
    SettingsTree tree;
    const Load load = LoadFile(tree);
    if (readable != nullptr) {
        *readable = load != Load::kUnreadable;
    }
    if (load != Load::kCorrupt) {
        return tree;
    }
    // Set aside under the lock, after a second look: a writer may have replaced it meanwhile.
    const StoreLock lock(m_directory + "/" + kFileName + ".lock");
    if (lock.Held() && LoadFile(tree) == Load::kCorrupt) {
        SetAside();
    }
    return tree;
}

bool SettingsStore::Update(const std::function<bool(SettingsTree&)>& change) const {
    if (m_directory.empty() || !MakeDirectories(m_directory)) {
        return false;
    }
    const StoreLock lock(m_directory + "/" + kFileName + ".lock");
    if (!lock.Held()) {
        return false;
    }
    SettingsTree tree;
    switch (LoadFile(tree)) {
        case Load::kUnreadable:
            // Replacing a file that cannot be read would lose what it holds.
            return false;
        case Load::kCorrupt:
            SetAside();
            break;
        case Load::kLoaded:
        case Load::kMissing:
            break;
    }
    // Temporary files of writers that died mid-save: every writer holds the lock, so any that
    // is here now is left over. Earlier versions named theirs settings.reg.tmp<pid>-<n>.
    if (DIR* directory = ::opendir(m_directory.c_str())) {
        const std::string oldPrefix = std::string(kFileName) + ".tmp";
        while (const struct dirent* entry = ::readdir(directory)) {
            const std::string_view name(entry->d_name);
            if (IsTemporaryFileName(name) || name.starts_with(oldPrefix)) {
                ::unlinkat(::dirfd(directory), entry->d_name, 0);
            }
        }
        ::closedir(directory);
    }
    if (!change(tree)) {
        return true;
    }
    const std::string text = tree.Format();
    // A file too large to be read back would be set aside at the next read: it is not written.
    if (text.size() > SettingsTree::kMaxTextBytes) {
        Log(kLogCategory, "settings of %zu bytes exceed the file's limit", text.size());
        return false;
    }
    if (!ReplaceFileContents(FilePath().c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                             text.size())) {
        Log(kLogCategory, "cannot write %s: errno %d", FilePath().c_str(), errno);
        return false;
    }
    return true;
}

}  // namespace quorix::platform
