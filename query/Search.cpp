// The search over the store's messages.
#include "query/Search.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <functional>
#include <regex>
#include <string_view>

#include "query/Messages.h"
#include "store/MessageStore.h"
#include "store/TimeText.h"

namespace {

unsigned char Fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + ('a' - 'A')) : c; }

struct FoldedHash {
    std::size_t operator()(char c) const { return Fold(static_cast<unsigned char>(c)); }
};
struct FoldedEqual {
    bool operator()(char a, char b) const { return Fold(static_cast<unsigned char>(a)) == Fold(static_cast<unsigned char>(b)); }
};
using FoldedSearcher = std::boyer_moore_horspool_searcher<std::string::const_iterator, FoldedHash, FoldedEqual>;

// Finds `needle` in texts, exactly or with Latin letters folded, or as a regular expression.
class Matcher {
public:
    explicit Matcher(const SearchQuery& query) : m_query(query), m_needle(query.text)
    {
        if (query.regex) {
            auto flags = std::regex::ECMAScript | std::regex::optimize;
            if (query.ignoreCase) flags |= std::regex::icase;
            m_regex.emplace(query.text, flags);
        } else if (query.ignoreCase) {
            m_folded.emplace(m_needle.begin(), m_needle.end());
        }
    }

    // The first match in `text`: its offset and length, or npos.
    std::pair<std::size_t, std::size_t> Find(std::string_view text) const
    {
        if (m_regex) {
            // The library's matcher recurses per character: a text from the evidence is
            // searched in its first 64 KiB only, so that no message can exhaust the stack.
            constexpr std::size_t kRegexReach = 64 * 1024;
            std::cmatch match;
            const char* end = text.data() + std::min(text.size(), kRegexReach);
            if (!std::regex_search(text.data(), end, match, *m_regex)) return {std::string::npos, 0};
            return {static_cast<std::size_t>(match.position(0)), static_cast<std::size_t>(match.length(0))};
        }
        if (!m_folded) return {text.find(m_needle), m_needle.size()};
        const auto found = std::search(text.begin(), text.end(), *m_folded);
        return {found == text.end() ? std::string::npos : static_cast<std::size_t>(found - text.begin()), m_needle.size()};
    }

private:
    const SearchQuery& m_query;
    std::string m_needle;
    std::optional<std::regex> m_regex;
    std::optional<FoldedSearcher> m_folded;  // with letters of either case
};

bool WithinTimes(const SearchQuery& query, const MessageRecord& m)
{
    if (!query.since && !query.until) return true;
    const std::optional<std::int64_t> seconds = UnixSeconds(m.time);
    if (!seconds) return false;
    return (!query.since || *seconds >= *query.since) && (!query.until || *seconds <= *query.until);
}

}  // namespace

std::vector<SearchHit> SearchMessages(const SearchQuery& query, std::string& error)
{
    std::vector<SearchHit> hits;
    if (query.text.empty()) {
        error = "nothing to search for";
        return hits;
    }
    std::optional<Matcher> matcher;
    try {
        matcher.emplace(query);
    } catch (const std::regex_error& bad) {
        error = "'" + query.text + "' is not a regular expression: " + bad.what();
        return hits;
    }
    // A conversation whose number or name (a group's: a member's) matches gives all its messages.
    const MessageStore& store = g_store;
    auto found = [&matcher](const std::string& text) { return !text.empty() && matcher->Find(text).first != std::string::npos; };
    std::vector<bool> rowMatches(static_cast<std::size_t>(store.conversationCount), false);
    for (std::int32_t row = 1; row < store.conversationCount; ++row) {
        const ContactRecord& c = store.conversations[row];
        rowMatches[static_cast<std::size_t>(row)] = found(c.address) || found(c.name) ||
                                                    std::any_of(c.members.begin(), c.members.end(), found) ||
                                                    std::any_of(c.memberNames.begin(), c.memberNames.end(), found);
    }
    VisitMessagesWithRows(query.recoveredOnly, [&](const MessageRecord& m, bool recovered, const std::vector<std::int32_t>& rows) {
        if (!WithinTimes(query, m)) return;
        const std::int32_t row = rows.empty() ? 0 : rows.front();
        const auto [at, length] = matcher->Find(m.body);
        if (at != std::string::npos) {
            hits.push_back({row, &m, recovered, at, length});
            return;
        }
        for (const std::int32_t shownIn : rows) {
            if (rowMatches[static_cast<std::size_t>(shownIn)]) {
                hits.push_back({shownIn, &m, recovered, std::string::npos, 0});
                return;
            }
        }
    });
    return hits;
}

std::string HitContext(const SearchHit& hit)
{
    constexpr std::size_t kAround = 30;
    const std::string& body = hit.message->body;
    const std::size_t at = hit.at == std::string::npos ? 0 : hit.at;
    const std::size_t length = hit.at == std::string::npos ? 0 : hit.length;
    std::size_t from = at > kAround ? at - kAround : 0;
    std::size_t to = std::min(body.size(), at + length + kAround);
    // Whole characters: never begin or end inside a UTF-8 sequence.
    while (from > 0 && (static_cast<unsigned char>(body[from]) & 0xC0) == 0x80) --from;
    while (to < body.size() && (static_cast<unsigned char>(body[to]) & 0xC0) == 0x80) ++to;
    std::string text = (from > 0 ? "…" : "") + body.substr(from, to - from) + (to < body.size() ? "…" : "");
    std::replace_if(text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    return Utf8ToAnsiString(text);
}

std::optional<std::int64_t> ParseSearchDate(const std::string& text, bool endOfDay)
{
    std::tm when{};
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    int used = 0;
    int fields = std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &year, &month, &day, &used);
    if (fields != 3) return std::nullopt;
    if (static_cast<std::size_t>(used) < text.size()) {
        // A time after one space: hh:mm or hh:mm:ss, and nothing else.
        int rest = 0;
        const char* time = text.c_str() + used;
        fields = std::sscanf(time, " %2d:%2d%n:%2d%n", &hour, &minute, &rest, &second, &rest);
        if (fields < 2 || *time != ' ' || time[rest] != '\0') return std::nullopt;
        fields += 3;
    }
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60 || year < 1970) return std::nullopt;
    if (fields == 3 && endOfDay) hour = 23, minute = 59, second = 59;
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&when);
    if (seconds == static_cast<std::time_t>(-1) || when.tm_mday != day) return std::nullopt;
    return static_cast<std::int64_t>(seconds);
}
