// The three controls of the windows, each a thin subclass of its wx counterpart.
#pragma once

#include <wx/gauge.h>
#include <wx/listctrl.h>
#include <wx/textctrl.h>

#include <cstdint>
#include <map>
#include <string>
#include <optional>
#include <utility>
#include <vector>

// Report-view list with single selection and grid lines. The generic list on GTK leaves the
// keyboard unable to reach row 0 in two cases (focus arriving with no current row, and a refill
// while focused): with nothing selected, Down, Up and Home select row 0.
class CListCtrl : public wxListCtrl {
public:
    CListCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size);

private:
    void OnKeyDown(wxKeyEvent& event);
};

struct ColouredText {
    std::string text;  // UTF-8
    wxColour colour;
};

// Multi-line rich text with automatic link detection. It takes no focus from the Tab key.
class CRichEditCtrl : public wxTextCtrl {
public:
    CRichEditCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size);
    bool AcceptsFocusFromKeyboard() const override { return false; }

    // Replaces the whole text with the runs, each in its colour, and scrolls so that run
    // `showRun` begins the first line in view (its line whole), with the insertion point there.
    // On GTK the text goes into the buffer at once and the colours are applied as tags (wx's
    // per-run append costs about three times as much for large texts).
    // With `select`, those characters are selected instead (a search hit).
    void ReplaceWithRuns(const std::vector<ColouredText>& runs, std::size_t showRun = 0,
                         std::optional<std::pair<long, long>> select = std::nullopt);
    // The character offset at which the run `showRun` of the last ReplaceWithRuns began.
    long ShownFrom() const { return m_shownFrom; }

private:
    long m_shownFrom = 0;
    std::map<std::uint32_t, void*> m_colourTags;  // GtkTextTag per colour, owned by the buffer
};

// A progress bar from 0 to 100.
class CProgressCtrl : public wxGauge {
public:
    CProgressCtrl(wxWindow* parent, int id, const wxPoint& position, const wxSize& size);
};
