// The progress of a recovery run: a process-wide percentage and the window (or any other
// listener) that is told, synchronously, each time the percentage is written.
#pragma once

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
    std::int32_t percent = 0;
    ProgressListener* window = nullptr;  // null while no recovery run is under way
};

extern ProgressChannel g_progress;

// Stores `percent` truncated toward zero and notifies the registered listener, if any.
void ReportProgress(double percent);

// Registers a listener (or none) for a scope: the percentage starts at 0 and the listener is
// taken off again however the scope is left, so no later report reaches a window that is gone.
class ProgressScope {
public:
    explicit ProgressScope(ProgressListener* listener)
    {
        g_progress.percent = 0;
        g_progress.window = listener;
    }
    ~ProgressScope() { g_progress.window = nullptr; }
    ProgressScope(const ProgressScope&) = delete;
    ProgressScope& operator=(const ProgressScope&) = delete;
};
