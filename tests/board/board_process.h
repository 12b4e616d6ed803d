// Runs the emulated board binary for a test: starts it with the given
// arguments, reads its ready line, and always stops it again.
#pragma once

#include <chrono>
#include <csignal>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

class BoardProcess
{
  public:
    explicit BoardProcess(std::vector<std::string> arguments)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::close(out[0]);
            ::close(out[1]);
            std::vector<char*> argv;
            static std::string program = HALVANE_BOARD_BIN;
            argv.push_back(&program[0]);
            for (std::string& a : arguments)
                argv.push_back(&a[0]);
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        stdoutFd = out[0];
        readyLine = ReadLine(5000);
    }
    ~BoardProcess()
    {
        Stop();
        if (stdoutFd >= 0)
            ::close(stdoutFd);
    }
    BoardProcess(const BoardProcess&) = delete;
    BoardProcess& operator=(const BoardProcess&) = delete;

    const std::string& ReadyLine() const { return readyLine; }

    // Sends signal and waits for the exit; returns the exit status, or -1
    // when the board had to be killed.
    int Stop(int signal = SIGTERM)
    {
        if (pid <= 0)
            return status;
        ::kill(pid, signal);
        for (int i = 0; i < 300; ++i) {
            int raw = 0;
            if (::waitpid(pid, &raw, WNOHANG) == pid) {
                pid = -1;
                status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
        status = -1;
        return status;
    }

    // The remaining stdout once the board has stopped.
    std::string RestOfOutput() { return ReadLine(100); }

  private:
    std::string ReadLine(int timeoutMs)
    {
        std::string line;
        pollfd watch{stdoutFd, POLLIN, 0};
        char c = 0;
        while (::poll(&watch, 1, timeoutMs) > 0 && ::read(stdoutFd, &c, 1) == 1) {
            if (c == '\n')
                break;
            line += c;
        }
        return line;
    }

    pid_t pid = -1;
    int stdoutFd = -1;
    int status = -1;
    std::string readyLine;
};
