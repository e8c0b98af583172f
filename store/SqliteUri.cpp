// SQLite file URIs.
#include "store/SqliteUri.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

std::string SqliteFileUri(const std::string& path, const std::string& query)
{
    // An absolute path behind "file://" keeps a leading "//" from reading as an authority.
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    const std::string full = error ? path : absolute.string();
    std::string uri = "file://";
    if (full.empty() || full.front() != '/') uri += '/';
    for (const unsigned char c : full) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' ||
                           c == '.' || c == '~';
        if (plain) {
            uri += static_cast<char>(c);
        } else {
            char escaped[4];
            std::snprintf(escaped, sizeof escaped, "%%%02X", c);
            uri += escaped;
        }
    }
    if (!query.empty()) uri += "?" + query;
    return uri;
}
