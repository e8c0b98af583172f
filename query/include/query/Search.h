// Searching every message of the open database, live and recovered: for a text in the
// messages, or a number or name of the conversation they are in; with a time range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/MessageRecords.h"

struct SearchQuery {
    std::string text;
    bool regex = false;       // `text` is an ECMAScript regular expression
    bool ignoreCase = false;  // letters of the Latin alphabet match in either case
    std::optional<std::int64_t> since{}, until{};  // seconds since 1970, both ends included
    bool recoveredOnly = false;
};

struct SearchHit {
    std::int32_t row = 0;  // the conversation that shows the message
    const MessageRecord* message = nullptr;
    bool recovered = false;
    // Where the text was found in the message's body, in bytes; npos when the conversation's
    // number or name matched instead.
    std::size_t at = std::string::npos;
    std::size_t length = 0;
};

// Every message that matches, in time order (each once, in the first conversation that shows
// it). Nothing, with `error` saying why, for an empty query or a bad regular expression.
std::vector<SearchHit> SearchMessages(const SearchQuery& query, std::string& error);

// The body around the hit on one line (about 30 characters each side, "…" where cut, whole
// UTF-8 characters); the start of the body when the number or name matched.
std::string HitContext(const SearchHit& hit);

// A date "YYYY-MM-DD" or date and time "YYYY-MM-DD hh:mm[:ss]" in the zone of the shown times,
// as seconds since 1970; a date alone stands for its first second, or its last with `endOfDay`.
// Nothing when the text is no such date.
std::optional<std::int64_t> ParseSearchDate(const std::string& text, bool endOfDay);
