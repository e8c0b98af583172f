// Reading archives with libarchive, writing only the few members the readers need.
#include "evidence/ArchiveExtraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <fstream>
#include <memory>
#include <regex>
#include <span>

#include "evidence/Sha256.h"

namespace fs = std::filesystem;

namespace {

using Archive = std::unique_ptr<struct archive, decltype(&archive_read_free)>;

// The user and the file of a member path such as "data/user_de/10/com.android.providers.
// telephony/databases/mmssms.db-wal" or "data/user/0/com.android.providers.contacts/
// databases/contacts2.db" (any folders before "data/"; Samsung's contacts provider too); false
// for other members.
bool MatchMember(const std::string& path, ArchivedFile& member, std::string& file)
{
    static const std::regex kMember(
        R"((^|/)data/(data|user/([0-9]{1,6})|user_de/([0-9]{1,6}))/)"
        R"(com\.(android\.providers\.telephony/databases/(mmssms\.db)|(samsung\.)?android\.providers\.contacts/databases/(contacts2\.db))(-wal|-journal)?$)");
    std::smatch match;
    if (!std::regex_search(path, match, kMember)) return false;
    // A member path that climbs out of where it is ("..") is not one to trust.
    if (path.find("..") != std::string::npos) return false;
    member.user = match[3].matched ? std::stoi(match[3]) : match[4].matched ? std::stoi(match[4]) : 0;
    member.deviceProtected = match[4].matched;
    member.contacts = match[8].matched;
    member.main = !match[9].matched;
    file = std::string(member.contacts ? match[8] : match[6]) + std::string(match[9]);
    return true;
}

// The phone's path after "data/" of an attachment member ("user/0/com.android.providers.
// telephony/app_parts/PART_1_a.jpg"); empty for other members.
std::string PartOfMember(const std::string& path)
{
    static const std::regex kPart(
        R"((^|/)data/((data|user/[0-9]{1,6}|user_de/[0-9]{1,6})/com\.android\.providers\.telephony/app_parts/[^/]+)$)");
    std::smatch match;
    if (path.find("..") != std::string::npos || !std::regex_search(path, match, kPart)) return "";
    return match[2];
}

Archive OpenArchive(const fs::path& archivePath, const std::string& where, std::string& error)
{
    Archive archive(archive_read_new(), archive_read_free);
    archive_read_support_filter_all(archive.get());
    archive_read_support_format_tar(archive.get());
    archive_read_support_format_gnutar(archive.get());
    archive_read_support_format_zip(archive.get());
    if (archive_read_open_filename(archive.get(), archivePath.c_str(), 1 << 16) != ARCHIVE_OK) {
        const int code = archive_errno(archive.get());
        const bool system = code == EACCES || code == ENOENT || code == EISDIR || code == EPERM;
        const char* text = archive_error_string(archive.get());
        error = where + (system ? " cannot be read: " : " is damaged or truncated: ") + (text != nullptr ? text : "unknown error");
        return Archive(nullptr, archive_read_free);
    }
    return archive;
}

std::string ErrorOf(struct archive* archive)
{
    const char* text = archive_error_string(archive);
    return text != nullptr ? text : "unknown error";
}

}  // namespace

bool LooksLikeArchive(const fs::path& path)
{
    std::string name = path.filename().string();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
    return name.ends_with(".tar") || name.ends_with(".tar.gz") || name.ends_with(".tgz") || name.ends_with(".zip");
}

std::vector<ArchivedFile> ExtractAndroidDatabases(const fs::path& archivePath, const fs::path& folder, std::string& error,
                                                  const ExtractionLimits& limits, std::map<std::string, std::string>* parts)
{
    std::vector<ArchivedFile> found;
    const std::string where = "the archive '" + archivePath.string() + "'";
    const Archive archive = OpenArchive(archivePath, where, error);
    if (!archive) return {};
    std::uint64_t written = 0;
    archive_entry* entry = nullptr;
    int rc;
    std::vector<char> buffer(1 << 16);
    while ((rc = archive_read_next_header(archive.get(), &entry)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
        const char* name = archive_entry_pathname(entry);
        ArchivedFile member;
        std::string file;
        // Links, folders and devices are never followed or made; only regular members count.
        if (name == nullptr || archive_entry_filetype(entry) != AE_IFREG) continue;
        if (parts != nullptr) {
            if (std::string part = PartOfMember(name); !part.empty()) parts->emplace(std::move(part), name);
        }
        if (!MatchMember(name, member, file)) continue;
        const fs::path target = folder / (std::to_string(member.user) + (member.deviceProtected ? "" : "-legacy")) / file;
        Sha256 hash;
        std::error_code made;
        fs::create_directories(target.parent_path(), made);
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, made);
        la_ssize_t got;
        while ((got = archive_read_data(archive.get(), buffer.data(), buffer.size())) > 0) {
            written += static_cast<std::uint64_t>(got);
            const auto read = static_cast<std::uint64_t>(std::max<la_int64_t>(archive_filter_bytes(archive.get(), -1), 1));
            if (written > limits.totalBytes || (written > (std::uint64_t{64} << 20) && written / read > limits.ratio)) {
                error = where + ": the member " + std::string(name) + " expands past the limits (" +
                        std::to_string(limits.totalBytes >> 20) + " MiB in all, " + std::to_string(limits.ratio) +
                        " times what is read); it was not taken";
                return {};
            }
            out.write(buffer.data(), got);
            hash.Update(std::span(reinterpret_cast<const std::uint8_t*>(buffer.data()), static_cast<std::size_t>(got)));
            member.size += static_cast<std::uint64_t>(got);
        }
        if (got < 0) {
            error = where + " is damaged or truncated in " + std::string(name) + ": " + ErrorOf(archive.get());
            return {};
        }
        if (!out) {
            error = "the member " + std::string(name) + " of " + where + " cannot be kept in a private folder";
            return {};
        }
        member.path = target;
        member.inside = name;
        member.sha256 = hash.HexDigest();
        found.push_back(std::move(member));
    }
    if (rc != ARCHIVE_EOF) {
        error = where + " is damaged or truncated: " + std::string(ErrorOf(archive.get()));
        return {};
    }
    return found;
}

bool ExtractArchiveMember(const fs::path& archivePath, const std::string& wanted, const fs::path& target, std::string& error,
                          const ExtractionLimits& limits)
{
    const std::string where = "the archive '" + archivePath.string() + "'";
    const Archive archive = OpenArchive(archivePath, where, error);
    if (!archive) return false;
    archive_entry* entry = nullptr;
    std::vector<char> buffer(1 << 16);
    while (archive_read_next_header(archive.get(), &entry) == ARCHIVE_OK) {
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr || wanted != name || archive_entry_filetype(entry) != AE_IFREG) continue;
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        std::error_code ignored;
        fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write, ignored);
        std::uint64_t written = 0;
        la_ssize_t got;
        while ((got = archive_read_data(archive.get(), buffer.data(), buffer.size())) > 0) {
            written += static_cast<std::uint64_t>(got);
            if (written > limits.totalBytes) {
                error = where + ": the member " + wanted + " expands past " + std::to_string(limits.totalBytes >> 20) + " MiB";
                out.close();
                fs::remove(target, ignored);
                return false;
            }
            out.write(buffer.data(), got);
        }
        if (got < 0 || !out) {
            error = where + " is damaged or truncated in " + wanted + ": " + ErrorOf(archive.get());
            out.close();
            fs::remove(target, ignored);
            return false;
        }
        return true;
    }
    error = where + " holds no member " + wanted;
    return false;
}
