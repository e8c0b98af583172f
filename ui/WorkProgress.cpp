// Running long work on a worker thread behind a progress window.
#include "ui/WorkProgress.h"

#include <wx/utils.h>
#include <wx/weakref.h>

#include <atomic>
#include <exception>
#include <optional>
#include <thread>

#include "platform/Platform.h"
#include "store/ProgressChannel.h"
#include "ui/DlgProgress.h"

namespace {

// Runs `work` on a thread of its own and calls `tick` on this one every 10 ms until it is done.
void RunWhileTicking(const std::function<void()>& work, const std::function<void()>& tick)
{
    std::atomic<bool> done{false};
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        done = true;
    });
    while (!done) {
        tick();
        wxMilliSleep(10);
    }
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

// A progress window for `step`, shown centred over `parent`.
CDlgProgress* ShowProgressWindow(wxWindow* parent, const LongStep& step)
{
    auto* progress = new CDlgProgress(parent);  // its parent owns it until it is destroyed
    progress->Create();
    if (!step.title.empty()) progress->SetTitle(wxString::FromUTF8(step.title));
    if (wxWindow* cancel = progress->FindWindow(wxID_CANCEL); cancel != nullptr && !step.cancellable) cancel->Hide();
    progress->Show();
    progress->CentreOnParent();
    return progress;
}

}  // namespace

void RunWithProgressWindow(wxWindow* parent, const LongStep& step, const std::function<void()>& work)
{
    // The work reports to a listener that only keeps the percentage; this thread shows it.
    struct Relay : ProgressListener {
        void OnProgress() override {}
    } relay;
    const ProgressScope scope(&relay);
    const std::uint32_t start = platform::GetTickCount();
    wxWeakRef<CDlgProgress> progress;
    if (step.quietMilliseconds == 0) progress = ShowProgressWindow(parent, step);
    {
        const wxWindowDisabler others(progress.get());  // only Cancel takes clicks
        std::int32_t shown = -1;
        std::uint32_t drawn = start;
        RunWhileTicking(work, [&] {
            const std::uint32_t now = platform::GetTickCount();
            if (!progress && now - start >= step.quietMilliseconds) progress = ShowProgressWindow(parent, step);
            if (progress && (g_progress.percent != shown || now - drawn >= 200)) {
                shown = g_progress.percent;
                drawn = now;
                progress->OnProgress();
            } else {
                platform::YieldForInput();
            }
        });
    }
    if (progress) {
        progress->OnProgress();
        progress->Destroy();
    }
}
