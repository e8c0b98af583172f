// One case: what the user opened (the evidence source), the messages read from it into the
// store, and the facts of the run. Both faces go through it in the same order — open, load,
// name from contacts, recover, export — so the sequence is written here once; the window and
// the companion only ask the user and show what comes back.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "contacts/NameMatching.h"
#include "evidence/EvidenceSource.h"
#include "presentation/ExportWriter.h"
#include "presentation/ReportFacts.h"
#include "recovery/RecoveryRun.h"
#include "store/OpenRules.h"
#include "store/Sms.h"

// How a step of the case ended.
enum class CaseResult {
    Done,        // the step did its work
    Cancelled,   // the user stopped it: no password or choice given, or Cancel pressed
    Unreadable,  // a file that cannot be read, or gives nothing at all (Error() says why)
    NotMessages, // neither the name nor the tables of a message database (or a folder of neither)
};

// What the case asks of the face while it opens a source. Any of them may be left empty.
struct CaseCallbacks {
    // An encrypted backup's password; `again` after a wrong one. Nothing: none is given (stop).
    std::function<std::optional<std::string>(bool again)> password;
    // How far the unlocking of an encrypted backup has come (0 to 100, first right before it
    // starts); false stops it.
    std::function<bool(int percent)> unlocking;
    // An extraction of several users: whose messages to read (one of `users`); nothing stops.
    // Without it the user asked for at Open (else 0) is read.
    std::function<std::optional<int>(const std::vector<int>& users)> chooseUser;
    // Asked again after a wrong password instead of stopping.
    bool askAgainOnWrongPassword = false;
};

// What the load is for: a default recovery reads the file it will scan beside the live rows.
enum class LoadPurpose { Reading, DefaultRecovery, DeepRecovery };

struct LoadOutcome {
    CaseResult result = CaseResult::Done;
    DatabaseName kind = DatabaseName::Other;
    // Nothing was read (no live row, no conversation): why, when the file says so.
    OpenProblem problem = OpenProblem::None;
    // True when nothing was read and there was a reason to expect something (a problem or a
    // load warning).
    bool nothingRead = false;
};

struct NamingOutcome {
    CaseResult result = CaseResult::Done;  // Unreadable: the contacts named by the user cannot be read
    NamingResult naming;                   // when they were read
    std::string contacts;                  // what named the conversations (a file, or where in the source)
    bool fromSource = false;               // the source's own contacts (a failure is only a warning)
};

struct CaseExport {
    ExportResult result;
    ReportFacts facts;  // a report's (HTML, CSV, JSON); unset for text
};

class Case {
public:
    Case() = default;
    Case(Case&&) = default;
    Case& operator=(Case&&) = default;

    // Opens what `path` names: a database file, an iPhone backup, an Android extraction folder
    // or archive (user `user`, else 0, else what callbacks.chooseUser picks). Nothing is read
    // into the store yet. Error() says why when the result is not Done.
    CaseResult Open(const std::string& path, std::optional<int> user, const CaseCallbacks& callbacks);

    // Loads the source's database into the store (replacing what was there): its kind by name,
    // else by its tables; its files' facts are taken first when `takeEvidence` (before anything
    // is read: the hashes are of what was opened); then the live rows; attachments whose files
    // are at hand are marked. Unreadable when the file cannot be read or is no SQLite database;
    // NotMessages when it is no message database (the store is then left as it was). Every
    // purpose loads alike; the faces name theirs for what they do after.
    LoadOutcome Load(LoadPurpose purpose, bool takeEvidence);

    // Names the conversations from `contactsFile` when given (Unreadable when it cannot be
    // read), else from the source's own contacts (a failure leaves the numbers, said in
    // naming.error); `region` as the user gave it (else the phone's). Nothing when there are
    // no contacts at all (contacts empty).
    NamingOutcome Name(const std::string& contactsFile, const std::string& region);

    // Runs a recovery of `mode` (Default, Alternate or Deep) on the loaded database and marks
    // the recovered messages' attachments whose files are at hand. A run stopped through the
    // progress channel leaves the store as it was (Cancelled).
    CaseResult Recover(RecoveryMode mode, RecoveryRunCounts* counts = nullptr);

    // Writes `request` (its databasePath is this case's): an HTML report first takes the
    // attachments a backup or archive holds out into the private folder, a report states the
    // evidence facts taken at load against the files as they are now.
    CaseExport Export(ExportRequest request, const std::string& version);

    // The file of an attachment the phone names, ready to read (decrypted or taken out when
    // needed); nothing when it is not at hand.
    std::optional<std::string> AttachmentFile(const std::string& phonePath);

    bool IsOpen() const { return m_source.has_value(); }
    bool IsLoaded() const { return m_loaded; }
    const std::string& Error() const { return m_error; }
    // What the user named, and the database read (inside a backup or extraction, once opened).
    const std::string& GivenPath() const { return m_given; }
    const std::string& DatabasePath() const { return m_database; }
    const EvidenceSource& Source() const { return *m_source; }
    const EvidenceFacts& Evidence() const { return m_evidence; }

private:
    CaseResult Fail(CaseResult result, std::string error);
    void MarkAttachments(bool recoveredOnly);

    std::optional<EvidenceSource> m_source;
    std::string m_given, m_database, m_error;
    EvidenceFacts m_evidence;
    bool m_loaded = false;
};
