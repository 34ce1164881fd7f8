#include "core/video/encoder_report.hpp"

#include <charconv>
#include <cstring>
#include <vector>

#include "core/video/video_texts.hpp"

namespace tintora {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

bool starts_with(std::string_view text, std::string_view start) {
    return text.substr(0, start.size()) == start;
}

// The beginnings of lines that never say why an encoder failed: its
// progress and closing statistics (also those of the codec libraries), the
// description of its inputs and outputs, its banner, and the closing
// remarks that follow any failure.
constexpr std::string_view kSilentStarts[] = {"frame=",
                                              "size=",
                                              "video:",
                                              "frame I:",
                                              "frame P:",
                                              "frame B:",
                                              "mb I",
                                              "mb P",
                                              "mb B",
                                              "kb/s:",
                                              "Qavg:",
                                              "final ratefactor",
                                              "Input #",
                                              "Output #",
                                              "Stream mapping:",
                                              "Press [q]",
                                              "Conversion failed!",
                                              "Exiting normally",
                                              "ffmpeg version",
                                              "progress=",
                                              "Side data:"};

// Whether the line tells something; it is taken as it stands, leading blanks
// included (the encoder indents only its descriptions).
bool says_something(std::string_view line) {
    if (line.empty() || is_blank(line.front())) return false;
    // "[flv @ 0x55d0c0] …": what follows the context counts.
    if (line.front() == '[') {
        const std::size_t close = line.find("] ");
        if (close != std::string_view::npos &&
            line.substr(0, close).find(" @ ") != std::string_view::npos) {
            line.remove_prefix(close + 2);
        }
    }
    for (const std::string_view start : kSilentStarts) {
        if (starts_with(line, start)) return false;
    }
    return true;
}

}  // namespace

std::string failure_reason(std::string_view error_output) {
    std::size_t end = error_output.size();
    while (end > 0) {
        const std::size_t separator = error_output.find_last_of("\r\n", end - 1);
        const std::size_t begin = separator == std::string_view::npos ? 0 : separator + 1;
        std::string_view line = error_output.substr(begin, end - begin);
        while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
        if (says_something(line)) return std::string(line);
        if (separator == std::string_view::npos) break;
        end = separator;
    }
    return {};
}

std::string describe_command_failure(const Command& command, const CommandResult& result,
                                     std::string_view language) {
    using namespace message_texts;
    const std::string program = command.program.filename().string();
    std::vector<std::string> lines;
    if (!result.started) {
        const std::string why = result.start_error_number != 0
                                    ? std::strerror(result.start_error_number)
                                    : result.start_error;
        lines.push_back(
            fill_in(message_text(kCantStartProgram, language), {command.program.string(), why}));
    } else {
        if (std::string reason = failure_reason(result.error_tail); !reason.empty()) {
            lines.push_back(std::move(reason));
        }
        lines.push_back(result.signal != 0
                            ? fill_in(message_text(kProgramStopped, language),
                                      {program, std::to_string(result.signal)})
                            : fill_in(message_text(kProgramExited, language),
                                      {program, std::to_string(result.exit_status)}));
    }
    lines.push_back(fill_in(message_text(kCommandLine, language), {command_text(command)}));
    std::string text;
    for (const std::string& line : lines) {
        if (!text.empty()) text += '\n';
        text += line;
    }
    return text;
}

void EncodeProgress::read(std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) {
            partial_line_.append(text);
            return;
        }
        partial_line_.append(text.substr(0, end));
        take_line(partial_line_);
        partial_line_.clear();
        text.remove_prefix(end + 1);
    }
}

void EncodeProgress::take_line(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    // Counts and times are never negative; anything else leaves the last value.
    const auto number = [value](auto& target) {
        auto parsed = target;
        const std::from_chars_result read =
            std::from_chars(value.data(), value.data() + value.size(), parsed);
        if (read.ec == std::errc() && read.ptr != value.data() && parsed >= 0) target = parsed;
    };
    if (key == "frame") {
        number(frames_);
    } else if (key == "out_time_us") {
        long long microseconds = -1;
        number(microseconds);
        if (microseconds >= 0) seconds_ = static_cast<double>(microseconds) / 1e6;
    } else if (key == "progress") {
        ended_ = value == "end";
    }
}

}  // namespace tintora
