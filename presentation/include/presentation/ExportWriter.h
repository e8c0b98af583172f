// Writing conversations to files, as the message view shows them: text, or a report in HTML,
// CSV or JSON (see Reports.h).
//
// Mode 0 writes one file per conversation, named after its number ("13812345678.txt"); mode 1
// writes all of them into "SMS-<database file name>-<YYYYMMDD-HHMMSS>.txt". The extension
// follows the format (.txt, .html, .csv, .json). Text files are UTF-8 with "\n" line ends.
// Per message: the view's heading line (with " [recovered]" for recovered messages, whose
// colour a text file cannot show), the text, a blank line. Mode 1 puts a line
// "== <number> (<n> messages, <k> recovered)" and a blank line before each conversation.
// An existing file is never overwritten: a taken name gets " (2)", " (3)", ... before ".txt".
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <string>
#include <vector>

#include "presentation/ConversationView.h"
#include "presentation/ReportFacts.h"
#include "presentation/Texts.h"

enum class ExportMode : std::int32_t { FilePerConversation = 0, SingleFile = 1 };
enum class ExportFormat : std::int32_t { Text = 0, Html = 1, Csv = 2, Json = 3 };

// The format a name stands for ("txt", "html", "csv", "json"); nothing for another name.
std::optional<ExportFormat> ExportFormatNamed(std::string_view name);
// The ending of the format's files: ".txt", ".html", ".csv", ".json".
std::string ExportExtension(ExportFormat format);

struct ExportRequest {
    std::vector<std::int32_t> rows;  // conversation-table indexes, in table order
    ExportMode mode = ExportMode::FilePerConversation;
    std::filesystem::path folder;
    std::string databasePath;  // names the single file
    ExportFormat format = ExportFormat::Text;
    const ReportFacts* facts = nullptr;  // the report's facts (HTML, CSV, JSON)
    MessageFilter filter{};              // which messages of each conversation are written
};

struct ExportResult {
    std::vector<std::filesystem::path> files;  // written, in order
    std::int32_t conversations = 0;
    std::int32_t messages = 0;
    std::int32_t recovered = 0;
    // HTML: the new folder beside the reports holding copies of the attachment files they
    // link to (empty when none), and how many files it holds.
    std::filesystem::path attachmentFolder;
    std::int32_t attachmentFiles = 0;
    std::string error;  // empty on success; then nothing of this export is left on disk
};

// Writes the chosen conversations of the current store. Each file is written under a
// temporary name in the folder and renamed into place when complete.
ExportResult ExportConversations(const ExportRequest& request);

// "Exported N conversations (M messages, K recovered) to FOLDER."
std::string ExportSummaryText(const ExportResult& result, const std::filesystem::path& folder,
                              const Translator& tr = English);

// A file to write: its name's stem and extension, and its bytes.
struct NewFile {
    std::string stem;
    std::string extension;  // ".txt"
    std::string content;
};

// Writes the files into `folder` safely: each whole under a temporary name, one flush of the
// file system for all, then each renamed to the first free name "<stem><extension>",
// "<stem> (2)<extension>", ... (an existing file is never replaced). Files get the mode the
// user's umask leaves. Returns the paths written; on failure `error` names the file and the
// reason and nothing of this call is left on disk.
std::vector<std::filesystem::path> WriteNewFiles(const std::filesystem::path& folder, const std::vector<NewFile>& files,
                                                 std::string& error);

// A conversation's file name stem: the address with characters that cannot stand in a file
// name (/ \ : * ? " < > | and control characters) replaced by "_"; an empty address gives the
// catch-all entry's name.
std::string ExportFileStem(const std::string& address, const std::string& catchAllName);
