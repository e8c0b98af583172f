// kestrow-cli: shows what an Android mmssms.db or iPhone sms.db holds, from the command line.
#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <optional>
#include <tuple>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include <termios.h>
#include <unistd.h>

#include "contacts/NameMatching.h"
#include "presentation/CliReport.h"
#include "presentation/JsonWriter.h"
#include "presentation/Texts.h"
#include "readers/AttachmentFiles.h"
#include "readers/AndroidSms.h"
#include "readers/CreateReader.h"
#include "recovery/RecoveryScan.h"
#include "readers/OpenDatabase.h"
#include "sources/EvidenceSource.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"
#include "store/ProgressChannel.h"
#include "store/TimeText.h"
#include "presentation/ExportWriter.h"
#include "presentation/ReportFacts.h"
#include "presentation/ConversationView.h"
#include "presentation/Search.h"
#include "recovery/RecoveryRun.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;  // missing or unreadable file
constexpr int kExitUsage = 2;      // bad arguments or a file name that names no known database

constexpr const char* kProgram = "kestrow-cli";

struct DatabaseOptions {
    std::string path;          // the database file read (inside a backup or extraction, once opened)
    std::string given;         // what the user named, for messages
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
    // search
    SearchQuery query;
    std::string since, until;
    std::string kind;  // export: only messages of this kind
};

// A one-line progress bar on standard error, fed by the progress channel. It is redrawn only
// when the shown percentage changes, and ends on 100% with a line break.
class TerminalProgress : public ProgressListener {
public:
    void OnProgress() override { Draw(std::clamp(g_progress.percent.load(), 0, 100)); }
    ~TerminalProgress()
    {
        if (m_shown < 0) return;
        Draw(100);
        std::fputs("\n", stderr);
    }

private:
    void Draw(int percent)
    {
        if (percent == m_shown) return;
        m_shown = percent;
        const int filled = percent * kWidth / 100;
        std::fprintf(stderr, "\rRecovering [%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(kWidth - filled, ' ').c_str(), percent);
        std::fflush(stderr);
    }

    static constexpr int kWidth = 40;
    int m_shown = -1;
};

void Fail(const std::string& message) { std::cerr << kProgram << ": " << message << '\n'; }

// "no conversation 7 in 'PATH': rows are 0 to 4".
std::string NoSuchRow(int row, const std::string& path)
{
    return "no conversation " + std::to_string(row) + " in '" + path + "': rows are 0 to " +
           std::to_string(g_store.conversationCount - 1);
}

// Returns the error text when `path` cannot be read as a file, "" when it can.
std::string UnreadableReason(const std::string& path)
{
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error) return error.message();
    if (std::filesystem::is_directory(status)) return std::strerror(EISDIR);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return std::strerror(errno);
    std::fclose(file);
    return "";
}

// What follows a load: reading the live rows only, or a recovery that carves the files.
enum class After { Reading, DefaultRecovery, DeepRecovery };

// Loads `path` into the store as the window's Open command does: the name decides the kind
// where it can, else the tables. Nothing on disk changes. Before a default recovery the file it
// will scan is read on a second thread while SQLite reads the live rows. What the load could
// not read is said on stderr. A file that is no SQLite database ends the command (status 1);
// so does one from which nothing could be read, unless a recovery is to carve it. Returns an
// exit status, or -1 when loaded; `nothingRead` (when given) tells whether the load read
// nothing at all and had a reason to (a warning or a problem).
int LoadForCommand(const std::string& path, After after = After::Reading, EvidenceFacts* evidence = nullptr,
                   bool* nothingRead = nullptr)
{
    if (const std::string reason = UnreadableReason(path); !reason.empty()) {
        Fail("cannot read '" + path + "': " + reason);
        return kExitFileError;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const std::string full = error ? path : absolute.string();
    const DatabaseName kind = DetectDatabaseKind(full);
    if (kind == DatabaseName::Other) {
        Fail("'" + path + "' is not a message database: neither named mmssms.db or sms.db nor holding the " +
             "tables of one (sms and canonical_addresses for Android, message and handle for the iPhone)");
        return kExitUsage;
    }
    std::future<std::shared_ptr<ScanCache>> prefetch;
    if (after == After::DefaultRecovery) {
        bool logMode = false;
        const std::string target = kind == DatabaseName::Android ? CAndroidSms::ScanTarget(path, logMode) : path;
        prefetch = std::async(std::launch::async, ReadScanImage, target);
    }
    // The evidence as it is before anything is read, for the reports' proof that it did not change.
    if (evidence != nullptr) *evidence = TakeEvidenceFacts(path, kind == DatabaseName::Iphone ? kDeviceIphone : kDeviceAndroid);
    ReplaceReaderAndLoad(CreateReader(kind), path);
    MarkAttachmentsPresent([&path](const std::string& phonePath) { return AttachmentBesideDatabase(path, phonePath); });
    if (prefetch.valid()) g_store.currentReader->m_scanCache = prefetch.get();
    const std::vector<LoadWarning>& warnings = g_store.currentReader->m_loadWarnings;
    for (const LoadWarning& warning : warnings) Fail("warning: " + LoadWarningSentence(warning));
    if (nothingRead != nullptr) *nothingRead = false;
    if (g_store.liveMessageCount == 0 && g_store.conversationCount == 1) {
        const OpenProblem problem = DiagnoseDatabase(path, kind);
        if (problem == OpenProblem::NotSqlite || problem == OpenProblem::Encrypted) {
            Fail(OpenProblemSentence(path, problem));
            return kExitFileError;
        }
        if (problem != OpenProblem::None) Fail("warning: " + OpenProblemSentence(path, problem));
        const bool nothing = problem != OpenProblem::None || !warnings.empty();
        if (nothingRead != nullptr) *nothingRead = nothing;
        if (nothing && after == After::Reading) return kExitFileError;
    }
    return -1;
}

// Writes a JSON report to standard output as it is produced.
template <typename Write>
void PrintJson(Write write)
{
    std::cout.flush();
    JsonWriter json(stdout);
    write(json);
    json.Finish();
}

// Opens what `options.path` names (a database file, an iPhone backup or an Android
// extraction) into `source`, and points `options.path` at the database to read. Returns an
// exit status, or -1 when the database can be read.
// The password of an encrypted backup: the first line of --password-file, else
// KESTROW_PASSWORD, else asked on the terminal without echo; nothing when none can be had.
std::optional<std::string> BackupPassword(const std::string& passwordFile)
{
    std::string password;
    if (!passwordFile.empty()) {
        std::ifstream file(passwordFile);
        if (!file || !std::getline(file, password)) {
            Fail("cannot read the password file '" + passwordFile + "'");
            return std::nullopt;
        }
    } else if (const char* given = std::getenv("KESTROW_PASSWORD"); given != nullptr) {
        password = given;
    } else if (::isatty(STDIN_FILENO)) {
        std::fprintf(stderr, "Password of the backup: ");
        termios saved{};
        const bool quiet = ::tcgetattr(STDIN_FILENO, &saved) == 0;
        if (quiet) {
            termios hidden = saved;
            hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSANOW, &hidden);
        }
        std::getline(std::cin, password);
        if (quiet) ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputs("\n", stderr);
    } else {
        Fail("the backup is encrypted: give its password with --password-file FILE or KESTROW_PASSWORD");
        return std::nullopt;
    }
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}

int OpenSourceFor(DatabaseOptions& options, std::optional<EvidenceSource>& source)
{
    options.given = options.path;
    SourceOptions how{options.user, [&options] { return BackupPassword(options.passwordFile); },
                      [](int percent) {
                          if (percent == 0) Fail("note: unlocking the backup…");
                          return true;
                      }};
    source.emplace(EvidenceSource::Open(options.path, how));
    if (!source->Error().empty()) {
        Fail(source->Error());
        return source->Unrecognised() ? kExitUsage : kExitFileError;
    }
    if (source->Type() == SourceType::AndroidExtraction && source->Users().size() > 1 && !options.user) {
        std::string users;
        for (const int user : source->Users()) users += (users.empty() ? "" : ", ") + std::to_string(user);
        Fail("note: the extraction holds the messages of users " + users + "; reading user " +
             std::to_string(source->User()) + " (--user N reads another)");
    }
    if (source->Type() != SourceType::Database) Fail("note: reading " + source->DatabaseName() + " of '" + options.path + "'");
    options.path = source->DatabasePath();
    return -1;
}

// Names the loaded conversations from the contacts the user gave (--contacts) or the source
// holds. Contacts the user named must be readable (status 1 otherwise); a source's own that
// cannot be read only leave the conversations without names. `used` (when given) gets what
// named them. Returns -1 or an exit status.
int ApplyContacts(const DatabaseOptions& options, const EvidenceSource& source, std::string* used)
{
    const bool given = !options.contacts.empty();
    const std::string path = given ? options.contacts : source.ContactsPath();
    if (path.empty()) return -1;
    if (const std::string reason = given ? UnreadableReason(path) : ""; !reason.empty()) {
        Fail("cannot read the contacts '" + path + "': " + reason);
        return kExitFileError;
    }
    const NamingResult naming = NameFromContacts(path, options.region);
    if (!naming.error.empty()) {
        Fail(given ? naming.error : "warning: " + naming.error + "; the conversations are shown without names");
        return given ? kExitFileError : -1;
    }
    if (used != nullptr) *used = given ? path : source.ContactsName();
    Fail("note: " + std::to_string(naming.named) + " of " + std::to_string(naming.conversations) +
         " conversations named from " + (given ? "'" + path + "'" : source.ContactsName()) + " (" +
         std::to_string(naming.people) + " contacts; numbers read as " +
         (naming.region.empty() ? "international ones only" : "those of region " + naming.region) + ")");
    return -1;
}

// Loads the source's database and names its conversations; -1 when loaded, else an exit status.
int LoadWithNames(const DatabaseOptions& options, EvidenceSource& source, After after = After::Reading,
                  EvidenceFacts* evidence = nullptr, bool* nothingRead = nullptr)
{
    if (const int status = LoadForCommand(options.path, after, evidence, nothingRead); status >= 0) return status;
    if (source.Type() != SourceType::Database) {
        MarkAttachmentsPresent([&source](const std::string& phonePath) { return source.AttachmentAtHand(phonePath); });
    }
    if (evidence != nullptr) evidence->source = TakeSourceFacts(source);
    return ApplyContacts(options, source, evidence != nullptr ? &evidence->source.contacts : nullptr);
}

int RunConversations(DatabaseOptions options)
{
    std::optional<EvidenceSource> source;
    if (const int status = OpenSourceFor(options, source); status >= 0) return status;
    if (const int status = LoadWithNames(options, *source); status >= 0) return status;
    if (options.json) {
        PrintJson([&](JsonWriter& json) { WriteConversationsJson(json, options.path); });
    } else {
        std::cout << ConversationsText();
    }
    return kExitOk;
}

int RunMessages(DatabaseOptions options)
{
    std::optional<EvidenceSource> source;
    if (const int status = OpenSourceFor(options, source); status >= 0) return status;
    if (const int status = LoadWithNames(options, *source); status >= 0) return status;
    if (options.conversationGiven && (options.conversation < 0 || options.conversation >= g_store.conversationCount)) {
        Fail(NoSuchRow(options.conversation, options.given));
        return kExitUsage;
    }
    if (options.conversationGiven) {
        if (options.json) {
            PrintJson([&](JsonWriter& json) { WriteConversationJson(json, options.path, options.conversation); });
        } else {
            std::cout << ConversationText(options.conversation);
        }
    } else if (options.json) {
        PrintJson([&](JsonWriter& json) { WriteMessagesJson(json, options.path); });
    } else {
        std::cout << MessagesText();
    }
    return kExitOk;
}

// Runs the recovery on the loaded database, with a progress bar on a terminal, and marks the
// recovered messages' attachments whose files are at hand (beside the database or in the
// source). Returns -1, or an exit status when the options do not fit the database.
int RecoverLoaded(const DatabaseOptions& options, EvidenceSource& source, RecoveryRunCounts& counts)
{
    CSms& reader = *g_store.currentReader;
    if (options.alternate && reader.m_deviceKind != kDeviceAndroid) {
        Fail("--alternate applies to Android databases only");
        return kExitUsage;
    }
    if (options.alternate && options.deep) {
        Fail("--alternate and --deep exclude each other");
        return kExitUsage;
    }
    {
        std::optional<TerminalProgress> bar;
        if (::isatty(STDERR_FILENO)) bar.emplace();
        const ProgressScope scope(bar ? &*bar : nullptr);
        if (options.deep) {
            RunDeepRecoverySteps(options.path);
            counts = {};
        } else {
            const AlternateCarvingScope alternate(options.alternate);
            counts = RunRecoverySteps(options.path);
        }
    }
    constexpr bool kRecoveredOnly = true;
    MarkAttachmentsPresent([&options](const std::string& phonePath) { return AttachmentBesideDatabase(options.path, phonePath); },
                           kRecoveredOnly);
    if (source.Type() != SourceType::Database) {
        MarkAttachmentsPresent([&source](const std::string& phonePath) { return source.AttachmentAtHand(phonePath); },
                               kRecoveredOnly);
    }

    const ScanReport& scan = reader.m_lastScan;
    if (const std::string failure = ScanFailureSentence(scan); !failure.empty()) Fail(failure);
    if (const std::string note = PageSizeSentence(scan); !note.empty()) Fail("note: " + note);
    return -1;
}

int RunRecover(DatabaseOptions options)
{
    std::optional<EvidenceSource> source;
    if (const int status = OpenSourceFor(options, source); status >= 0) return status;
    bool nothingRead = false;
    if (const int status = LoadWithNames(options, *source, options.deep ? After::DeepRecovery : After::DefaultRecovery,
                                         nullptr, &nothingRead);
        status >= 0) {
        return status;
    }
    RecoveryRunCounts counts;
    if (const int status = RecoverLoaded(options, *source, counts); status >= 0) return status;
    const ScanReport& scan = g_store.currentReader->m_lastScan;
    if (options.json) {
        PrintJson([&](JsonWriter& json) {
            WriteRecoveryJson(json, options.path, counts.countingFound, counts.fillingFound);
        });
    } else {
        std::cout << RecoveryText();
    }
    // A file from which neither rows nor finds came gave nothing at all.
    const bool nothing = nothingRead && g_store.currentReader->m_recovered.empty();
    return scan.error.empty() && !nothing ? kExitOk : kExitFileError;
}

// The time range of a search or an export from --since and --until; an exit status when a date is no date.
int ReadSearchRange(DatabaseOptions& options)
{
    for (const auto& [text, endOfDay, into] : {std::tuple{&options.since, false, &options.query.since},
                                               std::tuple{&options.until, true, &options.query.until}}) {
        if (text->empty()) continue;
        *into = ParseSearchDate(*text, endOfDay);
        if (!*into) {
            Fail("'" + *text + "' is not a date: give YYYY-MM-DD or \"YYYY-MM-DD hh:mm:ss\"");
            return kExitUsage;
        }
    }
    return -1;
}

int RunExport(DatabaseOptions options)
{
    if (const int status = ReadSearchRange(options); status >= 0) return status;
    std::optional<EvidenceSource> source;
    if (const int status = OpenSourceFor(options, source); status >= 0) return status;
    // A report states the files as they were before anything was read.
    EvidenceFacts evidence;
    const bool report = options.format != "txt";
    const After after = !options.recover ? After::Reading : options.deep ? After::DeepRecovery : After::DefaultRecovery;
    if (const int status = LoadWithNames(options, *source, after, report ? &evidence : nullptr); status >= 0) {
        return status;
    }
    if (options.recover) {
        RecoveryRunCounts counts;
        if (const int status = RecoverLoaded(options, *source, counts); status >= 0) return status;
    } else if (options.alternate || options.deep) {
        Fail(std::string(options.deep ? "--deep" : "--alternate") + " needs --recover");
        return kExitUsage;
    }
    // A page keeps the attachments' files: those an encrypted backup or an archive holds are
    // taken out first (into the source's private folder).
    if (options.format == "html") {
        TakeOutAttachments([&source](const std::string& phonePath) { return source->AttachmentFile(phonePath); });
    }
    ExportRequest request;
    request.mode = options.single ? ExportMode::SingleFile : ExportMode::FilePerConversation;
    request.folder = options.folder;
    request.databasePath = options.path;
    request.format = ExportFormatNamed(options.format).value_or(ExportFormat::Text);
    request.filter.since = options.query.since;
    request.filter.until = options.query.until;
    for (const MessageKind kind : {MessageKind::Sms, MessageKind::Mms, MessageKind::IMessage, MessageKind::Rcs, MessageKind::Other}) {
        if (options.kind == MessageKindText(kind)) request.filter.kind = kind;
    }
    const MessageStore& store = g_store;
    for (std::int32_t row = 0; row < store.conversationCount; ++row) {
        const ContactRecord& c = store.conversations[row];
        const bool chosen = options.all || (options.withMessages && HasMessages(c)) ||
                            std::find(options.rows.begin(), options.rows.end(), row) != options.rows.end();
        if (chosen) request.rows.push_back(row);
    }
    for (const int row : options.rows) {
        if (row < 0 || row >= store.conversationCount) {
            Fail(NoSuchRow(row, options.given));
            return kExitUsage;
        }
    }
    if (request.rows.empty()) {
        Fail("no conversation chosen: give --rows, --all or --with-messages");
        return kExitUsage;
    }
    // The folder is made when it does not exist yet, with its parents; the reason it cannot be
    // is the one creating it gave.
    std::error_code made;
    std::filesystem::create_directories(options.folder, made);
    std::error_code looked;
    if (!std::filesystem::is_directory(options.folder, looked)) {
        const std::error_code& error = made ? made : looked;
        Fail("cannot export to '" + options.folder + "': " +
             (error ? error.message() : std::string("it is not a folder")));
        return kExitFileError;
    }
    ReportFacts facts;
    if (request.format != ExportFormat::Text) {
        facts = CompleteReportFacts(evidence, KESTROW_VERSION);
        request.facts = &facts;
        if (!facts.unchanged) Fail(facts.warning);
    }
    const ExportResult result = ExportConversations(request);
    if (!result.error.empty()) {
        Fail(result.error);
        return kExitFileError;
    }
    for (const auto& file : result.files) std::cout << file.string() << '\n';
    std::cout << ExportSummaryText(result, options.folder) << '\n';
    return kExitOk;
}

void PrintHitsJson(const std::string& databasePath, const SearchQuery& query, const std::vector<SearchHit>& hits)
{
    PrintJson([&](JsonWriter& json) {
        json.BeginObject();
        json.Member("database", databasePath);
        json.Member("query", query.text);
        json.Key("hits");
        json.BeginArray();
        const SenderNames names;
        for (const SearchHit& hit : hits) {
            const ContactRecord& c = g_store.conversations[hit.row];
            json.BeginObject();
            json.Member("row", hit.row);
            json.Member("conversation", c.address);
            WriteMessageFields(json, *hit.message, names.Of(*hit.message), names);
            json.Member("recovered", hit.recovered);
            json.Key("at");
            if (hit.at == std::string::npos) {
                json.Null();
            } else {
                json.Int(static_cast<std::int64_t>(hit.at));
            }
            json.Member("context", HitContext(hit));
            json.EndObject();
        }
        json.EndArray();
        json.EndObject();
    });
}

int RunSearch(DatabaseOptions options)
{
    if (const int status = ReadSearchRange(options); status >= 0) return status;
    std::optional<EvidenceSource> source;
    if (const int status = OpenSourceFor(options, source); status >= 0) return status;
    const bool recover = options.query.recoveredOnly || options.deep;
    const After after = !recover ? After::Reading : options.deep ? After::DeepRecovery : After::DefaultRecovery;
    if (const int status = LoadWithNames(options, *source, after); status >= 0) return status;
    if (recover) {
        RecoveryRunCounts counts;
        if (const int status = RecoverLoaded(options, *source, counts); status >= 0) return status;
    }
    std::string error;
    const std::vector<SearchHit> hits = SearchMessages(options.query, error);
    if (!error.empty()) {
        Fail(error);
        return kExitUsage;
    }
    if (options.json) {
        PrintHitsJson(options.path, options.query, hits);
        return kExitOk;
    }
    for (const SearchHit& hit : hits) {
        const ContactRecord& c = g_store.conversations[hit.row];
        std::cout << hit.row << "  " << FormatHeadingTime(hit.message->time) << "  "
                  << Utf8ToAnsiString(PartnerTitle(c.name, c.address)) << (hit.recovered ? "  [recovered]" : "") << "  "
                  << HitContext(hit) << '\n';
    }
    Fail(std::to_string(hits.size()) + (hits.size() == 1 ? " message found" : " messages found"));
    return kExitOk;
}

void AddUserOption(CLI::App& command, DatabaseOptions& options)
{
    command.add_option("--user", options.user, "an Android extraction with several users: read user N (default 0)")
        ->option_text("N");
    command.add_option("--password-file", options.passwordFile,
                       "an encrypted iPhone backup: the file whose first line is its password (else "
                       "KESTROW_PASSWORD, else asked on the terminal)")
        ->option_text("FILE");
    command.add_option("--contacts", options.contacts,
                       "name the conversations from this contacts database (an Android contacts2.db or an iPhone "
                       "AddressBook.sqlitedb); a backup or extraction's own contacts are used without it")
        ->option_text("FILE");
    command.add_option("--tz", options.timeZone,
                       "show times in this zone, an IANA name such as UTC or Europe/Berlin (default: the "
                       "computer's); a local time that occurs twice carries its offset")
        ->option_text("ZONE")
        ->check(CLI::Validator(
            [](std::string& zone) {
                return UseTimeZone(zone) ? std::string()
                                         : "unknown time zone '" + zone + "': give an IANA name such as UTC or Europe/Berlin";
            },
            "ZONE"));
    command.add_option("--region", options.region,
                       "the two-letter region the phone's numbers are written in (US, CN, DE...), for matching "
                       "them to contacts; default: the iPhone's own, else that of most numbers with a country code")
        ->option_text("XX")
        ->check(CLI::Validator(
            [](std::string& region) {
                return KnownRegion(region) ? std::string() : "unknown region '" + region + "': give a two-letter code such as US or CN";
            },
            "XX"));
}

void AddDatabaseArguments(CLI::App& command, DatabaseOptions& options)
{
    command.add_option("PATH", options.path,
                       "the database (an Android mmssms.db or an iPhone sms.db), an iPhone backup folder or an "
                       "Android extraction folder")
        ->required();
    command.add_flag("--json", options.json, "print JSON instead of text");
    AddUserOption(command, options);
}

}  // namespace

int main(int argc, char** argv)
{
    // What an earlier run that crashed left in the temporary folder goes first.
    RemoveAbandonedPrivateFolders();
    // Texts are UTF-8 whatever the user's locale; the locale only measures column widths.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");

    CLI::App app{"Show, recover and export the messages of a phone message database copied to\n"
                 "this computer: an Android mmssms.db or an iPhone sms.db, or the folder of an iPhone\n"
                 "backup or an Android extraction that holds one. The name tells the kind;\n"
                 "a file of any other name (an iPhone backup's 3d0d7e5f...) is known by its tables.\n"
                 "A -wal log beside the database is applied in memory; damaged or truncated files\n"
                 "are read as far as they go, with a warning. Nothing on disk is ever changed.",
                 kProgram};
    app.set_version_flag("--version", std::string(kProgram) + " " KESTROW_VERSION);
    app.require_subcommand(1);
    app.footer("Examples:\n"
               "  kestrow-cli conversations mmssms.db\n"
               "  kestrow-cli messages --conversation 1 sms.db\n"
               "  kestrow-cli recover --json mmssms.db > found.json\n"
               "  kestrow-cli export sms.db --to out --with-messages --recover\n"
               "  kestrow-cli conversations ~/MobileSync/Backup/00008030-0011223344556677\n"
               "  kestrow-cli messages --user 10 extraction/\n\n"
               "Run 'kestrow-cli COMMAND --help' for a command's options.\n\n"
               "Exit status: 0 on success (also when a damaged file gave part of its messages; the\n"
               "warning is on stderr), 1 when a file cannot be read or written, is no SQLite\n"
               "database or gives nothing at all, 2 on a usage error or a file that is no message\n"
               "database (neither the name nor the tables of one).");

    DatabaseOptions conversationOptions;
    CLI::App* conversations = app.add_subcommand(
        "conversations", "list the conversation partners, newest first");
    AddDatabaseArguments(*conversations, conversationOptions);

    DatabaseOptions messageOptions;
    CLI::App* messages = app.add_subcommand(
        "messages", "print the messages in time order, or one conversation");
    AddDatabaseArguments(*messages, messageOptions);
    CLI::Option* conversationOption =
        messages->add_option("-c,--conversation", messageOptions.conversation,
                             "show only this conversation, as the window's message view does "
                             "(ROW counts from 0, in the order 'conversations' lists them)")
            ->option_text("ROW");

    DatabaseOptions recoverOptions;
    CLI::App* recover = app.add_subcommand(
        "recover", "find deleted messages and print them by conversation");
    AddDatabaseArguments(*recover, recoverOptions);
    recover->add_flag("--alternate", recoverOptions.alternate,
                      "Android only: recognise records by their header-size byte (the "
                      "window's alternate carving mode)");
    recover->add_flag("--deep", recoverOptions.deep,
                      "read the database, its -wal log and its -journal by their structure: "
                      "every page, every shape of record, and where each message was found");
    recover->footer("The default recovery scans PATH-wal-undelete when it exists, else PATH-wal when it exists "
                    "(Android), else PATH. --deep reads all of them. Nothing is renamed or written.");

    DatabaseOptions exportOptions;
    CLI::App* exporter = app.add_subcommand(
        "export", "write conversations to files: text, or reports in HTML, CSV or JSON");
    exporter->add_option("PATH", exportOptions.path,
                         "the database (an Android mmssms.db or an iPhone sms.db), an iPhone backup folder or an "
                         "Android extraction folder")
        ->required();
    AddUserOption(*exporter, exportOptions);
    exporter->add_option("--to", exportOptions.folder, "the folder to write into (made, with its parents, if needed)")
        ->option_text("DIR")
        ->required();
    exporter->add_option("--format", exportOptions.format,
                         "txt (default): text as the message view shows it; html: a page to read or print; csv: "
                         "for spreadsheets; json: for scripts. html, csv and json start with the report's facts: "
                         "the files read with their SHA-256, unchanged or not since they were opened")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({"txt", "html", "csv", "json"}));
    exporter->add_flag("--single", exportOptions.single, "write all conversations into one file");
    exporter->add_option("--since", exportOptions.since, "only messages from this date on (YYYY-MM-DD or \"YYYY-MM-DD hh:mm\")")
        ->option_text("DATE");
    exporter->add_option("--until", exportOptions.until, "only messages up to this date (the whole day when no time is given)")
        ->option_text("DATE");
    exporter->add_option("--kind", exportOptions.kind, "only messages that went this way: sms, mms, imessage, rcs or other")
        ->option_text("KIND")
        ->check(CLI::IsMember({"sms", "mms", "imessage", "rcs", "other"}));
    auto* rowsOption = exporter->add_option("--rows", exportOptions.rows,
                                            "the conversations to export, as rows of 'conversations' (0,3,5); with --recover, "
                                            "as rows of 'recover', whose list is sorted again after the finds")
                           ->delimiter(',')
                           ->option_text("ROWS");
    auto* allOption = exporter->add_flag("--all", exportOptions.all, "export every conversation");
    auto* withOption = exporter->add_flag("--with-messages", exportOptions.withMessages,
                                          "export the conversations that have live or recovered messages");
    rowsOption->excludes(allOption)->excludes(withOption);
    allOption->excludes(withOption);
    exporter->add_flag("--recover", exportOptions.recover, "recover deleted messages first, as 'recover' does");
    exporter->add_flag("--alternate", exportOptions.alternate, "with --recover: the alternate carving mode (Android)");
    exporter->add_flag("--deep", exportOptions.deep, "with --recover: the deep recovery");
    exporter->footer("Files are UTF-8. One file per conversation is named after its number; --single writes "
                     "SMS-<database>-<date>-<time>.<format>. An existing file is never overwritten: the new one gets "
                     "\" (2)\", \" (3)\", ... in its name.");

    DatabaseOptions searchOptions;
    CLI::App* search = app.add_subcommand("search", "find messages by their text, or by the number or name of their conversation");
    AddDatabaseArguments(*search, searchOptions);
    search->add_option("QUERY", searchOptions.query.text, "the text to find")->required();
    search->add_flag("--regex", searchOptions.query.regex, "QUERY is a regular expression (ECMAScript)");
    search->add_flag("-i,--ignore-case", searchOptions.query.ignoreCase, "Latin letters match in either case");
    search->add_option("--since", searchOptions.since, "only messages from this date on (YYYY-MM-DD or \"YYYY-MM-DD hh:mm\")")
        ->option_text("DATE");
    search->add_option("--until", searchOptions.until, "only messages up to this date (the whole day when no time is given)")
        ->option_text("DATE");
    search->add_flag("--recovered", searchOptions.query.recoveredOnly, "recover deleted messages first and search only them");
    search->add_flag("--deep", searchOptions.deep, "recover with the deep recovery first and search its finds too");
    search->footer("One line per message found: its row, time, conversation, [recovered], and the text around the hit. "
                   "The count goes to stderr.");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForVersion& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        app.exit(e);
        return kExitUsage;
    }

    messageOptions.conversationGiven = conversationOption->count() > 0;
    int status = kExitOk;
    if (conversations->parsed()) {
        status = RunConversations(conversationOptions);
    } else if (recover->parsed()) {
        status = RunRecover(recoverOptions);
    } else if (exporter->parsed()) {
        status = RunExport(exportOptions);
    } else if (search->parsed()) {
        status = RunSearch(searchOptions);
    } else {
        status = RunMessages(messageOptions);
    }
    // Tearing down the store of a large database takes longer than anything left to do: end
    // the process once the output is out.
    std::cout.flush();
    if (std::fflush(stdout) != 0 && status == kExitOk) status = kExitFileError;
    std::fflush(stderr);
    std::_Exit(status);
}
