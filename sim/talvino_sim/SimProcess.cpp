#include "sim/talvino_sim/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <utility>

extern char** environ;

namespace sim {
namespace {

using SteadyClock = std::chrono::steady_clock;

class Pipe {
  public:
    Pipe() {
        if (pipe2(fds_.data(), O_CLOEXEC) != 0) {
            fds_ = {-1, -1};
        }
    }
    ~Pipe() {
        CloseRead();
        CloseWrite();
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool Valid() const { return fds_[0] >= 0; }
    int Read() const { return fds_[0]; }
    int Write() const { return fds_[1]; }
    void CloseRead() { CloseEnd(0); }
    void CloseWrite() { CloseEnd(1); }

  private:
    void CloseEnd(size_t end) {
        if (fds_[end] >= 0) {
            ::close(fds_[end]);
            fds_[end] = -1;
        }
    }
    std::array<int, 2> fds_{-1, -1};
};

// Starts the simulator with stdout (and stderr, when given) into the pipes' write ends.
pid_t Spawn(const std::vector<std::string>& args, Pipe& out, Pipe* err) {
    const std::string path = SimProcess::Path();
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out.Write(), STDOUT_FILENO);
    if (err != nullptr) {
        posix_spawn_file_actions_adddup2(&actions, err->Write(), STDERR_FILENO);
    }
    pid_t pid = -1;
    if (posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    out.CloseWrite();
    if (err != nullptr) {
        err->CloseWrite();
    }
    return pid;
}

int MsLeft(SteadyClock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Appends what the descriptor has to text; false at its end or on an error.
bool Drain(int fd, std::string& text) {
    std::array<char, 512> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n > 0) {
        text.append(buffer.data(), static_cast<size_t>(n));
    }
    return n > 0;
}

}  // namespace

std::string SimProcess::Path() {
    return TALVINO_SIM_PATH;
}

SimProcess::SimProcess(const std::vector<std::string>& args, int readyTimeoutMs) {
    Pipe out;
    if (!out.Valid()) {
        failure_ = "no pipe";
        return;
    }
    pid_ = Spawn(args, out, nullptr);
    if (pid_ < 0) {
        failure_ = "cannot start " + Path();
        return;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(readyTimeoutMs);
    std::string text;
    while (text.find('\n') == std::string::npos) {
        pollfd pfd{out.Read(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, MsLeft(deadline));
        if (ready == 0) {
            failure_ = "no ready line in time";
            return;
        }
        if (ready < 0 || !Drain(out.Read(), text)) {
            failure_ = "the simulator ended before it was ready";
            return;
        }
    }
    readyLine_ = text.substr(0, text.find('\n'));
    std::array<char, 128> node{};
    int com = 0;
    if (std::sscanf(readyLine_.c_str(), "talvino-sim: COM%d on %127s", &com, node.data()) != 2) {
        failure_ = "unexpected ready line: " + readyLine_;
        return;
    }
    comNumber_ = com;
    deviceNode_ = node.data();
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        Signal(SIGTERM);
        Wait();
    }
}

void SimProcess::Signal(int signal) {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

int SimProcess::Wait() {
    int status = -1;
    if (pid_ > 0) {
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    return status;
}

SimProcess::Outcome SimProcess::Run(const std::vector<std::string>& args, int timeoutMs) {
    Outcome outcome;
    Pipe out;
    Pipe err;
    if (!out.Valid() || !err.Valid()) {
        return outcome;
    }
    const pid_t pid = Spawn(args, out, &err);
    if (pid < 0) {
        return outcome;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    bool outOpen = true;
    bool errOpen = true;
    while ((outOpen || errOpen) && MsLeft(deadline) > 0) {
        std::array<pollfd, 2> fds{
            {{outOpen ? out.Read() : -1, POLLIN, 0}, {errOpen ? err.Read() : -1, POLLIN, 0}}};
        if (::poll(fds.data(), fds.size(), MsLeft(deadline)) <= 0) {
            continue;
        }
        if (fds[0].revents != 0) {
            outOpen = Drain(out.Read(), outcome.Out);
        }
        if (fds[1].revents != 0) {
            errOpen = Drain(err.Read(), outcome.Err);
        }
    }
    if (outOpen || errOpen) {
        ::kill(pid, SIGKILL);  // it overran its time: the caller sees the kill in the status
    }
    while (::waitpid(pid, &outcome.Status, 0) < 0 && errno == EINTR) {
    }
    return outcome;
}

}  // namespace sim
