#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorix::platform {

// One value of a settings key: its kind and its bytes. A DWORD is 4 little-endian bytes; a string
// keeps its text (UTF-8, no terminator); values written as "hex(N):" keep their type number N.
struct SettingsValue {
    enum class Kind : uint8_t { kDword, kBinary, kString, kTyped };
    Kind kind = Kind::kBinary;
    uint32_t type = 0;  // kTyped: the type number of "hex(N):"
    std::vector<uint8_t> bytes;

    friend bool operator==(const SettingsValue&, const SettingsValue&) = default;
};

// A line of a settings text that was left out, and why.
struct SkippedLine {
    size_t line = 0;  // 1-based; a value continued over lines is named by its first line
    std::string reason;
};

// The keys and values of the current user's settings hive in memory, and their text form: the
// registry-export format ("Windows Registry Editor Version 5.00", [HKEY_CURRENT_USER\...]
// sections, "Name"=dword:0000000a lines), which people read, edit and carry between machines.
// Key paths are below HKEY_CURRENT_USER, components joined by '\', and like value names compared
// without regard to ASCII case. A key exists when it was created or when one of its subkeys was.
// The settings store (settings_store.h) owns the file; contexts read and change copies of this.
class SettingsTree {
public:
    // What the text may hold; larger texts, keys, names or values are refused as unreadable.
    static constexpr size_t kMaxTextBytes = 4 << 20;
    static constexpr size_t kMaxPathBytes = 1024;
    static constexpr size_t kMaxValueBytes = 64 << 10;
    static constexpr size_t kMaxValuesPerKey = 4096;

    bool HasKey(std::string_view path) const;
    // Creates the key (its parents exist implicitly); an existing key is left as it is.
    void CreateKey(std::string_view path);
    // Removes the key, its values and all its subkeys.
    void DeleteKey(std::string_view path);
    bool Empty() const { return m_keys.empty(); }

    // The value, or null when the key or the value is missing.
    const SettingsValue* Value(std::string_view path, std::string_view name) const;
    // A 32-bit value: a DWORD, or any binary value of exactly 4 bytes. Missing values, strings
    // and values of another size give nothing.
    std::optional<uint32_t> Dword(std::string_view path, std::string_view name) const;
    // The bytes of a value of exactly `size` bytes that is not a string, else nothing.
    std::optional<std::vector<uint8_t>> Bytes(std::string_view path, std::string_view name,
                                              size_t size) const;
    // Store a value, creating the key as needed; a value of that name is replaced. False, with
    // nothing stored, when the key already holds kMaxValuesPerKey other values.
    bool SetValue(std::string_view path, std::string_view name, SettingsValue value);
    void SetDword(std::string_view path, std::string_view name, uint32_t value);
    void SetBinary(std::string_view path, std::string_view name, std::span<const uint8_t> bytes);
    void DeleteValue(std::string_view path, std::string_view name);

    // The key `root` with its values and every subkey, in a tree of their own.
    SettingsTree Subtree(std::string_view root) const;
    // Replaces the key `root` and its subkeys with those of `source` (nothing of it when `source`
    // has no such key).
    void ReplaceSubtree(std::string_view root, const SettingsTree& source);

    // Reads a registry-export text onto this tree, in order: sections create keys, "[-key]"
    // deletes one, "Name"=- deletes a value. Accepts UTF-8 (with or without byte-order mark) or
    // UTF-16LE with its mark, CR LF or LF line ends, ';' comments and lines continued with '\'.
    // False when the text is not such a file or names another hive; the tree may then hold part
    // of it, so callers parse onto a copy.
    bool Parse(std::string_view text);
    // Reads a settings file as Parse does, but a line that cannot be read is left out and noted
    // in `skipped` instead of refusing the text, so that one bad line does not cost every other
    // setting; values below a section line that cannot be read are left out with it. False when
    // the text holds nothing readable: too large, broken UTF-16, no header line, or bad lines
    // and not one good line after the header.
    bool ParseLenient(std::string_view text, std::vector<SkippedLine>& skipped);
    // The tree as a registry-export text, keys in path order, values in the order they were
    // first set, lines ending in CR LF.
    std::string Format() const;

    friend bool operator==(const SettingsTree&, const SettingsTree&) = default;

private:
    // Orders paths component by component, ignoring ASCII case, so that a key comes before its
    // subkeys.
    struct PathLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    using Values = std::vector<std::pair<std::string, SettingsValue>>;

    // Both parsers: strict when `skipped` is null.
    bool ParseText(std::string_view text, std::vector<SkippedLine>* skipped);
    // Reads one "Name"=data line into `key`: empty, or why the line cannot be read.
    std::string_view ParseValueLine(std::string_view line, const std::string& key);

    std::map<std::string, Values, PathLess> m_keys;
};

}  // namespace quorix::platform
