#include "core/video/encoder_report.hpp"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <span>
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

// The line without its "[codec @ 0x…] " context.
std::string_view without_context(std::string_view line) {
    if (!line.empty() && line.front() == '[') {
        const std::size_t close = line.find("] ");
        if (close != std::string_view::npos &&
            line.substr(0, close).find(" @ ") != std::string_view::npos) {
            line.remove_prefix(close + 2);
        }
    }
    return line;
}

// Whether the line tells something; it is taken as it stands, leading blanks
// included (the encoder indents only its descriptions).
bool says_something(std::string_view line) {
    if (line.empty() || is_blank(line.front())) return false;
    // "[flv @ 0x55d0c0] …": what follows the context counts.
    line = without_context(line);
    for (const std::string_view start : kSilentStarts) {
        if (starts_with(line, start)) return false;
    }
    return true;
}

// What the system says of a failed file or device operation, as the
// encoder quotes it after a name.
constexpr std::string_view kSystemErrors[] = {
    "No space left on device", "Disk quota exceeded", "Input/output error",
    "File too large",          "Read-only file system", "Permission denied",
    "Invalid argument",        "No such file or directory", "Cannot allocate memory"};

// Words of a line that reports an error of the encoder's own.
constexpr std::string_view kErrorWords[] = {"rror", "failed", "Failed", "nvalid",
                                            "Unable", "Cannot", "Could not", "not supported"};

// The encoder's wrap-ups of an error it has said more precisely before.
constexpr std::string_view kWrapUps[] = {"Error initializing output stream",
                                         "Error while opening encoder"};

// The output-side failures the encoder reports and may still exit with 0.
constexpr std::string_view kWritingErrors[] = {"Error writing", "Error closing", "Error muxing",
                                               "av_interleaved_write_frame()",
                                               "Error submitting a packet to the muxer"};
constexpr std::string_view kWritingSystemErrors[] = {
    "No space left on device", "Disk quota exceeded", "Input/output error", "File too large",
    "Read-only file system"};

bool contains_any(std::string_view line, std::span<const std::string_view> parts) {
    return std::any_of(parts.begin(), parts.end(), [line](std::string_view part) {
        return line.find(part) != std::string_view::npos;
    });
}

std::string quoted_line(std::string_view line) {
    if (line.size() <= kMaxQuotedLine) return std::string(line);
    std::size_t keep = kMaxQuotedLine;
    // Cut at a character's first byte, not inside a UTF-8 sequence (at most
    // three bytes back; farther, the bytes are not UTF-8 anyway).
    const auto continues = [&](std::size_t at) {
        return (static_cast<unsigned char>(line[at]) & 0xC0) == 0x80;
    };
    while (keep > kMaxQuotedLine - 3 && continues(keep)) --keep;
    if (continues(keep)) keep = kMaxQuotedLine;
    return std::string(line.substr(0, keep)) + "…";
}

// Calls take(line) for each line of the text from the last one back, blanks
// at their ends cut off, until it returns true.
template <class Take>
void lines_from_the_end(std::string_view text, Take&& take) {
    std::size_t end = text.size();
    while (end > 0) {
        const std::size_t separator = text.find_last_of("\r\n", end - 1);
        const std::size_t begin = separator == std::string_view::npos ? 0 : separator + 1;
        std::string_view line = text.substr(begin, end - begin);
        while (!line.empty() && is_blank(line.back())) line.remove_suffix(1);
        if (take(line) || separator == std::string_view::npos) return;
        end = separator;
    }
}

}  // namespace

std::string failure_reason(std::string_view error_output) {
    // The best line of each kind, the last one seen of it.
    enum Rank { kWrapUp, kSaysSomething, kSaysError, kNamesSystemError, kRanks };
    std::string_view best[kRanks] = {};
    bool found[kRanks] = {};
    lines_from_the_end(error_output, [&](std::string_view line) {
        if (!says_something(line)) return false;
        const std::string_view message = without_context(line);
        const Rank rank = contains_any(message, kSystemErrors) ? kNamesSystemError
                          : contains_any(message, kWrapUps)    ? kWrapUp
                          : contains_any(message, kErrorWords) ? kSaysError
                                                               : kSaysSomething;
        if (!found[rank]) {
            found[rank] = true;
            best[rank] = line;
        }
        return found[kNamesSystemError];
    });
    for (int rank = kRanks - 1; rank >= 0; --rank) {
        if (found[rank]) return quoted_line(best[rank]);
    }
    return {};
}

std::string output_error_line(std::string_view error_output) {
    std::string_view found;
    lines_from_the_end(error_output, [&](std::string_view line) {
        const std::string_view message = without_context(line);
        const bool writing = std::any_of(
            std::begin(kWritingErrors), std::end(kWritingErrors),
            [message](std::string_view start) { return starts_with(message, start); });
        if (writing || contains_any(message, kWritingSystemErrors)) found = line;
        return !found.empty();
    });
    return found.empty() ? std::string() : quoted_line(found);
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
    // Far longer than any line of a report ("out_time_us=…", "bitrate=…").
    constexpr std::size_t kLongestLine = 4096;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view piece = text.substr(0, end);
        if (!skipping_line_) {
            if (partial_line_.size() + piece.size() > kLongestLine) {
                skipping_line_ = true;
                partial_line_.clear();
            } else {
                partial_line_.append(piece);
            }
        }
        if (end == std::string_view::npos) return;
        if (!skipping_line_) take_line(partial_line_);
        partial_line_.clear();
        skipping_line_ = false;
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
