#pragma once

#include <string>
#include <string_view>

#include "core/video/command_runner.hpp"

namespace tintora {

// The line of an encoder's error output that says why it failed: the last
// one that is not a progress or statistics line, nor a description of its
// inputs and outputs, nor a closing remark such as "Conversion failed!".
// Empty when no line says anything.
std::string failure_reason(std::string_view error_output);

// A command that failed, for the user in the interface language: the
// encoder's reason as it said it (or why the program could not start), how
// it ended (exit status or signal), and the command itself. Never empty.
std::string describe_command_failure(const Command& command, const CommandResult& result,
                                     std::string_view language);

// Reads what an encoder started with "-progress pipe:1" writes to its
// standard output: blocks of "key=value" lines, each ended by a
// "progress=continue" or "progress=end" line. Takes any pieces of it.
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
    int frames_ = 0;
    double seconds_ = 0;
    bool ended_ = false;
};

}  // namespace tintora
