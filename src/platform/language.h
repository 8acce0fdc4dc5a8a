#pragma once

namespace quorix::platform {

// The language of the process's user interface texts: Japanese when the locale that chooses
// message texts (LC_ALL, else LC_MESSAGES, else LANG, the first one set and not empty) names
// Japanese ("ja", "ja_JP.UTF-8", ...), English otherwise. Read from the environment at each call.
enum class Language { kEnglish, kJapanese };

Language SystemLanguage();

}  // namespace quorix::platform
