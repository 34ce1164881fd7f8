#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/result.hpp"

namespace tintora {

// One call of an external program: the program and its arguments, each one
// argument whatever blanks, quotes or shell characters it holds. Nothing is
// ever handed to a command interpreter.
struct Command {
    std::filesystem::path program;
    std::vector<std::string> arguments;
    // When set, the child's error output is written into this file, replacing
    // it (what "2>file" did on a command line); otherwise the runner keeps its
    // tail for the result.
    std::filesystem::path error_output_file;
    // "NAME=value" entries for this program only, in place of the inherited
    // variables of those names.
    std::vector<std::string> environment = {};
};

// How a command ended.
struct CommandResult {
    bool started = false;        // false: the program could not be run at all
    bool cancelled = false;      // stopped by the caller
    int exit_status = -1;        // the exit code, or 128 + the signal that ended it
    int signal = 0;              // the signal that ended it, 0 when it exited
    std::string start_error;     // why it could not be started, in words
    int start_error_number = 0;  // the system's error number behind start_error, when any
    std::string error_tail;      // the last few KiB of its error output

    bool succeeded() const { return started && !cancelled && exit_status == 0; }
    // The last line of the error output that is not blank (progress lines
    // ended by carriage returns count as lines), or the start error.
    std::string last_error_line() const { return last_error_lines(1); }
    // The last `count` such lines, joined by line breaks.
    std::string last_error_lines(int count) const;
};

// Asked about every 50 ms while a child runs; returning false stops it.
using KeepRunning = std::function<bool()>;
// Handed what the child writes to its standard output, piece by piece as it
// comes, on the thread that waits for the child.
using OutputReader = std::function<void(std::string_view)>;

// Runs the command, waits until it has ended (or keep_running says stop: the
// child's process group gets SIGTERM, then SIGKILL when it lingers) and reaps
// it. Each child leads a process group of its own, so whatever it starts is
// stopped with it, and a terminal's Ctrl+C reaches this program only, which
// then decides. Every child is killed when the thread that started it ends,
// this program's end included, however it ends (SIGKILL too): a program it
// started never runs on alone. Standard input is /dev/null; standard output
// goes to read_output when given, else to /dev/null.
CommandResult run_command(const Command& command, const KeepRunning& keep_running = {},
                          const OutputReader& read_output = {});

// A program that reads what this process hands it on its standard input
// while it runs (an encoder fed raw frames), started at once. Its standard
// input is a socket written with MSG_NOSIGNAL: a program that has ended or
// closed its input makes a write fail, never raises SIGPIPE here. Like
// run_command it leads a process group of its own, its error output's tail is
// kept and its standard output goes to read_output (called on the thread that
// writes or finishes). The destructor stops a program that still runs.
class CommandFeed {
public:
    explicit CommandFeed(const Command& command, OutputReader read_output = {});
    ~CommandFeed();
    CommandFeed(const CommandFeed&) = delete;
    CommandFeed& operator=(const CommandFeed&) = delete;

    enum class Fed {
        All,     // every byte was taken
        Closed,  // the program takes no more: it has ended or closed its input
        Stopped  // keep_running said stop; the program runs on until finish or stop
    };
    // Hands the bytes over, reading what the program writes meanwhile, so
    // that neither side waits for the other.
    Fed write(std::string_view bytes, const KeepRunning& keep_running = {});
    // Ends the program's input and waits for it to end, as run_command does
    // (keep_running may stop it). A program that could not be started is
    // reported here, as run_command reports it.
    CommandResult finish(const KeepRunning& keep_running = {});
    // Stops the program with its process group and reaps it.
    CommandResult stop();

private:
    struct Running;
    std::unique_ptr<Running> running_;
};

// A program started without waiting for it (the player). Always reaped: the
// destructor stops a child that still runs.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts the command with all three standard streams on /dev/null (an
    // error_output_file is honoured).
    static Result<ChildProcess> start(const Command& command);

    // True while the child runs; reaps it once it has ended.
    bool running();
    // SIGTERM, then SIGKILL when it does not end within a moment; reaps it.
    void stop();

private:
    pid_t pid_ = -1;
};

// One readable line for logs and messages: the environment entries, the
// program and the arguments, each quoted for a POSIX shell only where it
// needs it.
std::string command_text(const Command& command);

// A path as an argument that no program can take for an option or a
// protocol: relative paths become absolute, so "-y.mp4" is "/…/-y.mp4".
std::string path_argument(const std::filesystem::path& path);

}  // namespace tintora
