// Contact names: both phones' address books read alike, each matching rule and its refusal of
// ambiguous matches, the phone's region guessed from its numbers, and books that are none.
#include <gtest/gtest.h>

#include <fstream>

#include "StoreHelpers.h"
#include "contacts/ContactBook.h"
#include "contacts/NameMatching.h"

namespace {

// People whose numbers are written as people type them, read in region CN.
const std::vector<fixtures::Person> kPeople = {
    {"Li Wei", {"138 1234 5678"}, {}},
    {"Wang Fang", {"(415) 555-0123"}, {}},
    {"Chen Mei", {"+86 139 8765 4321"}, {"Mei.Chen@iCloud.com"}},
    {"China Mobile", {"10086"}, {}},
    {"Alex Brown", {"+1 512-555-0199"}, {}},
    {"Sam Brown", {"+1 512-555-0199"}, {}},   // the same number: names neither
    {"Camille Martin", {"06 12 34 56 78"}, {}},  // a French number typed locally
    {"Li Wei", {"+86 186 0000 1111"}, {}},     // a second card of the same name still names
};

struct Expected {
    const char* address;
    const char* name;
};

// exact; the same E.164 number; the last seven digits; e-mail in any case; ambiguity; none.
const Expected kExpected[] = {
    {"10086", "China Mobile"},          {"+8613812345678", "Li Wei"}, {"13812345678", "Li Wei"},
    {"13987654321", "Chen Mei"},        {"+14155550123", "Wang Fang"}, {"mei.chen@icloud.com", "Chen Mei"},
    {"+15125550199", ""},               {"+33612345678", ""},  // last seven digits shared with Li Wei's
    {"18600001111", "Li Wei"},          {"95588", ""},          {"AMAZON", ""}, {"", ""},
};

class ContactsTest : public FreshStore, public ::testing::WithParamInterface<bool> {};

TEST_P(ContactsTest, EachRuleNamesOnlyWhenCertainInBothPhonesBooks)
{
    const bool iphone = GetParam();
    const auto path = m_dir / (iphone ? "AddressBook.sqlitedb" : "contacts2.db");
    if (iphone) {
        fixtures::WriteIphoneAddressBook(path, kPeople);
    } else {
        fixtures::WriteAndroidContacts(path, kPeople);
    }
    const auto before = fixtures::SnapshotFolder(m_dir.Path());
    std::string error;
    const std::optional<ContactBook> book = ReadContactBook(path.string(), error);
    ASSERT_TRUE(book) << error;
    EXPECT_EQ(book->kind, iphone ? kDeviceIphone : kDeviceAndroid);
    EXPECT_EQ(book->points.size(), 9u);  // Chen Mei has a number and an address
    const NameMatcher matcher(*book, "cn");
    for (const Expected& e : kExpected) EXPECT_EQ(matcher.NameOf(e.address), e.name) << e.address;
    EXPECT_TRUE(fixtures::SnapshotFolder(m_dir.Path()) == before);
}

INSTANTIATE_TEST_SUITE_P(BothPhones, ContactsTest, ::testing::Values(false, true),
                         [](const auto& info) { return std::string(info.param ? "Iphone" : "Android"); });

TEST(RegionTest, MostDistinctNumbersWithACountryCodeDecide)
{
    // Three ways of writing one German number count once; two US numbers win; no + no vote.
    EXPECT_EQ(RegionOfNumbers({"+491701234567", "+49 170 1234567", "+49 (170) 123-4567", "+14155550123", "+15125550199",
                               "13812345678", "13987654321", "13700137000"}),
              "US");
    EXPECT_EQ(RegionOfNumbers({"+33612345678", "+491701234567"}), "DE");  // a tie: the first by name
    EXPECT_EQ(RegionOfNumbers({"10086", "not a number", "+"}), "");
    EXPECT_TRUE(KnownRegion("cn"));
    EXPECT_FALSE(KnownRegion("XX"));
    EXPECT_EQ(E164Number("0170 1234567", "DE"), "+491701234567");
    EXPECT_EQ(E164Number("AMAZON", "CN"), "");  // a sender's name is no number
}

class ContactBookTest : public FreshStore {};

TEST_F(ContactBookTest, ABookThatIsNoneSaysSoAndNamesTheFile)
{
    const auto messages = m_dir / "sms.db";
    fixtures::PhoneDb::Iphone(messages);
    std::ofstream(m_dir / "garbage.db") << "not a database at all";
    std::string error;
    for (const auto& [path, said] : {std::pair{messages, "neither an Android contacts database"},
                                     std::pair{m_dir / "garbage.db", "no SQLite database"},
                                     std::pair{m_dir / "missing.db", "cannot be read"}}) {
        error.clear();
        EXPECT_FALSE(ReadContactBook(path.string(), error));
        EXPECT_NE(error.find(said), std::string::npos) << error;
        EXPECT_NE(error.find(path.string()), std::string::npos) << error;
    }
}

}  // namespace
