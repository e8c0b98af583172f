// The application object: shows the main window; the program ends when it closes.
#pragma once

#include <wx/app.h>

class CKestrowApp : public wxApp {
public:
    bool OnInit() override;
};
