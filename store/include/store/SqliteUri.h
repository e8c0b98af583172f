// Naming a file for SQLite's URI open, whatever characters its path holds.
#pragma once

#include <string>

// The "file:" URI that names `path` for SQLite, with the given query ("immutable=1").
std::string SqliteFileUri(const std::string& path, const std::string& query);
