// The About box (template 100).
#pragma once

#include "platform/DialogBase.h"

class CAboutDlg : public CDialogEx {
public:
    explicit CAboutDlg(wxWindow* parent);

protected:
    bool OnInitDialog() override;
};
