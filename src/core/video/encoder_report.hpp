#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "core/video/command_runner.hpp"

namespace tintora {

// The longest line of an encoder's output a message quotes; longer ones are
// cut there and end in "…".
inline constexpr std::size_t kMaxQuotedLine = 300;

// The line of an encoder's error output that says why it failed: the last
// one that names a system error ("No space left on device", "Invalid
// argument"), else the last one that says an error, else the last one that
// says anything at all, never a progress or statistics line, a description
// of its inputs and outputs, its banner or a closing remark such as
// "Conversion failed!". Cut to kMaxQuotedLine; empty when no line says
// anything.
std::string failure_reason(std::string_view error_output);

// A line of an encoder's error output that says writing its output went
// wrong (a full disk, a file it could not finish or close), which the encoder
// may say and still exit with 0; empty when there is none. Cut as above.
std::string output_error_line(std::string_view error_output);

// A command that failed, for the user in the interface language: the
// encoder's reason as it said it (or why the program could not start), how
// it ended (exit status or signal), and the command itself. Never empty.
std::string describe_command_failure(const Command& command, const CommandResult& result,
                                     std::string_view language);

// Reads what an encoder started with "-progress pipe:1" writes to its
// standard output: blocks of "key=value" lines, each ended by a
// "progress=continue" or "progress=end" line. Takes any pieces of it, and
// any amount: a line longer than any report line is skipped, not kept.
class EncodeProgress {
public:
    void read(std::string_view text);
    // Frames encoded so far.
    int frames() const { return frames_; }
    // Time of the output written so far, in seconds.
    double seconds() const { return seconds_; }
    // Whether the encoder said it has finished.
    bool ended() const { return ended_; }

private:
    void take_line(std::string_view line);

    std::string partial_line_;
    bool skipping_line_ = false;  // the line under way is too long to be one
    int frames_ = 0;
    double seconds_ = 0;
    bool ended_ = false;
};

}  // namespace tintora
