// Whole readings over a pseudo-terminal against talvino-sim at the paced line rate, with the
// wall time per reading against its floor, and the reader's own CPU time and memory.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench/link/BenchSupport.h"
#include "bench/link/Reading.h"
#include "platform/clock/Clock.h"
#include "platform/serial/SerialPort.h"
#include "sim/talvino_sim/SimProcess.h"

namespace {

using namespace bench;
using SteadyClock = std::chrono::steady_clock;

constexpr int kDefaultRuns = 5;        // readings measured
constexpr double kTargetRatio = 1.02;  // wall time against the floor
constexpr double kTargetCpuMs = 5.0;   // reader CPU time per reading (ms)

double CpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval& t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

long PeakKb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::atoi(argv[1]) : kDefaultRuns;
    if (runs < 1) {
        std::fprintf(stderr, "usage: bench_link [runs]   (default %d)\n", kDefaultRuns);
        return 2;
    }
    const bench::PrivatePortMap portMap("bench-link");
    if (!portMap.Ready()) {
        return 1;
    }

    int status = 0;
    {
        sim::SimProcess simulator({"--maker-adapter"});
        if (!simulator.Ready()) {
            std::fprintf(stderr, "bench_link: %s\n", simulator.Failure().c_str());
            return 1;
        }
        std::printf("bench_link: %d readings on COM%d (%s), paced at 9600 bit/s 8E1\n", runs,
                    simulator.ComNumber(), simulator.DeviceNode().c_str());

        bench::CountingSerialBackend counting(platform::RealSerialBackend());
        CW38 link(LinkPlatform{counting, platform::RealClock(), [] { return false; }});
        std::vector<double> wall;
        std::vector<double> floor;
        std::vector<double> cpu;
        for (int run = 1; run <= runs; ++run) {
            counting.Written = 0;
            counting.Received = 0;
            const double cpuBefore = CpuMs();
            const auto start = SteadyClock::now();
            const ReadingResults results = RunReading(link, simulator.ComNumber());
            const double wallMs =
                std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
            const double cpuMs = CpuMs() - cpuBefore;
            if (!results.AllSucceeded()) {
                std::fprintf(stderr, "bench_link: reading %d failed:\n", run);
                for (const std::string& line : ReadingLines(results)) {
                    std::fprintf(stderr, "  %s\n", line.c_str());
                }
                status = 1;
                break;
            }
            const size_t bytes = counting.Written + counting.Received;
            const double floorMs = kPurgePauseMs + kEndPauseMs + LineMs(bytes);
            std::printf(
                "  reading %d: %8.1f ms wall, floor %7.1f ms (%zu bytes: %zu out, %zu in), "
                "ratio %.4f, cpu %.2f ms\n",
                run, wallMs, floorMs, bytes, counting.Written, counting.Received, wallMs / floorMs,
                cpuMs);
            wall.push_back(wallMs);
            floor.push_back(floorMs);
            cpu.push_back(cpuMs);
        }
        if (status == 0) {
            const double medianWall = Median(wall);
            const double medianFloor = Median(floor);
            const double ratio = medianWall / medianFloor;
            const double medianCpu = Median(cpu);
            std::printf("wall per reading: median %.1f ms, min %.1f ms, max %.1f ms\n", medianWall,
                        *std::min_element(wall.begin(), wall.end()),
                        *std::max_element(wall.begin(), wall.end()));
            std::printf("floor: %.1f ms (purge pause %.0f + end pause %.0f + line time)\n",
                        medianFloor, kPurgePauseMs, kEndPauseMs);
            std::printf("ratio wall/floor: %.4f (target <= %.2f)\n", ratio, kTargetRatio);
            std::printf("reader cpu per reading: median %.2f ms, max %.2f ms (target <= %.0f)\n",
                        medianCpu, *std::max_element(cpu.begin(), cpu.end()), kTargetCpuMs);
            std::printf("reader peak memory: %ld KiB\n", PeakKb());
        }
    }
    return status;
}
