// The list and view of the main window.
#include "MainPanes.h"

#include <algorithm>

namespace {

wxColour ToColour(const Rgb& c) { return wxColour(c.r, c.g, c.b); }

}  // namespace

void SetUpConversationColumns(CListCtrl& list)
{
    list.DeleteAllItems();
    list.DeleteAllColumns();
    constexpr int kPadding = 16;  // room for the cell margins and the grid line
    auto fit = [&](int original, const char* sample) {
        return std::max(original, list.GetTextExtent(sample).GetWidth() + kPadding);
    };
    list.InsertColumn(0, "Phone Number", wxLIST_FORMAT_LEFT, fit(100, "+8613800000000"));
    list.InsertColumn(1, "Recent Time", wxLIST_FORMAT_LEFT, fit(130, "2015-08-14 09:05:03"));
    list.InsertColumn(2, "Quantity", wxLIST_FORMAT_LEFT, fit(80, "Quantity"));
}

void FillConversationRows(CListCtrl& list, const std::vector<ListRow>& rows)
{
    list.Freeze();
    list.DeleteAllItems();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const long row = list.InsertItem(static_cast<long>(i), wxString::FromUTF8(rows[i].address));
        list.SetItem(row, 1, wxString::FromUTF8(rows[i].recentTime));
        list.SetItem(row, 2, wxString::FromUTF8(rows[i].quantity));
        if (rows[i].red) list.SetItemTextColour(row, ToColour(kRecoveredRowColour));
    }
    list.Thaw();
}

void ShowRuns(CRichEditCtrl& view, const std::vector<TextRun>& runs)
{
    // Appending styled runs is linear; styling ranges of a finished text would be quadratic.
    view.Freeze();
    view.Clear();
    for (const TextRun& run : runs) {
        view.SetDefaultStyle(wxTextAttr(ToColour(run.colour)));
        view.AppendText(wxString::FromUTF8(run.text));
    }
    view.SetDefaultStyle(wxTextAttr());
    view.Thaw();
}

void AppendPlainText(CRichEditCtrl& view, const std::string& text)
{
    view.SetDefaultStyle(wxTextAttr());
    view.AppendText(wxString::FromUTF8(text));
}
