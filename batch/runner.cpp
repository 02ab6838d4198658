#include "batch/runner.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>

namespace {

constexpr std::size_t kKeptOutput = 64 * 1024;
constexpr std::size_t kKeptData = 16 * 1024 * 1024;
constexpr int kTickMs = 200;

using Clock = std::chrono::steady_clock;

struct Running {
    std::size_t job = 0;
    pid_t pid = -1;
    int fd = -1;      // its output; -1 once it has ended
    int dataFd = -1;  // its data pipe (a `work` child); -1 for none, or once it has ended
    Clock::time_point start;
    ChildResult result;
};

// What the child does between vfork and exec: system calls only, on texts
// made beforehand, since it shares the parent's memory until exec.
struct ChildSetup {
    char* const* argv;
    char* const* envp;
    const char* workingFolder;  // null: stay
    int input;                  // becomes standard input
    int output;                 // becomes standard output and error
    int data;                   // handed to `work`
    pid_t parent;
    const std::string* cannotEnter;  // "Can't enter FOLDER: "
    const std::string* cannotRun;    // "Can't run PROGRAM: "
    const std::function<int(int)>* work;  // instead of exec, when not null
    bool shielded;  // the stop signals ignored: the parent lets the child finish
};

[[noreturn]] void ChildFails(const std::string& prefix) {
    const char* reason = std::strerror(errno);
    ssize_t ignored = write(STDERR_FILENO, prefix.data(), prefix.size());
    ignored = write(STDERR_FILENO, reason, std::strlen(reason));
    ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
    _exit(127);
}

[[noreturn]] void BecomeChild(const ChildSetup& setup) {
    // No conversion outlives the batch that started it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != setup.parent) _exit(127);
    // A stop signal sent to the whole process group (Ctrl-C on a terminal,
    // a service manager stopping the group) does not cut a shielded child short.
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, setup.shielded ? SIG_IGN : SIG_DFL);
    std::signal(SIGPIPE, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(setup.input, STDIN_FILENO);
    dup2(setup.output, STDOUT_FILENO);
    dup2(setup.output, STDERR_FILENO);
    if (setup.workingFolder && chdir(setup.workingFolder) != 0) ChildFails(*setup.cannotEnter);
    // A copy of this process does its work and ends without running the
    // parent's exit handlers or flushing its buffers.
    if (setup.work) _exit((*setup.work)(setup.data));
    execve(setup.argv[0], setup.argv, setup.envp);
    ChildFails(*setup.cannotRun);
}

// vfork: the parent's pages are not copied for a child that only calls exec;
// a child that does work of its own is a fork. Signals stay blocked until
// the child has put back their default actions.
pid_t SpawnChild(const ChildSetup& setup) {
    sigset_t all, previous;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &previous);
    const pid_t pid = setup.work ? fork() : vfork();
    if (pid == 0) BecomeChild(setup);
    const int cause = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = cause;
    return pid;
}

// Starts one child; false with `error` when it could not be started.
bool StartChild(const ChildJob& job, char* const* envp, int devNull, bool shielded, Running& child,
                std::string& error) {
    std::vector<std::string> argText = job.argv;
    std::vector<char*> argv;
    for (auto& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string name = job.work ? std::string("a conversion") : job.argv.at(0);
    const std::string cannotEnter = "Can't enter " + job.workingFolder + ": ";
    const std::string cannotRun = "Can't run " + name + ": ";

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "Can't start " + name + ": " + std::strerror(errno);
        return false;
    }
    int dataFds[2] = {-1, -1};
    if (job.work && pipe2(dataFds, O_CLOEXEC) != 0) {
        error = "Can't start " + name + ": " + std::strerror(errno);
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    const ChildSetup setup{argv.data(), envp, job.workingFolder.empty() ? nullptr : job.workingFolder.c_str(),
                           devNull, pipeFds[1], dataFds[1], getpid(), &cannotEnter, &cannotRun,
                           job.work ? &job.work : nullptr, shielded};
    const pid_t pid = SpawnChild(setup);
    const int cause = errno;
    close(pipeFds[1]);
    if (dataFds[1] >= 0) close(dataFds[1]);
    if (pid < 0) {
        error = "Can't start " + name + ": " + std::strerror(cause);
        close(pipeFds[0]);
        if (dataFds[0] >= 0) close(dataFds[0]);
        return false;
    }
    fcntl(pipeFds[0], F_SETFL, O_NONBLOCK);
    if (dataFds[0] >= 0) fcntl(dataFds[0], F_SETFL, O_NONBLOCK);
    child.pid = pid;
    child.fd = pipeFds[0];
    child.dataFd = dataFds[0];
    child.start = Clock::now();
    return true;
}

// Reads what is there from `fd` into `text`; false at the end of the pipe.
// The output keeps its last kKeptOutput bytes (`keepEnd`); the data its
// first kKeptData, the rest is read and dropped.
bool ReadPipe(int fd, std::string& text, bool keepEnd) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            const auto got = static_cast<std::size_t>(n);
            if (keepEnd) {
                text.append(buffer, got);
                if (text.size() > 2 * kKeptOutput) text.erase(0, text.size() - kKeptOutput);
            } else if (text.size() < kKeptData) {
                text.append(buffer, std::min(got, kKeptData - text.size()));
            }
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;  // end of the pipe, or an error that ends it
    }
}

// Reads what `fd` holds; closes it at its end.
void ReadOrClose(int& fd, std::string& text, bool keepEnd) {
    if (ReadPipe(fd, text, keepEnd)) return;
    close(fd);
    fd = -1;
}

void Reap(Running& child) {
    for (int* fd : {&child.fd, &child.dataFd}) {
        if (*fd >= 0) close(*fd);
        *fd = -1;
    }
    int status = 0;
    while (waitpid(child.pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        child.result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        child.result.signal = WTERMSIG(status);
    }
    if (child.result.output.size() > kKeptOutput)
        child.result.output.erase(0, child.result.output.size() - kKeptOutput);
    child.result.seconds = std::chrono::duration<double>(Clock::now() - child.start).count();
}

}  // namespace

std::string LastLine(const std::string& output) {
    std::size_t end = output.size();
    while (end > 0 && (output[end - 1] == '\n' || output[end - 1] == '\r')) --end;
    if (end == 0) return std::string();
    const std::size_t start = output.find_last_of("\r\n", end - 1);
    const std::size_t from = start == std::string::npos ? 0 : start + 1;
    return output.substr(from, end - from);
}

std::string SignalText(int signal) {
    const char* name = strsignal(signal);
    return "ended by signal " + std::to_string(signal) + (name ? std::string(" (") + name + ")" : "");
}

std::size_t RunJobs(std::size_t count, int parallel, const std::vector<std::string>& environment,
                    const JobCallbacks& callbacks, const volatile std::sig_atomic_t* stop,
                    int wakeFd) {
    std::vector<std::string> envText = environment;
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

    std::vector<Running> running;
    std::size_t next = 0;
    bool stopping = false;
    auto stopRequested = [&] { return stop && *stop != 0; };

    while (next < count || !running.empty()) {
        if (!stopping && stopRequested()) {
            stopping = true;
            if (!callbacks.finishRunningOnStop)
                for (const Running& child : running) kill(child.pid, SIGTERM);
        }
        while (!stopping && next < count && running.size() < static_cast<std::size_t>(parallel)) {
            const std::size_t job = next++;
            const ChildJob what = callbacks.prepare(job);
            Running child;
            child.job = job;
            std::string error;
            if (!StartChild(what, envp.data(), devNull, callbacks.finishRunningOnStop, child, error)) {
                ChildResult result;
                result.startError = error;
                callbacks.finished(job, result);
                continue;
            }
            running.push_back(child);
        }
        if (running.empty()) {
            if (stopping) break;
            continue;
        }

        // Two entries a child, its output and its data pipe: poll passes over
        // one that is -1 (ended, or none).
        std::vector<pollfd> fds;
        for (const Running& child : running) {
            fds.push_back({child.fd, POLLIN, 0});
            fds.push_back({child.dataFd, POLLIN, 0});
        }
        if (wakeFd >= 0) fds.push_back({wakeFd, POLLIN, 0});
        const int ready = poll(fds.data(), fds.size(), kTickMs);
        if (ready < 0 && errno != EINTR) break;
        if (wakeFd >= 0 && (fds.back().revents & POLLIN)) {
            char drain[64];
            while (read(wakeFd, drain, sizeof drain) > 0) {
            }
        }
        for (std::size_t i = running.size(); i-- > 0;) {
            if (ready <= 0) continue;
            Running& child = running[i];
            if (fds[2 * i].revents != 0) ReadOrClose(child.fd, child.result.output, true);
            if (fds[2 * i + 1].revents != 0) ReadOrClose(child.dataFd, child.result.data, false);
            if (child.fd >= 0 || child.dataFd >= 0) continue;  // it ends with both pipes
            Running done = std::move(running[i]);
            running.erase(running.begin() + static_cast<std::ptrdiff_t>(i));
            Reap(done);
            callbacks.finished(done.job, done.result);
        }
        if (callbacks.tick) callbacks.tick();
    }
    if (devNull >= 0) close(devNull);
    return next;
}
