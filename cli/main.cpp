// kestrow-cli: shows what an Android mmssms.db or iPhone sms.db holds, from the command line.
// This file wires the options; each command is in a file of its own.
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "Companion.h"
#include "contacts/NameMatching.h"
#include "evidence/EvidenceSource.h"
#include "store/HugePageHeap.h"
#include "store/TimeText.h"

namespace {

constexpr const char* kProgram = "kestrow-cli";

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


// The program's description, version and closing help.
void DescribeProgram(CLI::App& app)
{
    app.description("Show, recover and export the messages of a phone message database copied to\n"
                    "this computer: an Android mmssms.db or an iPhone sms.db, or the folder of an iPhone\n"
                    "backup or an Android extraction that holds one. The name tells the kind;\n"
                    "a file of any other name (an iPhone backup's 3d0d7e5f...) is known by its tables.\n"
                    "A -wal log beside the database is applied in memory; damaged or truncated files\n"
                    "are read as far as they go, with a warning. Nothing on disk is ever changed.");
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

}

CLI::Option* AddMessagesOptions(CLI::App& messages, DatabaseOptions& messageOptions)
{
    AddDatabaseArguments(messages, messageOptions);
    return messages.add_option("-c,--conversation", messageOptions.conversation,
                               "show only this conversation, as the window's message view does "
                               "(ROW counts from 0, in the order 'conversations' lists them)")
        ->option_text("ROW");
}

void AddRecoverOptions(CLI::App& recover, DatabaseOptions& recoverOptions)
{
    AddDatabaseArguments(recover, recoverOptions);
    recover.add_flag("--alternate", recoverOptions.alternate,
                      "Android only: recognise records by their header-size byte (the "
                      "window's alternate carving mode)");
    recover.add_flag("--deep", recoverOptions.deep,
                      "read the database, its -wal log and its -journal by their structure: "
                      "every page, every shape of record, and where each message was found");
    recover.footer("The default recovery scans PATH-wal-undelete when it exists, else PATH-wal when it exists "
                    "(Android), else PATH. --deep reads all of them. Nothing is renamed or written.");

}

void AddExportOptions(CLI::App& exporter, DatabaseOptions& exportOptions)
{
    exporter.add_option("PATH", exportOptions.path,
                         "the database (an Android mmssms.db or an iPhone sms.db), an iPhone backup folder or an "
                         "Android extraction folder")
        ->required();
    AddUserOption(exporter, exportOptions);
    exporter.add_option("--to", exportOptions.folder, "the folder to write into (made, with its parents, if needed)")
        ->option_text("DIR")
        ->required();
    exporter.add_option("--format", exportOptions.format,
                         "txt (default): text as the message view shows it; html: a page to read or print; csv: "
                         "for spreadsheets; json: for scripts. html, csv and json start with the report's facts: "
                         "the files read with their SHA-256, unchanged or not since they were opened")
        ->option_text("FORMAT")
        ->check(CLI::IsMember({"txt", "html", "csv", "json"}));
    exporter.add_flag("--single", exportOptions.single, "write all conversations into one file");
    exporter.add_option("--since", exportOptions.since, "only messages from this date on (YYYY-MM-DD or \"YYYY-MM-DD hh:mm\")")
        ->option_text("DATE");
    exporter.add_option("--until", exportOptions.until, "only messages up to this date (the whole day when no time is given)")
        ->option_text("DATE");
    exporter.add_option("--kind", exportOptions.kind, "only messages that went this way: sms, mms, imessage, rcs or other")
        ->option_text("KIND")
        ->check(CLI::IsMember({"sms", "mms", "imessage", "rcs", "other"}));
    auto* rowsOption = exporter.add_option("--rows", exportOptions.rows,
                                            "the conversations to export, as rows of 'conversations' (0,3,5); with --recover, "
                                            "as rows of 'recover', whose list is sorted again after the finds")
                           ->delimiter(',')
                           ->option_text("ROWS");
    auto* allOption = exporter.add_flag("--all", exportOptions.all, "export every conversation");
    auto* withOption = exporter.add_flag("--with-messages", exportOptions.withMessages,
                                          "export the conversations that have live or recovered messages");
    rowsOption->excludes(allOption)->excludes(withOption);
    allOption->excludes(withOption);
    exporter.add_flag("--recover", exportOptions.recover, "recover deleted messages first, as 'recover' does");
    exporter.add_flag("--alternate", exportOptions.alternate, "with --recover: the alternate carving mode (Android)");
    exporter.add_flag("--deep", exportOptions.deep, "with --recover: the deep recovery");
    exporter.footer("Files are UTF-8. One file per conversation is named after its number; --single writes "
                     "SMS-<database>-<date>-<time>.<format>. An existing file is never overwritten: the new one gets "
                     "\" (2)\", \" (3)\", ... in its name.");

}

void AddSearchOptions(CLI::App& search, DatabaseOptions& searchOptions)
{
    AddDatabaseArguments(search, searchOptions);
    search.add_option("QUERY", searchOptions.query.text, "the text to find")->required();
    search.add_flag("--regex", searchOptions.query.regex, "QUERY is a regular expression (ECMAScript)");
    search.add_flag("-i,--ignore-case", searchOptions.query.ignoreCase, "Latin letters match in either case");
    search.add_option("--since", searchOptions.since, "only messages from this date on (YYYY-MM-DD or \"YYYY-MM-DD hh:mm\")")
        ->option_text("DATE");
    search.add_option("--until", searchOptions.until, "only messages up to this date (the whole day when no time is given)")
        ->option_text("DATE");
    search.add_flag("--recovered", searchOptions.query.recoveredOnly, "recover deleted messages first and search only them");
    search.add_flag("--deep", searchOptions.deep, "recover with the deep recovery first and search its finds too");
    search.footer("One line per message found: its row, time, conversation, [recovered], and the text around the hit. "
                   "The count goes to stderr.");

}

}  // namespace

namespace {

// The restart runs before the program's own static objects are built (glibc hands a startup
// function the program's arguments), so that the first run costs only the loader's work.
__attribute__((constructor(101))) void RestartEarly(int /*argc*/, char** argv, char** /*environment*/)
{
    RestartWithHugePageHeap(argv);
}

}  // namespace

int main(int argc, char** argv)
{
    // What an earlier run that crashed left in the temporary folder goes first.
    RemoveAbandonedPrivateFolders();
    // Texts are UTF-8 whatever the user's locale; the locale only measures column widths.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");

    CLI::App app{"", kProgram};
    DescribeProgram(app);
    DatabaseOptions conversationOptions, messageOptions, recoverOptions, exportOptions, searchOptions;
    CLI::App* conversations = app.add_subcommand("conversations", "list the conversation partners, newest first");
    AddDatabaseArguments(*conversations, conversationOptions);
    CLI::App* messages = app.add_subcommand("messages", "print the messages in time order, or one conversation");
    CLI::Option* conversationOption = AddMessagesOptions(*messages, messageOptions);
    CLI::App* recover = app.add_subcommand("recover", "find deleted messages and print them by conversation");
    AddRecoverOptions(*recover, recoverOptions);
    CLI::App* exporter = app.add_subcommand("export", "write conversations to files: text, or reports in HTML, CSV or JSON");
    AddExportOptions(*exporter, exportOptions);
    CLI::App* search =
        app.add_subcommand("search", "find messages by their text, or by the number or name of their conversation");
    AddSearchOptions(*search, searchOptions);
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
