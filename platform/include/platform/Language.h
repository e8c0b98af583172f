// One language at a time in the window: English, the program's own texts, unless the user's
// locale is Chinese, when the Chinese texts of the design come from the gettext catalog
// "kestrow" (zh_CN/LC_MESSAGES/kestrow.mo).
#pragma once

#include <string>
#include <vector>

#include "presentation/Texts.h"

namespace platform {

enum class Language { English, Chinese };

// The language the user's locale asks for (LC_ALL, LC_MESSAGES, LANG): Chinese for zh_*.
Language LanguageOfLocale();

// Shows `language` from now on, the catalog looked up in `catalogFolders` (each holding
// <language>/LC_MESSAGES/kestrow.mo) and in the system's places. Returns false when Chinese
// was asked for and its catalog is nowhere; the window then stays English.
bool UseLanguage(Language language, const std::vector<std::string>& catalogFolders);

Language CurrentLanguage();

// The shown language's text for one of the program's English texts.
std::string Tr(const char* english);
// The same as a Translator for the presentation library.
Translator WindowTranslator();

}  // namespace platform
