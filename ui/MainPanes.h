// Putting the conversation list's rows and the message view's runs on screen.
#pragma once

#include <string>
#include <vector>

#include "platform/Controls.h"
#include "ui/ViewModel.h"

// Columns "Phone Number", "Recent Time" and "Quantity", left-aligned. The original widths (100,
// 130, 80 px) are widened where the list's font needs more room for a full international
// number, a full date-time or a bracketed count.
void SetUpConversationColumns(CListCtrl& list);

// Replaces all rows; rows of conversations with recovered messages are drawn red. No row is
// selected afterwards.
void FillConversationRows(CListCtrl& list, const std::vector<ListRow>& rows);

// Replaces the view's text with the runs, each in its colour.
void ShowRuns(CRichEditCtrl& view, const std::vector<TextRun>& runs);

// Appends text in the view's default style (so a detected link keeps its link look).
void AppendPlainText(CRichEditCtrl& view, const std::string& text);
