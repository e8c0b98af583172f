// The companion's side of the case's sequence: passwords from a file, the environment or the
// terminal, a progress bar, and what each step says on standard error.
#include "Companion.h"

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <tuple>

#include "presentation/Texts.h"
#include "store/MessageStore.h"
#include "store/ProgressChannel.h"

namespace {

constexpr const char* kProgram = "kestrow-cli";

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

// Opens the source; kGoOn or an exit status.
int OpenSource(Case& kase, const DatabaseOptions& options)
{
    CaseCallbacks callbacks;
    callbacks.password = [&options](bool) { return BackupPassword(options.passwordFile); };
    callbacks.unlocking = [](int percent) {
        if (percent == 0) Fail("note: unlocking the backup…");
        return true;
    };
    if (const CaseResult opened = kase.Open(options.path, options.user, callbacks); opened != CaseResult::Done) {
        Fail(kase.Error());
        return opened == CaseResult::NotMessages ? kExitUsage : kExitFileError;
    }
    const EvidenceSource& source = kase.Source();
    if (source.Type() == SourceType::AndroidExtraction && source.Users().size() > 1 && !options.user) {
        std::string users;
        for (const int user : source.Users()) users += (users.empty() ? "" : ", ") + std::to_string(user);
        Fail("note: the extraction holds the messages of users " + users + "; reading user " +
             std::to_string(source.User()) + " (--user N reads another)");
    }
    if (source.Type() != SourceType::Database) Fail("note: reading " + source.DatabaseName() + " of '" + options.path + "'");
    return kGoOn;
}

// Loads the database; kGoOn or an exit status. What the load could not read is said.
int LoadDatabase(Case& kase, LoadPurpose purpose, bool takeEvidence, bool* nothingRead)
{
    const LoadOutcome loaded = kase.Load(purpose, takeEvidence);
    if (kase.IsLoaded()) {
        for (const LoadWarning& warning : g_store.currentReader->m_loadWarnings) Fail("warning: " + LoadWarningSentence(warning));
    }
    if (loaded.result != CaseResult::Done) {
        Fail(kase.Error());
        return loaded.result == CaseResult::NotMessages ? kExitUsage : kExitFileError;
    }
    if (loaded.problem != OpenProblem::None) Fail("warning: " + OpenProblemSentence(kase.DatabasePath(), loaded.problem));
    if (nothingRead != nullptr) *nothingRead = loaded.nothingRead;
    // Nothing read is the end of a reading command; a recovery may still carve the file.
    return loaded.nothingRead && purpose == LoadPurpose::Reading ? kExitFileError : kGoOn;
}

// Names the conversations from --contacts or the source's own; kGoOn or an exit status.
int NameConversations(Case& kase, const DatabaseOptions& options)
{
    const NamingOutcome named = kase.Name(options.contacts, options.region);
    if (named.result != CaseResult::Done) {
        Fail(kase.Error());
        return kExitFileError;
    }
    if (!named.naming.error.empty()) {
        Fail("warning: " + named.naming.error + "; the conversations are shown without names");
        return kGoOn;
    }
    if (named.contacts.empty()) return kGoOn;
    const NamingResult& naming = named.naming;
    Fail("note: " + std::to_string(naming.named) + " of " + std::to_string(naming.conversations) +
         " conversations named from " + (named.fromSource ? named.contacts : "'" + named.contacts + "'") + " (" +
         std::to_string(naming.people) + " contacts; numbers read as " +
         (naming.region.empty() ? "international ones only" : "those of region " + naming.region) + ")");
    return kGoOn;
}

}  // namespace

void Fail(const std::string& message) { std::cerr << kProgram << ": " << message << '\n'; }

std::string NoSuchRow(int row, const std::string& path)
{
    return "no conversation " + std::to_string(row) + " in '" + path + "': rows are 0 to " +
           std::to_string(g_store.conversationCount - 1);
}

int OpenCase(Case& kase, const DatabaseOptions& options, LoadPurpose purpose, bool takeEvidence, bool* nothingRead)
{
    if (const int status = OpenSource(kase, options); status != kGoOn) return status;
    if (const int status = LoadDatabase(kase, purpose, takeEvidence, nothingRead); status != kGoOn) return status;
    return NameConversations(kase, options);
}

int RecoverCase(Case& kase, const DatabaseOptions& options, RecoveryRunCounts& counts)
{
    if (options.alternate && g_store.currentReader->m_deviceKind != kDeviceAndroid) {
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
        kase.Recover(options.deep ? RecoveryMode::Deep : options.alternate ? RecoveryMode::Alternate : RecoveryMode::Default, &counts);
    }
    const ScanReport& scan = g_store.currentReader->m_lastScan;
    if (const std::string failure = ScanFailureSentence(scan); !failure.empty()) Fail(failure);
    if (const std::string note = PageSizeSentence(scan); !note.empty()) Fail("note: " + note);
    if (const std::string note = NoCandidatesSentence(scan); !note.empty()) Fail("note: " + note);
    return kGoOn;
}

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
    return kGoOn;
}
