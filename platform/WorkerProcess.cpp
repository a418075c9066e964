// The worker's life from fork to reaping, its sandbox, and I/O with deadlines on its channel.
#include "WorkerProcess.h"

#include <seccomp.h>

#include <fcntl.h>
#include <linux/sched.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <thread>

namespace {

// How often a wait looks at the worker: short enough that a stopped or growing worker is seen at once.
constexpr int kWatchMilliseconds = 20;
// How long a worker whose channel closed may take to finish exiting before it is killed.
constexpr auto kExitGrace = std::chrono::milliseconds(500);

int MillisecondsLeft(WorkerClock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - WorkerClock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<int64_t>(left, 1 << 30)) + 1;
}

// [SECTION] The worker's side

// Closes every inherited descriptor but the standard streams and the ones kept. An inherited display connection
// would otherwise keep the owner's window on screen for as long as the worker outlives the owner.
void KeepOnlyDescriptors(std::array<int, 2> keep)
{
    std::sort(keep.begin(), keep.end());
    unsigned first = 3;
    for (const int fd : keep) {
        if (fd < 0)
            continue;
        if (static_cast<unsigned>(fd) > first)
            close_range(first, static_cast<unsigned>(fd) - 1, 0);
        first = std::max(first, static_cast<unsigned>(fd) + 1);
    }
    close_range(first, ~0u, 0);
}

// The seccomp filter. Reads and writes on the channel; writes elsewhere (a library's warning on standard error) fail
// quietly; memory management without executable pages, mapping no file but the shared one; the worker's own signals
// and signal stack (which sanitizer runtimes touch on the way out); exit. Reading files adds read-only opens and the
// calls that look at the file system; threads add clone for threads only (clone3 hides its flags from the filter, so
// it reports itself missing and the C library falls back to clone). Anything else kills the worker with SIGSYS.
bool EnterSandbox(int channel, const WorkerSandbox& sandbox)
{
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (filter == nullptr)
        return false;
    const auto argIs = [](unsigned arg, int fd) {
        return scmp_arg_cmp{arg, SCMP_CMP_EQ, static_cast<scmp_datum_t>(fd), 0};
    };
    const scmp_arg_cmp notOnChannel{0, SCMP_CMP_NE, static_cast<scmp_datum_t>(channel), 0};
    const scmp_arg_cmp self{0, SCMP_CMP_EQ, static_cast<scmp_datum_t>(getpid()), 0};
    const scmp_arg_cmp noExec{2, SCMP_CMP_MASKED_EQ, PROT_EXEC, 0};
    // The low 32 bits of mmap's descriptor: -1 for anonymous memory, or the shared file.
    const auto mapsFrom = [](int fd) {
        return scmp_arg_cmp{4, SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, static_cast<uint32_t>(fd)};
    };
    bool built = true;
    const auto allow = [&](int call, std::initializer_list<scmp_arg_cmp> conditions) {
        built = built && seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, static_cast<unsigned>(conditions.size()),
                                                conditions.begin()) == 0;
    };

    for (const int call :
         {SCMP_SYS(read), SCMP_SYS(recvfrom), SCMP_SYS(recvmsg), SCMP_SYS(write), SCMP_SYS(sendto), SCMP_SYS(sendmsg)})
        allow(call, {argIs(0, channel)});
    for (const int call : {SCMP_SYS(write), SCMP_SYS(writev)})
        built = built && seccomp_rule_add(filter, SCMP_ACT_ERRNO(EBADF), call, 1, notOnChannel) == 0;
    allow(SCMP_SYS(mmap), {noExec, mapsFrom(-1)});
    if (sandbox.sharedFile >= 0)
        allow(SCMP_SYS(mmap), {noExec, mapsFrom(sandbox.sharedFile)});
    allow(SCMP_SYS(mprotect), {noExec});
    allow(SCMP_SYS(tgkill), {self});
    for (const int call : {SCMP_SYS(munmap), SCMP_SYS(mremap), SCMP_SYS(brk), SCMP_SYS(madvise), SCMP_SYS(futex),
                           SCMP_SYS(rt_sigprocmask), SCMP_SYS(rt_sigreturn), SCMP_SYS(sigaltstack), SCMP_SYS(getpid),
                           SCMP_SYS(gettid), SCMP_SYS(clock_gettime), SCMP_SYS(exit), SCMP_SYS(exit_group)})
        allow(call, {});

    if (sandbox.readsFiles) {
        // No access mode but read, and nothing that creates or truncates.
        const scmp_datum_t writing = O_ACCMODE | O_CREAT | O_TRUNC | O_APPEND | O_TMPFILE;
        allow(SCMP_SYS(open), {scmp_arg_cmp{1, SCMP_CMP_MASKED_EQ, writing, 0}});
        allow(SCMP_SYS(openat), {scmp_arg_cmp{2, SCMP_CMP_MASKED_EQ, writing, 0}});
        built = built && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(openat2), 0) == 0;
        for (const int call : {SCMP_SYS(read), SCMP_SYS(pread64), SCMP_SYS(readv), SCMP_SYS(close), SCMP_SYS(lseek),
                               SCMP_SYS(fstat), SCMP_SYS(newfstatat), SCMP_SYS(statx), SCMP_SYS(stat), SCMP_SYS(lstat),
                               SCMP_SYS(access), SCMP_SYS(faccessat), SCMP_SYS(faccessat2), SCMP_SYS(getdents64),
                               SCMP_SYS(readlink), SCMP_SYS(readlinkat), SCMP_SYS(getcwd)})
            allow(call, {});
    }
    if (sandbox.threads) {
        allow(SCMP_SYS(clone), {scmp_arg_cmp{0, SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD}});
        built = built && seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0;
        // The C library installs a handler of its own before the first thread starts.
        for (const int call : {SCMP_SYS(rt_sigaction), SCMP_SYS(set_robust_list), SCMP_SYS(rseq), SCMP_SYS(sched_yield),
                               SCMP_SYS(sched_getaffinity), SCMP_SYS(getrlimit), SCMP_SYS(prlimit64)})
            allow(call, {});
    }
    built = built && seccomp_load(filter) == 0;
    seccomp_release(filter);
    return built;
}

[[noreturn]] void RunWorker(const char* name, const WorkerSandbox& sandbox, pid_t owner, int channel,
                            const std::function<void(int)>& body)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != owner)
        _exit(0);
    prctl(PR_SET_NAME, name);
    KeepOnlyDescriptors({channel, sandbox.sharedFile});
    const rlimit noCore{0, 0};
    setrlimit(RLIMIT_CORE, &noCore);
    if (!EnterSandbox(channel, sandbox))
        _exit(0);
    body(channel);
    _exit(0);
}

// [SECTION] The owner's side

// The state letter of /proc/PID/stat ('R', 'S', 'T', 'Z', ...), or 0 when unknown.
char ProcessState(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    std::FILE* stat = std::fopen(path, "re");
    if (stat == nullptr)
        return 0;
    char line[512];
    const size_t got = std::fread(line, 1, sizeof line - 1, stat);
    std::fclose(stat);
    line[got] = '\0';
    // The name in parentheses may hold anything, so the state is found after the last ')'.
    const char* end = std::strrchr(line, ')');
    return end != nullptr && end[1] == ' ' ? end[2] : 0;
}

bool IsStopped(pid_t pid)
{
    const char state = ProcessState(pid);
    return state == 'T' || state == 't';
}

// The pages of a process from /proc/PID/statm: field 0 the address space, 1 the resident set.
uint64_t StatmBytes(pid_t pid, int field)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/statm", static_cast<int>(pid));
    std::FILE* statm = std::fopen(path, "re");
    if (statm == nullptr)
        return 0;
    unsigned long long pages[2] = {};
    const bool read = std::fscanf(statm, "%llu %llu", &pages[0], &pages[1]) == 2;
    std::fclose(statm);
    return read ? pages[field] * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) : 0;
}

std::string SignalName(int signal)
{
    const char* name = sigabbrev_np(signal);
    return "signal " + std::to_string(signal) + (name != nullptr ? std::string(" SIG") + name : std::string());
}

// How a worker that ended by itself ended, from its wait status.
WorkerError EndedBy(int status)
{
    if (WIFEXITED(status))
        return {WorkerFailure::Ended, "exited without an answer (status " + std::to_string(WEXITSTATUS(status)) + ")"};
    const int signal = WTERMSIG(status);
    switch (signal) {
    case SIGSYS:
        return {WorkerFailure::SandboxViolation, "made a call that its sandbox forbids (" + SignalName(signal) + ")"};
    case SIGXCPU:
        return {WorkerFailure::TimedOut, "used up its CPU time (" + SignalName(signal) + ")"};
    case SIGSEGV:
    case SIGBUS:
    case SIGFPE:
    case SIGILL:
    case SIGABRT:
    case SIGTRAP:
        return {WorkerFailure::Crashed, "crashed (" + SignalName(signal) + ")"};
    }
    return {WorkerFailure::Killed, "was killed from outside (" + SignalName(signal) + ")"};
}

}  // namespace

WorkerError WorkerProcess::Start(const char* name, const WorkerSandbox& sandbox, std::function<void(int channel)> body)
{
    Stop();
    // A socket rather than a pipe: a send to a dead worker fails without raising SIGPIPE here.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return {WorkerFailure::NotStarted, std::string("could not open its channel: ") + std::strerror(errno)};
    std::fflush(nullptr);
    const pid_t owner = getpid();
    const pid_t child = fork();
    if (child == 0) {
        close(ends[0]);
        RunWorker(name, sandbox, owner, ends[1], body);
    }
    const int forkError = errno;
    close(ends[1]);
    if (child < 0) {
        close(ends[0]);
        return {WorkerFailure::NotStarted, std::string("could not be started: ") + std::strerror(forkError)};
    }
    pid_ = child;
    channel_ = ends[0];
    return {};
}

WorkerError WorkerProcess::Stop()
{
    if (pid_ <= 0)
        return {};
    close(channel_);
    WorkerError why;
    int status = 0;
    pid_t reaped = waitpid(pid_, &status, WNOHANG);
    if (reaped == pid_) {
        why = EndedBy(status);
    } else {
        if (IsStopped(pid_))
            why = {WorkerFailure::Stopped, "was stopped from outside"};
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        // A worker already on its way out keeps the status it ends with: one that is slow to go (a sanitizer
        // runtime's address space takes a while to tear down) still reports why it went.
        if (!why && !(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL))
            why = EndedBy(status);
    }
    pid_ = -1;
    channel_ = -1;
    return why;
}

WorkerError WorkerProcess::Lost()
{
    // A channel closes while its process exits, a moment before the process can be reaped.
    const WorkerClock::time_point giveUp = WorkerClock::now() + kExitGrace;
    int status = 0;
    while (WorkerClock::now() < giveUp && !IsStopped(pid_)) {
        const pid_t reaped = waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_) {
            close(channel_);
            pid_ = -1;
            channel_ = -1;
            return EndedBy(status);
        }
        if (reaped < 0 && errno != EINTR)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    WorkerError why = Stop();
    return why ? why : WorkerError{WorkerFailure::Ended, "closed its channel without an answer"};
}

namespace {

// Moves size bytes through a socket, out of or into data, waiting for the socket before each step. 0 when done,
// ETIMEDOUT when the deadline passed, another errno (or EPIPE for an orderly close) when the other side has gone.
int Transfer(int fd, bool out, void* data, std::size_t size, WorkerClock::time_point deadline)
{
    char* at = static_cast<char*>(data);
    while (size > 0) {
        pollfd ready{fd, static_cast<short>(out ? POLLOUT : POLLIN), 0};
        const int left = MillisecondsLeft(deadline);
        if (left == 0)
            return ETIMEDOUT;
        const int polled = poll(&ready, 1, left);
        if (polled < 0 && errno != EINTR)
            return errno;
        if (polled <= 0)
            continue;
        const ssize_t moved = out ? send(fd, at, size, MSG_NOSIGNAL | MSG_DONTWAIT) : recv(fd, at, size, MSG_DONTWAIT);
        if (moved < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (moved <= 0)
            return moved == 0 ? EPIPE : errno;
        at += moved;
        size -= static_cast<std::size_t>(moved);
    }
    return 0;
}

}  // namespace

WorkerError WorkerProcess::Send(const void* data, std::size_t size, WorkerClock::time_point deadline)
{
    if (pid_ <= 0)
        return {WorkerFailure::NotStarted, "is not running"};
    const int error = Transfer(channel_, true, const_cast<void*>(data), size, deadline);
    if (error == 0)
        return {};
    if (error != ETIMEDOUT)
        return Lost();
    WorkerError why = Stop();
    return why ? why : WorkerError{WorkerFailure::TimedOut, "did not take its request in time"};
}

WorkerError WorkerProcess::Receive(void* data, std::size_t size, WorkerClock::time_point deadline)
{
    if (pid_ <= 0)
        return {WorkerFailure::NotStarted, "is not running"};
    const int error = Transfer(channel_, false, data, size, deadline);
    if (error == 0)
        return {};
    if (error != ETIMEDOUT)
        return Lost();
    WorkerError why = Stop();
    return why ? why : WorkerError{WorkerFailure::TimedOut, "did not answer in time"};
}

WorkerError WorkerProcess::AwaitAnswer(WorkerClock::time_point deadline, const std::function<WorkerError()>& watch)
{
    if (pid_ <= 0)
        return {WorkerFailure::NotStarted, "is not running"};
    for (;;) {
        const int left = MillisecondsLeft(deadline);
        if (left == 0) {
            WorkerError why = Stop();
            return why ? why : WorkerError{WorkerFailure::TimedOut, "did not answer in time"};
        }
        pollfd ready{channel_, POLLIN, 0};
        const int polled = poll(&ready, 1, std::min(left, kWatchMilliseconds));
        // Readable or hung up: the read that follows tells which.
        if (polled > 0)
            return {};
        if (polled < 0 && errno != EINTR)
            return Lost();
        if (IsStopped(pid_))
            return Stop();
        if (watch) {
            WorkerError why = watch();
            if (why) {
                WorkerError ended = Stop();
                return ended ? ended : why;
            }
        }
    }
}

bool WorkerProcess::Limit(int resource, uint64_t soft) const
{
    const rlimit limit{static_cast<rlim_t>(soft), RLIM_INFINITY};
    return pid_ > 0 && prlimit(pid_, static_cast<__rlimit_resource>(resource), &limit, nullptr) == 0;
}

uint64_t WorkerProcess::AddressSpaceBytes() const { return pid_ > 0 ? StatmBytes(pid_, 0) : 0; }

uint64_t WorkerProcess::ResidentBytes() const { return pid_ > 0 ? StatmBytes(pid_, 1) : 0; }

bool ReadFully(int fd, void* data, std::size_t size)
{
    char* at = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t got = recv(fd, at, size, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        at += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

bool WriteFully(int fd, const void* data, std::size_t size)
{
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t sent = send(fd, at, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        at += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}
