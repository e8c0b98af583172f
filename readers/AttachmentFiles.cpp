// Attachment files beside a database copied with the phone's folders.
#include "readers/AttachmentFiles.h"

#include <algorithm>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "store/MessageStore.h"

namespace fs = std::filesystem;

namespace {

bool IsFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Calls `visit` with every message that lists attachments: live and recovered, or recovered only.
template <typename Visit>
void ForEachWithAttachments(bool recoveredOnly, Visit visit)
{
    MessageStore& store = g_store;
    for (std::int32_t m = 0; m < (recoveredOnly ? 0 : store.liveMessageCount); ++m) {
        if (!store.liveMessages[m].details->attachments.empty()) visit(store.liveMessages[m]);
    }
    if (store.currentReader == nullptr) return;
    for (MessageRecord& message : store.currentReader->m_recovered) {
        if (!message.details->attachments.empty()) visit(message);
    }
}

}  // namespace

std::optional<std::string> AttachmentBesideDatabase(const std::string& databasePath, const std::string& phonePath)
{
    return AttachmentsBeside(databasePath).Find(phonePath);
}

AttachmentsBeside::AttachmentsBeside(const std::string& databasePath) : m_folder(fs::path(databasePath).parent_path()) {}

bool AttachmentsBeside::FolderThere(const fs::path& folder)
{
    const auto [known, added] = m_folders.try_emplace(folder, false);
    if (added) {
        std::error_code error;
        known->second = fs::is_directory(folder, error);
    }
    return known->second;
}

std::optional<std::string> AttachmentsBeside::Find(const std::string& phonePath)
{
    if (phonePath.empty() || phonePath.find("..") != std::string::npos) return std::nullopt;
    static constexpr std::string_view kSmsFolder = "Library/SMS/";
    if (const auto at = phonePath.find(kSmsFolder); at != std::string::npos && (phonePath.starts_with("~/") || phonePath.starts_with("/"))) {
        const std::string inside = phonePath.substr(at + kSmsFolder.size());
        const fs::path file = m_folder / inside;
        // The first folder of the path ("Attachments") is looked for once.
        const std::size_t slash = inside.find('/');
        if (slash != std::string::npos && !FolderThere(m_folder / inside.substr(0, slash))) return std::nullopt;
        if (IsFile(file)) return file.string();
        return std::nullopt;
    }
    static constexpr std::string_view kParts = "/app_parts/";
    if (const auto at = phonePath.find(kParts); at != std::string::npos) {
        const std::string name = phonePath.substr(at + kParts.size());
        for (const fs::path& parts : {m_folder / "app_parts", m_folder.parent_path() / "app_parts"}) {
            if (FolderThere(parts) && IsFile(parts / name)) return (parts / name).string();
        }
    }
    return std::nullopt;
}

int TakeOutAttachments(const std::function<std::optional<std::string>(const std::string& phonePath)>& find)
{
    int made = 0;
    ForEachWithAttachments(false, [&](MessageRecord& message) {
        const auto& attachments = message.details->attachments;
        if (std::none_of(attachments.begin(), attachments.end(), [](const Attachment& a) { return a.present && a.at.empty(); })) return;
        for (Attachment& a : message.details.Edit().attachments) {
            if (!a.present || !a.at.empty()) continue;
            if (const std::optional<std::string> at = find(a.file)) {
                a.at = *at;
                std::error_code error;
                if (const auto size = fs::file_size(a.at, error); !error && a.size < 0) a.size = static_cast<std::int64_t>(size);
                ++made;
            }
        }
    });
    return made;
}

int MarkAttachmentsPresent(const std::function<std::optional<std::string>(const std::string& phonePath)>& find,
                           bool recoveredOnly)
{
    int present = 0;
    ForEachWithAttachments(recoveredOnly, [&](MessageRecord& message) {
        for (Attachment& a : message.details.Edit().attachments) {
            if (!a.present) {
                if (const std::optional<std::string> at = find(a.file)) {
                    a.present = true;
                    a.at = *at;
                }
            }
            if (a.present) {
                ++present;
                std::error_code error;
                // The database's own size may be what was transferred; the file's is what is there.
                if (const auto size = a.at.empty() ? 0 : fs::file_size(a.at, error); !error && !a.at.empty() && a.size < 0) {
                    a.size = static_cast<std::int64_t>(size);
                }
            }
        }
    });
    return present;
}
