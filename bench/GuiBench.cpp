// Window speed, on a (virtual) display: refilling the list with a full conversation table and
// showing a conversation of 20,000 messages. Run: xvfb-run -a build/main/bench/kestrow_gui_bench
#include <benchmark/benchmark.h>
#include <wx/app.h>
#include <wx/init.h>

#include "readers/CreateReader.h"
#include "store/MessageStore.h"
#include "ui/KestrowDlg.h"

namespace {

CKestrowDlg* Window()
{
    static CKestrowDlg* window = [] {
        auto* w = new CKestrowDlg;
        w->Create();
        w->Show();
        return w;
    }();
    return window;
}

void BM_FillConversationList4999(benchmark::State& state)
{
    CKestrowDlg* window = Window();
    g_store.RestoreProgramStart();
    g_store.currentReader = CreateReader(DatabaseName::Android);
    g_store.conversationCount = kConversationLimit;
    for (int i = 0; i < kConversationLimit; ++i) {
        g_store.conversations[i] = {"138" + std::to_string(10'000'000 + i), 1'439'532'000'000 + i, i % 50, i % 7, "", i == 0};
    }
    for (auto _ : state) {
        window->FillConversationList();
        wxTheApp->Yield();  // include the layout pass that follows the refill
    }
}
BENCHMARK(BM_FillConversationList4999)->Unit(benchmark::kMillisecond);

void BM_ShowConversation20000(benchmark::State& state)
{
    CKestrowDlg* window = Window();
    g_store.RestoreProgramStart();
    g_store.currentReader = CreateReader(DatabaseName::Android);
    g_store.conversationCount = 2;
    g_store.conversations[1] = {"13812345678", 0, 20'000, 0, "", 0};
    g_store.liveMessages.resize(20'000);
    g_store.liveMessageCount = 20'000;
    for (int i = 0; i < 20'000; ++i) {
        MessageRecord& m = g_store.liveMessages[i];
        m.address = "13812345678";
        m.time = 1'439'532'000'000 + i * 1000LL;
        m.fromMe = i % 2;
        m.body = "晚上一起吃饭吗？ message " + std::to_string(i) + " — see you at seven.";
    }
    // A tenth of them recovered, interleaved in time.
    CSms& reader = *g_store.currentReader;
    const int recovered = static_cast<int>(state.range(0));
    reader.m_recovered.assign(g_store.liveMessages.begin(), g_store.liveMessages.begin() + recovered);
    for (auto& m : reader.m_recovered) m.time += 500;
    reader.m_recoveredCount = recovered;
    g_store.liveMessageCount = 20'000 - recovered;
    // range(1): 0 times ShowConversation alone; 1 adds the layout pass GTK runs afterwards.
    const bool withLayout = state.range(1) != 0;
    for (auto _ : state) {
        window->ShowConversation(1);
        if (!withLayout) state.PauseTiming();
        wxTheApp->Yield();
        if (!withLayout) state.ResumeTiming();
    }
}
BENCHMARK(BM_ShowConversation20000)
    ->ArgNames({"recovered", "layout"})
    ->Args({0, 0})->Args({2000, 0})->Args({2000, 1})
    ->Unit(benchmark::kMillisecond);

class BenchApp : public wxApp {
public:
    bool OnInit() override { return true; }
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    wxApp::SetInstance(new BenchApp);
    if (!wxEntryStart(argc, argv)) return 1;
    wxTheApp->CallOnInit();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    wxEntryCleanup();
    return 0;
}
