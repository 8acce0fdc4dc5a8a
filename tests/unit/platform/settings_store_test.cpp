// The settings file: what people and other machines write is read, what cannot be read is refused
// whole (or, in the file the store keeps, line by line), the text written is the export format, and
// the store on disk survives concurrent writers, writers killed mid-save and files that are not
// settings.
#include "platform/settings_store.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/settings_tree.h"
#include "test_support.h"

namespace quorix::platform {
namespace {

constexpr const char* kCamera = "Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00";

SettingsTree Parsed(std::string_view text) {
    SettingsTree tree;
    EXPECT_TRUE(tree.Parse(text)) << text;
    return tree;
}

std::string FileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// A file as a person edits it: byte-order mark, LF and CR LF lines, comments, keys and names in
// another case, a binary value continued over lines, and deletions that undo earlier lines.
TEST(SettingsFile, ReadsWhatPeopleWrite) {
    const SettingsTree tree = Parsed(
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
        "\n"
        "; exposure and gain of the first camera\n"
        "[hkey_current_user\\SOFTWARE\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00]\r\n"
        "\"Gain\"=dword:40\n"
        "\"Short\"=hex:01,02\n"
        "\"Four\"=hex:78,56,34,12\n"
        "\"Name \\\"quoted\\\"\"=\"C:\\\\data\"\n"
        "\"Long\"=hex:00,01,02,\\\n"
        "  03,04\n"
        "\"Gone\"=dword:00000001\n"
        "\"Gone\"=-\n"
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01]\n"
        "[-HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01]\n");
    EXPECT_EQ(tree.Dword(kCamera, "gain"), 0x40u);
    // A 32-bit value is any value of exactly four bytes; two bytes and texts are not one.
    EXPECT_EQ(tree.Dword(kCamera, "Four"), 0x12345678u);
    EXPECT_EQ(tree.Dword(kCamera, "Short"), std::nullopt);
    EXPECT_EQ(tree.Dword(kCamera, "Name \"quoted\""), std::nullopt);
    const SettingsValue* text = tree.Value(kCamera, "name \"QUOTED\"");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text->bytes.begin(), text->bytes.end()), "C:\\data");
    EXPECT_EQ(tree.Bytes(kCamera, "Long", 5), (std::vector<uint8_t>{0, 1, 2, 3, 4}));
    EXPECT_EQ(tree.Value(kCamera, "Gone"), nullptr);
    EXPECT_TRUE(tree.HasKey("Software\\Voltis"));
    EXPECT_FALSE(tree.HasKey("Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01"));
    EXPECT_FALSE(tree.HasKey("Software\\Volt"));

    // The same file as the camera's home platform exports it: UTF-16LE with its mark.
    const std::string narrow =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00]\r\n"
        "\"Gain\"=dword:00000040\r\n";
    std::string wide = "\xFF\xFE";
    for (const char c : narrow) {
        wide += c;
        wide += '\0';
    }
    EXPECT_EQ(Parsed(wide).Dword(kCamera, "Gain"), 0x40u);
}

TEST(SettingsFile, RefusesWhatItCannotRead) {
    const std::string header = "Windows Registry Editor Version 5.00\n";
    const std::string key = "[HKEY_CURRENT_USER\\Software\\Q]\n";
    const std::vector<std::string> texts = {
        "",
        "[HKEY_CURRENT_USER\\Software\\Q]\n\"A\"=dword:1\n",  // no header
        header + "\"A\"=dword:1\n",                           // value outside a key
        header + "[HKEY_LOCAL_MACHINE\\Software\\Q]\n",       // another hive
        header + "[HKEY_CURRENT_USER\\Software\\Q\n",         // unterminated section
        header + "[HKEY_CURRENT_USER\\Software\\\\Q]\n",      // empty key name
        header + "[HKEY_CURRENT_USER]\n",
        header + key + "\"A\"=dword:123456789\n",  // more than 32 bits
        header + key + "\"A\"=dword:\n",
        header + key + "\"A\"=hex:01,1g\n",
        header + key + "\"A\"=hex:001\n",
        header + key + "\"A\"=hex(b:01\n",
        header + key + "\"A\"=\"open\n",
        header + key + "\"A\"=12\n",
        header + key + "A=dword:1\n",
        header + key + std::string("\"A\"=dword:1\0\n", 13),
        std::string("\xFF\xFEW", 3),  // odd UTF-16
        header + key + "\"A\"=hex:" + std::string(SettingsTree::kMaxTextBytes, '0'),
    };
    for (const std::string& text : texts) {
        SettingsTree tree;
        EXPECT_FALSE(tree.Parse(text)) << text.substr(0, 120);
    }
}

// One bad line costs that line only: camera 0's and camera 1's values on either side of it are
// read, a section that is no key takes its values with it, and each left-out line is named by
// its number (a value continued over lines by its first). A file with nothing but bad lines
// holds nothing readable.
TEST(SettingsFile, LenientReadLeavesOutOnlyTheLinesItCannotRead) {
    const std::string camera1 = "Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01";
    const std::string text =
        "Windows Registry Editor Version 5.00\n"                                  // 1
        "\n"                                                                      // 2
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00]\n"  // 3
        "\"Gain\"=dword:40\n"                                                     // 4
        "\"Gain2\"=dword:4O\n"                                                    // 5: letter O
        "\"Long\"=hex:00,\\\n"                                                    // 6
        "  0g\n"                                                                  // 7
        "[HKEY_CURRENT_USER\\Software\\Voltis\n"                                  // 8
        "\"Lost\"=dword:1\n"                                                      // 9
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01]\n"  // 10
        "\"Gain\"=dword:50\n";                                                    // 11
    SettingsTree tree;
    std::vector<SkippedLine> skipped;
    ASSERT_TRUE(tree.ParseLenient(text, skipped));
    EXPECT_EQ(tree.Dword(kCamera, "Gain"), 0x40u);
    EXPECT_EQ(tree.Dword(camera1, "Gain"), 0x50u);
    EXPECT_EQ(tree.Value(kCamera, "Gain2"), nullptr);
    EXPECT_EQ(tree.Value(kCamera, "Long"), nullptr);
    EXPECT_EQ(tree.Value(kCamera, "Lost"), nullptr);
    std::vector<size_t> lines;
    for (const SkippedLine& line : skipped) {
        lines.push_back(line.line);
        EXPECT_FALSE(line.reason.empty());
    }
    EXPECT_EQ(lines, (std::vector<size_t>{5, 6, 8, 9}));

    SettingsTree nothing;
    std::vector<SkippedLine> all;
    EXPECT_FALSE(nothing.ParseLenient(
        "Windows Registry Editor Version 5.00\n[broken\n\"A\"=dword:1\n", all));
}

// The text written, checked against the export format written out by hand: header, blank line,
// each key's section with its values in the order set, binary values wrapped after 25 bytes.
TEST(SettingsFile, WritesTheExportFormatAndReadsItBack) {
    SettingsTree tree;
    tree.CreateKey("Software\\Voltis\\Quorix252DIV3R5Sdk");
    tree.SetDword(kCamera, "Gain", 0x40);
    tree.SetDword(kCamera, "Brightness", static_cast<uint32_t>(-20));
    tree.SetBinary(kCamera, "ExposureEx", std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
    tree.SetBinary(kCamera, "Wide", std::vector<uint8_t>(26, 0xAB));
    tree.SetValue(kCamera, "say \"hi\"", SettingsValue{SettingsValue::Kind::kString, 0, {'a'}});
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00]\r\n"
        "\"Gain\"=dword:00000040\r\n"
        "\"Brightness\"=dword:ffffffec\r\n"
        "\"ExposureEx\"=hex:00,00,00,00,00,00,f0,3f\r\n"
        "\"Wide\"=hex:ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,ab,"
        "\\\r\n  ab\r\n"
        "\"say \\\"hi\\\"\"=\"a\"\r\n";
    EXPECT_EQ(tree.Format(), expected);
    EXPECT_EQ(Parsed(expected), tree);
}

// --- The file on disk ----------------------------------------------------------------------------

class SettingsStoreFile : public ::testing::Test {
protected:
    SettingsStore store = SettingsStore::CurrentUser();

    static bool Write(const SettingsStore& store, const char* name, uint32_t value) {
        return store.Update([&](SettingsTree& tree) {
            tree.SetDword(kCamera, name, value);
            return true;
        });
    }
    std::vector<std::string> Aside() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(store.Directory())) {
            const std::string name = entry.path().filename().string();
            if (name.starts_with("settings.reg.corrupt-")) {
                names.push_back(entry.path().string());
            }
        }
        return names;
    }
};

TEST_F(SettingsStoreFile, UsesTheConfigurationHomeOfTheEnvironment) {
    const char* home = std::getenv("XDG_CONFIG_HOME");  // NOLINT(concurrency-mt-unsafe)
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(store.FilePath(), std::string(home) + "/quorix/settings.reg");
}

TEST_F(SettingsStoreFile, CorruptFileIsSetAsideAndTheNextSaveWritesAGoodOne) {
    ASSERT_TRUE(Write(store, "Gain", 1));
    const std::string garbage = "Windows Registry Editor Version 5.00\n[broken\n";
    std::ofstream(store.FilePath(), std::ios::binary) << garbage;
    EXPECT_TRUE(store.Read().Empty());
    const std::vector<std::string> aside = Aside();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(FileText(aside[0]), garbage);
    EXPECT_FALSE(std::filesystem::exists(store.FilePath()));

    ASSERT_TRUE(Write(store, "Gain", 2));
    EXPECT_EQ(store.Read().Dword(kCamera, "Gain"), 2u);
    // A second bad file goes beside the first, never over it.
    std::ofstream(store.FilePath(), std::ios::binary) << "junk";
    ASSERT_TRUE(Write(store, "Gain", 3));
    EXPECT_EQ(Aside().size(), 2u);
    EXPECT_EQ(store.Read().Dword(kCamera, "Gain"), 3u);
}

// A settings file the process may not read is someone's settings: it is never replaced. The
// failed save says so on stderr, with the file and the system's reason, and to its caller. A FIFO
// in its place is not waited on for a writer (every context start reads the store).
TEST_F(SettingsStoreFile, UnreadableFileIsNotReplaced) {
    std::filesystem::create_directories(store.FilePath());
    std::string failure;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(store.Update(
        [](SettingsTree& tree) {
            tree.SetDword(kCamera, "Gain", 1);
            return true;
        },
        &failure));
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(std::filesystem::is_directory(store.FilePath()));
    EXPECT_EQ(failure, std::strerror(EISDIR));
    EXPECT_NE(said.find(store.FilePath() + ": " + std::strerror(EISDIR)), std::string::npos)
        << said;

    std::filesystem::remove(store.FilePath());
    ASSERT_EQ(::mkfifo(store.FilePath().c_str(), 0600), 0);
    auto read = std::async(std::launch::async, [this] {
        SettingsStore::ReadNotes notes;
        return store.Read(&notes).Empty() && !notes.readable && !Write(store, "Gain", 1);
    });
    ASSERT_TRUE(test::Finishes(read));
    EXPECT_TRUE(read.get());
    EXPECT_EQ(std::filesystem::status(store.FilePath()).type(), std::filesystem::file_type::fifo);
}

// A file with a bad line is read without it and stays as it is while it is only read, also
// when its reader may set files aside; the line is reported once per process, with the file's
// name and its number. The next save writes the good content back, without the line.
TEST_F(SettingsStoreFile, BadLineIsReportedKeptUntilTheNextSaveAndThenLeftOut) {
    const std::string camera1 = "Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01";
    const std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_00]\n"
        "\"Gain\"=dword:40\n"
        "Gain=40\n"
        "[HKEY_CURRENT_USER\\Software\\Voltis\\Quorix252DIV3R5Sdk\\Camera_01]\n"
        "\"Gain\"=dword:50\n";
    std::filesystem::create_directories(store.Directory());
    std::ofstream(store.FilePath(), std::ios::binary) << text;

    testing::internal::CaptureStderr();
    SettingsStore::ReadNotes notes;
    const SettingsTree peeked = store.Peek(&notes);
    const SettingsTree read = store.Read();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(peeked.Dword(kCamera, "Gain"), 0x40u);
    EXPECT_EQ(peeked.Dword(camera1, "Gain"), 0x50u);
    EXPECT_EQ(read, peeked);
    ASSERT_EQ(notes.skipped.size(), 1u);
    EXPECT_EQ(notes.skipped[0].line, 5u);
    EXPECT_EQ(FileText(store.FilePath()), text);
    EXPECT_TRUE(Aside().empty());
    const std::string report = store.FilePath() + ": line 5 ignored";
    const size_t first = said.find(report);
    EXPECT_NE(first, std::string::npos) << said;
    EXPECT_EQ(said.find(report, first + 1), std::string::npos) << said;

    ASSERT_TRUE(Write(store, "Exposure", 7));
    const std::string saved = FileText(store.FilePath());
    EXPECT_EQ(saved.find("Gain=40"), std::string::npos) << saved;
    SettingsTree again;
    ASSERT_TRUE(again.Parse(saved));
    EXPECT_EQ(again.Dword(kCamera, "Gain"), 0x40u);
    EXPECT_EQ(again.Dword(kCamera, "Exposure"), 7u);
    EXPECT_EQ(again.Dword(camera1, "Gain"), 0x50u);
}

// A file with nothing readable in it stays where it is while it is only looked at; a reader
// that may change it sets it aside and says where it went.
TEST_F(SettingsStoreFile, FileWithNothingReadableIsSetAsideOnlyByAReaderThatMay) {
    std::filesystem::create_directories(store.Directory());
    const std::string junk = "not settings\n";
    std::ofstream(store.FilePath(), std::ios::binary) << junk;
    SettingsStore::ReadNotes notes;
    EXPECT_TRUE(store.Peek(&notes).Empty());
    EXPECT_TRUE(notes.unusable);
    EXPECT_EQ(FileText(store.FilePath()), junk);
    EXPECT_TRUE(Aside().empty());

    testing::internal::CaptureStderr();
    EXPECT_TRUE(store.Read().Empty());
    const std::string said = testing::internal::GetCapturedStderr();
    const std::vector<std::string> aside = Aside();
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_NE(said.find(store.FilePath()), std::string::npos) << said;
    EXPECT_NE(said.find("moved to " + aside[0]), std::string::npos) << said;
}

// --- Several processes ---------------------------------------------------------------------------

// Two processes each count their own value and a shared one up, one read-modify-write at a time:
// without the lock around the whole change, one process's save drops the other's.
TEST_F(SettingsStoreFile, TwoProcessesSavingAtOnceLoseNothing) {
    constexpr uint32_t kRounds = 60;
    const auto countUp = [this](const char* own) {
        for (uint32_t round = 0; round < kRounds; ++round) {
            store.Update([own](SettingsTree& tree) {
                tree.SetDword(kCamera, own, tree.Dword(kCamera, own).value_or(0) + 1);
                tree.SetDword(kCamera, "Both", tree.Dword(kCamera, "Both").value_or(0) + 1);
                return true;
            });
        }
    };
    std::vector<pid_t> children;
    for (const char* own : {"First", "Second"}) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            countUp(own);
            _exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const SettingsTree tree = store.Read();
    EXPECT_EQ(tree.Dword(kCamera, "First"), kRounds);
    EXPECT_EQ(tree.Dword(kCamera, "Second"), kRounds);
    EXPECT_EQ(tree.Dword(kCamera, "Both"), 2 * kRounds);
    EXPECT_TRUE(Aside().empty());
}

// A writer killed at any moment of a save leaves a file that reads, with all values of one save:
// each save writes the same number into three values of two keys.
TEST_F(SettingsStoreFile, WriterKilledMidSaveLeavesTheOldOrTheNewValues) {
    constexpr int kKills = 12;
    const std::string other = std::string(kCamera) + "\\Gain";
    std::mt19937 random(12345);
    uint32_t last = 0;
    for (int kill = 0; kill < kKills; ++kill) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (uint32_t value = last + 1;; ++value) {
                store.Update([&](SettingsTree& tree) {
                    tree.SetDword(kCamera, "A", value);
                    tree.SetDword(other, "B", value);
                    tree.SetBinary(other, "C",
                                   std::vector<uint8_t>(100, static_cast<uint8_t>(value)));
                    return true;
                });
            }
        }
        usleep(1000 + random() % 8000);
        ::kill(pid, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);

        if (!std::filesystem::exists(store.FilePath())) {
            continue;  // killed before its first save
        }
        SettingsTree tree;
        ASSERT_TRUE(tree.Parse(FileText(store.FilePath()))) << "after kill " << kill;
        const std::optional<uint32_t> a = tree.Dword(kCamera, "A");
        ASSERT_TRUE(a.has_value());
        EXPECT_GE(*a, last);
        EXPECT_EQ(tree.Dword(other, "B"), a);
        EXPECT_EQ(tree.Bytes(other, "C", 100), std::vector<uint8_t>(100, static_cast<uint8_t>(*a)));
        last = *a;
    }
    EXPECT_GT(last, 0u);
    // The next save clears what the killed writers left half made, but not the file of a save
    // into the same folder that is still running (here one of this process).
    const std::string running = ".quorix-" + std::to_string(::getpid()) + "-999999.tmp";
    std::ofstream(store.Directory() + "/" + running) << "image being saved";
    ASSERT_TRUE(Write(store, "A", 0));
    for (const auto& entry : std::filesystem::directory_iterator(store.Directory())) {
        const std::string name = entry.path().filename().string();
        EXPECT_FALSE(name != running &&
                     (name.starts_with("settings.reg.tmp") || name.starts_with(".quorix-")))
            << entry.path();
    }
    EXPECT_TRUE(std::filesystem::exists(store.Directory() + "/" + running));
    EXPECT_TRUE(Aside().empty());
}

}  // namespace
}  // namespace quorix::platform
