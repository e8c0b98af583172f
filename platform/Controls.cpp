// Control classes over wx.
#include "platform/Controls.h"

#ifdef __WXGTK__
#include <gtk/gtk.h>
#endif

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

void CRichEditCtrl::ReplaceWithRuns(const std::vector<ColouredText>& runs, std::size_t showRun,
                                    std::optional<std::pair<long, long>> select)
{
    // Characters, as the control counts them: bytes that do not continue a UTF-8 sequence.
    m_shownFrom = 0;
    for (std::size_t i = 0; i < runs.size() && i < showRun; ++i) {
        for (const char byte : runs[i].text) m_shownFrom += (static_cast<unsigned char>(byte) & 0xC0) != 0x80 ? 1 : 0;
    }
#ifdef __WXGTK__
    // Freeze swaps an empty buffer into the view: take the real one first.
    GtkTextView* view = GTK_TEXT_VIEW(gtk_bin_get_child(GTK_BIN(GetHandle())));
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(view);
    std::string text;
    std::vector<std::pair<long, long>> spans;  // character offsets of each run
    long characters = 0;
    for (const ColouredText& run : runs) {
        const long length = g_utf8_strlen(run.text.data(), static_cast<gssize>(run.text.size()));
        spans.emplace_back(characters, characters + length);
        characters += length;
        text += run.text;
    }
    Freeze();
    gtk_text_buffer_set_text(buffer, text.data(), static_cast<gint>(text.size()));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const wxColour& colour = runs[i].colour;
        void*& tag = m_colourTags[static_cast<std::uint32_t>(colour.GetRGB())];
        if (tag == nullptr) {
            const GdkRGBA rgba{colour.Red() / 255.0, colour.Green() / 255.0, colour.Blue() / 255.0, 1.0};
            tag = gtk_text_buffer_create_tag(buffer, nullptr, "foreground-rgba", &rgba, nullptr);
        }
        GtkTextIter start, end;
        gtk_text_buffer_get_iter_at_offset(buffer, &start, static_cast<gint>(spans[i].first));
        gtk_text_buffer_get_iter_at_offset(buffer, &end, static_cast<gint>(spans[i].second));
        gtk_text_buffer_apply_tag(buffer, static_cast<GtkTextTag*>(tag), &start, &end);
    }
    // The cursor moves while the view shows the frozen stand-in buffer (moving it in a buffer
    // the view has not laid out again yet upsets GTK's layout); the line of the run goes to the
    // top of the view once the view has laid it out.
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(buffer, &at, static_cast<gint>(m_shownFrom));
    gtk_text_buffer_place_cursor(buffer, &at);
    if (select) {
        GtkTextIter from, to;
        gtk_text_buffer_get_iter_at_offset(buffer, &from, static_cast<gint>(select->first));
        gtk_text_buffer_get_iter_at_offset(buffer, &to, static_cast<gint>(select->second));
        gtk_text_buffer_select_range(buffer, &to, &from);  // the cursor at the hit's start
    }
    Thaw();
    gtk_text_view_scroll_to_mark(view, gtk_text_buffer_get_insert(buffer), 0.0, TRUE, 0.0, 0.0);
#else
    Freeze();
    Clear();
    for (const ColouredText& run : runs) {
        SetDefaultStyle(wxTextAttr(run.colour));
        AppendText(wxString::FromUTF8(run.text));
    }
    SetDefaultStyle(wxTextAttr());
    Thaw();
    SetInsertionPoint(m_shownFrom);
    ShowPosition(m_shownFrom);
    if (select) SetSelection(select->first, select->second);
#endif
}

CProgressCtrl::CProgressCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size)
    : wxGauge(parent, id, 100, position, size)
{
}
