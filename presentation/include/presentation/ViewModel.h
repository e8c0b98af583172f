// What the main window shows, computed without a display: the conversation list's rows, the
// message view's coloured runs, and the window's fixed texts. The window code only puts these
// on screen, and tests check them here.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "presentation/ConversationView.h"
#include "presentation/Texts.h"
#include "query/Search.h"
#include "store/MessageRecords.h"

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb&) const = default;
};

constexpr Rgb kLiveHeadingColour{38, 129, 27};  // green heading of a live message
constexpr Rgb kLiveBodyColour{20, 20, 20};      // dark grey text of a live message
constexpr Rgb kRecoveredColour{255, 0, 0};      // heading and text of a recovered message
constexpr Rgb kRecoveredRowColour{255, 0, 0};   // list rows that gained recovered messages

struct TextRun {
    std::string text;
    Rgb colour;
    bool operator==(const TextRun&) const = default;
};

// The message view for conversation `c`: per message a heading line ("name time\n") and its
// text followed by a blank line ("\n\n"), in time order, coloured by live or recovered. Empty
// when the conversation has no message (or no reader is current).
// Names and texts that hold right-to-left letters or direction controls are isolated (U+2068
// first-strong isolate … U+2069 pop, line by line) so that they never turn the lines after
// them around; a recovered message's heading ends with where it was found and "[truncated]".
std::vector<TextRun> ConversationRuns(std::int32_t c, const MessageFilter& filter = {});
// The status bar's text: "mmssms.db — 12 conversations, 301 messages, 3 recovered — Times in
// Europe/Berlin, UTC+01:00"; the zone alone before a database is open.
// A filter that hides messages adds what the view shows ("sent messages only").
std::string StatusText(const std::string& databasePath, const Translator& tr = English, const MessageFilter& filter = {});

// One row of the search results: the conversation, the time, the text around the hit and
// whether the message was recovered.
struct SearchRow {
    std::string conversation, time, context, recovered;
    bool operator==(const SearchRow&) const = default;
};
std::vector<SearchRow> SearchRows(const std::vector<SearchHit>& hits, const Translator& tr = English);

// Where a search hit stands in the view of its conversation (runs as ConversationRuns(row)
// gives them): the heading run of its message, and the hit's first and past-the-end
// characters (the whole body when the number or name matched). Nothing when the message is
// not in that conversation.
struct HitPlace {
    std::size_t headingRun = 0;
    long from = 0, to = 0;
};
std::optional<HitPlace> PlaceOfHit(const std::vector<TextRun>& runs, const SearchHit& hit, const MessageFilter& filter = {});

// The message of the view that holds character `offset` (runs as ConversationRuns gives them):
// its index among the conversation's messages; nothing past the end.
std::optional<std::size_t> MessageAtCharacter(const std::vector<TextRun>& runs, long offset);
// What the view's context menu copies of a message: its text, or its heading and its text.
std::string MessageCopyText(const ShownMessage& shown, bool withHeading);

// The run a conversation opens at: the heading of its first recovered message, else the top.
std::size_t FirstRunToShow(const std::vector<TextRun>& runs);
// `text` with each line isolated for bidirectional layout when it holds right-to-left
// letters or direction controls; as it is otherwise.
std::string IsolatedForLayout(const std::string& text);
// "found in mmssms.db-wal, page 12, freeblock" (and "and N more places"); empty without places.
std::string FoundInText(const MessageRecord& m);

struct ListRow {
    std::string address;
    std::string recentTime;
    std::string quantity;  // "%d", or "%d(%d)" when messages were recovered
    bool red = false;      // the entry has recovered messages
    std::string name{};    // the partner's name in the contacts; empty when none
    bool operator==(const ListRow&) const = default;
};

// One row per conversation-table entry, in table order; the catch-all entry's name in the
// shown language.
std::vector<ListRow> ConversationRows(const Translator& tr = English);

// The vendor's pages (one constant host).
inline constexpr const char* kVendorHost = "www.kestrow.example";
std::string UsagePageAddress();  // "http://" + host + "/kestrow.htm"

// The introduction shown before any conversation, ending in the usage page written without a
// scheme, which link detection turns into a link.
std::string IntroductionText(const Translator& tr = English);

// The Open command's file filters (GTK's patterns are case-sensitive) and its message.
inline constexpr const char* kOpenFileFilter = "SMS database file (*.db)|*.[dD][bB]|All files|*";
// The same with its descriptions in the shown language.
std::string OpenFileFilter(const Translator& tr = English);
std::string WrongFileText(const Translator& tr = English);
// The Load contacts command's file filters: both phones' contacts databases, and all files.
std::string ContactsFileFilter(const Translator& tr = English);
inline constexpr const char* kApplicationName = "Kestrow";

// What a link clicked in a message may do: open after the user confirmed the whole address
// (http, https, mailto), or never (file: and every other scheme: the evidence must not start
// programs or open the examiner's files).
enum class LinkUse { OpenAfterConfirming, Refuse };
LinkUse LinkUseOf(const std::string& address);
// The question shown before a link from the evidence opens, with the whole address.
std::string OpenLinkQuestion(const std::string& address, const Translator& tr = English);
// The context menu's item for an attachment: "Open “NAME”…".
std::string OpenAttachmentItem(const Attachment& a, const Translator& tr = English);
// Asked before an attachment is handed to the desktop's program.
std::string OpenAttachmentQuestion(const Attachment& a, const Translator& tr = English);
// Said when an attachment's file is not at hand.
std::string MissingAttachmentText(const Attachment& a, const Translator& tr = English);
// A path as it may stand in an address: bytes other than ASCII letters, digits and "/-._~"
// percent-encoded.
std::string EscapedPath(const std::string& path);
// A file's address for the desktop ("file:///…", each byte that may not stand in one escaped).
std::string FileAddress(const std::string& path);
std::string RefusedLinkText(const std::string& address, const Translator& tr = English);

// The address a clicked link opens: as it stands when it begins with a scheme (http://,
// https://, file://, mailto: and the like), else with "http://" before it.
std::string LinkAddress(const std::string& linkText);

// The progress window's time line with whole seconds and the truncated tenth: "12.3 s
// elapsed" in English, "耗时12.3秒" in Chinese.
std::string ElapsedText(std::uint32_t elapsedMilliseconds, const Translator& tr = English);
// The progress window's title.
inline constexpr const char* kProgressTitle = Translatable("Recovering…");

// The export dialog's rows: like the main list, but "%d (%d)" with a space.
std::vector<ListRow> ExportRows(const Translator& tr = English);

inline constexpr const char* kOpenFirstText = Translatable("Please open SMS database file at first.");
inline constexpr const char* kSelectFriendText = Translatable("Please select at least one friend to export.");
// Added to the export's summary when the evidence changed after it was opened.
inline constexpr const char* kEvidenceChangedText =
    Translatable("Warning: the database's files changed after it was opened. The report says which.");
// The export dialog's formats, in the order of ExportFormat.
inline constexpr const char* kExportFormatNames[] = {Translatable("Text"), Translatable("HTML"), Translatable("CSV"),
                                                    Translatable("JSON")};
