// Finding the files of message attachments, which phones keep outside the database.
#pragma once

#include <functional>
#include <optional>
#include <string>

// Where a copy of the phone's folders keeps an attachment beside the database at
// `databasePath`: the iPhone's "~/Library/SMS/Attachments/…" under the database's own folder
// (Library/SMS), Android's "…/app_parts/NAME" in "app_parts" beside the database or beside
// its "databases" folder. Nothing when no such file is there; a path climbing out ("..")
// never resolves.
std::optional<std::string> AttachmentBesideDatabase(const std::string& databasePath, const std::string& phonePath);

// Gives every present attachment of the live and the recovered messages that has no file here
// yet (an encrypted backup's, an archive's) the file `find` makes for it, for a report that
// keeps the files. Returns how many were made.
int TakeOutAttachments(const std::function<std::optional<std::string>(const std::string& phonePath)>& find);

// Marks every attachment of the live and the recovered messages (or of the recovered ones
// only, after a recovery) that `find` resolves as present (with where it is). Returns how
// many are present.
int MarkAttachmentsPresent(const std::function<std::optional<std::string>(const std::string& phonePath)>& find,
                           bool recoveredOnly = false);
