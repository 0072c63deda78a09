// Whole talvino-read processes against talvino-sim at the paced line rate: wall time against the
// link's floor, and the CPU time of the whole process (start-up included), from wait4.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/link/BenchSupport.h"
#include "sim/talvino_sim/SimProcess.h"

namespace {

using namespace bench;
using SteadyClock = std::chrono::steady_clock;

constexpr int kDefaultRuns = 7;        // readings measured
constexpr double kTargetRatio = 1.02;  // wall time against the floor
constexpr double kTargetCpuMs = 20.0;  // CPU time of the whole process (ms)

struct Child {
    int ExitStatus = -1;
    double WallMs = 0;
    double CpuMs = 0;
    long PeakKb = 0;
    std::string Err;  // standard error, when asked for
};

// Runs talvino-read with args; its stdout goes nowhere, its stderr into Err if captureErr.
Child RunReader(const std::vector<std::string>& args, bool captureErr) {
    Child child;
    int errPipe[2] = {-1, -1};
    if (captureErr && pipe(errPipe) != 0) {
        std::perror("pipe");
        return child;
    }
    std::vector<char*> argv;
    std::string program = TALVINO_READ_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    const auto start = SteadyClock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(captureErr ? errPipe[1] : null, STDERR_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (captureErr) {
        close(errPipe[1]);
        char buffer[4096];
        for (ssize_t got; (got = read(errPipe[0], buffer, sizeof buffer)) > 0;) {
            child.Err.append(buffer, static_cast<size_t>(got));
        }
        close(errPipe[0]);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        std::perror("fork/wait4");
        return child;
    }
    child.WallMs = std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    child.CpuMs = ms(usage.ru_utime) + ms(usage.ru_stime);
    child.PeakKb = usage.ru_maxrss;
    child.ExitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return child;
}

// Bytes in a trace: every hexadecimal pair on a "PC>" or "<DEV" line.
size_t TracedBytes(const std::string& trace) {
    size_t bytes = 0;
    size_t at = 0;
    while (at < trace.size()) {
        size_t end = trace.find('\n', at);
        if (end == std::string::npos) {
            end = trace.size();
        }
        const std::string line = trace.substr(at, end - at);
        for (const char* direction : {"PC> ", "<DEV "}) {
            if (const size_t d = line.find(direction); d != std::string::npos) {
                const std::string hex = line.substr(d + std::char_traits<char>::length(direction));
                bytes += (hex.size() + 1) / 3;
            }
        }
        at = end + 1;
    }
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
    if (runs < 1) {
        std::fprintf(stderr, "usage: bench_read [runs]   (default %d)\n", kDefaultRuns);
        return 2;
    }
    // A private port map, inherited by the simulator and every reader.
    const bench::PrivatePortMap portMap("bench-read");
    if (!portMap.Ready()) {
        return 1;
    }

    int status = 0;
    {
        sim::SimProcess simulator({"--maker-adapter"});
        if (!simulator.Ready()) {
            std::fprintf(stderr, "bench_read: %s\n", simulator.Failure().c_str());
            return 1;
        }
        const std::vector<std::string> args = {"--port", std::to_string(simulator.ComNumber())};
        // One traced reading first, not measured: it counts the bytes of a reading.
        std::vector<std::string> traced = args;
        traced.push_back("--trace");
        const Child counted = RunReader(traced, true);
        const size_t bytes = TracedBytes(counted.Err);
        if (counted.ExitStatus != 0 || bytes == 0) {
            std::fprintf(stderr, "bench_read: the traced reading failed (status %d)\n%s",
                         counted.ExitStatus, counted.Err.c_str());
            return 1;
        }
        const double floorMs = kPurgePauseMs + kEndPauseMs + LineMs(bytes);
        std::printf(
            "bench_read: %d talvino-read processes on COM%d (%s), paced at 9600 bit/s "
            "8E1, %zu bytes a reading\n",
            runs, simulator.ComNumber(), simulator.DeviceNode().c_str(), bytes);

        std::vector<double> wall;
        std::vector<double> cpu;
        long peakKb = 0;
        for (int run = 1; run <= runs; ++run) {
            const Child child = RunReader(args, false);
            if (child.ExitStatus != 0) {
                std::fprintf(stderr, "bench_read: reading %d ended with status %d\n", run,
                             child.ExitStatus);
                status = 1;
                break;
            }
            std::printf("  reading %d: %8.1f ms wall, ratio %.4f, cpu %.2f ms\n", run, child.WallMs,
                        child.WallMs / floorMs, child.CpuMs);
            wall.push_back(child.WallMs);
            cpu.push_back(child.CpuMs);
            peakKb = std::max(peakKb, child.PeakKb);
        }
        if (status == 0) {
            const double medianWall = Median(wall);
            std::printf("wall per process: median %.1f ms, min %.1f ms, max %.1f ms\n", medianWall,
                        *std::min_element(wall.begin(), wall.end()),
                        *std::max_element(wall.begin(), wall.end()));
            std::printf(
                "floor: %.1f ms (purge pause %.0f + end pause %.0f + line time of %zu "
                "bytes)\n",
                floorMs, kPurgePauseMs, kEndPauseMs, bytes);
            std::printf("ratio wall/floor: %.4f (target <= %.2f)\n", medianWall / floorMs,
                        kTargetRatio);
            std::printf("process cpu: median %.2f ms, max %.2f ms (target <= %.0f)\n", Median(cpu),
                        *std::max_element(cpu.begin(), cpu.end()), kTargetCpuMs);
            std::printf("process peak memory: %ld KiB\n", peakKb);
        }
    }
    return status;
}
