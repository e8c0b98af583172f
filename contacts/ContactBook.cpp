// Reading Android's contacts2.db and the iPhone's AddressBook.sqlitedb into one list of
// numbers and addresses with their people's names.
#include "contacts/ContactBook.h"

#include <sqlite3.h>

#include <map>
#include <set>
#include <string_view>

#include "readers/DatabaseOpen.h"
#include "store/SqliteKit.h"

namespace {

constexpr const char* kPhoneType = "vnd.android.cursor.item/phone_v2";
constexpr const char* kEmailType = "vnd.android.cursor.item/email_v2";
constexpr const char* kNameType = "vnd.android.cursor.item/name";

// The lower-cased names of a table's columns; empty when there is no such table.
std::set<std::string> ColumnsOf(sqlite3* db, std::string_view table)
{
    std::set<std::string> columns;
    Statement info(db, "PRAGMA table_info(\"" + std::string(table) + "\");");
    while (info.Step()) {
        std::string name = info.Text(1);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        columns.insert(std::move(name));
    }
    return columns;
}

// `column` when the table has it, else `otherwise` (a constant or another column).
std::string Either(const std::set<std::string>& columns, const std::string& column, const std::string& otherwise)
{
    return columns.contains(column) ? column : otherwise;
}

void CountPeople(ContactBook& book)
{
    std::set<std::int64_t> people;
    for (const ContactPoint& point : book.points) people.insert(point.person);
    book.people = static_cast<std::int32_t>(people.size());
}

// Android: the phone and e-mail rows of `data`, named by their raw contact's display name (or
// its structured-name row), grouped by the contact the phone aggregated them into. Raw
// contacts marked deleted (waiting for their account to sync) are left out.
void ReadAndroidBook(sqlite3* db, ContactBook& book)
{
    const std::set<std::string> raw = ColumnsOf(db, "raw_contacts");
    struct Person {
        std::int64_t contact = 0;
        std::string name;
    };
    std::map<std::int64_t, Person> people;
    if (!raw.empty()) {
        Statement rows(db, "SELECT _id, " + Either(raw, "contact_id", "_id") + ", " + Either(raw, "display_name", "NULL") +
                           ", " + Either(raw, "deleted", "0") + " FROM raw_contacts;");
        while (rows.Step()) {
            if (rows.Int(3) != 0) continue;
            people[rows.Int(0)] = {rows.Int(1) != 0 ? rows.Int(1) : rows.Int(0), rows.Text(2)};
        }
    }
    const std::string typed = "SELECT d.raw_contact_id, m.mimetype, d.data1, " +
                              Either(ColumnsOf(db, "data"), "data4", "NULL") +
                              " FROM data d JOIN mimetypes m ON m._id = d.mimetype_id WHERE m.mimetype IN ('" + kPhoneType +
                              "', '" + kEmailType + "', '" + kNameType + "') ORDER BY d._id;";
    std::vector<std::pair<std::int64_t, ContactPoint>> points;
    Statement rows(db, typed);
    while (rows.Step()) {
        const std::int64_t rawId = rows.Int(0);
        const std::string type = rows.Text(1);
        if (!raw.empty() && !people.contains(rawId)) continue;  // a deleted raw contact
        Person& person = people.try_emplace(rawId, Person{rawId, ""}).first->second;
        if (type == kNameType) {
            if (person.name.empty()) person.name = rows.Text(2);
            continue;
        }
        ContactPoint point;
        point.value = rows.Text(2);
        point.email = type == kEmailType;
        if (!point.email) point.e164 = rows.Text(3);
        if (!point.value.empty()) points.emplace_back(rawId, std::move(point));
    }
    for (auto& [rawId, point] : points) {
        const Person& person = people[rawId];
        if (person.name.empty()) continue;
        point.person = person.contact;
        point.name = person.name;
        book.points.push_back(std::move(point));
    }
}

// The iPhone: ABMultiValue rows of the phone (3) and e-mail (4) properties, named "First
// Last" of their ABPerson, else its organisation.
void ReadIphoneBook(sqlite3* db, ContactBook& book)
{
    const std::set<std::string> person = ColumnsOf(db, "abperson");
    const std::string sql = "SELECT p.ROWID, " + Either(person, "first", "NULL") + ", " + Either(person, "last", "NULL") +
                            ", " + Either(person, "organization", "NULL") +
                            ", v.property, v.value FROM ABMultiValue v JOIN ABPerson p ON p.ROWID = v.record_id "
                            "WHERE v.property IN (3, 4) ORDER BY v.UID;";
    Statement rows(db, sql);
    while (rows.Step()) {
        std::string name = rows.Text(1);
        if (const std::string last = rows.Text(2); !last.empty()) name += (name.empty() ? "" : " ") + last;
        if (name.empty()) name = rows.Text(3);
        ContactPoint point{rows.Int(0), std::move(name), rows.Text(5), "", rows.Int(4) == 4};
        if (!point.name.empty() && !point.value.empty()) book.points.push_back(std::move(point));
    }
}

}  // namespace

std::optional<ContactBook> ReadContactBook(const std::string& path, std::string& error)
{
    sqlite3* db = nullptr;
    DatabaseReading reading(path, db);
    if (!reading.Opened()) {
        error = "the contacts '" + path + "' cannot be read: " + (db != nullptr ? sqlite3_errmsg(db) : "it cannot be opened");
        return std::nullopt;
    }
    ContactBook book;
    book.path = path;
    if (!ColumnsOf(db, "abmultivalue").empty() && !ColumnsOf(db, "abperson").empty()) {
        book.kind = kDeviceIphone;
        ReadIphoneBook(db, book);
    } else if (!ColumnsOf(db, "data").empty() && !ColumnsOf(db, "mimetypes").empty()) {
        book.kind = kDeviceAndroid;
        ReadAndroidBook(db, book);
    } else {
        const bool sqlite = sqlite3_exec(db, "SELECT count(*) FROM sqlite_master;", nullptr, nullptr, nullptr) == SQLITE_OK;
        error = "'" + path + "' is " + (sqlite ? "" : "no SQLite database, so ") +
                "neither an Android contacts database (contacts2.db) nor an iPhone address book (AddressBook.sqlitedb)";
        return std::nullopt;
    }
    CountPeople(book);
    return book;
}
