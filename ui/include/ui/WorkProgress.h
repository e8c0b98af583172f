// Long work off the window's thread, with a progress window: the one way every long step of
// the window (opening, both recoveries) runs, so that the window keeps drawing and a run that
// can stop has a Cancel that works.
#pragma once

#include <wx/window.h>

#include <cstdint>
#include <functional>
#include <string>

struct LongStep {
    std::string title;                    // the progress window's title; empty: "Recovering…"
    bool cancellable = false;             // Cancel asks the work to stop (through the progress channel)
    std::uint32_t quietMilliseconds = 0;  // work that ends sooner shows no window
};

// Runs `work` on a thread of its own while this thread keeps the progress window drawn (a new
// percentage at once, the elapsed time at least every fifth of a second) and takes its Cancel;
// the other windows are disabled meanwhile, so the store is the work's alone. An exception of
// the work is thrown again here once it has ended.
void RunWithProgressWindow(wxWindow* parent, const LongStep& step, const std::function<void()>& work);
