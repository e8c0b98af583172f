// The export dialog: tick conversations, choose one file per conversation or one file for all,
// and export them to a folder.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/Controls.h"
#include "platform/DialogBase.h"

class Case;

class CDlgExport : public CDialogEx {
public:
    // `databasePath` names the single file of mode 1; `kase` (may be null: nothing is written)
    // is the open case, which writes the files with its evidence facts.
    CDlgExport(wxWindow* parent, std::string databasePath, Case* kase = nullptr);

    void OnSelectAll(wxCommandEvent& event);
    void OnSelectWithMessages(wxCommandEvent& event);
    void OnExport(wxCommandEvent& event);
    void OnKey(wxKeyEvent& event);
    // Whether an export was written while the dialog was open.
    bool Exported() const { return m_exported; }

    CListCtrl* m_contactList = nullptr;
    std::int32_t m_exportMode = 0;      // 0: a file per conversation; 1: one file
    std::int32_t m_exportFormat = 0;    // ExportFormat: text, HTML, CSV, JSON
    std::int32_t m_selectAllState = 0;

protected:
    void DoDataExchange() override;
    bool OnInitDialog() override;

private:
    // Names the files of the chosen format in the mode choices.
    void NameTheFormat(std::int32_t format);
    // Lays the controls out in two columns with the buttons below (called once, from OnInitDialog).
    void ArrangeWithSizers();
    // Ends the dialog with `code` (a dialog run without a modal loop, as in tests, is hidden).
    void Finish(int code);
    bool m_exported = false;

    std::string m_databasePath;
    Case* m_case;

    wxDECLARE_EVENT_TABLE();
};
