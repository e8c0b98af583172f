// Control classes over wx.
#include "Controls.h"

CListCtrl::CListCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size)
    : wxListCtrl(parent, id, position, size, wxLC_REPORT | wxLC_SINGLE_SEL | wxLC_HRULES | wxLC_VRULES | wxBORDER_SUNKEN)
{
    Bind(wxEVT_KEY_DOWN, &CListCtrl::OnKeyDown, this);
}

void CListCtrl::OnKeyDown(wxKeyEvent& event)
{
    const int key = event.GetKeyCode();
    const bool moves = key == WXK_DOWN || key == WXK_UP || key == WXK_HOME;
    if (moves && GetItemCount() > 0 && GetSelectedItemCount() == 0) {
        SetItemState(0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                     wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
        return;
    }
    event.Skip();
}

CRichEditCtrl::CRichEditCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size)
    : wxTextCtrl(parent, id, wxEmptyString, position, size,
                 wxTE_MULTILINE | wxTE_RICH2 | wxTE_AUTO_URL | wxVSCROLL | wxBORDER_SUNKEN)
{
}

CProgressCtrl::CProgressCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size)
    : wxGauge(parent, id, 100, position, size)
{
}
