// What the companion's commands share: their options, exit statuses, messages on standard
// error, and the case's sequence run as a command needs it (open, load, name, recover).
#pragma once

#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "case/Case.h"
#include "presentation/JsonWriter.h"
#include "query/Search.h"

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;  // missing or unreadable file
constexpr int kExitUsage = 2;      // bad arguments or a file that names no known database
// Returned by a step that went through: the command goes on.
constexpr int kGoOn = -1;

struct DatabaseOptions {
    std::string path;          // what the user named: a database, a backup or an extraction
    std::optional<int> user;   // Android extraction: whose messages
    std::string passwordFile;  // encrypted iPhone backup: a file whose first line is the password
    std::string contacts;      // a contacts database that names the conversations
    std::string region;        // the region the phone's numbers are written in (US, CN, ...)
    std::string timeZone;      // the zone times are shown in (IANA name); empty: the computer's
    bool json = false;
    int conversation = -1;
    bool conversationGiven = false;
    bool alternate = false;
    bool deep = false;
    // export
    std::string folder;
    bool single = false;
    std::vector<int> rows;
    bool all = false;
    bool withMessages = false;
    bool recover = false;
    std::string format = "txt";
    std::string kind;  // only messages of this kind
    // search
    SearchQuery query;
    std::string since, until;
};

// "kestrow-cli: MESSAGE" on standard error.
void Fail(const std::string& message);

// Opens the source `options.path` names, loads its database for `purpose` (its evidence facts
// taken first when `takeEvidence`) and names its conversations, saying on standard error what
// the user should know. Returns kGoOn, or the exit status the command ends with.
int OpenCase(Case& kase, const DatabaseOptions& options, LoadPurpose purpose = LoadPurpose::Reading, bool takeEvidence = false,
             bool* nothingRead = nullptr);

// Runs the recovery the options ask for (default, --alternate or --deep) on the loaded case, with
// a progress bar on a terminal; kGoOn, or an exit status when the options do not fit.
int RecoverCase(Case& kase, const DatabaseOptions& options, RecoveryRunCounts& counts);

// The time range of a search or an export from --since and --until; kGoOn, or an exit status
// when a date is no date.
int ReadSearchRange(DatabaseOptions& options);

// "no conversation 7 in 'PATH': rows are 0 to 4".
std::string NoSuchRow(int row, const std::string& path);

// Writes a JSON report to standard output as it is produced.
template <typename Write>
void PrintJson(Write write)
{
    std::cout.flush();
    JsonWriter json(stdout);
    write(json);
    json.Finish();
}

int RunConversations(const DatabaseOptions& options);
int RunMessages(const DatabaseOptions& options);
int RunRecover(const DatabaseOptions& options);
int RunSearch(DatabaseOptions options);
int RunExport(DatabaseOptions options);
