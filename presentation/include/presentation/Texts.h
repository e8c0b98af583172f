// The texts the window, the companion and every export share: quantities, the sentences of a
// recovery's summary, which conversations have messages. Written once, here. A text the
// window shows in the user's language passes through a Translator; the companion and the
// exports keep English.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "store/OpenRules.h"
#include "store/Sms.h"

struct ContactRecord;
struct FindPlace;
struct ScanReport;

// Turns one of the program's English texts (a gettext message id) into the language shown.
using Translator = std::function<std::string(const char* english)>;
// The English texts as they stand.
std::string English(const char* text);
// Marks an English text kept in a table or a constant and translated where it is shown, so
// that the catalogue check (xgettext's keyword) finds it beside the texts passed to tr().
constexpr const char* Translatable(const char* english) { return english; }

// `pattern` with its "%s" and "%d" replaced by `values` in order (texts, numbers already
// written out): translations may move words but keep the placeholders.
std::string Fill(const std::string& pattern, std::initializer_list<std::string> values);

// The quantity column: "5", or "5(2)" once 2 recovered messages are counted beside 5 live
// ones; the export dialog's form has a space: "5 (2)".
std::string QuantityText(std::int32_t messageCount, std::int32_t recoveredCount);
std::string ExportQuantityText(std::int32_t messageCount, std::int32_t recoveredCount);

// Whether a conversation "has messages" (live or recovered), for "Select friends who has msg"
// and the companion's --with-messages.
bool HasMessages(const ContactRecord& conversation);

// Why a scan could not run: no message table, or a file that could not be read; empty when it ran.
std::string ScanFailureSentence(const ScanReport& scan, const Translator& tr = English);
// Why the scan used 4096-byte pages instead of the header's page size; empty when it did not.
std::string PageSizeSentence(const ScanReport& scan, const Translator& tr = English);
// "No record of the expected form was found; try the deep recovery." when the default
// recovery found no candidate at all; empty otherwise.
std::string NoCandidatesSentence(const ScanReport& scan, const Translator& tr = English);
// All of the above that apply, for the summary after a recovery run.
std::string ScanProblemSentences(const ScanReport& scan, const Translator& tr = English);
// After a deep recovery: "The deep recovery read mmssms.db, mmssms.db-wal." (the files read).
std::string DeepSourcesSentence(const ScanReport& scan, const Translator& tr = English);

// Where a deep find was found: "mmssms.db page 2 at byte 6195 (freeblock); …", the files by
// their whole paths or, with `namesOnly`, by their names.
std::string PlacesList(const std::vector<FindPlace>& places, bool namesOnly);

// "Totally N short messages are successfully recovered."
std::string RecoveredCountSentence(std::int32_t recoveredCount, const Translator& tr = English);
// The message box after a recovery run: the count, what the scan read or could not do, then
// the note on how to read the result.
// "N fragments that are not messages were left out." after a recovery that left some out;
// empty otherwise.
std::string DiscardedSentence(const ScanReport& scan, const Translator& tr = English);

std::string RecoverySummaryText(std::int32_t recoveredCount, const ScanReport& scan, const Translator& tr = English);

// What a load could not read: "The log … could not be applied (…): results show the main file
// only.", "The file … is damaged or truncated: 42 of 126 pages present; …".
std::string LoadWarningSentence(const LoadWarning& warning, const Translator& tr = English);

// What the window says after Open: the current reader's load warnings, then why nothing could
// be read (`problem`), one per line; empty when the file was read whole.
std::string OpenNoticeText(OpenProblem problem, const std::string& path, const Translator& tr = English);

// Why nothing could be read from an opened file; empty for OpenProblem::None.
std::string OpenProblemSentence(const std::string& path, OpenProblem problem, const Translator& tr = English);
