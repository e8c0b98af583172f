// File-name rules and the reader replacement shared by the window and the companion.
#include "store/OpenRules.h"

#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

bool EndsWithSeparatedName(std::string_view path, std::string_view name)
{
    if (path.size() < name.size() + 1) return false;
    const char separator = path[path.size() - name.size() - 1];
    if (separator != '/' && separator != '\\') return false;
    return AsciiLower(path.substr(path.size() - name.size())) == name;
}

}  // namespace

DatabaseName ClassifyDatabasePath(std::string_view path)
{
    if (EndsWithSeparatedName(path, "mmssms.db")) return DatabaseName::Android;
    if (EndsWithSeparatedName(path, "sms.db")) return DatabaseName::Iphone;
    return DatabaseName::Other;
}

void ReplaceReaderAndLoad(std::unique_ptr<CSms> reader, const std::string& path)
{
    MessageStore& store = g_store;
    if (store.currentReader) {
        ResetStore();
        store.currentReader.reset();
    }
    // Constructing the reader already cleared the live list; it becomes current before loading.
    store.currentReader = std::move(reader);
    store.currentReader->LoadDatabase(path);
}
