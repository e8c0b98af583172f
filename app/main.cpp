// kestrow: the desktop window.
#include "KestrowApp.h"

wxIMPLEMENT_APP(CKestrowApp);
