// Figures of the whole program: time from process start to the main window shown, CPU time of
// one port-watch tick by the number of ports, peak memory after a reading, and the wall time of
// a reading from the click to WM_READ_DONE against the paced talvino-sim, beside its floor.
// Prints figures and targets; never passes or fails on them.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Startup.h"
#include "bench/link/BenchSupport.h"
#include "forms/DlgLectureInformation.h"
#include "platform/clock/Clock.h"
#include "platform/portmap/PortMap.h"
#include "platform/registry/PortMapRegistry.h"
#include "platform/serial/PosixSerial.h"
#include "platform/toolkit/ToolkitTesting.h"
#include "sim/talvino_sim/SimProcess.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace bench;

constexpr int kStartRuns = 7;                // program starts measured
constexpr int kReadingRuns = 5;              // readings measured
constexpr int kSettleMs = 200;               // lets new map entries settle before timing
constexpr int kTickRepeats = 2000;           // port-watch ticks averaged per port count
constexpr int kPortCounts[] = {1, 8, 64};    // ports in the map for the watch tick
constexpr double kFirstTickMs = 300.0;       // from the click to the first reading tick
constexpr double kLaterTicksMs = 5 * 300.0;  // the five reading ticks after the first
constexpr double kTargetStartMs = 150.0;     // process start to the window shown
constexpr double kTargetTickMs = 0.5;        // CPU per watch tick with 64 ports
constexpr double kTargetPeakMb = 40.0;       // peak memory after a reading
constexpr double kTargetRatio = 1.03;        // reading wall time against its floor
constexpr int kGiveUpMs = 30000;             // a reading not over by then has hung

double NowMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

double CpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_nsec) / 1e6;
}

// The process's peak resident memory in kB, as the kernel reports it.
long PeakKb() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::atol(line.c_str() + 6);
        }
    }
    return -1;
}

// Runs this program again with the arguments and returns what it printed on its first line.
std::string RunChild(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> all = {"/proc/self/exe"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned =
        posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string out;
    char buffer[256];
    ssize_t n = 0;
    while (spawned == 0 && (n = read(pipeFds[0], buffer, sizeof buffer)) > 0) {
        out.append(buffer, static_cast<size_t>(n));
    }
    close(pipeFds[0]);
    if (spawned == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    return out.substr(0, out.find('\n'));
}

// Child: the program on this machine's platform; prints the ms from the parent's stamp to the
// first turn of the message loop after the main window was shown, then closes it.
int StartChild(double parentStampMs) {
    StartupEnvironment environment;
    QTimer shown;
    shown.setSingleShot(true);
    QObject::connect(&shown, &QTimer::timeout, [&] {
        if (DlgLectureInformation != nullptr && DlgLectureInformation->Window()->isVisible()) {
            std::printf("%.3f\n", NowMs() - parentStampMs);
            std::fflush(stdout);
        }
        DlgLectureInformation->ButtonQuitter.Click();
    });
    platform::Application().Initialize(0, nullptr);
    shown.start(0);
    RunProgram(environment);
    platform::Application().Finalize();
    return 0;
}

// Child: the whole program reads the simulated device once (the read button pressed as soon
// as it is usable), closes, and prints its peak memory in kB.
int ReadingChild() {
    StartupEnvironment environment;
    platform::SetMessageBoxHook([](const platform::MessageBoxRequest&) { return platform::mrOk; });
    platform::Application().Initialize(0, nullptr);
    bool clicked = false;
    const double start = NowMs();
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        TDlgLectureInformation* w = DlgLectureInformation;
        if (w == nullptr || !w->Window()->isVisible()) {
            return;
        }
        if (!clicked && w->ButtonLectureInfo.Enabled()) {
            w->ButtonLectureInfo.Click();
            clicked = true;
        } else if ((clicked && w->Reading->Result().Outcome == ReadingOutcome::Done) ||
                   NowMs() - start > kGiveUpMs) {
            w->ButtonQuitter.Click();
        }
    });
    user.start(20);
    RunProgram(environment);
    std::printf("%ld %s\n", PeakKb(), clicked ? "read" : "no-reading");
    std::fflush(stdout);
    platform::Application().Finalize();
    return 0;
}

// CPU time of one port-watch tick of the window with count ports in a user map (device nodes
// that exist, so none is dropped as stale) and an empty sysfs.
double WatchTickCpuMs(const fs::path& root, int count) {
    const fs::path sys = root / ("sys" + std::to_string(count));
    const fs::path map = root / ("map" + std::to_string(count));
    fs::create_directories(sys);
    for (int com = 1; com <= count; ++com) {
        platform::RegisterUserPort(map, {com, "/dev/null", com == 1 ? "Silabser" : "", 0});
    }
    // Ports live for seconds between two watch ticks; the map reads an entry again only while it
    // is fresh (a tenth of a second), so the steady state is measured on settled entries.
    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
    platform::PosixPortMap portMap(sys, map);
    platform::PortMapRegistry registry(portMap);
    platform::PosixSerialBackend serial(portMap);
    TDlgLectureInformation window(nullptr, LinkPlatform{serial, platform::RealClock(), {}},
                                  registry);
    window.TimerGestConnection.Tick();  // warm
    const double before = CpuMs();
    for (int i = 0; i < kTickRepeats; ++i) {
        window.TimerGestConnection.Tick();
    }
    return (CpuMs() - before) / kTickRepeats;
}

// Readings through the window on the real event loop, from the click to the handling of
// WM_READ_DONE (its first act is the success beep).
void MeasureReadings() {
    sim::SimProcess simulator({"--maker-adapter"});
    if (!simulator.Ready()) {
        std::printf("reading: talvino-sim did not start: %s\n", simulator.Failure().c_str());
        return;
    }
    bench::CountingSerialBackend counting(platform::RealSerialBackend());
    TDlgLectureInformation window(nullptr, LinkPlatform{counting, platform::RealClock(), {}},
                                  platform::RealRegistry());
    window.Show();
    double doneAt = 0;
    QEventLoop loop;
    platform::SetBeepHook([&](unsigned) {
        doneAt = NowMs();
        loop.quit();
    });
    std::vector<double> wall;
    std::vector<double> floor;
    for (int run = 1; run <= kReadingRuns; ++run) {
        counting.Written = 0;
        counting.Received = 0;
        doneAt = 0;
        QTimer::singleShot(kGiveUpMs, &loop, [&] { loop.quit(); });
        const double clickAt = NowMs();
        window.ButtonLectureInfo.Click();
        loop.exec();
        if (doneAt == 0) {
            std::printf("  reading %d: not over after %d ms\n", run, kGiveUpMs);
            break;
        }
        const size_t bytes = counting.Written + counting.Received;
        const double lineMs = LineMs(bytes);
        const double floorMs = kFirstTickMs + kPurgePauseMs + kEndPauseMs + kLaterTicksMs + lineMs;
        wall.push_back(doneAt - clickAt);
        floor.push_back(floorMs);
        std::printf(
            "  reading %d: %8.1f ms wall, floor %7.1f ms (%zu bytes, line %.1f ms), ratio %.4f\n",
            run, wall.back(), floorMs, bytes, lineMs, wall.back() / floorMs);
    }
    platform::SetBeepHook(nullptr);
    if (!wall.empty()) {
        std::printf(
            "reading wall time: median %.1f ms, floor %.1f ms, ratio %.4f (target <= %.2f)\n",
            Median(wall), Median(floor), Median(wall) / Median(floor), kTargetRatio);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--start-child") {
        return StartChild(std::atof(argv[2]));
    }
    if (argc == 2 && std::string(argv[1]) == "--reading-child") {
        return ReadingChild();
    }
    // A private settings directory and port map, and no screen needed.
    std::string rootTemplate = (fs::temp_directory_path() / "bench-app-XXXXXX").string();
    if (mkdtemp(rootTemplate.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const fs::path root = rootTemplate;
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    setenv("TALVINO_PORT_MAP", (root / "map").c_str(), 1);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    fs::create_directories(root / "config");

    std::printf("bench_app: offscreen, private settings directory and port map\n");
    // "--watch": the port-watch figures alone, for a profiler.
    const bool watchOnly = argc == 2 && std::string(argv[1]) == "--watch";
    std::vector<double> starts;
    for (int run = 0; run < (watchOnly ? 0 : kStartRuns); ++run) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%.3f", NowMs());
        const std::string out = RunChild({"--start-child", stamp});
        if (!out.empty()) {
            starts.push_back(std::atof(out.c_str()));
        }
    }
    if (!starts.empty()) {
        std::printf(
            "start to window shown: median %.1f ms over %zu runs (min %.1f, max %.1f; "
            "target <= %.0f)\n",
            Median(starts), starts.size(), *std::min_element(starts.begin(), starts.end()),
            *std::max_element(starts.begin(), starts.end()), kTargetStartMs);
    }

    platform::seams::EnsureApplication();
    for (const int count : kPortCounts) {
        std::printf("port-watch tick with %2d ports: %.4f ms CPU%s\n", count,
                    WatchTickCpuMs(root, count),
                    count == 64 ? " (target <= 0.5 with 64 ports)" : "");
    }

    if (!watchOnly) {
        sim::SimProcess simulator({"--maker-adapter"});
        if (simulator.Ready()) {
            const std::string out = RunChild({"--reading-child"});
            std::printf(
                "peak memory of the program after a reading: %.1f MB (%s; target <= %.0f)\n",
                std::atof(out.c_str()) / 1024.0, out.c_str(), kTargetPeakMb);
        }
    }

    if (!watchOnly) {
        MeasureReadings();
    }
    platform::Application().Finalize();
    fs::remove_all(root);
    return 0;
}
