// The list and view of the main window.
#include "ui/MainPanes.h"

#include <algorithm>

#include "platform/Language.h"

namespace {

wxColour ToColour(const Rgb& c) { return wxColour(c.r, c.g, c.b); }

}  // namespace

void InsertFittedColumns(CListCtrl& list, int phoneWidth, int timeWidth, int quantityWidth, int firstExtra)
{
    constexpr int kPadding = 16;  // room for the cell margins and the grid line
    auto fit = [&](int original, const wxString& sample) {
        return std::max(original, list.GetTextExtent(sample).GetWidth() + kPadding);
    };
    const wxString quantity = wxString::FromUTF8(platform::Tr("Quantity"));
    list.InsertColumn(0, wxString::FromUTF8(platform::Tr("Phone Number")), wxLIST_FORMAT_LEFT,
                      fit(phoneWidth, "+8613800000000") + firstExtra);
    list.InsertColumn(1, wxString::FromUTF8(platform::Tr("Recent Time")), wxLIST_FORMAT_LEFT,
                      fit(timeWidth, "2015-08-14 09:05:03"));
    list.InsertColumn(2, quantity, wxLIST_FORMAT_LEFT, std::max(fit(quantityWidth, "Quantity"), fit(quantityWidth, quantity)));
}

void SetUpConversationColumns(CListCtrl& list)
{
    list.DeleteAllItems();
    list.DeleteAllColumns();
    InsertFittedColumns(list, 100, 130, 80);
    // The partner's name from the contacts, after the three columns of the original list.
    list.InsertColumn(3, wxString::FromUTF8(platform::Tr("Name")), wxLIST_FORMAT_LEFT, 120);
}

void FillConversationRows(CListCtrl& list, const std::vector<ListRow>& rows)
{
    list.Freeze();
    list.DeleteAllItems();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const long row = list.InsertItem(static_cast<long>(i), wxString::FromUTF8(rows[i].address));
        list.SetItem(row, 1, wxString::FromUTF8(rows[i].recentTime));
        list.SetItem(row, 2, wxString::FromUTF8(rows[i].quantity));
        if (list.GetColumnCount() > 3) list.SetItem(row, 3, wxString::FromUTF8(rows[i].name));
        if (rows[i].red) list.SetItemTextColour(row, ToColour(kRecoveredRowColour));
    }
    list.Thaw();
}

void ShowRuns(CRichEditCtrl& view, const std::vector<TextRun>& runs, std::size_t showRun,
              std::optional<std::pair<long, long>> select)
{
    std::vector<ColouredText> coloured;
    coloured.reserve(runs.size());
    for (const TextRun& run : runs) coloured.push_back({run.text, ToColour(run.colour)});
    view.ReplaceWithRuns(coloured, showRun, select);
}

void AppendPlainText(CRichEditCtrl& view, const std::string& text)
{
    view.SetDefaultStyle(wxTextAttr());
    view.AppendText(wxString::FromUTF8(text));
}
