#include "core/video/video_parameters.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "core/video/video_texts.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string decimal(std::int64_t value) { return std::to_string(value); }

// The right or bottom limit of a cut rule: the side shrinks so that
// start + side stays below the frame's extent. 64 bits: typed values may add
// past 32 bits.
std::int32_t fit_side(std::int32_t start, std::int32_t side, std::int32_t extent) {
    if (std::int64_t{start} + side >= extent)
        return static_cast<std::int32_t>(extent - std::int64_t{start});
    return side;
}

std::int32_t at_least(std::int32_t value, std::int32_t low) { return value < low ? low : value; }
std::int32_t at_most(std::int32_t value, std::int32_t high) { return value > high ? high : value; }

// Cut X or Y: the corner first, kept four pixels inside the frame, then the
// side fitted to it.
void leave_cut_corner(VideoParameters& p, Field corner_field, Field side_field, std::int32_t extent,
                      std::int32_t& corner, std::int32_t& side) {
    std::int32_t c = read_whole_number(p.text(corner_field), 0);
    std::int32_t s = read_whole_number(p.text(side_field), 100);
    c = at_least(c, 0);
    if (std::int64_t{c} >= std::int64_t{extent} - 4) c = extent - 4;
    s = fit_side(c, s, extent);
    corner = c;
    side = s;
    p.text(corner_field) = decimal(c);
    p.text(side_field) = decimal(s);
}

// Cut Width or Height: the side at least 4 and fitted to the corner as typed.
void leave_cut_side(VideoParameters& p, Field corner_field, Field side_field, std::int32_t extent,
                    std::int32_t& corner, std::int32_t& side) {
    const std::int32_t c = read_whole_number(p.text(corner_field), 0);
    std::int32_t s = read_whole_number(p.text(side_field), 100);
    s = fit_side(c, at_least(s, 4), extent);
    corner = c;
    side = s;
    p.text(side_field) = decimal(s);
}

// A field clamped to low..high on its own; returns the clamped value.
std::int32_t leave_bounded(VideoParameters& p, Field field, std::int32_t fallback, std::int32_t low,
                           std::int32_t high) {
    const std::int32_t value =
        at_most(at_least(read_whole_number(p.text(field), fallback), low), high);
    p.text(field) = decimal(value);
    return value;
}

// A rate field: a decimal number held to low..100; text that is no number
// keeps `current`, or the rule's default when there is none yet. Whatever is
// not taken as typed is said.
double leave_rate(VideoParameters& p, Field field, double current, double fallback, double low,
                  std::string_view language) {
    constexpr double kHighest = 100;
    const std::string typed = p.text(field);
    const std::optional<double> parsed = parse_rate(typed);
    const double before = current >= low && current <= kHighest ? current : fallback;
    const double value = parsed ? std::clamp(*parsed, low, kHighest) : before;
    p.text(field) = format_rate(value);
    // An emptied field quietly shows the rate again.
    const bool emptied = typed.find_first_not_of(" \t") == std::string::npos;
    if ((!parsed && !emptied) || (parsed && value != *parsed)) {
        p.exit_message = fill_in(message_text(message_texts::kRateNotTaken, language),
                                 {typed, format_rate(low), format_rate(kHighest), p.text(field)});
    }
    return value;
}

}  // namespace

int VideoParameters::rotation_angle() const {
    return rotation_index >= 0 && rotation_index < static_cast<int>(kRotationAngles.size())
               ? kRotationAngles[static_cast<std::size_t>(rotation_index)]
               : 0;
}

std::optional<std::int32_t> parse_whole_number(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin])) ++begin;
    while (end > begin && is_blank(text[end - 1])) --end;
    // from_chars takes a '-' but no '+'.
    if (begin < end && text[begin] == '+') {
        ++begin;
        if (begin < end && text[begin] == '-') return std::nullopt;
    }
    std::int32_t value = 0;
    const char* first = text.data() + begin;
    const char* last = text.data() + end;
    const auto [stop, error] = std::from_chars(first, last, value);
    if (error != std::errc() || stop != last) return std::nullopt;
    return value;
}

std::int32_t read_whole_number(std::string_view text, std::int32_t fallback) {
    return parse_whole_number(text).value_or(fallback);
}

bool output_fps_untouched(const VideoParameters& parameters) {
    const std::string& text = parameters.text(ParameterField::OutputFps);
    return text.empty() || text == kNewProjectOutputFps || text == parameters.output_fps_from_clip;
}

std::optional<double> parse_rate(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_blank(text[begin])) ++begin;
    while (end > begin && is_blank(text[end - 1])) --end;
    std::string number(text.substr(begin, end - begin));
    // A decimal comma, as Russian keyboards type it.
    if (const std::size_t comma = number.find(','); comma != std::string::npos) number[comma] = '.';
    if (!number.empty() && number.front() == '+') number.erase(0, 1);
    if (number.empty() || number.find_first_not_of("0123456789.-") != std::string::npos) {
        return std::nullopt;
    }
    double value = 0;
    const auto [stop, error] = std::from_chars(number.data(), number.data() + number.size(), value,
                                               std::chars_format::fixed);
    if (error != std::errc() || stop != number.data() + number.size()) return std::nullopt;
    return value;
}

std::string format_rate(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.15g", value);
    return buffer;
}

std::string format_g(double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

AfterExit apply_exit_rule(ParameterField field, VideoSession& s, VideoParameters& p,
                          std::string_view language) {
    p.exit_message.clear();
    const std::int32_t w = s.FrameWidth;
    const std::int32_t h = s.FrameHeight;
    const std::int32_t n = s.FrameCount;
    switch (field) {
        case Field::CutX:
            leave_cut_corner(p, Field::CutX, Field::CutWidth, w, s.CutX, s.CutWidth);
            return AfterExit::DrawSelection;
        case Field::CutY:
            leave_cut_corner(p, Field::CutY, Field::CutHeight, h, s.CutY, s.CutHeight);
            return AfterExit::DrawSelection;
        case Field::CutWidth:
            leave_cut_side(p, Field::CutX, Field::CutWidth, w, s.CutX, s.CutWidth);
            return AfterExit::DrawSelection;
        case Field::CutHeight:
            leave_cut_side(p, Field::CutY, Field::CutHeight, h, s.CutY, s.CutHeight);
            return AfterExit::DrawSelection;
        case Field::ResampleWidth:
            s.ResampleWidth = leave_bounded(p, field, 100, 4, 2000);
            return AfterExit::Nothing;
        case Field::ResampleHeight:
            s.ResampleHeight = leave_bounded(p, field, 100, 4, 2000);
            return AfterExit::Nothing;
        case Field::OutputFps:
            s.OutputFps = leave_rate(p, field, s.OutputFps, 18, 1, language);
            return AfterExit::Nothing;
        case Field::InputFps:
            s.InputFps = leave_rate(p, field, s.InputFps, 25, 5, language);
            return AfterExit::Nothing;
        case Field::Volume:
            s.Volume = leave_bounded(p, field, 255, 1, 256);
            return AfterExit::Nothing;
        case Field::StartFrame:
        case Field::StopFrame: {
            std::int32_t start = read_whole_number(p.text(Field::StartFrame), 1);
            std::int32_t stop = read_whole_number(p.text(Field::StopFrame), n);
            if (field == Field::StartFrame) {
                start = at_most(at_least(start, 1), n);
                stop = at_least(stop, start);
            } else {
                stop = at_least(at_most(stop, n), 1);
                start = at_most(start, stop);
            }
            s.StartFrame = start;
            s.StopFrame = stop;
            p.text(Field::StartFrame) = decimal(start);
            p.text(Field::StopFrame) = decimal(stop);
            return AfterExit::Nothing;
        }
        case Field::StaticFrame:
            p.text(field) = decimal(at_most(at_least(read_whole_number(p.text(field), 1), 1), n));
            return AfterExit::Nothing;
        case Field::Count:
            leave_bounded(p, field, 1, 0, 1000);
            return AfterExit::Nothing;
    }
    return AfterExit::Nothing;
}

void choose_resample_item(int index, const VideoSession& session, VideoParameters& parameters) {
    static constexpr std::array<std::array<int, 2>, 10> kSizes{{{320, 240},
                                                                {240, 320},
                                                                {640, 480},
                                                                {480, 640},
                                                                {800, 600},
                                                                {600, 800},
                                                                {1280, 960},
                                                                {960, 1280},
                                                                {1920, 1080},
                                                                {1080, 1920}}};
    std::int32_t width = 0;
    std::int32_t height = 0;
    if (index == kCustomResampling) {
        width = read_whole_number(parameters.text(Field::CutWidth), session.FrameWidth);
        height = read_whole_number(parameters.text(Field::CutHeight), session.FrameHeight);
    } else if (index >= 2 && index < static_cast<int>(kResampleItems.size())) {
        width = kSizes[static_cast<std::size_t>(index - 2)][0];
        height = kSizes[static_cast<std::size_t>(index - 2)][1];
    } else if (index != kNoResampling) {
        return;
    }
    // 0 (also "No resampling") shows as an empty field.
    parameters.text(Field::ResampleWidth) = width == 0 ? std::string() : decimal(width);
    parameters.text(Field::ResampleHeight) = height == 0 ? std::string() : decimal(height);
}

void reset_parameters_for_new_project(VideoParameters& p) {
    p.resample_index = kNoResampling;
    p.color_transformation_index = 0;
    p.channels_index = 1;
    p.video_bitrate_index = 2;
    p.rate_index = 0;
    p.audio_bitrate_index = 2;
    p.poster_image = false;
    p.quality_index = 0;
    for (const Field field :
         {Field::CutX, Field::CutY, Field::CutWidth, Field::CutHeight, Field::ResampleWidth,
          Field::ResampleHeight, Field::StartFrame, Field::StopFrame}) {
        p.text(field).clear();
    }
    p.text(Field::OutputFps) = kNewProjectOutputFps;
    p.text(Field::Volume) = "255";
    p.rotation_index = 0;
    p.mirror_horizontally = false;
    p.mirror_vertically = false;
}

}  // namespace tintora
