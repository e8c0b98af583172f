// Choosing and applying the window's language through wx's gettext catalogs.
#include "platform/Language.h"

#include <wx/intl.h>
#include <wx/translation.h>

#include <cstdlib>

namespace platform {

Language LanguageOfLocale()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value == nullptr || *value == '\0') continue;
        return std::string(value).starts_with("zh") ? Language::Chinese : Language::English;
    }
    return Language::English;
}

bool UseLanguage(Language language, const std::vector<std::string>& catalogFolders)
{
    // A new set of translations each time: the catalog of the old language goes with it.
    auto* translations = new wxTranslations;  // wx owns it from here
    wxTranslations::Set(translations);
    if (language == Language::English) {
        translations->SetLanguage(wxLANGUAGE_ENGLISH_US);
        return true;
    }
    for (const std::string& folder : catalogFolders) wxFileTranslationsLoader::AddCatalogLookupPathPrefix(wxString::FromUTF8(folder));
    translations->SetLanguage(wxLANGUAGE_CHINESE_SIMPLIFIED);
    return translations->AddCatalog("kestrow");
}

Language CurrentLanguage()
{
    const wxTranslations* translations = wxTranslations::Get();
    return translations != nullptr && translations->IsLoaded("kestrow") ? Language::Chinese : Language::English;
}

std::string Tr(const char* english)
{
    if (CurrentLanguage() == Language::English) return english;
    return std::string(wxGetTranslation(wxString::FromUTF8(english), "kestrow").utf8_str());
}

Translator WindowTranslator()
{
    return [](const char* english) { return Tr(english); };
}

}  // namespace platform
