// The main window's log over a long session: ten thousand identifications appended one after
// another, each followed by the events the window would handle before the next drop, the first
// thousand timed against the last thousand. Runs the real window on Qt's offscreen platform.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <chrono>
#include <cstdlib>

#include "bench/bench_support.h"
#include "core/checksum/crc32.h"
#include "ui/main_app.h"
#include "ui/main_dialog.h"

namespace {

constexpr int kIdentifications = 10000;
constexpr int kTimed = 1000;
constexpr int kImages = 16;

// A database and images of 4 KiB, half of them in it (each under two chips, so their reports
// run to a few lines), half not.
struct Fixture {
    bench::TempDir db, images;
    std::vector<std::string> paths;

    Fixture() {
        bench::writeDatabase(db.path(), 1000, 100);
        std::vector<std::uint8_t> custom;
        for (int i = 0; i < kImages; ++i) {
            const auto bytes = bench::randomBytes(4096, std::uint64_t(i) + 7);
            paths.push_back(images.file("dump" + std::to_string(i) + ".bin"));
            bench::writeFile(paths.back(), bytes);
            if (i % 2 != 0) continue;
            for (int copy = 0; copy < 2; ++copy) {
                chipsight::RomEntry e;
                e.crc = chipsight::Crc32(0, bytes.data(), std::uint32_t(bytes.size()));
                e.size = std::uint32_t(bytes.size());
                chipsight::writeField(e.name, "IC" + std::to_string(i * 2 + copy));
                chipsight::writeField(e.description,
                                      "Benchmark board, revision " + std::to_string(copy));
                const auto record = e.encode();
                custom.insert(custom.end(), record.begin(), record.end());
            }
        }
        bench::writeFile(db.file(chipsight::kCustomFile), custom);
    }
};

void logSession(benchmark::State& state) {
    static Fixture session;
    using Clock = std::chrono::steady_clock;
    double first = 0, last = 0;
    for (auto _ : state) {
        CMainDialog dialog(session.db.file("chipsight"), {});
        dialog.m_session.useDatabaseDirectory(session.db.path());
        theApp().m_pMainDialog = &dialog;
        theApp().m_pMainWnd = &dialog;
        dialog.create();
        QCoreApplication::processEvents();
        Clock::time_point start;
        bool failed = false;
        for (int i = 0; i < kIdentifications; ++i) {
            if (i == 0 || i == kIdentifications - kTimed) start = Clock::now();
            const auto outcome =
                dialog.m_session.identifyFile(session.paths[std::size_t(i % kImages)]);
            failed |= outcome == chipsight::Outcome::Failed;
            QCoreApplication::processEvents();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            if (i == kTimed - 1) first = seconds;
            if (i == kIdentifications - 1) last = seconds;
        }
        const bool grown = dialog.m_session.logText().size() > std::size_t(kIdentifications) * 60;
        dialog.endDialog(IDCANCEL);
        theApp().m_pMainDialog = nullptr;
        theApp().m_pMainWnd = nullptr;
        if (failed || !grown) {
            state.SkipWithError("an identification failed");
            break;
        }
    }
    state.counters["first_1000_s"] = first;
    state.counters["last_1000_s"] = last;
}

BENCHMARK(logSession)
    ->Name("log/10000")
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    // Headless unless told otherwise.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
