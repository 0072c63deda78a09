#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace sim {

// talvino-sim as a child process, for tests, the benchmark and the reader: started with its
// arguments and the caller's environment (TALVINO_PORT_MAP included), waited for until it
// announces its port. Destruction stops it with SIGTERM and reaps it.
class SimProcess {
  public:
    // Starts the simulator and waits up to readyTimeoutMs for its ready line.
    explicit SimProcess(const std::vector<std::string>& args, int readyTimeoutMs = 5000);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // True once the ready line came; otherwise Failure() says why.
    bool Ready() const { return comNumber_ > 0; }
    const std::string& Failure() const { return failure_; }
    int ComNumber() const { return comNumber_; }
    const std::string& DeviceNode() const { return deviceNode_; }
    const std::string& ReadyLine() const { return readyLine_; }
    pid_t Pid() const { return pid_; }

    // Sends a signal; Wait() then reaps the process and gives its wait status.
    void Signal(int signal);
    int Wait();

    // The simulator's path, built alongside.
    static std::string Path();

    // Runs the simulator to its end with the given arguments, capturing stdout and stderr.
    struct Outcome {
        int Status = -1;  // wait status
        std::string Out;
        std::string Err;
    };
    static Outcome Run(const std::vector<std::string>& args, int timeoutMs = 5000);

  private:
    pid_t pid_ = -1;
    int comNumber_ = 0;
    std::string deviceNode_;
    std::string readyLine_;
    std::string failure_;
};

}  // namespace sim
