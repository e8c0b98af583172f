// The export writer shared by the window's export dialog and the command-line companion.
#include "presentation/ExportWriter.h"
#include "store/TimeText.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "presentation/ConversationView.h"
#include "presentation/Reports.h"
#include "presentation/ViewModel.h"
#include "store/FileDescriptor.h"
#include "store/MessageStore.h"

namespace {

namespace fs = std::filesystem;

struct Tally {
    std::int32_t messages = 0;
    std::int32_t recovered = 0;
};

Tally Count(const std::vector<ShownMessage>& shown)
{
    Tally tally;
    for (const ShownMessage& message : shown) {
        ++tally.messages;
        if (message.recovered) ++tally.recovered;
    }
    return tally;
}

// The conversation as text.
std::string ConversationText(const std::vector<ShownMessage>& shown)
{
    std::string out;
    for (const ShownMessage& message : shown) {
        out += message.heading;
        if (message.recovered) out += " [recovered]";
        if (message.recovered && message.message->truncated != 0) out += " [truncated]";
        out += '\n';
        out += ShownBody(message);
        out += "\n\n";
    }
    return out;
}

std::string LocalStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// The mode new files get: what the user's umask leaves of read and write for all.
mode_t NewFileMode()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

std::string Reason(const std::string& what, int error) { return what + ": " + std::strerror(error); }

}  // namespace

std::string ExportFileStem(const std::string& address, const std::string& catchAllName)
{
    std::string stem = address.empty() ? catchAllName : address;
    for (char& c : stem) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr) c = '_';
    }
    if (stem.empty() || stem == "." || stem == "..") stem = "conversation";
    // A file name has at most 255 bytes, and the temporary name, " (N)" and the extension
    // need room: a longer stem is cut at a character boundary and given a hash of the whole,
    // so that two long addresses that begin alike still get files of their own.
    constexpr std::size_t kLongest = 180, kKept = 160;
    if (stem.size() > kLongest) {
        std::uint32_t hash = 2166136261u;  // FNV-1a
        for (const unsigned char c : stem) hash = (hash ^ c) * 16777619u;
        std::size_t cut = kKept;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "~%08x", hash);
        stem = stem.substr(0, cut) + suffix;
    }
    return stem;
}

std::vector<fs::path> WriteNewFiles(const fs::path& folder, const std::vector<NewFile>& files, std::string& error)
{
    std::vector<std::string> temporaries;
    std::vector<fs::path> written;
    auto fail = [&](const std::string& reason) {
        error = reason;
        for (const std::string& temporary : temporaries) ::unlink(temporary.c_str());
        for (const fs::path& file : written) ::unlink(file.c_str());
        written.clear();
        return written;
    };
    // Every file whole under a temporary name first.
    const mode_t mode = NewFileMode();
    for (const NewFile& file : files) {
        std::string temporary = (folder / ("." + file.stem + ".kestrow-XXXXXX")).string();
        const FileDescriptor out(::mkstemp(temporary.data()));
        if (out.Get() < 0) return fail(Reason("cannot write in the folder " + folder.string(), errno));
        temporaries.push_back(temporary);
        ::fchmod(out.Get(), mode);
        std::size_t done = 0;
        while (done < file.content.size()) {
            const ssize_t n = ::write(out.Get(), file.content.data() + done, file.content.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return fail(Reason("cannot write in the folder " + folder.string(), errno));
            done += static_cast<std::size_t>(n);
        }
    }
    // One flush of the file system for all of them (syncfs), rather than one per file.
    const FileDescriptor directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() < 0 || ::syncfs(directory.Get()) != 0) {
        for (const std::string& temporary : temporaries) {
            const FileDescriptor in(::open(temporary.c_str(), O_RDONLY | O_CLOEXEC));
            if (in.Get() < 0 || ::fsync(in.Get()) != 0) return fail(Reason("cannot write in the folder " + folder.string(), errno));
        }
    }
    // Never replace a file: each takes the first free name.
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string& temporary = temporaries[k];
        const std::string& extension = files[k].extension;
        for (int n = 1;; ++n) {
            const fs::path target =
                folder / (files[k].stem + (n == 1 ? "" : " (" + std::to_string(n) + ")") + extension);
            if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
                written.push_back(target);
                break;
            }
            // File systems without a no-replace rename: a hard link fails the same way on a taken name.
            if (errno == EINVAL && ::link(temporary.c_str(), target.c_str()) == 0) {
                ::unlink(temporary.c_str());
                written.push_back(target);
                break;
            }
            if (errno != EEXIST) return fail(Reason("cannot write " + target.string(), errno));
        }
    }
    if (directory.Get() >= 0) ::fsync(directory.Get());
    return written;
}

std::optional<ExportFormat> ExportFormatNamed(std::string_view name)
{
    if (name == "txt" || name == "text") return ExportFormat::Text;
    if (name == "html") return ExportFormat::Html;
    if (name == "csv") return ExportFormat::Csv;
    if (name == "json") return ExportFormat::Json;
    return std::nullopt;
}

std::string ExportExtension(ExportFormat format)
{
    switch (format) {
    case ExportFormat::Text: return ".txt";
    case ExportFormat::Html: return ".html";
    case ExportFormat::Csv: return ".csv";
    case ExportFormat::Json: return ".json";
    }
    return ".txt";
}

namespace {

std::string Report(ExportFormat format, const ReportFacts& facts, const std::vector<ReportConversation>& conversations,
                   const std::string& title, const AttachmentLinks& links)
{
    switch (format) {
    case ExportFormat::Html: return HtmlReport(facts, conversations, title, links);
    case ExportFormat::Csv: return CsvReport(facts, conversations);
    case ExportFormat::Json: return JsonReport(facts, conversations);
    case ExportFormat::Text: break;
    }
    return "";
}

// A name for an attachment's copy: its own name without any folder, or "file".
std::string CopyName(const Attachment& a)
{
    const std::string name = fs::path(a.name).filename().string();
    return name.empty() || name == "." || name == ".." ? std::string("file") : name;
}

// Copies the attachment files at hand that the HTML reports link to (those a page does not
// hold itself) into a new folder in `folder`: "attachments", or "attachments (2)" and so on
// when the name is taken; no file is ever replaced. Returns the address of each copy by the
// file's path here. On failure `error` names the file and the reason and the folder is gone.
AttachmentLinks CopyLinkedAttachments(const fs::path& folder, const std::vector<const std::vector<ShownMessage>*>& chosen,
                                      ExportResult& result)
{
    AttachmentLinks links;
    std::vector<const Attachment*> files;
    for (const std::vector<ShownMessage>* shown : chosen) {
        for (const ShownMessage& message : *shown) {
            for (const Attachment& a : message.message->details->attachments) {
                if (a.present && !a.at.empty() && !AttachmentInPage(a) && links.emplace(a.at, "").second) files.push_back(&a);
            }
        }
    }
    if (files.empty()) return {};
    fs::path made;
    std::error_code error;
    for (int n = 1; made.empty(); ++n) {
        const fs::path candidate = folder / ("attachments" + (n == 1 ? "" : " (" + std::to_string(n) + ")"));
        if (fs::create_directory(candidate, error)) made = candidate;
        if (error) {
            result.error = "cannot make the folder " + candidate.string() + " for the attachments: " + error.message();
            return {};
        }
    }
    const mode_t mode = NewFileMode();
    for (const Attachment* a : files) {
        const fs::path name = CopyName(*a);
        fs::path target = made / name;
        for (int n = 2; fs::exists(target, error); ++n) {
            target = made / (name.stem().string() + " (" + std::to_string(n) + ")" + name.extension().string());
        }
        if (!fs::copy_file(a->at, target, fs::copy_options::none, error)) {
            result.error = "cannot copy the attachment " + a->at + " to " + target.string() + ": " + error.message();
            fs::remove_all(made, error);
            return {};
        }
        fs::permissions(target, static_cast<fs::perms>(mode), error);
        links[a->at] = EscapedPath(made.filename().string() + "/" + target.filename().string());
    }
    result.attachmentFolder = made;
    result.attachmentFiles = static_cast<std::int32_t>(files.size());
    return links;
}

}  // namespace

ExportResult ExportConversations(const ExportRequest& request)
{
    const MessageStore& store = g_store;
    ExportResult result;
    const std::string catchAll = store.conversations[0].address.empty() ? "Ungrouped" : store.conversations[0].address;
    // Every conversation's messages in one pass over the lists.
    std::vector<std::vector<ShownMessage>> all = CollectAllConversations();
    if (!request.filter.ShowsAll()) {
        for (std::vector<ShownMessage>& shown : all) shown = Filtered(std::move(shown), request.filter);
    }
    static const ReportFacts kNoFacts;
    const ReportFacts& facts = request.facts != nullptr ? *request.facts : kNoFacts;
    const std::string extension = ExportExtension(request.format);
    const std::string databaseName = fs::path(request.databasePath).filename().string();
    AttachmentLinks links;
    if (request.format == ExportFormat::Html) {
        std::vector<const std::vector<ShownMessage>*> shown;
        for (const std::int32_t row : request.rows) {
            if (row >= 0 && row < store.conversationCount) shown.push_back(&all[static_cast<std::size_t>(row)]);
        }
        links = CopyLinkedAttachments(request.folder, shown, result);
        if (!result.error.empty()) return result;
    }
    std::vector<NewFile> files;
    std::vector<ReportConversation> chosen;
    std::string single;
    for (const std::int32_t row : request.rows) {
        if (row < 0 || row >= store.conversationCount) continue;
        const std::vector<ShownMessage>& shown = all[static_cast<std::size_t>(row)];
        const Tally tally = Count(shown);
        const ContactRecord& entry = store.conversations[row];
        const std::string stem = ExportFileStem(entry.address, catchAll);
        if (request.format == ExportFormat::Text) {
            const std::string text = ConversationText(shown);
            if (request.mode == ExportMode::SingleFile) {
                single += "== " + PartnerTitle(entry.name, entry.address) + " (" + std::to_string(tally.messages) + " messages, " +
                          std::to_string(tally.recovered) + " recovered)\n\n" + text;
            } else {
                files.push_back({stem, extension, text});
            }
        } else {
            const ReportConversation conversation{row, &entry, &shown, tally.messages, tally.recovered};
            if (request.mode == ExportMode::SingleFile) {
                chosen.push_back(conversation);
            } else {
                files.push_back({stem, extension, Report(request.format, facts, {conversation},
                                                         "Messages with " + entry.address + " — " + databaseName, links)});
            }
        }
        ++result.conversations;
        result.messages += tally.messages;
        result.recovered += tally.recovered;
    }
    // A text file says first which zone its times are in.
    if (request.format == ExportFormat::Text) {
        for (NewFile& file : files) file.content = TimesInText() + "\n\n" + file.content;
        if (!single.empty()) single = TimesInText() + "\n\n" + single;
    }
    if (request.mode == ExportMode::SingleFile) {
        const std::string stem = ExportFileStem("SMS-" + databaseName + "-" + LocalStamp(), catchAll);
        files.push_back({stem, extension,
                         request.format == ExportFormat::Text
                             ? std::move(single)
                             : Report(request.format, facts, chosen, "Messages of " + databaseName, links)});
    }
    result.files = WriteNewFiles(request.folder, files, result.error);
    if (!result.error.empty()) {
        result.conversations = result.messages = result.recovered = result.attachmentFiles = 0;
        std::error_code ignored;
        if (!result.attachmentFolder.empty()) fs::remove_all(result.attachmentFolder, ignored);
        result.attachmentFolder.clear();
    }
    return result;
}

std::string ExportSummaryText(const ExportResult& result, const fs::path& folder, const Translator& tr)
{
    const std::string conversations = result.conversations == 1
                                          ? tr("1 conversation")
                                          : Fill(tr("%d conversations"), {std::to_string(result.conversations)});
    const std::string messages =
        result.messages == 1 ? tr("1 message") : Fill(tr("%d messages"), {std::to_string(result.messages)});
    std::string text = Fill(tr("Exported %s (%s, %d recovered) to %s."),
                            {conversations, messages, std::to_string(result.recovered), folder.string()});
    if (result.attachmentFiles > 0) {
        text += " " + Fill(tr("The attachment files the reports link to are copied into %s."), {result.attachmentFolder.string()});
    }
    return text;
}
