// The two record types of the message store: one conversation partner and one message.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// One conversation (conversation partner). Entry 0 of the table is the catch-all entry.
struct ContactRecord {
    std::string address;        // partner's number or address as displayed; entry 0: catch-all name
    std::int64_t recentTime = 0;  // raw time of the newest message, unit of its database; 0 = none
    std::int32_t messageCount = 0;    // live messages of this conversation
    std::int32_t recoveredCount = 0;  // recovered messages attributed to it
    std::string key;            // iPhone: the handle's row id as decimal text; Android: empty
    std::int32_t isCatchAll = 0;  // 1 for entry 0 only
    // The entry's identity for the load that made it: its index at creation (0 for the
    // catch-all entry). Sorting moves it with the entry; live messages refer to it.
    std::int32_t entryId = 0;
    std::string name{};  // the partner's name in the phone's contacts; empty when none is known
    // A group conversation (an Android thread or an iPhone chat of several partners): its
    // members' addresses as stored, ascending, and their names (same order, empty when unknown).
    // `address` is then the group's title: the chat's name, else the members joined by ", ".
    std::int32_t isGroup = 0;
    std::vector<std::string> members{};
    std::vector<std::string> memberNames{};
    // Messages of the phone's "Recently Deleted" counted here (shown red with the recovered).
    std::int32_t keptDeletedCount = 0;
    // For reports: the address as the phone stored it (`address` is as shown: "+86" removed),
    // a group's members as stored (in the order of `members`), and the group's own name (the
    // chat's name the user gave it; empty when it has none).
    std::string storedAddress{};
    std::vector<std::string> storedMembers{};
    std::string title{};
    // iPhone: every handle key of the person (one per service the address was used with; the
    // first is `key`); empty for groups, the catch-all entry and Android.
    std::vector<std::string> keys{};

    bool operator==(const ContactRecord&) const = default;
};

// A group conversation's title: its name when it has one, else its members joined by ", ".
std::string GroupTitle(const std::string& name, const std::vector<std::string>& members);

// Where in the files a recovered message's bytes were found (deep recovery).
enum class PlaceKind : std::uint8_t {
    CellInUse,        // a cell of a table page (an older version, or a row deleted since)
    Freeblock,        // a freed cell on its page's chain of free blocks
    Unallocated,      // the gap between a page's cell pointers and its cells
    FreelistPage,     // a page on the database's list of free pages
    OlderLogVersion,  // a version of a page in the write-ahead log older than its latest
    JournalPage,      // a page image kept by the rollback journal
    Unstructured,     // bytes outside any whole page (the end of a file)
};

// The words reports use for a place: "cell in use", "freeblock", "unallocated space",
// "freelist page", "older page version in the log", "journal page", "outside any page".
const char* PlaceText(PlaceKind kind);

struct FindPlace {
    std::string file;          // the file that holds the bytes
    std::int64_t offset = 0;   // of the record (its header-size byte) in that file
    std::int64_t page = 0;     // page number in the database (for a log frame or a journal
                               // record, the page it holds); 0 when outside any page
    PlaceKind where = PlaceKind::Unstructured;
    bool operator==(const FindPlace&) const = default;
};

// What carried a message: the Android sms or pdu table, the iPhone's service.
enum class MessageKind : std::uint8_t { Sms, Mms, IMessage, Rcs, Other };
// "sms", "mms", "imessage", "rcs", "other".
const char* MessageKindText(MessageKind kind);
// The kind an iPhone message's `service` names ("SMS", "iMessage", "RCS", any letter case);
// Other for another name.
MessageKind ServiceKindNamed(std::string_view service);

// Whether a message went as it should. Received and sent messages are Ok.
enum class MessageStatus : std::uint8_t { Ok, Draft, Outbox, Failed, Queued, NotSent, NotDownloaded };
// "ok", "draft", "outbox", "failed", "queued", "not sent", "not downloaded".
const char* MessageStatusText(MessageStatus status);
// An Android MMS's status by its box (msg_box: 3 drafts, 4 outbox, 5 failed) and its type
// (m_type 130: not yet downloaded).
MessageStatus MmsStatus(std::int64_t box, std::int64_t type);

// A file sent with a message. The file itself lives outside the database.
struct Attachment {
    std::string name;          // as sent (transfer name, part name or file name); may be empty
    std::string mime;          // content type as stored; may be empty
    std::int64_t size = -1;    // bytes as the database states them; -1 when unknown
    std::string file;          // the path the phone stores ("~/Library/SMS/Attachments/…", "/data/…/app_parts/…")
    bool present = false;      // the file is at hand beside the database or in the source
    std::string at{};          // where it was found, when present
    bool operator==(const Attachment&) const = default;
};

// A tapback on a message: "Loved", "Liked", ... by whom ("" for the phone's owner).
struct Reaction {
    std::string what;
    std::string by;
    bool operator==(const Reaction&) const = default;
};

// What few messages have (a subject, files, tapbacks, edits, a delete time), kept apart so
// that the many plain messages stay small.
// Another version of a recovered row (an older page version, a journal's copy) whose columns
// differ from those the message shows: where it was found and its values.
struct RowVersion {
    FindPlace place;
    std::int64_t time = 0;
    std::string address, body;
    std::int32_t fromMe = 0;
    bool operator==(const RowVersion&) const = default;
};

struct MessageDetails {
    std::string subject;
    std::vector<Attachment> attachments;
    std::vector<Reaction> reactions;
    std::vector<std::string> earlierVersions;  // texts before the edits, oldest first
    std::int64_t deletedTime = 0;              // "Recently Deleted": when (s since 2001)
    std::vector<RowVersion> versions;          // a recovered row's other versions
    bool operator==(const MessageDetails&) const = default;
};

// A value held on the heap only once it is written; read, an absent one is the empty value.
// Copies copy the value; equality compares values.
template <typename T>
class Boxed {
public:
    Boxed() = default;
    Boxed(const Boxed& other) : m_value(other.m_value ? std::make_unique<T>(*other.m_value) : nullptr) {}
    Boxed& operator=(const Boxed& other)
    {
        if (this != &other) m_value = other.m_value ? std::make_unique<T>(*other.m_value) : nullptr;
        return *this;
    }
    Boxed(Boxed&&) noexcept = default;
    Boxed& operator=(Boxed&&) noexcept = default;
    const T& operator*() const { return m_value ? *m_value : Empty(); }
    const T* operator->() const { return &**this; }
    T& Edit()
    {
        if (!m_value) m_value = std::make_unique<T>();
        return *m_value;
    }
    bool operator==(const Boxed& other) const { return **this == *other; }

private:
    static const T& Empty()
    {
        static const T empty{};
        return empty;
    }
    std::unique_ptr<T> m_value;
};

// One message, live or recovered.
struct MessageRecord {
    std::string body;
    std::int32_t fromMe = 0;     // 1 when the phone's owner sent it
    std::int64_t time = 0;       // Android: ms since 1970 UTC; iPhone: s since 2001 UTC; 0 = none
    std::string address;         // Android: partner's number; iPhone: handle key as decimal text
    std::int32_t spillFlag = 0;  // recovered only: carved record longer than page size - 35
    std::int32_t unassignedFlag = 0;  // recovered only: attributed to the catch-all entry
    // The entryId of the conversation that counts the message: for live messages the reader's
    // choice; for recovered ones only where their thread named it (Android finds whose address
    // matches no conversation); -1 otherwise.
    std::int32_t countedIn = -1;
    std::int64_t rowId = 0;  // the row's id in its table (_id, ROWID); 0 when unknown
    std::int64_t threadId = 0;  // Android: the row's thread_id; iPhone: a set-aside text's chat; 0 when unknown
    // Deep recovery only: every place the message was found, and whether its text was cut
    // short (the rest of a long message lay on overflow pages that are gone).
    std::vector<FindPlace> places;
    std::int32_t truncated = 0;

    // What the phones keep beyond the text. Defaults describe a plain SMS.
    MessageKind kind = MessageKind::Sms;
    MessageStatus status = MessageStatus::Ok;
    // One byte each: a large database holds hundreds of thousands of these records.
    std::uint8_t inGroup = 0;          // counted in a group conversation: it shows there only
    std::uint8_t recentlyDeleted = 0;  // iPhone "Recently Deleted": still in the database
    std::uint8_t edited = 0, unsent = 0;
    std::uint8_t chinaPrefix = 0;      // the stored address began with "+86" (removed in `address`)
    Boxed<MessageDetails> details{};

    bool operator==(const MessageRecord&) const = default;
};
