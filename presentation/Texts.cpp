// The shared texts.
#include "presentation/Texts.h"

#include "store/MessageStore.h"

#include <filesystem>

#include "store/MessageRecords.h"
#include "store/Sms.h"
#include "store/TimeText.h"

std::string English(const char* text) { return text; }

std::string PlacesList(const std::vector<FindPlace>& places, bool namesOnly)
{
    std::string text;
    for (const FindPlace& place : places) {
        text += text.empty() ? "" : "; ";
        text += Utf8ToAnsiString(namesOnly ? std::filesystem::path(place.file).filename().string() : place.file);
        if (place.page != 0) text += " page " + std::to_string(place.page);
        text += " at byte " + std::to_string(place.offset) + " (" + PlaceText(place.where) + ")";
    }
    return text;
}

std::string Fill(const std::string& pattern, std::initializer_list<std::string> values)
{
    std::string out;
    auto next = values.begin();
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && (pattern[i + 1] == 's' || pattern[i + 1] == 'd')) {
            if (next != values.end()) out += *next++;
            ++i;
            continue;
        }
        out += pattern[i];
    }
    return out;
}

std::string QuantityText(std::int32_t messageCount, std::int32_t recoveredCount)
{
    if (recoveredCount == 0) return std::to_string(messageCount);
    return std::to_string(messageCount) + "(" + std::to_string(recoveredCount) + ")";
}

std::string ExportQuantityText(std::int32_t messageCount, std::int32_t recoveredCount)
{
    if (recoveredCount <= 0) return std::to_string(messageCount);
    return std::to_string(messageCount) + " (" + std::to_string(recoveredCount) + ")";
}

bool HasMessages(const ContactRecord& conversation) { return conversation.messageCount + conversation.recoveredCount > 0; }

std::string ScanFailureSentence(const ScanReport& scan, const Translator& tr)
{
    if (scan.noSchema) return tr("The message table could not be read, so deleted messages cannot be recognised.");
    if (!scan.error.empty()) return Fill(tr("The file %s could not be read: %s."), {scan.scannedPath, scan.error});
    return "";
}

std::string PageSizeSentence(const ScanReport& scan, const Translator& tr)
{
    if (scan.pageSizeNote.empty()) return "";
    if (scan.pageSizeField < 0) return tr("The file is shorter than a database header, so 4096-byte pages were used.");
    return Fill(tr("The header's page size field holds %d, which is not a page size, so 4096-byte pages were used."),
                {std::to_string(scan.pageSizeField)});
}

std::string NoCandidatesSentence(const ScanReport& scan, const Translator& tr)
{
    return scan.noCandidates && !scan.deep ? tr("No record of the expected form was found; try the deep recovery.") : "";
}

std::string ScanProblemSentences(const ScanReport& scan, const Translator& tr)
{
    std::string sentences;
    for (const std::string& sentence : {ScanFailureSentence(scan, tr), PageSizeSentence(scan, tr), NoCandidatesSentence(scan, tr)}) {
        if (!sentence.empty()) sentences += (sentences.empty() ? "" : " ") + sentence;
    }
    return sentences;
}

std::string DeepSourcesSentence(const ScanReport& scan, const Translator& tr)
{
    std::string files;
    for (const ScannedSource& source : scan.sources) {
        if (!source.note.empty()) continue;
        if (!files.empty()) files += ", ";
        files += std::filesystem::path(source.path).filename().string();
    }
    return files.empty() ? "" : Fill(tr("The deep recovery read %s."), {files});
}

std::string RecoveredCountSentence(std::int32_t recoveredCount, const Translator& tr)
{
    return Fill(tr("Totally %d short messages are successfully recovered."), {std::to_string(recoveredCount)});
}

std::string DiscardedSentence(const ScanReport& scan, const Translator& tr)
{
    if (scan.discarded <= 0) return "";
    if (scan.discarded == 1) return tr("1 fragment that is not a message was left out.");
    return Fill(tr("%s fragments that are not messages were left out."), {std::to_string(scan.discarded)});
}

std::string RecoverySummaryText(std::int32_t recoveredCount, const ScanReport& scan, const Translator& tr)
{
    const std::string note =
        tr("Note: short message recovery is not 100% successful, and the new messages might cover the deleted data "
           "blocks randomly, ") +
        tr("so the time and mobile phone number of the short message recovered might be incorrect, or it is unable "
           "to obtain the time and mobile phone number. ") +
        tr("The red line means that the friend has deleted messages, the number of short message successfully "
           "recovered is displayed in the brackets, ");
    std::string text = RecoveredCountSentence(recoveredCount, tr);
    if (scan.deep) {
        if (const std::string sources = DeepSourcesSentence(scan, tr); !sources.empty()) text += " " + sources;
    }
    if (const std::string problem = ScanProblemSentences(scan, tr); !problem.empty()) text += " " + problem;
    if (const std::string left = DiscardedSentence(scan, tr); !left.empty()) text += "\n" + left;
    return text + "\n" + note;
}

std::string LoadWarningSentence(const LoadWarning& warning, const Translator& tr)
{
    switch (warning.kind) {
    case LoadWarning::Kind::LogNotApplied:
        return Fill(tr("The log %s could not be applied (%s): results show the main file only."),
                    {warning.file, warning.reason});
    case LoadWarning::Kind::Truncated:
        return Fill(tr("The file %s is damaged or truncated: %s of %s pages present; the messages before the damage "
                       "are shown and recovery reads every byte there is."),
                    {warning.file, std::to_string(warning.pagesPresent), std::to_string(warning.pagesExpected)});
    case LoadWarning::Kind::Damaged:
        return Fill(tr("The file %s is damaged: the messages before the damage are shown and recovery reads every "
                       "byte there is."),
                    {warning.file});
    case LoadWarning::Kind::HeaderMended:
        return Fill(tr("The header of %s is damaged (%s): it was mended in memory to read the file, which is unchanged."),
                    {warning.file, warning.reason});
    }
    return "";
}

std::string OpenNoticeText(OpenProblem problem, const std::string& path, const Translator& tr)
{
    std::string text;
    if (const CSms* reader = g_store.currentReader.get(); reader != nullptr) {
        for (const LoadWarning& warning : reader->m_loadWarnings) text += LoadWarningSentence(warning, tr) + "\n";
    }
    if (problem != OpenProblem::None) text += OpenProblemSentence(path, problem, tr) + "\n";
    if (!text.empty()) text.pop_back();
    return text;
}

std::string OpenProblemSentence(const std::string& path, OpenProblem problem, const Translator& tr)
{
    switch (problem) {
    case OpenProblem::None: return "";
    case OpenProblem::Encrypted:
        return Fill(tr("The file %s is encrypted (its bytes look random; the files of an encrypted backup must be "
                       "decrypted first), so no messages can be read from it."),
                    {path});
    case OpenProblem::NotSqlite:
        return Fill(tr("The file %s is not an SQLite 3 database, so no messages can be read from it."), {path});
    case OpenProblem::NoAndroidTables:
        return Fill(tr("The file %s has no Android message tables (sms and canonical_addresses), so no messages can "
                       "be read from it."),
                    {path});
    case OpenProblem::NoIphoneTables:
        return Fill(tr("The file %s has no iPhone message tables (message and handle), so no messages can be read "
                       "from it."),
                    {path});
    }
    return "";
}
