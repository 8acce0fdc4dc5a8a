// The W functions' UTF-16 file names as a program sees them that never chose a locale: the file
// the SDK creates carries the name's UTF-8 bytes, the encoding of Linux file names.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "../../unit/output/output_test_support.h"
#include "context_test_support.h"

namespace quorix {
namespace {

using test::ContextCameraTest;
using test::ScratchDirectory;

// Puts the process in the C locale, where a program starts until it calls setlocale, and
// restores the locale it had.
class CLocale {
public:
    CLocale() : m_previous(std::setlocale(LC_ALL, nullptr)) { std::setlocale(LC_ALL, "C"); }
    ~CLocale() { std::setlocale(LC_ALL, m_previous.c_str()); }
    CLocale(const CLocale&) = delete;
    CLocale& operator=(const CLocale&) = delete;

private:
    std::string m_previous;
};

class WideFileName : public ContextCameraTest {};

// An emoji outside the basic plane (a surrogate pair) and Japanese: in the C locale, whose ASCII
// holds neither, each name still makes exactly its UTF-8 file; a lone surrogate, which no file
// name can carry, is refused with code 12 and no file, not written as '?'.
TEST_F(WideFileName, SaveImageWMakesTheUtf8NameInTheCLocale) {
    const CLocale locale;
    Attach("QX252-000951");
    const QuorixHandle handle = Initialize();
    ScratchDirectory directory;
    ASSERT_EQ(Quorix_SetCaptureWindowEx(handle, 2048, 0, 256, 1536, 0, 64), 1);
    ASSERT_EQ(Quorix_SnapShot(handle, nullptr, 0, 0), 1);

    // U+1F600 is F0 9F 98 80; "写真" (photograph) is E5 86 99 E7 9C 9F.
    const std::string path = directory.File("");
    const std::u16string folder(path.begin(), path.end());
    const std::u16string emoji = folder + u"\U0001F600.bmp";
    const std::u16string japanese = folder + u"\u5199\u771F.png";
    EXPECT_EQ(Quorix_SaveImageW(handle, emoji.c_str(), QUORIX_SAVE_BMP), 1);
    EXPECT_EQ(Quorix_SaveImageW(handle, japanese.c_str(), QUORIX_SAVE_PNG), 1);
    std::vector<std::string> names = directory.Entries();
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"\xE5\x86\x99\xE7\x9C\x9F.png", "\xF0\x9F\x98\x80.bmp"}));

    const std::u16string lone = folder + u"a" + char16_t(0xD83D) + u"b.bmp";
    EXPECT_EQ(Quorix_SaveImageW(handle, lone.c_str(), QUORIX_SAVE_BMP), 0);
    EXPECT_EQ(Quorix_GetLastError(handle), QUORIX_ERR_TEXT);
    EXPECT_EQ(directory.Entries().size(), 2u);
}

}  // namespace
}  // namespace quorix
