// A phone's address book as Kestrow needs it: every phone number and e-mail address of every
// person, with the person's name. Read from Android's contacts2.db or the iPhone's
// AddressBook.sqlitedb, through the same read-only opening as the message databases.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "store/Sms.h"

// One number or e-mail address of one person.
struct ContactPoint {
    std::int64_t person = 0;  // the person's id in the book (Android: the aggregated contact)
    std::string name;         // the name the phone shows for the person
    std::string value;        // the number or address as it was typed
    std::string e164;         // Android: the phone's own E.164 form of the number, when stored
    bool email = false;
    bool operator==(const ContactPoint&) const = default;
};

struct ContactBook {
    std::string path;
    DeviceKind kind = kDeviceAndroid;  // which phone's book it is
    std::vector<ContactPoint> points;
    std::int32_t people = 0;  // persons with a name and at least one number or address
};

// Reads the book at `path`; nothing, with `error` naming the file and the reason, when it is
// neither kind of book or cannot be read. Nothing on disk changes.
std::optional<ContactBook> ReadContactBook(const std::string& path, std::string& error);
