#include "platform/charset.h"

#include <iconv.h>
#include <langinfo.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace quorix::platform {

namespace {

// UTF-16 in memory order, named with its byte order so that iconv neither writes nor expects a
// byte-order mark.
constexpr const char* kUtf16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

// iconv_open reports failure with this value.
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);  // NOLINT(performance-no-int-to-ptr)

class Converter {
public:
    Converter(const char* toCode, const char* fromCode) : m_cd(iconv_open(toCode, fromCode)) {}
    ~Converter() {
        if (m_cd != kNoConverter)
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool IsOpen() const { return m_cd != kNoConverter; }

    // Converts `inBytes` bytes into `out`, growing the output while it stays within
    // `maxOutBytes`. Fails on invalid or incomplete input, on characters the target cannot
    // represent, and when the result needs more than `maxOutBytes`.
    bool Run(const char* in, size_t inBytes, size_t maxOutBytes, std::string& out) {
        std::string buffer(std::min(maxOutBytes, inBytes + 16), '\0');
        char* inPtr = const_cast<char*>(in);  // iconv never writes through its input pointer
        size_t inLeft = inBytes;
        size_t used = 0;
        bool flushing = false;
        for (;;) {
            char* outPtr = buffer.data() + used;
            size_t outLeft = buffer.size() - used;
            // Once the input is consumed, a null input asks a stateful character set for the
            // bytes that return it to its initial shift state.
            const size_t result = flushing ? iconv(m_cd, nullptr, nullptr, &outPtr, &outLeft)
                                           : iconv(m_cd, &inPtr, &inLeft, &outPtr, &outLeft);
            used = static_cast<size_t>(outPtr - buffer.data());
            if (result != static_cast<size_t>(-1)) {
                // A positive count means characters were replaced by look-alikes: not a faithful
                // conversion of the name.
                if (result != 0)
                    return false;
                if (flushing)
                    break;
                flushing = true;
                continue;
            }
            if (errno != E2BIG || buffer.size() >= maxOutBytes)
                return false;
            buffer.resize(std::min(maxOutBytes, std::max<size_t>(buffer.size() * 2, 16)));
        }
        buffer.resize(used);
        out = std::move(buffer);
        return true;
    }

private:
    iconv_t m_cd;
};

// The character set of the calling thread's locale (uselocale), else of the global one.
const char* LocaleCharset() {
    // The text only changes when some thread switches the global locale, which an SDK cannot
    // guard against; callers copy it before using it.
    return nl_langinfo(CODESET);  // NOLINT(concurrency-mt-unsafe)
}

}  // namespace

bool WideToAnsi(const char16_t* text, std::string& out, size_t maxBytes) {
    if (text == nullptr || maxBytes == 0)
        return false;
    Converter converter(LocaleCharset(), kUtf16);
    const size_t units = std::char_traits<char16_t>::length(text);
    std::string converted;
    if (!converter.IsOpen() || !converter.Run(reinterpret_cast<const char*>(text),
                                              units * sizeof(char16_t), maxBytes - 1, converted))
        return false;
    out = std::move(converted);
    return true;
}

bool WideToFileName(const char16_t* text, std::string& out, size_t maxBytes) {
    if (text == nullptr || maxBytes == 0)
        return false;
    std::string converted;
    for (const char16_t* unit = text; *unit != u'\0'; ++unit) {
        uint32_t code = *unit;
        if (code >= 0xDC00 && code <= 0xDFFF)
            return false;  // a low surrogate without its high one
        if (code >= 0xD800 && code <= 0xDBFF) {
            // The next unit is the terminator at worst, which is no low surrogate.
            const uint32_t low = unit[1];
            if (low < 0xDC00 || low > 0xDFFF)
                return false;
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            ++unit;
        }
        char bytes[4];
        size_t count = 0;
        if (code < 0x80) {
            bytes[count++] = static_cast<char>(code);
        } else if (code < 0x800) {
            bytes[count++] = static_cast<char>(0xC0 | (code >> 6));
            bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            bytes[count++] = static_cast<char>(0xE0 | (code >> 12));
            bytes[count++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
        } else {
            bytes[count++] = static_cast<char>(0xF0 | (code >> 18));
            bytes[count++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            bytes[count++] = static_cast<char>(0x80 | (code & 0x3F));
        }
        // The whole name or none: a shortened name would reach another file.
        if (converted.size() + count > maxBytes - 1)
            return false;
        converted.append(bytes, count);
    }
    out = std::move(converted);
    return true;
}

bool AnsiToWide(const char* text, std::u16string& out, size_t maxUnits) {
    if (text == nullptr || maxUnits == 0)
        return false;
    Converter converter(kUtf16, LocaleCharset());
    const size_t maxOutUnits = std::min(maxUnits - 1, SIZE_MAX / sizeof(char16_t));
    std::string bytes;
    if (!converter.IsOpen() ||
        !converter.Run(text, std::strlen(text), maxOutUnits * sizeof(char16_t), bytes))
        return false;
    std::u16string converted(bytes.size() / sizeof(char16_t), u'\0');
    std::memcpy(converted.data(), bytes.data(), converted.size() * sizeof(char16_t));
    out = std::move(converted);
    return true;
}

}  // namespace quorix::platform
