// The companion's export command: conversations to text files or reports.
#include <algorithm>
#include <filesystem>
#include <iostream>

#include "Companion.h"
#include "presentation/ExportWriter.h"
#include "presentation/Texts.h"
#include "store/MessageStore.h"

namespace {

// The export's request from the options: its rows, format and filter; kGoOn or an exit status
// (a row that is not there, none chosen).
int BuildRequest(const DatabaseOptions& options, ExportRequest& request)
{
    request.mode = options.single ? ExportMode::SingleFile : ExportMode::FilePerConversation;
    request.folder = options.folder;
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
            Fail(NoSuchRow(row, options.path));
            return kExitUsage;
        }
    }
    if (request.rows.empty()) {
        Fail("no conversation chosen: give --rows, --all or --with-messages");
        return kExitUsage;
    }
    return kGoOn;
}

// Makes the folder (with its parents) when it does not exist yet; kGoOn or an exit status
// with the reason making it gave.
int MakeFolder(const std::string& folder)
{
    std::error_code made;
    std::filesystem::create_directories(folder, made);
    std::error_code looked;
    if (!std::filesystem::is_directory(folder, looked)) {
        const std::error_code& error = made ? made : looked;
        Fail("cannot export to '" + folder + "': " + (error ? error.message() : std::string("it is not a folder")));
        return kExitFileError;
    }
    return kGoOn;
}

}  // namespace

int RunExport(DatabaseOptions options)
{
    if (const int status = ReadSearchRange(options); status != kGoOn) return status;
    // A report states the files as they were before anything was read.
    const bool report = options.format != "txt";
    const LoadPurpose purpose = !options.recover ? LoadPurpose::Reading : options.deep ? LoadPurpose::DeepRecovery : LoadPurpose::DefaultRecovery;
    Case kase;
    if (const int status = OpenCase(kase, options, purpose, report); status != kGoOn) return status;
    if (options.recover) {
        RecoveryRunCounts counts;
        if (const int status = RecoverCase(kase, options, counts); status != kGoOn) return status;
    } else if (options.alternate || options.deep) {
        Fail(std::string(options.deep ? "--deep" : "--alternate") + " needs --recover");
        return kExitUsage;
    }
    ExportRequest request;
    if (const int status = BuildRequest(options, request); status != kGoOn) return status;
    if (const int status = MakeFolder(options.folder); status != kGoOn) return status;
    const CaseExport exported = kase.Export(request, KESTROW_VERSION);
    if (report && !exported.facts.unchanged) Fail(exported.facts.warning);
    const ExportResult& result = exported.result;
    if (!result.error.empty()) {
        Fail(result.error);
        return kExitFileError;
    }
    for (const auto& file : result.files) std::cout << file.string() << '\n';
    std::cout << ExportSummaryText(result, options.folder) << '\n';
    return kExitOk;
}
