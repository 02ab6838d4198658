// Running child processes, several at once: the conversions of a batch run,
// one per recording, so that one that crashes cannot stop the others.
#pragma once

#include <csignal>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// A child is either a program (argv) or, when `work` is given, a copy of
// this process that runs `work` and ends with what it returns. `work` gets
// the write end of a pipe of its own (`dataFd`): what it writes there comes
// back whole as the result's `data`, apart from anything it prints.
struct ChildJob {
    std::vector<std::string> argv;  // argv[0] is the program's path
    std::string workingFolder;      // where the program starts
    std::function<int(int dataFd)> work{};
};

struct ChildResult {
    int exitCode = -1;       // the exit status; -1 when it did not exit
    int signal = 0;          // the signal that ended it; 0 when it exited
    std::string output;      // its standard output and error, at most the last 64 KiB
    std::string data;        // what a `work` child wrote to its data pipe, at most the first 16 MiB
    std::string startError;  // why it could not be started; "" when it was
    double seconds = 0;      // from start to end
};

// The last non-empty line of a program's output ("" when there is none).
std::string LastLine(const std::string& output);

// A short text of how a child ended when it did not exit: "ended by signal 9 (Killed)".
std::string SignalText(int signal);

struct JobCallbacks {
    // Called just before job i starts; returns what to run.
    std::function<ChildJob(std::size_t)> prepare;
    // Called once for every job that was started, when it has ended.
    std::function<void(std::size_t, const ChildResult&)> finished;
    // Called about five times a second while jobs run (may be empty).
    std::function<void()> tick;
    // On a stop, let the running jobs end by themselves instead of sending
    // them SIGTERM (no further job starts either way); they ignore SIGINT,
    // SIGTERM and SIGHUP, so that a stop sent to the whole process group
    // does not end them either.
    bool finishRunningOnStop = false;
};

// Runs jobs 0 to count-1 in order, at most `parallel` at once, each with the
// environment `environment` ("NAME=value" texts), standard input from
// /dev/null and standard output and error into one pipe. A child is killed
// when this process dies, so none outlives a killed batch. When `*stop`
// becomes non-zero (a signal handler sets it and writes a byte to the pipe
// whose read end is `wakeFd`, -1 for none), no further job starts and the
// running ones get SIGTERM (unless `finishRunningOnStop`). Returns the number of jobs started; jobs from
// that number on never ran.
std::size_t RunJobs(std::size_t count, int parallel, const std::vector<std::string>& environment,
                    const JobCallbacks& callbacks, const volatile std::sig_atomic_t* stop,
                    int wakeFd);
