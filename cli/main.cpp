// kestrow-cli: shows what an Android mmssms.db or iPhone sms.db holds, from the command line.
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

#include <CLI/CLI.hpp>

#include "CliReport.h"
#include "readers/CreateReader.h"
#include "store/MessageStore.h"
#include "store/OpenRules.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileError = 1;  // missing or unreadable file
constexpr int kExitUsage = 2;      // bad arguments or a file name that names no known database

constexpr const char* kProgram = "kestrow-cli";

struct DatabaseOptions {
    std::string path;
    bool json = false;
    int conversation = -1;
};

void Fail(const std::string& message) { std::cerr << kProgram << ": " << message << '\n'; }

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

bool LooksLikeSqlite(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    char header[16] = {};
    return file.read(header, sizeof header) && std::memcmp(header, "SQLite format 3", 16) == 0;
}

// Loads `path` into the store the way the window's Open command does, but without setting
// any log aside: nothing on disk changes. Returns an exit status, or -1 when loaded.
int LoadForCommand(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    const DatabaseName kind = ClassifyDatabasePath(error ? path : absolute.string());
    if (kind == DatabaseName::Other) {
        Fail("'" + path + "' is not a message database name: the Android database is " +
             "called mmssms.db and the iPhone database sms.db (the name decides the kind)");
        return kExitUsage;
    }
    if (const std::string reason = UnreadableReason(path); !reason.empty()) {
        Fail("cannot read '" + path + "': " + reason);
        return kExitFileError;
    }
    if (!LooksLikeSqlite(path)) {
        Fail("warning: '" + path + "' is not an SQLite 3 database; no rows can be read from it");
    }
    ReplaceReaderAndLoad(CreateReader(kind), path);
    return -1;
}

void Print(const nlohmann::ordered_json& json)
{
    std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

int RunConversations(const DatabaseOptions& options)
{
    if (const int status = LoadForCommand(options.path); status >= 0) return status;
    if (options.json) {
        Print(ConversationsJson(options.path));
    } else {
        std::cout << ConversationsText();
    }
    return kExitOk;
}

int RunMessages(const DatabaseOptions& options)
{
    if (const int status = LoadForCommand(options.path); status >= 0) return status;
    if (options.conversation >= g_store.conversationCount) {
        Fail("there is no conversation " + std::to_string(options.conversation) + " in '" +
             options.path + "' (rows 0 to " + std::to_string(g_store.conversationCount - 1) + ")");
        return kExitUsage;
    }
    if (options.conversation >= 0) {
        if (options.json) {
            Print(ConversationJson(options.path, options.conversation));
        } else {
            std::cout << ConversationText(options.conversation);
        }
    } else if (options.json) {
        Print(MessagesJson(options.path));
    } else {
        std::cout << MessagesText();
    }
    return kExitOk;
}

void AddDatabaseArguments(CLI::App& command, DatabaseOptions& options)
{
    command.add_option("PATH", options.path,
                       "the database: an Android mmssms.db or an iPhone sms.db")
        ->required();
    command.add_flag("--json", options.json, "print JSON instead of text");
}

}  // namespace

int main(int argc, char** argv)
{
    // Texts are UTF-8 whatever the user's locale; the locale only measures column widths.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr) std::setlocale(LC_CTYPE, "");

    CLI::App app{"Show the conversations and messages of a phone message database.\n"
                 "Reads an Android mmssms.db or an iPhone sms.db; never changes the file.",
                 kProgram};
    app.set_version_flag("--version", std::string(kProgram) + " " KESTROW_VERSION);
    app.require_subcommand(1);
    app.footer("Exit status: 0 on success, 1 when the file cannot be read, 2 on a usage error\n"
               "or a file name other than mmssms.db or sms.db.");

    DatabaseOptions conversationOptions;
    CLI::App* conversations = app.add_subcommand(
        "conversations", "list the conversation partners with the time of the newest message "
                         "and the number of messages");
    AddDatabaseArguments(*conversations, conversationOptions);

    DatabaseOptions messageOptions;
    CLI::App* messages = app.add_subcommand(
        "messages", "print the live messages in time order, or one conversation");
    AddDatabaseArguments(*messages, messageOptions);
    messages->add_option("-c,--conversation", messageOptions.conversation,
                         "show only this conversation, as the window's message view does "
                         "(ROW counts from 0, in the order 'conversations' lists them)")
        ->option_text("ROW")
        ->check(CLI::NonNegativeNumber);

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

    if (conversations->parsed()) return RunConversations(conversationOptions);
    return RunMessages(messageOptions);
}
