// The process-wide progress channel.
#include "store/ProgressChannel.h"

ProgressChannel g_progress;

void ReportProgress(double percent)
{
    g_progress.percent = static_cast<std::int32_t>(percent);
    if (g_progress.window != nullptr) g_progress.window->OnProgress();
}
