// Which contact a message address belongs to. An address matches a contact's number exactly;
// else when both, read as numbers of the phone's region, are the same E.164 number; else when
// their last seven digits agree (the rule Android's own lookup falls back to). E-mail
// addresses match without regard to case. Where one step finds contacts of different names,
// the address gets none: a name is shown only when it is certain.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "contacts/ContactBook.h"

class NameMatcher {
public:
    // `region`: the phone's two-letter region (upper case), or empty when unknown (then only
    // numbers written with their country code are read as E.164).
    NameMatcher(const ContactBook& book, std::string region);
    // The name of the address's contact; empty when none matches or the match is ambiguous.
    std::string NameOf(const std::string& address) const;

private:
    using Index = std::unordered_map<std::string, std::vector<std::string>>;  // key → distinct names
    static void Add(Index& index, const std::string& key, const std::string& name);
    // The one name under `key`: 1 found, 0 none, -1 several.
    static int Lookup(const Index& index, const std::string& key, std::string& name);

    std::string m_region;
    Index m_exact, m_email, m_e164, m_lastDigits;
};

// The E.164 form of `number` read in `region`; empty when it is not a phone number.
std::string E164Number(const std::string& number, const std::string& region);
// Whether libphonenumber knows the two-letter region (any case).
bool KnownRegion(const std::string& region);
// The region most of the +-prefixed numbers belong to, each number counted once however it is
// written (the Android phone's region, guessed from its messages); empty when none is; on a
// tie the first in alphabetical order.
std::string RegionOfNumbers(const std::vector<std::string>& numbers);

// The region to read the current phone's numbers in: `requested` (upper-cased) when given; else
// the iPhone's own hint (its handles' country); else the region of most +-prefixed numbers of
// its conversations, (Android) messages and `book`, each number counted once; else empty.
std::string PhoneRegion(const std::string& requested, const ContactBook* book = nullptr);

// Names the conversations of the store (entries 1 on) from `book`, read in `region`; the
// catch-all entry keeps none. Returns how many conversations got a name.
std::int32_t NameConversations(const ContactBook& book, const std::string& region);

// What naming the current conversations from a contacts database came to.
struct NamingResult {
    std::string error;  // why the contacts could not be read; empty when they were
    std::int32_t named = 0, conversations = 0, people = 0;
    std::string region;  // the region the numbers were read in; empty: international ones only
};
// Reads the contacts at `path` and names the store's conversations from them, in the region
// `requested` (else the phone's own, see PhoneRegion).
NamingResult NameFromContacts(const std::string& path, const std::string& requested = {});
