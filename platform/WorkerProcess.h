// A process of its own for work on input that nobody vouches for (image files, shader files): forked from this one,
// talking over one socket, bounded in time and memory, confined by a seccomp filter, and killed and reaped when it is
// done with or misbehaves. Whatever the worker does, this side gets a reason and a message, never a signal or an
// exception: a dead worker only fails the current request, and the owner starts a new one for the next.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Why a worker failed a request.
enum class WorkerFailure {
    None,
    NotStarted,        // no worker runs, or none could be started
    Crashed,           // it ended on a fault of its own (segmentation fault, abort, bus error, ...)
    SandboxViolation,  // it made a call that its sandbox forbids and was stopped
    Killed,            // something outside ended it (a kill signal that this side did not send)
    Stopped,           // something outside stopped it (SIGSTOP, a debugger): it would never answer
    Ended,             // it exited, or closed its channel, without an answer
    TimedOut,          // no answer within the deadline or the CPU time allowed
};

struct WorkerError {
    WorkerFailure reason = WorkerFailure::None;
    std::string message;  // what happened, for a listing: "ended on signal 11 (Segmentation fault)"

    explicit operator bool() const { return reason != WorkerFailure::None; }
};

// What the worker's sandbox allows besides its channel, memory management, its own signals and exit. Anything else
// (open for writing, exec, fork, sockets, ...) stops it with SIGSYS; writes to other descriptors (a library's warning
// on standard error) fail quietly instead.
struct WorkerSandbox {
    int sharedFile = -1;      // a descriptor the worker keeps besides its channel and may map (a memory file)
    bool readsFiles = false;  // may open files read-only, read them and look at the file system (includes)
    bool threads = false;     // may start threads of its own (never processes)
};

using WorkerClock = std::chrono::steady_clock;

class WorkerProcess {
public:
    WorkerProcess() = default;
    WorkerProcess(const WorkerProcess&) = delete;
    WorkerProcess& operator=(const WorkerProcess&) = delete;
    ~WorkerProcess() { Stop(); }

    // Forks a worker named name that runs body(channel) inside sandbox and exits when body returns. The worker keeps
    // no descriptor of this process but its channel and sandbox.sharedFile, ends when this process ends, and writes
    // no core file. A running worker is stopped first.
    WorkerError Start(const char* name, const WorkerSandbox& sandbox, std::function<void(int channel)> body);
    // Ends the worker (SIGKILL) and reaps it. When it had already ended or stopped on its own, the reason says how;
    // when it was running, None.
    WorkerError Stop();

    bool Running() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }

    // Sends or receives exactly size bytes by the deadline. On a failure the worker is stopped and the reason says why
    // (a worker that ended, stopped or did not keep up).
    WorkerError Send(const void* data, std::size_t size, WorkerClock::time_point deadline);
    WorkerError Receive(void* data, std::size_t size, WorkerClock::time_point deadline);
    // Waits until the worker has something to say. Every few milliseconds it checks that the worker is neither
    // stopped nor gone and calls watch (when given), whose failure ends the wait; the worker is then stopped.
    WorkerError AwaitAnswer(WorkerClock::time_point deadline, const std::function<WorkerError()>& watch = {});

    // Sets a limit (RLIMIT_AS, RLIMIT_CPU, ...) of the running worker; false when it could not be set.
    bool Limit(int resource, uint64_t soft) const;
    // The worker's address space and resident memory in bytes, from /proc; 0 when unknown.
    uint64_t AddressSpaceBytes() const;
    uint64_t ResidentBytes() const;

private:
    // Stops the worker, and says why the transfer that saw it go failed.
    WorkerError Lost();

    pid_t pid_ = -1;
    int channel_ = -1;
};

// In the worker: reads or writes exactly size bytes on the channel, blocking. False when the other side has gone.
bool ReadFully(int fd, void* data, std::size_t size);
bool WriteFully(int fd, const void* data, std::size_t size);
