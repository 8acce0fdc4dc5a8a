#include "platform/language.h"

#include <cstdlib>
#include <string_view>

namespace quorix::platform {

Language SystemLanguage() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') {
            continue;
        }
        // A locale name is language[_territory][.codeset][@modifier].
        const std::string_view locale(value);
        const bool japanese = locale.starts_with("ja") && (locale.size() == 2 || locale[2] == '_' ||
                                                           locale[2] == '.' || locale[2] == '@');
        return japanese ? Language::kJapanese : Language::kEnglish;
    }
    return Language::kEnglish;
}

}  // namespace quorix::platform
