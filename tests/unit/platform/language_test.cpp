#include "platform/language.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace quorix::platform {
namespace {

// Sets (or, with null, removes) the three locale variables for the life of the object.
class ScopedLocaleVariables {
public:
    ScopedLocaleVariables(const char* all, const char* messages, const char* lang) {
        const char* values[3] = {all, messages, lang};
        for (int i = 0; i < 3; ++i) {
            if (const char* old = std::getenv(kNames[i])) {
                m_saved[i] = old;
            }
            Set(kNames[i], values[i]);
        }
    }
    ~ScopedLocaleVariables() {
        for (int i = 0; i < 3; ++i) {
            Set(kNames[i], m_saved[i] ? m_saved[i]->c_str() : nullptr);
        }
    }
    ScopedLocaleVariables(const ScopedLocaleVariables&) = delete;
    ScopedLocaleVariables& operator=(const ScopedLocaleVariables&) = delete;

private:
    static void Set(const char* name, const char* value) {
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    static constexpr const char* kNames[3] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::optional<std::string> m_saved[3];
};

// The dialogs' texts follow the locale that picks message texts: LC_ALL over LC_MESSAGES over
// LANG, empty ones skipped, any territory or code set of "ja", and nothing else that starts with
// "ja". Catches the wrong precedence (a Japanese LANG under an English LC_MESSAGES) and a prefix
// match on other languages.
TEST(SystemLanguage, FollowsTheMessagesLocale) {
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        Language expected;
    };
    const Case cases[] = {
        {nullptr, nullptr, "ja_JP.UTF-8", Language::kJapanese},
        {nullptr, nullptr, "ja", Language::kJapanese},
        {nullptr, "ja_JP.eucJP", "en_US.UTF-8", Language::kJapanese},
        {nullptr, "C", "ja_JP.UTF-8", Language::kEnglish},
        {"en_GB.UTF-8", "ja_JP.UTF-8", "ja_JP.UTF-8", Language::kEnglish},
        {"", "", "ja_JP.UTF-8", Language::kJapanese},
        {nullptr, nullptr, "jam_JM", Language::kEnglish},
        {nullptr, nullptr, nullptr, Language::kEnglish},
    };
    for (const Case& c : cases) {
        ScopedLocaleVariables scoped(c.all, c.messages, c.lang);
        EXPECT_EQ(SystemLanguage(), c.expected)
            << (c.all ? c.all : "-") << " " << (c.messages ? c.messages : "-") << " "
            << (c.lang ? c.lang : "-");
    }
}

}  // namespace
}  // namespace quorix::platform
