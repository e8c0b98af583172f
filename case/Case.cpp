// The sequence of a case: open the source, load its database, name, recover, export.
#include "case/Case.h"

#include <malloc.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include "presentation/Texts.h"
#include "readers/AndroidSms.h"
#include "readers/AttachmentFiles.h"
#include "readers/CreateReader.h"
#include "readers/OpenDatabase.h"
#include "store/MessageStore.h"
#include "store/ProgressChannel.h"

namespace {

// Why `path` cannot be read as a file; empty when it can.
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

}  // namespace

CaseResult Case::Fail(CaseResult result, std::string error)
{
    m_error = std::move(error);
    return result;
}

CaseResult Case::Open(const std::string& path, std::optional<int> user, const CaseCallbacks& callbacks)
{
    m_given = path;
    m_loaded = false;
    bool again = false, refused = false;
    SourceOptions options;
    options.user = user;
    options.unlocking = callbacks.unlocking;
    options.password = [&]() -> std::optional<std::string> {
        std::optional<std::string> password = callbacks.password ? callbacks.password(again) : std::nullopt;
        refused = !password;
        return password;
    };
    EvidenceSource source = EvidenceSource::Open(path, options);
    while (source.Status() == SourceStatus::WrongPassword && callbacks.askAgainOnWrongPassword && !refused) {
        again = true;
        source = EvidenceSource::Open(path, options);
    }
    if (source.Status() == SourceStatus::Cancelled || (refused && callbacks.askAgainOnWrongPassword)) {
        return Fail(CaseResult::Cancelled, source.Error());
    }
    if (source.Error().empty() && source.Users().size() > 1 && callbacks.chooseUser) {
        const std::optional<int> picked = callbacks.chooseUser(source.Users());
        if (!picked) return Fail(CaseResult::Cancelled, "");
        if (*picked != source.User()) {
            options.user = *picked;
            source = EvidenceSource::Open(path, options);
        }
    }
    if (!source.Error().empty()) {
        return Fail(source.Status() == SourceStatus::Unrecognised ? CaseResult::NotMessages : CaseResult::Unreadable,
                    source.Error());
    }
    m_source.emplace(std::move(source));
    m_database = m_source->DatabasePath();
    m_error.clear();
    return CaseResult::Done;
}

LoadOutcome Case::Load(LoadPurpose /*purpose*/, bool takeEvidence)
{
    LoadOutcome outcome;
    const std::string& path = m_database;
    if (const std::string reason = UnreadableReason(path); !reason.empty()) {
        outcome.result = Fail(CaseResult::Unreadable, "cannot read '" + path + "': " + reason);
        return outcome;
    }
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    outcome.kind = DetectDatabaseKind(error ? path : absolute.string());
    if (outcome.kind == DatabaseName::Other) {
        outcome.result = Fail(CaseResult::NotMessages,
                              "'" + path + "' is not a message database: neither named mmssms.db or sms.db nor holding the " +
                                  "tables of one (sms and canonical_addresses for Android, message and handle for the iPhone)");
        return outcome;
    }
    // A recovery reads the file it scans after the load, not beside it: the reading takes
    // little time in huge pages, and the file's bytes and the load's memory never add up.
    const DeviceKind device = outcome.kind == DatabaseName::Iphone ? kDeviceIphone : kDeviceAndroid;
    if (takeEvidence) {
        m_evidence = TakeEvidenceFacts(path, device);
        m_evidence.source = TakeSourceFacts(*m_source);
    }
    ReplaceReaderAndLoad(CreateReader(outcome.kind), path);
    // What the load held only while it read (rows by id, parts before they were joined) goes
    // back to the system now, before a recovery reads the file into memory beside the list.
    ::malloc_trim(0);
    m_loaded = true;
    MarkAttachments(false);
    if (g_store.liveMessageCount == 0 && g_store.conversationCount == 1) {
        outcome.problem = DiagnoseDatabase(path, outcome.kind);
        outcome.nothingRead = outcome.problem != OpenProblem::None || !g_store.currentReader->m_loadWarnings.empty();
        if (outcome.problem == OpenProblem::NotSqlite || outcome.problem == OpenProblem::Encrypted) {
            outcome.result = Fail(CaseResult::Unreadable, OpenProblemSentence(path, outcome.problem));
        }
    }
    return outcome;
}

NamingOutcome Case::Name(const std::string& contactsFile, const std::string& region)
{
    NamingOutcome outcome;
    const bool given = !contactsFile.empty();
    const std::string path = given ? contactsFile : m_source->ContactsPath();
    outcome.fromSource = !given;
    if (path.empty()) return outcome;
    if (const std::string reason = given ? UnreadableReason(path) : ""; !reason.empty()) {
        outcome.result = Fail(CaseResult::Unreadable, "cannot read the contacts '" + path + "': " + reason);
        return outcome;
    }
    outcome.naming = NameFromContacts(path, region);
    if (!outcome.naming.error.empty()) {
        if (given) outcome.result = Fail(CaseResult::Unreadable, outcome.naming.error);
        return outcome;
    }
    outcome.contacts = given ? path : m_source->ContactsName();
    m_evidence.source.contacts = outcome.contacts;
    return outcome;
}

CaseResult Case::Recover(RecoveryMode mode, RecoveryRunCounts* counts)
{
    RecoveryUndo undo;
    RecoveryRunCounts found;
    if (mode == RecoveryMode::Deep) {
        RunDeepRecoverySteps(m_database);
    } else {
        const AlternateCarvingScope alternate(mode == RecoveryMode::Alternate);
        found = RunRecoverySteps(m_database);
    }
    if (RecoveryCancelled()) {
        undo.Restore();  // the list and the view as they were before the run
        return CaseResult::Cancelled;
    }
    MarkAttachments(true);
    if (counts != nullptr) *counts = found;
    return CaseResult::Done;
}

CaseExport Case::Export(ExportRequest request, const std::string& version)
{
    CaseExport exported;
    // A page keeps the attachments' files: those an encrypted backup or an archive holds are
    // taken out first (into the source's private folder).
    if (request.format == ExportFormat::Html) {
        TakeOutAttachments([this](const std::string& phonePath) { return AttachmentFile(phonePath); });
    }
    request.databasePath = m_database;
    if (request.format != ExportFormat::Text) {
        exported.facts = CompleteReportFacts(m_evidence, version);
        request.facts = &exported.facts;
    }
    exported.result = ExportConversations(request);
    return exported;
}

std::optional<std::string> Case::AttachmentFile(const std::string& phonePath)
{
    return m_source ? m_source->AttachmentFile(phonePath) : std::nullopt;
}

void Case::MarkAttachments(bool recoveredOnly)
{
    AttachmentsBeside beside(m_database);
    MarkAttachmentsPresent([&beside](const std::string& phonePath) { return beside.Find(phonePath); }, recoveredOnly);
    if (m_source->Type() != SourceType::Database) {
        MarkAttachmentsPresent([this](const std::string& phonePath) { return m_source->AttachmentAtHand(phonePath); },
                               recoveredOnly);
    }
}
