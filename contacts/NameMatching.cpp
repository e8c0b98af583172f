// Matching message addresses to contacts: exact text, the same E.164 number, the last seven
// digits; and guessing the phone's region where the phone does not say it.
#include "contacts/NameMatching.h"

#include <phonenumbers/phonenumberutil.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

#include "store/MessageStore.h"

namespace {

using i18n::phonenumbers::PhoneNumber;
using i18n::phonenumbers::PhoneNumberUtil;

constexpr std::size_t kMatchedDigits = 7;  // Android's default for its loose comparison

std::string Lower(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string Upper(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsEmail(const std::string& address) { return address.find('@') != std::string::npos; }

// The last seven digits of a number written with digits and the usual punctuation only;
// empty for shorter numbers and for names of senders (letters).
std::string LastDigits(const std::string& number)
{
    std::string digits;
    for (const char c : number) {
        if (std::isdigit(static_cast<unsigned char>(c)) != 0) {
            digits += c;
        } else if (std::isalpha(static_cast<unsigned char>(c)) != 0) {
            return "";
        }
    }
    return digits.size() >= kMatchedDigits ? digits.substr(digits.size() - kMatchedDigits) : "";
}

}  // namespace

std::string E164Number(const std::string& number, const std::string& region)
{
    if (number.empty() || IsEmail(number) || number.size() > 64) return "";
    const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
    PhoneNumber parsed;
    if (util.Parse(number, region.empty() ? "ZZ" : region, &parsed) != PhoneNumberUtil::NO_PARSING_ERROR) return "";
    // Too short to be anyone's number ("12").
    if (!util.IsPossibleNumber(parsed)) return "";
    std::string e164;
    util.Format(parsed, PhoneNumberUtil::E164, &e164);
    return e164;
}

bool KnownRegion(const std::string& region)
{
    std::set<std::string> regions;
    PhoneNumberUtil::GetInstance()->GetSupportedRegions(&regions);
    return regions.contains(Upper(region));
}

std::string RegionOfNumbers(const std::vector<std::string>& numbers)
{
    const PhoneNumberUtil& util = *PhoneNumberUtil::GetInstance();
    // Each number counts once, however it is written and however many messages it has: one
    // busy foreign partner does not make the phone foreign.
    std::map<std::string, std::string> regionOf;  // E.164 form → region
    for (const std::string& number : numbers) {
        if (!number.starts_with('+')) continue;
        PhoneNumber parsed;
        if (util.Parse(number, "ZZ", &parsed) != PhoneNumberUtil::NO_PARSING_ERROR) continue;
        std::string region, e164;
        util.GetRegionCodeForNumber(parsed, &region);
        util.Format(parsed, PhoneNumberUtil::E164, &e164);
        if (region != "ZZ" && !region.empty()) regionOf.emplace(e164, region);
    }
    std::map<std::string, int> seen;
    for (const auto& [number, region] : regionOf) ++seen[region];
    // The most numbers; on a tie the first region in alphabetical order, so the guess is stable.
    const auto best = std::max_element(seen.begin(), seen.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    return best != seen.end() ? best->first : "";
}

NameMatcher::NameMatcher(const ContactBook& book, std::string region) : m_region(Upper(std::move(region)))
{
    for (const ContactPoint& point : book.points) {
        if (point.email) {
            Add(m_email, Lower(point.value), point.name);
            continue;
        }
        Add(m_exact, point.value, point.name);
        const std::string e164 = E164Number(point.value, m_region);
        Add(m_e164, e164, point.name);
        if (!point.e164.empty() && point.e164 != e164) Add(m_e164, point.e164, point.name);
        Add(m_lastDigits, LastDigits(point.value), point.name);
    }
}

void NameMatcher::Add(Index& index, const std::string& key, const std::string& name)
{
    if (key.empty()) return;
    std::vector<std::string>& names = index[key];
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
}

int NameMatcher::Lookup(const Index& index, const std::string& key, std::string& name)
{
    if (key.empty()) return 0;
    const auto found = index.find(key);
    if (found == index.end()) return 0;
    if (found->second.size() != 1) return -1;
    name = found->second.front();
    return 1;
}

std::string NameMatcher::NameOf(const std::string& address) const
{
    std::string name;
    if (IsEmail(address)) return Lookup(m_email, Lower(address), name) == 1 ? name : "";
    // Each step decides when it finds anything: one name, or none because several match.
    for (int step = 0; step < 3; ++step) {
        const int found = step == 0   ? Lookup(m_exact, address, name)
                          : step == 1 ? Lookup(m_e164, E164Number(address, m_region), name)
                                      : Lookup(m_lastDigits, LastDigits(address), name);
        if (found != 0) return found == 1 ? name : "";
    }
    return "";
}

std::string PhoneRegion(const std::string& requested, const ContactBook* book)
{
    if (!requested.empty()) return Upper(requested);
    const MessageStore& store = g_store;
    if (store.currentReader != nullptr && !store.currentReader->m_regionHint.empty()) {
        return Upper(store.currentReader->m_regionHint);
    }
    // Android messages carry their own numbers beside the threads'; the contacts keep numbers
    // as typed and (Android) in the E.164 form the phone made with its own country.
    std::set<std::string> numbers;
    for (std::int32_t i = 1; i < store.conversationCount; ++i) numbers.insert(store.conversations[i].address);
    if (store.currentReader != nullptr && store.currentReader->m_deviceKind == kDeviceAndroid) {
        for (std::int32_t i = 0; i < store.liveMessageCount; ++i) numbers.insert(store.liveMessages[i].address);
    }
    if (book != nullptr) {
        for (const ContactPoint& point : book->points) {
            numbers.insert(point.value);
            numbers.insert(point.e164);
        }
    }
    return RegionOfNumbers({numbers.begin(), numbers.end()});
}

std::int32_t NameConversations(const ContactBook& book, const std::string& region)
{
    const NameMatcher matcher(book, region);
    MessageStore& store = g_store;
    std::int32_t named = 0;
    store.conversations[0].name.clear();
    for (std::int32_t i = 1; i < store.conversationCount; ++i) {
        ContactRecord& entry = store.conversations[i];
        if (entry.isGroup != 0) {
            // A group is named by its members; the row counts as named when any of them is.
            entry.memberNames.assign(entry.members.size(), std::string());
            for (std::size_t k = 0; k < entry.members.size(); ++k) entry.memberNames[k] = matcher.NameOf(entry.members[k]);
            if (std::any_of(entry.memberNames.begin(), entry.memberNames.end(), [](const std::string& n) { return !n.empty(); })) ++named;
            continue;
        }
        entry.name = matcher.NameOf(entry.address);
        if (!entry.name.empty()) ++named;
    }
    return named;
}

NamingResult NameFromContacts(const std::string& path, const std::string& requested)
{
    NamingResult result;
    const std::optional<ContactBook> book = ReadContactBook(path, result.error);
    if (!book) return result;
    result.region = PhoneRegion(requested, &*book);
    result.named = NameConversations(*book, result.region);
    result.conversations = g_store.conversationCount - 1;
    result.people = book->people;
    return result;
}
