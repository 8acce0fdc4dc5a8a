#include "platform/settings_tree.h"

#include <algorithm>
#include <cstdio>

#include "platform/byte_order.h"

namespace quorix::platform {

namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kOldHeader = "REGEDIT4";
constexpr std::string_view kHive = "HKEY_CURRENT_USER";
constexpr std::string_view kLineEnd = "\r\n";
// Bytes of a binary value per line before the line is continued, as export files wrap them.
constexpr size_t kBytesPerLine = 25;

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [](char x, char y) { return Lower(x) == Lower(y); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && EqualNoCase(text.substr(0, prefix.size()), prefix);
}

// True when `path` is `key` itself or one of its subkeys.
bool IsSameOrBelow(std::string_view path, std::string_view key) {
    return StartsWithNoCase(path, key) && (path.size() == key.size() || path[key.size()] == '\\');
}

std::string_view Trim(std::string_view text) {
    const auto space = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && space(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && space(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = Lower(c);
    return (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
}

// A whole hexadecimal number of 1 to 8 digits.
std::optional<uint32_t> ParseHexNumber(std::string_view text) {
    if (text.empty() || text.size() > 8) {
        return std::nullopt;
    }
    uint32_t value = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    return value;
}

// "01,ff,2a": bytes of one or two hex digits separated by commas; empty for no bytes.
bool ParseHexBytes(std::string_view text, std::vector<uint8_t>& bytes) {
    text = Trim(text);
    if (text.empty()) {
        return true;
    }
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view item = Trim(text.substr(0, comma));
        const std::optional<uint32_t> byte = item.size() <= 2 ? ParseHexNumber(item) : std::nullopt;
        if (!byte || bytes.size() >= SettingsTree::kMaxValueBytes) {
            return false;
        }
        bytes.push_back(static_cast<uint8_t>(*byte));
        if (comma == std::string_view::npos) {
            return true;
        }
        text.remove_prefix(comma + 1);
    }
}

// A quoted text with \\ and \" escapes at the start of `text`; `text` is left after the closing
// quote. False when it is not one.
bool ParseQuoted(std::string_view& text, std::string& out) {
    if (text.empty() || text.front() != '"') {
        return false;
    }
    out.clear();
    for (size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"') {
            text.remove_prefix(i + 1);
            return true;
        }
        if (c == '\\') {
            if (i + 1 == text.size()) {
                return false;
            }
            out.push_back(text[++i]);
        } else {
            out.push_back(c);
        }
    }
    return false;
}

void AppendQuoted(std::string& out, std::string_view text) {
    out.push_back('"');
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out.push_back('\\');
        }
        out.push_back(c);
    }
    out.push_back('"');
}

// A key path below the hive: non-empty components without empty ones between backslashes.
bool ValidPath(std::string_view path) {
    if (path.empty() || path.size() > SettingsTree::kMaxPathBytes || path.front() == '\\' ||
        path.back() == '\\' || path.find("\\\\") != std::string_view::npos) {
        return false;
    }
    return path.find('\0') == std::string_view::npos;
}

void AppendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | code >> 6));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | code >> 12));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | code >> 18));
        out.push_back(static_cast<char>(0x80 | (code >> 12 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code >> 6 & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

// Export files written on the camera's home platform are UTF-16LE with a byte-order mark.
bool Utf16LeToUtf8(std::string_view bytes, std::string& out) {
    if (bytes.size() % 2 != 0) {
        return false;
    }
    const auto unit = [&bytes](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i + 1])) << 8;
    };
    const size_t units = bytes.size() / 2;
    for (size_t i = 0; i < units; ++i) {
        uint32_t code = unit(i);
        if (code >= 0xD800 && code <= 0xDBFF) {
            if (i + 1 == units || unit(i + 1) < 0xDC00 || unit(i + 1) > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (unit(++i) - 0xDC00);
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        AppendUtf8(out, code);
    }
    return true;
}

template <typename Values>
auto FindValue(Values& values, std::string_view name) {
    return std::find_if(values.begin(), values.end(),
                        [name](const auto& entry) { return EqualNoCase(entry.first, name); });
}

}  // namespace

bool SettingsTree::PathLess::operator()(const std::string& a, const std::string& b) const {
    // The separator sorts before every other character, so subkeys follow their key directly.
    const auto rank = [](char c) { return c == '\\' ? 1 : static_cast<uint8_t>(Lower(c)) + 1; };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                        [&rank](char x, char y) { return rank(x) < rank(y); });
}

bool SettingsTree::HasKey(std::string_view path) const {
    const auto it = m_keys.lower_bound(std::string(path));
    return it != m_keys.end() && IsSameOrBelow(it->first, path);
}

void SettingsTree::CreateKey(std::string_view path) {
    m_keys.try_emplace(std::string(path));
}

void SettingsTree::DeleteKey(std::string_view path) {
    auto it = m_keys.lower_bound(std::string(path));
    while (it != m_keys.end() && IsSameOrBelow(it->first, path)) {
        it = m_keys.erase(it);
    }
}

const SettingsValue* SettingsTree::Value(std::string_view path, std::string_view name) const {
    const auto key = m_keys.find(std::string(path));
    if (key == m_keys.end()) {
        return nullptr;
    }
    const auto it = FindValue(key->second, name);
    return it == key->second.end() ? nullptr : &it->second;
}

std::optional<uint32_t> SettingsTree::Dword(std::string_view path, std::string_view name) const {
    const std::optional<std::vector<uint8_t>> bytes = Bytes(path, name, 4);
    if (!bytes) {
        return std::nullopt;
    }
    return ReadLe32(bytes->data());
}

std::optional<std::vector<uint8_t>> SettingsTree::Bytes(std::string_view path,
                                                        std::string_view name, size_t size) const {
    const SettingsValue* value = Value(path, name);
    if (value == nullptr || value->kind == SettingsValue::Kind::kString ||
        value->bytes.size() != size) {
        return std::nullopt;
    }
    return value->bytes;
}

bool SettingsTree::SetValue(std::string_view path, std::string_view name, SettingsValue value) {
    Values& values = m_keys[std::string(path)];
    const auto it = FindValue(values, name);
    if (it != values.end()) {
        it->second = std::move(value);
        return true;
    }
    if (values.size() >= kMaxValuesPerKey) {
        return false;
    }
    values.emplace_back(std::string(name), std::move(value));
    return true;
}

void SettingsTree::SetDword(std::string_view path, std::string_view name, uint32_t value) {
    SettingsValue dword{SettingsValue::Kind::kDword, 0, std::vector<uint8_t>(4)};
    WriteLe32(dword.bytes.data(), value);
    SetValue(path, name, std::move(dword));
}

void SettingsTree::SetBinary(std::string_view path, std::string_view name,
                             std::span<const uint8_t> bytes) {
    SetValue(path, name,
             SettingsValue{SettingsValue::Kind::kBinary, 0, {bytes.begin(), bytes.end()}});
}

void SettingsTree::DeleteValue(std::string_view path, std::string_view name) {
    const auto key = m_keys.find(std::string(path));
    if (key != m_keys.end()) {
        const auto it = FindValue(key->second, name);
        if (it != key->second.end()) {
            key->second.erase(it);
        }
    }
}

SettingsTree SettingsTree::Subtree(std::string_view root) const {
    SettingsTree subtree;
    for (auto it = m_keys.lower_bound(std::string(root));
         it != m_keys.end() && IsSameOrBelow(it->first, root); ++it) {
        subtree.m_keys.insert(*it);
    }
    return subtree;
}

void SettingsTree::ReplaceSubtree(std::string_view root, const SettingsTree& source) {
    DeleteKey(root);
    const SettingsTree part = source.Subtree(root);
    m_keys.insert(part.m_keys.begin(), part.m_keys.end());
}

// --- Text form -----------------------------------------------------------------------------------

bool SettingsTree::Parse(std::string_view text) {
    return ParseText(text, nullptr);
}

bool SettingsTree::ParseLenient(std::string_view text, std::vector<SkippedLine>& skipped) {
    return ParseText(text, &skipped);
}

bool SettingsTree::ParseText(std::string_view input, std::vector<SkippedLine>* skipped) {
    if (input.size() > kMaxTextBytes) {
        return false;
    }
    std::string decoded;
    if (input.size() >= 2 && static_cast<uint8_t>(input[0]) == 0xFF &&
        static_cast<uint8_t>(input[1]) == 0xFE) {
        if (!Utf16LeToUtf8(input.substr(2), decoded)) {
            return false;
        }
        input = decoded;
    } else if (input.size() >= 3 && input.substr(0, 3) == "\xEF\xBB\xBF") {
        input.remove_prefix(3);
    }
    // Read strictly, a NUL anywhere refuses the text; read leniently, it costs its line.
    if (skipped == nullptr && input.find('\0') != std::string_view::npos) {
        return false;
    }

    bool headerSeen = false;
    size_t goodLines = 0;
    // Why the values that follow have no key: before the first section, below a deleting one,
    // or below one that could not be read.
    std::string_view noKey = "value outside a key";
    std::string key;
    size_t lineNumber = 0;
    // Takes the next line off `input`, counting it.
    const auto nextLine = [&input, &lineNumber] {
        const size_t end = input.find('\n');
        const std::string_view line = Trim(input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
        ++lineNumber;
        return line;
    };
    // A bad line refuses the whole text when parsing strictly; otherwise it is noted and left out.
    size_t badLines = 0;
    const auto bad = [skipped, &badLines](size_t number, std::string_view reason) {
        if (skipped != nullptr) {
            skipped->push_back(SkippedLine{number, std::string(reason)});
            ++badLines;
        }
        return skipped != nullptr;
    };
    while (!input.empty()) {
        std::string_view line = nextLine();
        const size_t firstLine = lineNumber;
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (!headerSeen) {
            if (line != kHeader && line != kOldHeader) {
                return false;
            }
            headerSeen = true;
            continue;
        }
        if (line.find('\0') != std::string_view::npos) {
            if (!bad(firstLine, "holds a NUL byte")) {
                return false;
            }
            continue;
        }
        if (line.front() == '[') {
            std::string_view reason;
            std::string_view name = line.substr(1, line.size() - 1);
            const bool remove = !name.empty() && name.front() == '-';
            if (line.back() != ']') {
                reason = "section line without its closing ']'";
            } else {
                name.remove_suffix(1);
                if (remove) {
                    name.remove_prefix(1);
                }
                if (!StartsWithNoCase(name, kHive) || name.size() <= kHive.size() + 1 ||
                    name[kHive.size()] != '\\') {
                    reason = "section is not a key of HKEY_CURRENT_USER";
                } else {
                    name.remove_prefix(kHive.size() + 1);
                    if (!ValidPath(name)) {
                        reason = "section names no valid key";
                    }
                }
            }
            if (!reason.empty()) {
                if (!bad(firstLine, reason)) {
                    return false;
                }
                key.clear();
                noKey = "value below a section that was not read";
                continue;
            }
            ++goodLines;
            key.assign(name);
            if (remove) {
                DeleteKey(key);
                key.clear();
                noKey = "value below a deleting section";
            } else {
                CreateKey(key);
            }
            continue;
        }
        // A binary value may go on over further lines, each but the last ending in '\'.
        std::string joined;
        if (line.back() == '\\' && line.find("=hex") != std::string_view::npos) {
            joined.assign(line.substr(0, line.size() - 1));
            while (!input.empty()) {
                const std::string_view more = nextLine();
                const bool goesOn = !more.empty() && more.back() == '\\';
                joined.append(goesOn ? more.substr(0, more.size() - 1) : more);
                if (!goesOn) {
                    break;
                }
            }
            line = joined;
        }
        std::string_view reason = key.empty() ? noKey : std::string_view();
        if (reason.empty() && line.find('\0') != std::string_view::npos) {
            reason = "holds a NUL byte";
        } else if (reason.empty()) {
            reason = ParseValueLine(line, key);
        }
        if (!reason.empty()) {
            if (!bad(firstLine, reason)) {
                return false;
            }
            continue;
        }
        ++goodLines;
    }
    // A text whose every line is bad holds nothing that can be taken for settings.
    return headerSeen && (goodLines > 0 || badLines == 0);
}

std::string_view SettingsTree::ParseValueLine(std::string_view line, const std::string& key) {
    constexpr std::string_view kNotValueLine = "not a \"Name\"=value line";
    constexpr std::string_view kBadData = "value is not dword:, hex:, hex(N): or a quoted text";
    std::string name;
    if (!line.empty() && line.front() == '@') {
        line.remove_prefix(1);
    } else if (!ParseQuoted(line, name) || name.size() > kMaxPathBytes) {
        return kNotValueLine;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') {
        return kNotValueLine;
    }
    std::string_view data = Trim(line.substr(1));
    if (data == "-") {
        DeleteValue(key, name);
        return {};
    }
    SettingsValue value;
    if (!data.empty() && data.front() == '"') {
        std::string text;
        if (!ParseQuoted(data, text) || !Trim(data).empty() || text.size() > kMaxValueBytes) {
            return kBadData;
        }
        value.kind = SettingsValue::Kind::kString;
        value.bytes.assign(text.begin(), text.end());
    } else if (StartsWithNoCase(data, "dword:")) {
        const std::optional<uint32_t> number = ParseHexNumber(Trim(data.substr(6)));
        if (!number) {
            return "dword: takes 1 to 8 hex digits";
        }
        value.kind = SettingsValue::Kind::kDword;
        value.bytes.resize(4);
        WriteLe32(value.bytes.data(), *number);
    } else if (StartsWithNoCase(data, "hex:")) {
        value.kind = SettingsValue::Kind::kBinary;
        if (!ParseHexBytes(data.substr(4), value.bytes)) {
            return "hex: takes bytes of two hex digits separated by commas";
        }
    } else if (StartsWithNoCase(data, "hex(")) {
        const size_t close = data.find(')');
        if (close == std::string_view::npos || close + 1 >= data.size() || data[close + 1] != ':') {
            return kBadData;
        }
        const std::optional<uint32_t> type = ParseHexNumber(data.substr(4, close - 4));
        if (!type || !ParseHexBytes(data.substr(close + 2), value.bytes)) {
            return "hex(N): takes bytes of two hex digits separated by commas";
        }
        value.kind = SettingsValue::Kind::kTyped;
        value.type = *type;
    } else {
        return kBadData;
    }
    if (!SetValue(key, name, std::move(value))) {
        return "key holds too many values";
    }
    return {};
}

std::string SettingsTree::Format() const {
    std::string text(kHeader);
    text += kLineEnd;
    char number[16];
    for (const auto& [path, values] : m_keys) {
        text += kLineEnd;
        text += '[';
        text += kHive;
        text += '\\';
        text += path;
        text += ']';
        text += kLineEnd;
        for (const auto& [name, value] : values) {
            if (name.empty()) {
                text += '@';
            } else {
                AppendQuoted(text, name);
            }
            text += '=';
            if (value.kind == SettingsValue::Kind::kString) {
                AppendQuoted(text,
                             std::string_view(reinterpret_cast<const char*>(value.bytes.data()),
                                              value.bytes.size()));
                text += kLineEnd;
                continue;
            }
            if (value.kind == SettingsValue::Kind::kDword && value.bytes.size() == 4) {
                const uint32_t dword = ReadLe32(value.bytes.data());
                std::snprintf(number, sizeof number, "dword:%08x", dword);
                text += number;
                text += kLineEnd;
                continue;
            }
            if (value.kind == SettingsValue::Kind::kTyped) {
                std::snprintf(number, sizeof number, "hex(%x):", value.type);
                text += number;
            } else {
                text += "hex:";
            }
            for (size_t i = 0; i < value.bytes.size(); ++i) {
                if (i > 0) {
                    text += ',';
                    if (i % kBytesPerLine == 0) {
                        text += '\\';
                        text += kLineEnd;
                        text += "  ";
                    }
                }
                std::snprintf(number, sizeof number, "%02x", value.bytes[i]);
                text += number;
            }
            text += kLineEnd;
        }
    }
    return text;
}

}  // namespace quorix::platform
