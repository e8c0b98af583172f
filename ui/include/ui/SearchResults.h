// The search's results beside the main window: one row per message found (conversation,
// time, the text around the hit, recovered); choosing a row opens it in the main window.
#pragma once

#include <wx/dialog.h>

#include <functional>
#include <vector>

#include "platform/Controls.h"
#include "presentation/ViewModel.h"

class CSearchResults : public wxDialog {
public:
    // `open` is called with the index of the row the user chose (Enter, double click, or a
    // selection with the keyboard or mouse).
    CSearchResults(wxWindow* parent, std::function<void(std::size_t)> open);
    // Replaces the rows and says how many there are in the title.
    void ShowRows(const std::vector<SearchRow>& rows);

    CListCtrl* m_list = nullptr;

private:
    std::function<void(std::size_t)> m_open;
};
