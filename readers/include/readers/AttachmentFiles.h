// Finding the files of message attachments, which phones keep outside the database.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>

// Where a copy of the phone's folders keeps an attachment beside the database at
// `databasePath`: the iPhone's "~/Library/SMS/Attachments/…" under the database's own folder
// (Library/SMS), Android's "…/app_parts/NAME" in "app_parts" beside the database or beside
// its "databases" folder. Nothing when no such file is there; a path climbing out ("..")
// never resolves.
std::optional<std::string> AttachmentBesideDatabase(const std::string& databasePath, const std::string& phonePath);

// The same for many attachments of one database: each folder an attachment could be in is
// looked for once, so that a database of a hundred thousand attachments and no folders beside
// it costs no file system call per attachment.
class AttachmentsBeside {
public:
    explicit AttachmentsBeside(const std::string& databasePath);
    std::optional<std::string> Find(const std::string& phonePath);

private:
    bool FolderThere(const std::filesystem::path& folder);
    std::filesystem::path m_folder;
    std::map<std::filesystem::path, bool> m_folders;  // whether each folder looked for is there
};

// Gives every present attachment of the live and the recovered messages that has no file here
// yet (an encrypted backup's, an archive's) the file `find` makes for it, for a report that
// keeps the files. Returns how many were made.
int TakeOutAttachments(const std::function<std::optional<std::string>(const std::string& phonePath)>& find);

// Marks every attachment of the live and the recovered messages (or of the recovered ones
// only, after a recovery) that `find` resolves as present (with where it is). Returns how
// many are present.
int MarkAttachmentsPresent(const std::function<std::optional<std::string>(const std::string& phonePath)>& find,
                           bool recoveredOnly = false);
