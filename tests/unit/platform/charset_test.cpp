#include "platform/charset.h"

#include <gtest/gtest.h>

#include <clocale>
#include <thread>

namespace quorix::platform {
namespace {

// Switches the calling thread to a locale for the life of the object.
class ScopedLocale {
public:
    explicit ScopedLocale(const char* name) : m_locale(newlocale(LC_ALL_MASK, name, nullptr)) {
        if (m_locale != nullptr)
            m_previous = uselocale(m_locale);
    }
    ~ScopedLocale() {
        if (m_locale != nullptr) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;
    bool Ok() const { return m_locale != nullptr; }

private:
    locale_t m_locale;
    locale_t m_previous = nullptr;
};

// "カメラ設定" (camera settings) and its UTF-8 bytes.
constexpr char16_t kJapanese[] = u"\u30AB\u30E1\u30E9\u8A2D\u5B9A";
constexpr char kJapaneseUtf8[] = "\xE3\x82\xAB\xE3\x83\xA1\xE3\x83\xA9\xE8\xA8\xAD\xE5\xAE\x9A";
// U+1F4F7, outside the basic plane: a surrogate pair in UTF-16, four bytes in UTF-8.
constexpr char16_t kCameraSymbol[] = u"\U0001F4F7";
constexpr char kCameraSymbolUtf8[] = "\xF0\x9F\x93\xB7";

TEST(Charset, AsciiRoundTripsInTheCLocale) {
    ScopedLocale locale("C");
    ASSERT_TRUE(locale.Ok());
    std::string ansi;
    ASSERT_TRUE(WideToAnsi(u"Quorix 252 #0 (C:/img_01.bmp)", ansi));
    EXPECT_EQ(ansi, "Quorix 252 #0 (C:/img_01.bmp)");
    std::u16string wide;
    ASSERT_TRUE(AnsiToWide(ansi.c_str(), wide, 256));
    EXPECT_EQ(wide, u"Quorix 252 #0 (C:/img_01.bmp)");
    ASSERT_TRUE(WideToAnsi(u"", ansi, 1));
    EXPECT_EQ(ansi, "");
}

TEST(Charset, JapaneseAndSurrogatePairsConvertInUtf8) {
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.Ok());
    std::string ansi;
    ASSERT_TRUE(WideToAnsi(kJapanese, ansi));
    EXPECT_EQ(ansi, kJapaneseUtf8);
    ASSERT_TRUE(WideToAnsi(kCameraSymbol, ansi));
    EXPECT_EQ(ansi, kCameraSymbolUtf8);
    std::u16string wide;
    ASSERT_TRUE(AnsiToWide(kJapaneseUtf8, wide, 6));
    EXPECT_EQ(wide, kJapanese);
    ASSERT_TRUE(AnsiToWide(kCameraSymbolUtf8, wide, 3));
    EXPECT_EQ(wide, kCameraSymbol);
    EXPECT_FALSE(AnsiToWide(kJapaneseUtf8, wide, 5)) << "5 units plus the terminator need 6";
    EXPECT_FALSE(AnsiToWide(kCameraSymbolUtf8, wide, 2)) << "a pair is two units";
}

// The conversion follows the calling thread's locale, not one fixed when the library loaded.
TEST(Charset, FollowsTheCallingThreadsLocale) {
    ScopedLocale utf8("C.UTF-8");
    ASSERT_TRUE(utf8.Ok());
    bool convertedInC = true;
    std::thread([&] {
        ScopedLocale c("C");
        std::string ansi;
        convertedInC = WideToAnsi(kJapanese, ansi);
    }).join();
    std::string ansi;
    EXPECT_FALSE(convertedInC);
    EXPECT_TRUE(WideToAnsi(kJapanese, ansi));
}

TEST(Charset, FailuresLeaveTheOutputUntouched) {
    ScopedLocale locale("C");
    ASSERT_TRUE(locale.Ok());
    std::string ansi = "keep";
    std::u16string wide = u"keep";
    EXPECT_FALSE(WideToAnsi(u"Gr\u00F6\u00DFe", ansi)) << "not representable in ASCII";
    EXPECT_FALSE(WideToAnsi(nullptr, ansi));
    EXPECT_FALSE(AnsiToWide("caf\xE9", wide, 256)) << "a byte above 127 is not ASCII";
    EXPECT_FALSE(AnsiToWide(nullptr, wide, 256));
    EXPECT_EQ(ansi, "keep");
    EXPECT_EQ(wide, u"keep");
}

TEST(Charset, InvalidInputFailsEvenWhereEveryCharacterIsRepresentable) {
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.Ok());
    std::string ansi;
    const char16_t highAtEnd[] = {u'a', 0xD83D, 0};
    const char16_t highBeforeLetter[] = {0xD83D, u'a', 0};
    const char16_t lowAlone[] = {u'a', 0xDCF7, u'b', 0};
    EXPECT_FALSE(WideToAnsi(highAtEnd, ansi));
    EXPECT_FALSE(WideToAnsi(highBeforeLetter, ansi));
    EXPECT_FALSE(WideToAnsi(lowAlone, ansi));
    std::u16string wide;
    EXPECT_FALSE(AnsiToWide("\xFF", wide, 16));
    EXPECT_FALSE(AnsiToWide("ab\xE3\x82", wide, 16)) << "truncated multi-byte sequence";
}

// A name converts into a 1024-byte buffer only if its bytes and the terminator fit in 1023.
TEST(Charset, ConvertedNameAndTerminatorMustFitIn1023Bytes) {
    std::string ansi;
    {
        ScopedLocale locale("C");
        ASSERT_TRUE(locale.Ok());
        ASSERT_TRUE(WideToAnsi(std::u16string(1022, u'a').c_str(), ansi));
        EXPECT_EQ(ansi, std::string(1022, 'a'));
        EXPECT_FALSE(WideToAnsi(std::u16string(1023, u'a').c_str(), ansi));
        EXPECT_TRUE(WideToAnsi(u"abc", ansi, 4));
        EXPECT_FALSE(WideToAnsi(u"abcd", ansi, 4));
    }
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.Ok());
    // U+8A2D takes three bytes: 340 of them are 1020 bytes.
    const std::u16string kanji(340, u'\u8A2D');
    EXPECT_TRUE(WideToAnsi((kanji + u"ab").c_str(), ansi));
    EXPECT_EQ(ansi.size(), 1022u);
    EXPECT_FALSE(WideToAnsi((kanji + u"abc").c_str(), ansi));
    EXPECT_FALSE(WideToAnsi((kanji + u"\u8A2D").c_str(), ansi)) << "1023 bytes";
}

// Output several times the input estimate must still come out whole when the limit allows it.
TEST(Charset, LongMultiByteTextConvertsWhole) {
    ScopedLocale locale("C.UTF-8");
    ASSERT_TRUE(locale.Ok());
    std::string ansi;
    ASSERT_TRUE(WideToAnsi(std::u16string(1000, u'\u8A2D').c_str(), ansi, 3001));
    ASSERT_EQ(ansi.size(), 3000u);
    for (size_t i = 0; i < ansi.size(); i += 3)
        ASSERT_EQ(ansi.substr(i, 3), "\xE8\xA8\xAD") << "at byte " << i;
    std::u16string wide;
    EXPECT_FALSE(AnsiToWide(ansi.c_str(), wide, 1000));
    ASSERT_TRUE(AnsiToWide(ansi.c_str(), wide, 1001));
    EXPECT_EQ(wide, std::u16string(1000, u'\u8A2D'));
    ASSERT_TRUE(AnsiToWide(std::string(3000, 'x').c_str(), wide, 3001));
    EXPECT_EQ(wide, std::u16string(3000, u'x'));
}

// File names become UTF-8 in any locale, pairs as one four-byte character; unpaired surrogates
// are refused, and a name whose bytes and terminator exceed 1023 is refused whole, also when the
// character crossing the limit is a pair.
TEST(Charset, FileNamesBecomeUtf8WhateverTheLocale) {
    ScopedLocale locale("C");
    ASSERT_TRUE(locale.Ok());
    std::string name = "keep";
    const char16_t highAtEnd[] = {u'a', 0xD83D, 0};
    const char16_t lowFirst[] = {0xDCF7, 0xD83D, 0};
    EXPECT_FALSE(WideToFileName(highAtEnd, name));
    EXPECT_FALSE(WideToFileName(lowFirst, name));
    EXPECT_FALSE(WideToFileName(nullptr, name));
    EXPECT_EQ(name, "keep");
    ASSERT_TRUE(
        WideToFileName((std::u16string(kJapanese) + u"/\u00E9" + kCameraSymbol).c_str(), name));
    EXPECT_EQ(name, std::string(kJapaneseUtf8) + "/\xC3\xA9" + kCameraSymbolUtf8);
    // 255 pairs are 1020 bytes.
    std::u16string pairs;
    for (int i = 0; i < 255; ++i)
        pairs += kCameraSymbol;
    ASSERT_TRUE(WideToFileName((pairs + u"ab").c_str(), name));
    EXPECT_EQ(name.size(), 1022u);
    EXPECT_FALSE(WideToFileName((pairs + u"abc").c_str(), name));
    EXPECT_FALSE(WideToFileName((pairs + kCameraSymbol).c_str(), name)) << "1024 bytes";
    EXPECT_EQ(name.size(), 1022u) << "a refused name leaves the output";
}

}  // namespace
}  // namespace quorix::platform
