// kestrow: the desktop window.
#include "app/KestrowApp.h"

wxIMPLEMENT_APP(CKestrowApp);
