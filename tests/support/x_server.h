#pragma once

// An X server for one test or benchmark process alone: Xvfb, started on a display number it
// picks itself and reports on a pipe (-displayfd) once it accepts connections. Used by the
// preview window tests and the preview benchmark.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>

namespace quorix::test {

class XServer {
public:
    static constexpr int kScreenWidth = 2560;
    static constexpr int kScreenHeight = 1700;

    XServer() = default;
    // A server whose screen is `width` x `height` instead, as a small monitor.
    XServer(int width, int height) : m_width(width), m_height(height) {}
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;
    ~XServer() {
        if (m_pid <= 0) {
            return;
        }
        kill(m_pid, SIGTERM);
        // A server busy shutting down gets two seconds, then goes at once.
        for (int i = 0; i < 200; ++i) {
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
                return;
            }
            usleep(10'000);
        }
        Kill();
    }

    // Starts the server with one 24-bit screen of kScreenWidth x kScreenHeight (or the size it
    // was made with). Returns "" when it runs, else why not. The server ends with this process
    // however it ends (a crashed test leaves no server behind holding its output), and writes
    // nothing into the test's output. `number` >= 0 asks for display :number instead of the
    // first free one.
    std::string Start(int number = -1) {
        const std::string program = FindProgram("Xvfb");
        if (program.empty()) {
            return "Xvfb is not installed: install the Debian package xvfb "
                   "(scripts/install-deps.sh); the preview window needs an X server of its own "
                   "here";
        }
        int fds[2];
        if (pipe(fds) != 0) {
            return "no pipe for Xvfb";
        }
        fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        const std::string fd = std::to_string(fds[1]);
        const std::string wanted = ":" + std::to_string(number);
        const std::string screen = std::to_string(m_width) + "x" + std::to_string(m_height) + "x24";
        // -noreset: a server that resets whenever its last client leaves refuses connections
        // for a moment between one test's windows and the next's.
        const char* argv[] = {"Xvfb",     "-displayfd",   fd.c_str(),  "-screen",
                              "0",        screen.c_str(), "-nolisten", "tcp",
                              "-noreset", nullptr,        nullptr};
        if (number >= 0) {
            // The number goes first; the server still reports it on the pipe once it runs.
            std::copy_backward(argv, argv + 9, argv + 10);
            argv[0] = "Xvfb";
            argv[1] = wanted.c_str();
        }
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) {
                _exit(127);
            }
            const int null = open("/dev/null", O_RDWR);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            execv(program.c_str(), const_cast<char* const*>(argv));
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            close(fds[0]);
            m_pid = 0;
            return "Xvfb could not be started";
        }
        std::string reported;
        pollfd p{fds[0], POLLIN, 0};
        char c = 0;
        while (poll(&p, 1, 20'000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') {
            reported += c;
        }
        close(fds[0]);
        if (reported.empty()) {
            return "Xvfb did not report its display";
        }
        m_name = ":" + reported;
        return "";
    }

    // Ends the server at once, as a display that goes away.
    void Kill() {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = 0;
        }
    }

    // The display name, ":N", once started.
    const std::string& Name() const { return m_name; }

private:
    // The program's path from PATH, or "" when it is not there.
    static std::string FindProgram(const std::string& name) {
        const char* path = std::getenv("PATH");
        std::string directories = path != nullptr ? path : "/usr/bin:/bin";
        size_t start = 0;
        while (start <= directories.size()) {
            const size_t end = std::min(directories.find(':', start), directories.size());
            const std::string candidate = directories.substr(start, end - start) + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0) {
                return candidate;
            }
            start = end + 1;
        }
        return "";
    }

    int m_width = kScreenWidth;
    int m_height = kScreenHeight;
    pid_t m_pid = 0;
    std::string m_name;
};

}  // namespace quorix::test
