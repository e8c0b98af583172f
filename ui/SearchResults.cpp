// The search results window.
#include "ui/SearchResults.h"

#include <wx/sizer.h>

#include "platform/Language.h"
#include "presentation/Texts.h"

CSearchResults::CSearchResults(wxWindow* parent, std::function<void(std::size_t)> open)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(platform::Tr("Search")), wxDefaultPosition, wxSize(640, 360),
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      m_open(std::move(open))
{
    m_list = new CListCtrl(this, wxID_ANY, wxDefaultPosition, wxDefaultSize);
    const char* const titles[] = {Translatable("Conversation"), Translatable("Time"), Translatable("Text"),
                                  Translatable("Recovered")};
    const int widths[] = {150, 150, 260, 70};
    for (int i = 0; i < 4; ++i) m_list->InsertColumn(i, wxString::FromUTF8(platform::Tr(titles[i])), wxLIST_FORMAT_LEFT, widths[i]);
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(m_list, wxSizerFlags(1).Expand().Border(wxALL, 6));
    SetSizer(sizer);
    SetMinSize(wxSize(360, 200));
    m_list->Bind(wxEVT_LIST_ITEM_SELECTED, [this](wxListEvent& event) {
        if (event.GetIndex() >= 0) m_open(static_cast<std::size_t>(event.GetIndex()));
    });
}

void CSearchResults::ShowRows(const std::vector<SearchRow>& rows)
{
    m_list->Freeze();
    m_list->DeleteAllItems();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const long row = m_list->InsertItem(static_cast<long>(i), wxString::FromUTF8(rows[i].conversation));
        m_list->SetItem(row, 1, wxString::FromUTF8(rows[i].time));
        m_list->SetItem(row, 2, wxString::FromUTF8(rows[i].context));
        m_list->SetItem(row, 3, wxString::FromUTF8(rows[i].recovered));
    }
    m_list->Thaw();
    SetTitle(wxString::FromUTF8(Fill(platform::Tr("Search: %d messages found"), {std::to_string(rows.size())})));
}
