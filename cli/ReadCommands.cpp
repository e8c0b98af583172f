// The companion's reading commands: conversations, messages, recover and search.
#include <iostream>

#include "Companion.h"
#include "presentation/CliReport.h"
#include "presentation/Texts.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

int RunConversations(const DatabaseOptions& options)
{
    Case kase;
    if (const int status = OpenCase(kase, options); status != kGoOn) return status;
    if (options.json) {
        PrintJson([&](JsonWriter& json) { WriteConversationsJson(json, kase.DatabasePath()); });
    } else {
        std::cout << ConversationsText();
    }
    return kExitOk;
}

int RunMessages(const DatabaseOptions& options)
{
    Case kase;
    if (const int status = OpenCase(kase, options); status != kGoOn) return status;
    const std::string& path = kase.DatabasePath();
    if (options.conversationGiven && (options.conversation < 0 || options.conversation >= g_store.conversationCount)) {
        Fail(NoSuchRow(options.conversation, options.path));
        return kExitUsage;
    }
    if (options.conversationGiven) {
        if (options.json) {
            PrintJson([&](JsonWriter& json) { WriteConversationJson(json, path, options.conversation); });
        } else {
            std::cout << ConversationText(options.conversation);
        }
    } else if (options.json) {
        PrintJson([&](JsonWriter& json) { WriteMessagesJson(json, path); });
    } else {
        std::cout << MessagesText();
    }
    return kExitOk;
}

int RunRecover(const DatabaseOptions& options)
{
    Case kase;
    bool nothingRead = false;
    const LoadPurpose purpose = options.deep ? LoadPurpose::DeepRecovery : LoadPurpose::DefaultRecovery;
    if (const int status = OpenCase(kase, options, purpose, false, &nothingRead); status != kGoOn) return status;
    RecoveryRunCounts counts;
    if (const int status = RecoverCase(kase, options, counts); status != kGoOn) return status;
    const ScanReport& scan = g_store.currentReader->m_lastScan;
    if (options.json) {
        PrintJson([&](JsonWriter& json) {
            WriteRecoveryJson(json, kase.DatabasePath(), counts.countingFound, counts.fillingFound);
        });
    } else {
        std::cout << RecoveryText();
    }
    // A file from which neither rows nor finds came gave nothing at all.
    const bool nothing = nothingRead && g_store.currentReader->m_recovered.empty();
    return scan.error.empty() && !nothing ? kExitOk : kExitFileError;
}

namespace {

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

}  // namespace

int RunSearch(DatabaseOptions options)
{
    if (const int status = ReadSearchRange(options); status != kGoOn) return status;
    const bool recover = options.query.recoveredOnly || options.deep;
    const LoadPurpose purpose = !recover ? LoadPurpose::Reading : options.deep ? LoadPurpose::DeepRecovery : LoadPurpose::DefaultRecovery;
    Case kase;
    if (const int status = OpenCase(kase, options, purpose); status != kGoOn) return status;
    if (recover) {
        RecoveryRunCounts counts;
        if (const int status = RecoverCase(kase, options, counts); status != kGoOn) return status;
    }
    std::string error;
    const std::vector<SearchHit> hits = SearchMessages(options.query, error);
    if (!error.empty()) {
        Fail(error);
        return kExitUsage;
    }
    if (options.json) {
        PrintHitsJson(kase.DatabasePath(), options.query, hits);
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
