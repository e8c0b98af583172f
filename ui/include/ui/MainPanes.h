// Putting the conversation list's rows and the message view's runs on screen.
#pragma once

#include <string>
#include <vector>

#include "platform/Controls.h"
#include "presentation/ViewModel.h"

// Columns "Phone Number", "Recent Time" and "Quantity", left-aligned. The original widths (100,
// 130, 80 px) are widened where the list's font needs more room for a full international
// number, a full date-time or a bracketed count.
void SetUpConversationColumns(CListCtrl& list);

// Inserts the three conversation columns with the given original widths, each widened to fit
// its widest expected text in the list's font; `firstExtra` adds room (a check box) to column 0.
void InsertFittedColumns(CListCtrl& list, int phoneWidth, int timeWidth, int quantityWidth, int firstExtra = 0);

// Replaces all rows; rows of conversations with recovered messages are drawn red. No row is
// selected afterwards.
void FillConversationRows(CListCtrl& list, const std::vector<ListRow>& rows);

// Replaces the view's text with the runs, each in its colour.
// Shows the runs with run `showRun` at the top of the view.
void ShowRuns(CRichEditCtrl& view, const std::vector<TextRun>& runs, std::size_t showRun = 0,
              std::optional<std::pair<long, long>> select = std::nullopt);

// Appends text in the view's default style (so a detected link keeps its link look).
void AppendPlainText(CRichEditCtrl& view, const std::string& text);
