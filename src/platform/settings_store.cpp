#include "platform/settings_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <set>
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
            m_error = errno;
            Log(kLogCategory, "cannot open the lock file %s: errno %d", path.c_str(), errno);
            return;
        }
        while (::flock(m_fd, LOCK_EX) != 0) {
            if (errno != EINTR) {
                m_error = errno;
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
    // The system's errno when the lock could not be had.
    int Error() const { return m_error; }

private:
    int m_fd = -1;
    int m_error = 0;
};

// The system's text for an errno value.
std::string ErrorText(int error) {
    char buffer[256];
    return ::strerror_r(error, buffer, sizeof buffer);
}

// Makes the directory and its missing parents, readable by the user alone. False, with the
// reason in `failure`, when one cannot be made.
bool MakeDirectories(const std::string& directory, std::string& failure) {
    for (size_t slash = directory.find('/', 1);; slash = directory.find('/', slash + 1)) {
        const std::string part = directory.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            failure = "cannot make " + part + ": " + ErrorText(errno);
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

// Writes a line on stderr, whatever QUORIX_LOG says: what the store did to a person's file, or
// could not do, is theirs to know.
void Report(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void Report(const char* fmt, ...) {
    char text[1024];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(text, sizeof text, fmt, args);
    va_end(args);
    std::fprintf(stderr, "[%s] %s\n", kLogCategory, text);
}

// True the first time this process has this to say about a file (`what`: its content, or a
// finding): a bad line is reported once, not at each of the several reads a context makes.
bool FirstSight(const std::string& path, std::string_view what) {
    static std::mutex s_mutex;
    static std::set<std::pair<std::string, size_t>> s_seen;
    const std::lock_guard lock(s_mutex);
    return s_seen.emplace(path, std::hash<std::string_view>()(what)).second;
}

// Why an existing settings file cannot be read, without opening it (it may be a FIFO).
std::string UnreadableReason(const std::string& path) {
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0) {
        return ErrorText(errno);
    }
    if (S_ISDIR(info.st_mode)) {
        return ErrorText(EISDIR);
    }
    if (!S_ISREG(info.st_mode)) {
        return "not a regular file";
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return ErrorText(errno);
    }
    return "cannot be read";
}

}  // namespace

std::string SettingsStore::SkippedLineText(const SkippedLine& skipped) {
    return "line " + std::to_string(skipped.line) + " ignored: " + skipped.reason +
           "; the next save leaves it out";
}

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

SettingsStore::Load SettingsStore::LoadFile(SettingsTree& tree,
                                            std::vector<SkippedLine>* skipped) const {
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
    std::vector<SkippedLine> lines;
    if (!tree.ParseLenient(text, lines)) {
        tree = SettingsTree();
        return Load::kCorrupt;
    }
    if (!lines.empty() && FirstSight(path, text)) {
        for (const SkippedLine& line : lines) {
            Report("%s: %s", path.c_str(), SkippedLineText(line).c_str());
        }
    }
    if (skipped != nullptr) {
        *skipped = std::move(lines);
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
        Report("%s holds nothing readable as settings; moved to %s", path.c_str(), aside.c_str());
    } else {
        Report("%s holds nothing readable as settings and cannot be moved aside: %s", path.c_str(),
               ErrorText(errno).c_str());
    }
}

SettingsTree SettingsStore::Read(ReadNotes* notes) const {
    return ReadFile(notes, true);
}

SettingsTree SettingsStore::Peek(ReadNotes* notes) const {
    return ReadFile(notes, false);
}

SettingsTree SettingsStore::ReadFile(ReadNotes* notes, bool mayChangeFile) const {
    SettingsTree tree;
    ReadNotes found;
    Load load = LoadFile(tree, &found.skipped);
    bool setAside = false;
    if (load == Load::kCorrupt && mayChangeFile) {
        // Set aside under the lock, after a second look: a writer may have replaced it meanwhile.
        const StoreLock lock(m_directory + "/" + kFileName + ".lock");
        if (lock.Held()) {
            load = LoadFile(tree, &found.skipped);
            if (load == Load::kCorrupt) {
                SetAside();
                setAside = true;
            }
        }
    }
    if (load == Load::kCorrupt && !setAside) {
        const std::string path = FilePath();
        if (FirstSight(path, "holds nothing readable")) {
            Report("%s holds nothing readable as settings; left as it is", path.c_str());
        }
    }
    found.readable = load != Load::kUnreadable;
    found.unusable = load == Load::kCorrupt;
    if (notes != nullptr) {
        *notes = std::move(found);
    }
    return tree;
}

bool SettingsStore::Update(const std::function<bool(SettingsTree&)>& change,
                           std::string* failure) const {
    const std::string path = FilePath();
    std::string why;
    // Reports a save that cannot be made: the caller may have no way to tell anyone.
    const auto fail = [&path, &why, failure] {
        Report("cannot save settings to %s: %s", path.c_str(), why.c_str());
        if (failure != nullptr) {
            *failure = why;
        }
        return false;
    };
    if (m_directory.empty()) {
        why = "no home directory to keep settings in";
        return fail();
    }
    if (!MakeDirectories(m_directory, why)) {
        return fail();
    }
    const StoreLock lock(m_directory + "/" + kFileName + ".lock");
    if (!lock.Held()) {
        why = std::string("cannot lock ") + kFileName + ".lock: " + ErrorText(lock.Error());
        return fail();
    }
    SettingsTree tree;
    switch (LoadFile(tree)) {
        case Load::kUnreadable:
            // Replacing a file that cannot be read would lose what it holds.
            why = UnreadableReason(path);
            return fail();
        case Load::kCorrupt:
            SetAside();
            break;
        case Load::kLoaded:
        case Load::kMissing:
            break;
    }
    // Temporary files of writers that died mid-save. Every settings writer holds the lock, so
    // one of the old form (settings.reg.tmp<pid>-<n>) is left over; the common form may also
    // belong to another save into this folder that is still running, so only those whose process
    // is gone are removed.
    if (DIR* directory = ::opendir(m_directory.c_str())) {
        const std::string oldPrefix = std::string(kFileName) + ".tmp";
        while (const struct dirent* entry = ::readdir(directory)) {
            const std::string_view name(entry->d_name);
            if (IsLeftoverTemporaryFile(name) || name.starts_with(oldPrefix)) {
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
        why = "settings of " + std::to_string(text.size()) + " bytes exceed the file's limit";
        return fail();
    }
    errno = 0;
    if (!ReplaceFileContents(path.c_str(), reinterpret_cast<const uint8_t*>(text.data()),
                             text.size())) {
        why = errno != 0 ? ErrorText(errno) : "cannot be written";
        return fail();
    }
    return true;
}

}  // namespace quorix::platform
