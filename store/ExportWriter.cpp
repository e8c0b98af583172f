// The export writer shared by the window's export dialog and the command-line companion.
#include "ExportWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "ConversationView.h"
#include "MessageStore.h"

namespace {

namespace fs = std::filesystem;

struct Tally {
    std::int32_t messages = 0;
    std::int32_t recovered = 0;
};

// The conversation as text, and its counts.
std::string ConversationText(std::int32_t row, Tally& tally)
{
    std::string out;
    for (const ShownMessage& shown : CollectConversation(row)) {
        out += shown.heading;
        if (shown.recovered) out += " [recovered]";
        out += '\n';
        out += shown.message->body;
        out += "\n\n";
        ++tally.messages;
        if (shown.recovered) ++tally.recovered;
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

// Writes `content` to a new file "<stem>.txt" (or "<stem> (n).txt") in `folder`; returns its
// path, or the error text with nothing left behind.
bool WriteNewFile(const fs::path& folder, const std::string& stem, const std::string& content, fs::path& written,
                  std::string& error)
{
    std::string temporary = (folder / ("." + stem + ".kestrow-XXXXXX")).string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = "cannot write in the folder " + folder.string() + ": " + std::strerror(errno);
        return false;
    }
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        done += static_cast<std::size_t>(n);
    }
    const bool complete = done == content.size() && ::fsync(fd) == 0;
    const int writeErrno = errno;
    ::close(fd);
    ::fchmodat(AT_FDCWD, temporary.c_str(), 0644, 0);
    if (!complete) {
        ::unlink(temporary.c_str());
        error = "cannot write in the folder " + folder.string() + ": " + std::strerror(writeErrno);
        return false;
    }
    // Never replace a file: take the first free name.
    for (int n = 1;; ++n) {
        const fs::path target = folder / (stem + (n == 1 ? "" : " (" + std::to_string(n) + ")") + ".txt");
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            written = target;
            return true;
        }
        // File systems without a no-replace rename: a hard link fails the same way on a taken name.
        if (errno == EINVAL && ::link(temporary.c_str(), target.c_str()) == 0) {
            ::unlink(temporary.c_str());
            written = target;
            return true;
        }
        if (errno != EEXIST) {
            error = "cannot write " + target.string() + ": " + std::strerror(errno);
            ::unlink(temporary.c_str());
            return false;
        }
    }
}

}  // namespace

std::string ExportFileStem(const std::string& address, const std::string& catchAllName)
{
    std::string stem = address.empty() ? catchAllName : address;
    for (char& c : stem) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || std::strchr("/\\:*?\"<>|", c) != nullptr) c = '_';
    }
    if (stem.empty() || stem == "." || stem == "..") stem = "conversation";
    return stem;
}

ExportResult ExportConversations(const ExportRequest& request)
{
    const MessageStore& store = g_store;
    ExportResult result;
    const std::string catchAll = store.conversations[0].address.empty() ? "Ungrouped" : store.conversations[0].address;
    std::string single;
    for (const std::int32_t row : request.rows) {
        if (row < 0 || row >= store.conversationCount) continue;
        Tally tally;
        const std::string text = ConversationText(row, tally);
        const ContactRecord& entry = store.conversations[row];
        if (request.mode == ExportMode::SingleFile) {
            single += "== " + entry.address + " (" + std::to_string(tally.messages) + " messages, " +
                      std::to_string(tally.recovered) + " recovered)\n\n" + text;
        } else {
            fs::path written;
            if (!WriteNewFile(request.folder, ExportFileStem(entry.address, catchAll), text, written, result.error)) break;
            result.files.push_back(written);
        }
        ++result.conversations;
        result.messages += tally.messages;
        result.recovered += tally.recovered;
    }
    if (result.error.empty() && request.mode == ExportMode::SingleFile) {
        const std::string name = fs::path(request.databasePath).filename().string();
        fs::path written;
        if (WriteNewFile(request.folder, ExportFileStem("SMS-" + name + "-" + LocalStamp(), catchAll), single, written,
                         result.error)) {
            result.files.push_back(written);
        }
    }
    if (!result.error.empty()) {
        // Nothing of a failed export stays behind.
        std::error_code ignored;
        for (const fs::path& file : result.files) fs::remove(file, ignored);
        result.files.clear();
        result.conversations = result.messages = result.recovered = 0;
    }
    return result;
}

std::string ExportSummaryText(const ExportResult& result, const fs::path& folder)
{
    return "Exported " + std::to_string(result.conversations) + " conversations (" + std::to_string(result.messages) +
           " messages, " + std::to_string(result.recovered) + " recovered) to " + folder.string() + ".";
}
