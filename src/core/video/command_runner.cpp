#include "core/video/command_runner.hpp"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "core/common/file_io.hpp"

extern char** environ;

namespace tintora {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How much of the error output a result keeps.
constexpr std::size_t kTailBytes = 4096;
// How often keep_running is asked.
constexpr milliseconds kAskInterval{50};
// How long a child may take to end after SIGTERM before it gets SIGKILL.
constexpr milliseconds kTerminateGrace{2000};
// Without a process descriptor the end of a child is only seen by asking.
constexpr milliseconds kReapInterval{5};

std::string errno_text(int error_number) { return std::strerror(error_number); }

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // close() is not retried on EINTR: on Linux the descriptor is gone either way.
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

int open_retrying(const char* path, int flags, mode_t mode = 0) {
    int fd;
    do {
        fd = ::open(path, flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Keeps the last kTailBytes of what is appended, without copying on every
// append: the front is cut only when twice that much has piled up.
class Tail {
public:
    void append(const char* data, std::size_t size) {
        text_.append(data, size);
        if (text_.size() > 2 * kTailBytes) text_.erase(0, text_.size() - kTailBytes);
    }
    std::string take() {
        if (text_.size() > kTailBytes) text_.erase(0, text_.size() - kTailBytes);
        return std::move(text_);
    }

private:
    std::string text_;
};

// A descriptor numbered above the standard streams: when this process runs
// with one of them closed, a new descriptor can take its number, and the
// child's own standard streams would then overwrite it before it is copied.
UniqueFd above_standard_streams(UniqueFd fd) {
    if (!fd.valid() || fd.get() > STDERR_FILENO) return fd;
    return UniqueFd(::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
}

std::string file_tail(const std::filesystem::path& path) {
    const UniqueFd fd(open_retrying(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return {};
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) return {};
    const off_t start =
        status.st_size > static_cast<off_t>(kTailBytes) ? status.st_size - kTailBytes : 0;
    std::string text(static_cast<std::size_t>(status.st_size - start), '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::pread(fd.get(), text.data() + got, text.size() - got,
                                  start + static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    text.resize(got);
    return text;
}

// A descriptor that polls readable once the process has ended; -1 when the
// kernel has none, and the child is then asked about more often. Called directly: the C library's
// wrapper is newer than the kernel call, and its header is not usable from C++ everywhere.
int open_process_descriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

enum class ErrorOutput { Kept, DevNull };
enum class StandardOutput { Read, DevNull };

// A pipe whose read end this process polls without blocking, its write end
// numbered above the standard streams for the child.
struct ReadPipe {
    UniqueFd read;
    UniqueFd write;
};

Result<ReadPipe> make_read_pipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return Error{"Cannot make a pipe: " + errno_text(errno)};
    ReadPipe pipe{UniqueFd(ends[0]), above_standard_streams(UniqueFd(ends[1]))};
    if (!pipe.write.valid()) return Error{"Cannot make a pipe: " + errno_text(errno)};
    // Only our end is non-blocking: the child writes as it always does.
    ::fcntl(pipe.read.get(), F_SETFL, ::fcntl(pipe.read.get(), F_GETFL) | O_NONBLOCK);
    return pipe;
}

// Reads what a non-blocking pipe holds now into sink; closes it at its end.
template <class Sink>
void drain_pipe(UniqueFd& pipe, Sink&& sink) {
    char buffer[8192];
    while (pipe.valid()) {
        const ssize_t n = ::read(pipe.get(), buffer, sizeof buffer);
        if (n > 0) {
            sink(std::string_view(buffer, static_cast<std::size_t>(n)));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        } else {
            pipe.reset();  // end of file, or an error that will not go away
        }
    }
}

// A started child: its process id (also its process group's), a descriptor
// that becomes readable when it ends (when the kernel offers one), and the
// read ends of its error output and of its standard output.
class Child {
public:
    // error_number, when given, receives the system's error number behind a
    // failure. feed, when given, receives this process's end of a socket
    // that is the child's standard input (else that is /dev/null).
    static Result<Child> spawn(const Command& command, ErrorOutput error_output,
                               StandardOutput standard_output = StandardOutput::DevNull,
                               int* error_number = nullptr, UniqueFd* feed = nullptr);

    Child() = default;
    Child(Child&& other) noexcept
        : pid_(std::exchange(other.pid_, -1)),
          pidfd_(std::move(other.pidfd_)),
          pipe_(std::move(other.pipe_)),
          output_(std::move(other.output_)),
          tail_(std::move(other.tail_)),
          reaped_(other.reaped_),
          wait_status_(other.wait_status_) {}
    Child& operator=(Child&&) = delete;
    // Also when the caller's keep_running throws: no child is left behind.
    ~Child() {
        if (pid_ > 0) terminate();
    }
    // Hands the child over to someone else, who then reaps it.
    pid_t release() { return std::exchange(pid_, -1); }

    // Takes charge of a child started earlier, to stop it.
    static Child adopt(pid_t pid) {
        Child child;
        child.pid_ = pid;
        child.pidfd_ = UniqueFd(open_process_descriptor(pid));
        return child;
    }

    void set_output_reader(const OutputReader* reader) { reader_ = reader; }

    // The exit code, or 128 + the signal that ended the child.
    int exit_status() const {
        if (!wait_status_) return -1;
        if (WIFEXITED(*wait_status_)) return WEXITSTATUS(*wait_status_);
        if (WIFSIGNALED(*wait_status_)) return 128 + WTERMSIG(*wait_status_);
        return -1;
    }
    int signal() const {
        return wait_status_ && WIFSIGNALED(*wait_status_) ? WTERMSIG(*wait_status_) : 0;
    }
    std::string take_tail() { return tail_.take(); }

    // Reaps the child when it has ended (waiting for that without WNOHANG);
    // true once it is reaped.
    bool reap(int options = WNOHANG) {
        if (reaped_) return true;
        int status = 0;
        pid_t got;
        do {
            got = ::waitpid(pid_, &status, options);
        } while (got < 0 && errno == EINTR);
        if (got == 0) return false;
        // ECHILD: someone else reaped it; it has ended all the same.
        reaped_ = true;
        if (got == pid_) wait_status_ = status;
        return true;
    }

    // Sleeps until the child writes or ends, or the timeout passes, or
    // (when given) the descriptor `writable` takes more; reads what was written.
    void wait_for_event(milliseconds timeout, int writable = -1) {
        if (!pidfd_.valid()) timeout = std::min(timeout, kReapInterval);
        pollfd fds[4];
        nfds_t count = 0;
        for (const UniqueFd* fd : {&pipe_, &output_, &pidfd_}) {
            if (fd->valid()) fds[count++] = pollfd{fd->get(), POLLIN, 0};
        }
        if (writable >= 0) fds[count++] = pollfd{writable, POLLOUT, 0};
        if (::poll(fds, count, static_cast<int>(timeout.count())) > 0) drain();
    }

    // Reads what the pipes hold now, without blocking.
    void drain() {
        drain_pipe(pipe_,
                   [this](std::string_view text) { tail_.append(text.data(), text.size()); });
        drain_pipe(output_, [this](std::string_view text) {
            if (reader_ != nullptr && *reader_) (*reader_)(text);
        });
    }

    // SIGTERM to the child's process group, a grace period in which the
    // pipes are still drained (a child that reports its end must not block on
    // a full pipe), then SIGKILL. Always reaps; what the child started and
    // left behind in its group is killed as well.
    void terminate() {
        if (!reap()) {
            signal_group(SIGTERM);
            const Clock::time_point deadline = Clock::now() + kTerminateGrace;
            while (!reap()) {
                const Clock::time_point now = Clock::now();
                if (now >= deadline) break;
                wait_for_event(std::chrono::ceil<milliseconds>(
                    std::min<Clock::duration>(deadline - now, kAskInterval)));
            }
            if (!reaped_) {
                signal_group(SIGKILL);
                reap(0);
            }
        }
        // The group's number is not given to another process while any
        // member lives, so this reaches only what this child left.
        signal_group(SIGKILL);
    }

private:
    void signal_group(int signal_number) const {
        if (::kill(-pid_, signal_number) != 0 && errno == ESRCH && !reaped_) {
            ::kill(pid_, signal_number);  // not (yet) a group of its own
        }
    }

    pid_t pid_ = -1;
    UniqueFd pidfd_;
    UniqueFd pipe_;
    UniqueFd output_;
    Tail tail_;
    const OutputReader* reader_ = nullptr;
    bool reaped_ = false;
    std::optional<int> wait_status_;
};

// Where a program is run from: a path as it stands, a bare name (a settings
// file may say just "ffmpeg") looked up along PATH as a command line would.
// The lookup is done here, before the child exists: between fork and exec a
// child of a threaded program may only make plain system calls.
Result<std::string> program_to_run(const std::filesystem::path& program, int& error_number) {
    const std::string name = program.string();
    if (name.find('/') != std::string::npos) return name;
    const char* path_variable = std::getenv("PATH");
    std::string_view folders =
        path_variable != nullptr && *path_variable != '\0' ? path_variable : "/bin:/usr/bin";
    int found_error = ENOENT;
    while (true) {
        const std::size_t colon = folders.find(':');
        const std::string_view folder = folders.substr(0, colon);
        const std::string candidate =
            (folder.empty() ? std::string(".") : std::string(folder)) + "/" + name;
        struct stat status {};
        if (::stat(candidate.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
            if (::access(candidate.c_str(), X_OK) == 0) return candidate;
            found_error = EACCES;  // there, but not to be run: said rather than "not found"
        }
        if (colon == std::string_view::npos) break;
        folders.remove_prefix(colon + 1);
    }
    error_number = found_error;
    return Error{"Cannot run \"" + name + "\": " + errno_text(found_error)};
}

// What the child sets up between fork and exec: only system calls that are
// safe there, on what the parent prepared.
struct ChildSetup {
    pid_t parent = -1;
    int input = -1;   // -1: /dev/null
    int output = -1;  // -1: /dev/null
    int error = -1;   // -1: /dev/null
    int exec_report = -1;  // the write end of a close-on-exec pipe: why exec failed
    int highest_fd = 1024;  // where closing inherited descriptors may stop
    const char* program = nullptr;
    char* const* argv = nullptr;
    char* const* environment = nullptr;
};

// Puts `source` (or /dev/null) at `target` without close-on-exec.
bool place_stream(int source, int target, int null_flags) {
    if (source < 0) {
        const int opened = ::open("/dev/null", null_flags);
        if (opened < 0) return false;
        if (opened == target) return true;
        const bool placed = ::dup2(opened, target) == target;
        if (opened > STDERR_FILENO) ::close(opened);
        return placed;
    }
    return ::dup2(source, target) == target;
}

[[noreturn]] void run_in_child(const ChildSetup& setup) {
    // The child dies with whoever started it, also when that is killed
    // outright: no encoder goes on writing for nobody.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != setup.parent) ::_exit(127);  // already gone before the line above
    ::setpgid(0, 0);
    // Default handling and nothing blocked, whatever this program ignores or blocks.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    for (int signal_number = 1; signal_number < NSIG; ++signal_number) {
        ::sigaction(signal_number, &default_action, nullptr);
    }
    sigset_t no_signals;
    sigemptyset(&no_signals);
    ::sigprocmask(SIG_SETMASK, &no_signals, nullptr);
    if (!place_stream(setup.input, STDIN_FILENO, O_RDONLY) ||
        !place_stream(setup.output, STDOUT_FILENO, O_WRONLY) ||
        !place_stream(setup.error, STDERR_FILENO, O_WRONLY)) {
        const int number = errno;
        [[maybe_unused]] ssize_t ignored = ::write(setup.exec_report, &number, sizeof number);
        ::_exit(127);
    }
    // Whatever another part of the program opened without close-on-exec
    // stays out of the child.
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, STDERR_FILENO + 1, ~0U, 4 /* CLOSE_RANGE_CLOEXEC */) != 0)
#endif
    {
        for (int fd = STDERR_FILENO + 1; fd <= setup.highest_fd; ++fd) {
            if (fd != setup.exec_report) ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    ::execve(setup.program, setup.argv, setup.environment);
    const int number = errno;
    [[maybe_unused]] ssize_t ignored = ::write(setup.exec_report, &number, sizeof number);
    ::_exit(127);
}

Result<Child> Child::spawn(const Command& command, ErrorOutput error_output,
                           StandardOutput standard_output, int* error_number, UniqueFd* feed) {
    const auto failed_with = [error_number](int number, Error error) {
        if (error_number != nullptr) *error_number = number;
        return error;
    };
    if (command.program.empty()) return Error{"No program was given."};
    int lookup_error = 0;
    const Result<std::string> program = program_to_run(command.program, lookup_error);
    if (!program) return failed_with(lookup_error, Error{program.error()});

    ChildSetup setup;
    UniqueFd error_file;
    ReadPipe error_pipe;
    ReadPipe output_pipe;
    if (!command.error_output_file.empty()) {
        error_file = above_standard_streams(UniqueFd(open_retrying(
            command.error_output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)));
        if (!error_file.valid()) {
            const int number = errno;
            return failed_with(number,
                               file_error(command.error_output_file, "Cannot write", number));
        }
        setup.error = error_file.get();
    } else if (error_output == ErrorOutput::Kept) {
        Result<ReadPipe> made = make_read_pipe();
        if (!made) return Error{made.error()};
        error_pipe = std::move(made).value();
        setup.error = error_pipe.write.get();
    }
    if (standard_output == StandardOutput::Read) {
        Result<ReadPipe> made = make_read_pipe();
        if (!made) return Error{made.error()};
        output_pipe = std::move(made).value();
        setup.output = output_pipe.write.get();
    }

    UniqueFd child_input;
    if (feed != nullptr) {
        // A socket rather than a pipe: send() with MSG_NOSIGNAL reports a
        // reader that has gone as EPIPE without raising SIGPIPE, which would
        // end this whole program.
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            return Error{"Cannot make a socket: " + errno_text(errno)};
        }
        *feed = UniqueFd(ends[0]);
        child_input = above_standard_streams(UniqueFd(ends[1]));
        if (!child_input.valid()) return Error{"Cannot make a socket: " + errno_text(errno)};
        ::fcntl(feed->get(), F_SETFL, ::fcntl(feed->get(), F_GETFL) | O_NONBLOCK);
        setup.input = child_input.get();
    }

    // Why exec failed comes back through this pipe; exec closes it.
    int report_ends[2];
    if (::pipe2(report_ends, O_CLOEXEC) != 0) {
        return Error{"Cannot make a pipe: " + errno_text(errno)};
    }
    UniqueFd report_read(report_ends[0]);
    UniqueFd report_write = above_standard_streams(UniqueFd(report_ends[1]));
    if (!report_write.valid()) return Error{"Cannot make a pipe: " + errno_text(errno)};
    setup.exec_report = report_write.get();

    std::vector<std::string> argument_texts;
    argument_texts.reserve(command.arguments.size() + 1);
    argument_texts.push_back(command.program.string());
    argument_texts.insert(argument_texts.end(), command.arguments.begin(), command.arguments.end());
    std::vector<char*> argv;
    argv.reserve(argument_texts.size() + 1);
    for (std::string& text : argument_texts) argv.push_back(text.data());
    argv.push_back(nullptr);

    // The inherited environment, less what the command sets itself.
    std::vector<char*> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view inherited(*entry);
        const auto same_name = [&inherited](const std::string& own) {
            const std::size_t equals = own.find('=');
            return inherited.substr(0, equals + 1) == std::string_view(own).substr(0, equals + 1);
        };
        if (std::none_of(command.environment.begin(), command.environment.end(), same_name)) {
            environment.push_back(*entry);
        }
    }
    std::vector<std::string> own_entries = command.environment;
    for (std::string& entry : own_entries) environment.push_back(entry.data());
    environment.push_back(nullptr);

    setup.parent = ::getpid();
    setup.program = program.value().c_str();
    setup.argv = argv.data();
    setup.environment = environment.data();
    if (struct rlimit limit {}; ::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        // A closing loop over a million numbers would take a while.
        setup.highest_fd = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 65536));
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int number = errno;
        return failed_with(number, Error{"Cannot run \"" + command.program.string() +
                                         "\": " + errno_text(number)});
    }
    if (pid == 0) run_in_child(setup);
    report_write.reset();

    Child child = adopt(pid);
    // Leading a group of its own before anyone signals it.
    ::setpgid(pid, pid);
    int exec_error = 0;
    ssize_t got;
    do {
        got = ::read(report_read.get(), &exec_error, sizeof exec_error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof exec_error)) {
        child.reap(0);
        child.pid_ = -1;
        return failed_with(exec_error, Error{"Cannot run \"" + command.program.string() +
                                             "\": " + errno_text(exec_error)});
    }
    child.pipe_ = std::move(error_pipe.read);
    child.output_ = std::move(output_pipe.read);
    return child;
}

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool needs_quotes(std::string_view text) {
    if (text.empty()) return true;
    for (const char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                           (c >= '0' && c <= '9') ||
                           std::string_view("_./=:,+%@-").find(c) != std::string_view::npos;
        if (!plain) return true;
    }
    return false;
}

std::string shell_word(std::string_view text) {
    if (!needs_quotes(text)) return std::string(text);
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

}  // namespace

std::string CommandResult::last_error_lines(int count) const {
    if (!started) return start_error;
    std::vector<std::string_view> lines;  // from the last one back
    std::size_t end = error_tail.size();
    while (end > 0 && static_cast<int>(lines.size()) < count) {
        const std::size_t separator = error_tail.find_last_of("\r\n", end - 1);
        const std::size_t begin = separator == std::string::npos ? 0 : separator + 1;
        std::string_view line(error_tail.data() + begin, end - begin);
        while (!line.empty() && is_blank(line.front())) line.remove_prefix(1);
        while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
        if (!line.empty()) lines.push_back(line);
        if (separator == std::string::npos) break;
        end = separator;
    }
    std::string text;
    for (auto line = lines.rbegin(); line != lines.rend(); ++line) {
        if (!text.empty()) text += '\n';
        text += *line;
    }
    return text;
}

namespace {

// How the reaped child ended, with what it wrote just before. A grandchild
// may still hold the pipes open, so this does not wait for their end.
void take_ending(Child& child, const Command& command, CommandResult& result) {
    child.drain();
    result.exit_status = child.exit_status();
    result.signal = child.signal();
    result.error_tail = command.error_output_file.empty() ? child.take_tail()
                                                          : file_tail(command.error_output_file);
}

// Waits until the child has ended, or keep_running says stop and it is
// stopped; then how it ended.
void wait_for_end(Child& child, const Command& command, const KeepRunning& keep_running,
                  CommandResult& result) {
    Clock::time_point next_ask = Clock::now() + kAskInterval;
    while (!child.reap()) {
        const Clock::time_point now = Clock::now();
        if (keep_running && now >= next_ask) {
            next_ask = now + kAskInterval;
            if (!keep_running()) {
                result.cancelled = true;
                child.terminate();
                break;
            }
        }
        const milliseconds timeout =
            keep_running ? std::chrono::ceil<milliseconds>(next_ask - Clock::now()) : kAskInterval;
        child.wait_for_event(std::max(timeout, milliseconds{0}));
    }
    take_ending(child, command, result);
}

}  // namespace

CommandResult run_command(const Command& command, const KeepRunning& keep_running,
                          const OutputReader& read_output) {
    CommandResult result;
    Result<Child> spawned = Child::spawn(
        command, ErrorOutput::Kept, read_output ? StandardOutput::Read : StandardOutput::DevNull,
        &result.start_error_number);
    if (!spawned) {
        result.start_error = spawned.error();
        return result;
    }
    result.started = true;
    Child& child = spawned.value();
    child.set_output_reader(&read_output);
    wait_for_end(child, command, keep_running, result);
    return result;
}

struct CommandFeed::Running {
    Command command;
    OutputReader read_output;
    std::optional<Child> child;
    UniqueFd input;
    CommandResult result;
    bool ended = false;
};

CommandFeed::CommandFeed(const Command& command, OutputReader read_output)
    : running_(std::make_unique<Running>()) {
    Running& r = *running_;
    r.command = command;
    r.read_output = std::move(read_output);
    Result<Child> spawned = Child::spawn(
        command, ErrorOutput::Kept, r.read_output ? StandardOutput::Read : StandardOutput::DevNull,
        &r.result.start_error_number, &r.input);
    if (!spawned) {
        r.result.start_error = spawned.error();
        r.input.reset();
        r.ended = true;
        return;
    }
    r.result.started = true;
    r.child.emplace(std::move(spawned).value());
    r.child->set_output_reader(&r.read_output);
}

// The child, when one still runs, is stopped by its own destructor.
CommandFeed::~CommandFeed() = default;

CommandFeed::Fed CommandFeed::write(std::string_view bytes, const KeepRunning& keep_running) {
    Running& r = *running_;
    if (r.ended || !r.input.valid()) return Fed::Closed;
    Child& child = *r.child;
    Clock::time_point next_ask = Clock::now() + kAskInterval;
    while (!bytes.empty()) {
        const ssize_t sent =
            ::send(r.input.get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            bytes.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (sent < 0 && errno == EINTR) continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // The program is busy: read what it says meanwhile, so that it
            // never waits on a full pipe of its own while this side waits on it.
            const Clock::time_point now = Clock::now();
            if (keep_running && now >= next_ask) {
                next_ask = now + kAskInterval;
                if (!keep_running()) return Fed::Stopped;
            }
            child.wait_for_event(kAskInterval, r.input.get());
            // Ended with its input still open (held by something it started).
            if (child.reap()) break;
            continue;
        }
        break;  // EPIPE, ECONNRESET: nobody reads any more
    }
    // What it reported while it read, also when it never had to wait.
    child.drain();
    if (!bytes.empty()) {
        r.input.reset();
        return Fed::Closed;
    }
    return Fed::All;
}

CommandResult CommandFeed::finish(const KeepRunning& keep_running) {
    Running& r = *running_;
    if (r.ended) return r.result;
    r.input.reset();  // the end of its input
    wait_for_end(*r.child, r.command, keep_running, r.result);
    r.ended = true;
    return r.result;
}

CommandResult CommandFeed::stop() {
    Running& r = *running_;
    if (r.ended) return r.result;
    r.input.reset();
    r.child->terminate();
    take_ending(*r.child, r.command, r.result);
    r.result.cancelled = true;
    r.ended = true;
    return r.result;
}

ChildProcess::~ChildProcess() { stop(); }

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : pid_(std::exchange(other.pid_, -1)) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        stop();
        pid_ = std::exchange(other.pid_, -1);
    }
    return *this;
}

Result<ChildProcess> ChildProcess::start(const Command& command) {
    Result<Child> spawned = Child::spawn(command, ErrorOutput::DevNull);
    if (!spawned) return Error{spawned.error()};
    ChildProcess process;
    process.pid_ = spawned.value().release();
    return process;
}

bool ChildProcess::running() {
    if (pid_ < 0) return false;
    int status = 0;
    pid_t got;
    do {
        got = ::waitpid(pid_, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got == 0) return true;
    pid_ = -1;
    return false;
}

void ChildProcess::stop() {
    if (pid_ < 0) return;
    Child::adopt(std::exchange(pid_, -1)).terminate();
}

std::string command_text(const Command& command) {
    std::string text;
    for (const std::string& entry : command.environment) {
        const std::size_t equals = entry.find('=');
        text += entry.substr(0, equals + 1) + shell_word(entry.substr(equals + 1)) + ' ';
    }
    text += shell_word(command.program.string());
    for (const std::string& argument : command.arguments) {
        text += ' ';
        text += shell_word(argument);
    }
    return text;
}

std::string path_argument(const std::filesystem::path& path) {
    if (path.empty()) return {};
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    if (!error) return absolute.lexically_normal().string();
    // Without a current folder a relative path still must not start with a
    // dash or name a protocol.
    if (path.is_relative()) return "./" + path.string();
    return path.lexically_normal().string();
}

}  // namespace tintora
