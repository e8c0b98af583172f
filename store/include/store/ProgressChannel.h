// The progress of a recovery run: a process-wide percentage and the window (or any other
// listener) that is told, synchronously, each time the percentage is written.
#pragma once

#include <atomic>
#include <cstdint>

// Implemented by whatever shows the progress: the progress window, the companion's bar, tests.
class ProgressListener {
public:
    // Called on the writer's thread right after the percentage was stored; the listener reads
    // g_progress.percent.
    virtual void OnProgress() = 0;

protected:
    ~ProgressListener() = default;
};

struct ProgressChannel {
    // Written by the thread that runs the recovery, read by the window's thread.
    std::atomic<std::int32_t> percent{0};
    ProgressListener* window = nullptr;  // null while no recovery run is under way
    // Set (from any thread) to ask the run under way to stop; its scans stop at the next page
    // and the caller throws away what the run made.
    std::atomic<bool> cancel{false};
};


extern ProgressChannel g_progress;

inline bool RecoveryCancelled() { return g_progress.cancel.load(std::memory_order_relaxed); }

// Stores `percent` truncated toward zero and notifies the registered listener, if any.
void ReportProgress(double percent);

// Registers a listener (or none) for a scope: the percentage starts at 0 and the listener is
// taken off again however the scope is left, so no later report reaches a window that is gone;
// a request to stop lasts as long as the scope.
class ProgressScope {
public:
    explicit ProgressScope(ProgressListener* listener)
    {
        g_progress.percent = 0;
        g_progress.window = listener;
        g_progress.cancel = false;
    }
    ~ProgressScope()
    {
        g_progress.window = nullptr;
        g_progress.cancel = false;  // a later run outside any scope is not stopped by this one's Cancel
    }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;
};
