#include "core/project/project_file.hpp"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "core/common/file_io.hpp"
#include "core/correction/curves.hpp"
#include "core/video/video_export.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

// A list keeps its choice when the text names none of its items.
template <std::size_t N>
void select_by_text(const std::array<std::string_view, N>& items, std::string_view text,
                    int& index) {
    for (std::size_t i = 0; i < N; ++i) {
        if (items[i] == text) {
            index = static_cast<int>(i);
            return;
        }
    }
}

bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

// "%i=%i,%i" and "%i %i %i": numbers with the literal characters between.
bool scan_pattern(std::string_view text, char first, char second, std::int32_t (&values)[3]) {
    const char separators[2] = {first, second};
    std::size_t at = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t read = scan_integer(text.substr(at), values[i]);
        if (read == 0) return false;
        at += read;
        if (i == 2) break;
        // A blank in the pattern matches any run of blanks, even none.
        if (separators[i] == ' ') {
            while (at < text.size() && is_blank(text[at])) ++at;
        } else if (at < text.size() && text[at] == separators[i]) {
            ++at;
        } else {
            return false;
        }
    }
    return true;
}

bool in_grid(std::int32_t p) { return p >= 0 && p < kGridPointCount; }

// The colour mode's pair lines, red, green, blue.
constexpr std::array<std::string_view, kChannelCount> kChannelPointKeys{"POINT_R", "POINT_G",
                                                                        "POINT_B"};

bool uses_colour_lines(const CorrectionGrid& grid) {
    if (grid.correction_mode == CorrectionMode::Colour) return true;
    for (const auto& channel : grid.channel_control_values) {
        for (const ControlValues& values : channel) {
            if (values != make_empty_pairs()) return true;
        }
    }
    return false;
}

// "%i %i %i" after the key: point, video level, target, all in range.
bool scan_pair(std::string_view value, std::int32_t (&n)[3]);
bool is_intensity(std::int32_t v) { return v >= 0 && v < kIntensityCount; }

struct Key {
    std::string_view text;
    std::function<void(std::string_view value)> apply;
};

}  // namespace

std::size_t scan_integer(std::string_view text, std::int32_t& value) {
    std::size_t at = 0;
    while (at < text.size() && is_blank(text[at])) ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    int base = 10;
    if (at < text.size() && text[at] == '0') {
        base = 8;
        const bool hex_mark = at + 2 < text.size() && (text[at + 1] == 'x' || text[at + 1] == 'X');
        if (hex_mark && digit_value(text[at + 2]) < 16) {
            base = 16;
            at += 2;
        }
    }
    const std::size_t digits_start = at;
    std::int64_t magnitude = 0;
    while (at < text.size() && digit_value(text[at]) < base) {
        magnitude = magnitude * base + digit_value(text[at]);
        if (magnitude > std::int64_t{INT32_MAX} + 1) return 0;
        ++at;
    }
    if (at == digits_start) return 0;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (signed_value > INT32_MAX) return 0;
    value = static_cast<std::int32_t>(signed_value);
    return at;
}

namespace {

bool scan_pair(std::string_view value, std::int32_t (&n)[3]) {
    return scan_pattern(value, ' ', ' ', n) && in_grid(n[0]) && is_intensity(n[1]) &&
           is_intensity(n[2]);
}

}  // namespace

std::string_view correction_mode_text(CorrectionMode mode) {
    return mode == CorrectionMode::Colour ? "Colour" : "Brightness";
}

std::string_view mesh_model_text(MeshModel model) {
    return model == MeshModel::Perspective ? "Perspective" : "Bilinear";
}

namespace {

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A panorama angle of a project line: a decimal number within low..high, or
// nothing (the line then changes nothing).
std::optional<double> angle_value(std::string_view text, double low, double high) {
    const std::optional<double> value = parse_rate(trimmed(text));
    if (!value || !(*value >= low && *value <= high)) return std::nullopt;
    return value;
}

}  // namespace

std::optional<CorrectionMode> correction_mode_from_text(std::string_view text) {
    // Blanks around the word (a hand-edited file) do not change it, as the
    // numbers of the other keys are read past them.
    text = trimmed(text);
    for (const CorrectionMode mode : {CorrectionMode::Brightness, CorrectionMode::Colour}) {
        if (text == correction_mode_text(mode)) return mode;
    }
    return std::nullopt;
}

std::string format_project(const Composition& composition, const CorrectionGrid& grid,
                           const VideoWorkspace& workspace) {
    const CompositionChoices& choices = composition.choices;
    const VideoSession& session = workspace.session();
    const VideoParameters& p = workspace.parameters();
    std::string text;
    const auto line = [&text](std::string_view key, const std::string& value) {
        text.append(key).append(value).append("\r\n");
    };
    const auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
    const int angle = p.rotation_index >= 0 && p.rotation_index < 3
                          ? kRotationAngles[static_cast<std::size_t>(p.rotation_index)]
                          : 270;
    line("BACKGROUND_FILENAME=", composition.background_file_name().string());
    line("BACKGROUND_ROTATE=", item_text(kRotationItems, choices.rotation_index));
    line("BACKGROUND_SCALE=", item_text(kScaleItems, choices.scale_index));
    line("VIDEOFRAME_DENSITY=", item_text(kDensityItems, choices.density_index));
    line("VIDEO_FILENAME=", session.clip_path.string());
    line("CURRENT_POINT=", std::to_string(grid.cur_point));
    line("CURRENT_FRAME=", std::to_string(session.track_position));
    line("START_FRAME=", p.text(Field::StartFrame));
    line("STOP_FRAME=", p.text(Field::StopFrame));
    line("CUT_X=", p.text(Field::CutX));
    line("CUT_Y=", p.text(Field::CutY));
    line("CUT_WIDTH=", p.text(Field::CutWidth));
    line("CUT_HEIGHT=", p.text(Field::CutHeight));
    line("ROTATE=", std::to_string(angle));
    line("MIRROR_HOR=", flag(p.mirror_horizontally));
    line("MIRROR_VERT=", flag(p.mirror_vertically));
    line("RESAMPLE_WIDTH=", p.text(Field::ResampleWidth));
    line("RESAMPLE_HEIGHT=", p.text(Field::ResampleHeight));
    line("COLOR_TRANFORMATION=",
         item_text(kColorTransformationItems, p.color_transformation_index));
    line("FPS=", p.text(Field::OutputFps));
    line("BITRATE=", item_text(kVideoBitrateItems, p.video_bitrate_index));
    line("CHANNELS=", item_text(kChannelItems, p.channels_index));
    line("VOLUME=", p.text(Field::Volume));
    line("RATE=", item_text(kRateItems, p.rate_index));
    line("AUDIO_BITRATE=", item_text(kAudioBitrateItems, p.audio_bitrate_index));
    line("PING-PONG=", flag(p.ping_pong));
    line("END_FRAME=", std::to_string(leading_number(p.text(Field::StaticFrame))));
    line("END_COUNT=", std::to_string(leading_number(p.text(Field::Count))));
    for (int point = 0; point < kGridPointCount; ++point) {
        line("AREA_POINT", std::to_string(point) + "=" + std::to_string(grid.area_x[point]) + "," +
                               std::to_string(grid.area_y[point]));
    }
    const auto pair_lines = [&line](std::string_view key, const auto& values) {
        for (int point = 0; point < kGridPointCount; ++point) {
            for (int v = 0; v < kIntensityCount; ++v) {
                const std::int32_t target = values[point][v];
                if (target == NO_PAIR) continue;
                line(key, std::to_string(point) + "\t" + std::to_string(v) + "\t" +
                              std::to_string(target));
            }
        }
    };
    pair_lines("POINT", grid.control_values);
    // The colour mode's lines follow, only where they hold something, so a
    // brightness project without channel pairs is written as it always was.
    if (uses_colour_lines(grid)) {
        line("COLOR_MODE=", std::string(correction_mode_text(grid.correction_mode)));
        for (int c = 0; c < kChannelCount; ++c) {
            pair_lines(kChannelPointKeys[static_cast<std::size_t>(c)],
                       grid.channel_control_values[c]);
        }
    }
    line("POSTER_IMAGE=", flag(p.poster_image));
    // Written only when chosen, so that a project of the default is written as before.
    if (web_quality(p) != WebQuality::Automatic) {
        line("QUALITY=", item_text(kQualityItems, p.quality_index));
    }
    // The panorama's geometry and the hotspot's choices, likewise only when set.
    const PanoramaChoices& panorama = choices.panorama;
    const auto angle_line = [&line](std::string_view key, const std::optional<double>& value) {
        if (value) line(key, format_rate(*value));
    };
    angle_line("PANORAMA_HFOV=", panorama.hfov);
    angle_line("PANORAMA_VFOV=", panorama.vfov);
    angle_line("PANORAMA_YAW=", panorama.yaw);
    angle_line("PANORAMA_PITCH=", panorama.pitch);
    if (panorama.mesh_model != MeshModel::Bilinear) {
        line("MESH_MODEL=", std::string(mesh_model_text(panorama.mesh_model)));
    }
    if (panorama.edge_blend != kDefaultEdgeBlend) {
        line("EDGE_BLEND=", std::to_string(panorama.edge_blend));
    }
    // Following the light, with the frame whose light the curves fit.
    if (const LightFollowing& following = workspace.light_following(); following.on) {
        line("TRACK_LIGHT=", "1");
        line("TRACK_LIGHT_FRAME=", std::to_string(following.reference_frame));
    }
    return text;
}

Status save_project(const std::filesystem::path& path, const Composition& composition,
                    const CorrectionGrid& grid, const VideoWorkspace& workspace) {
    return write_file_atomically(path, format_project(composition, grid, workspace));
}

void replay_project(std::string_view text, ProjectState state, ProjectLoaders& loaders) {
    CompositionChoices& choices = state.composition.choices;
    CorrectionGrid& grid = state.grid;
    VideoWorkspace& workspace = state.workspace;
    VideoParameters& p = workspace.parameters();
    const auto field = [&p](Field f) {
        return [&p, f](std::string_view value) { p.text(f) = std::string(value); };
    };
    const auto field_then_rule = [&p, &workspace](Field f) {
        return [&p, &workspace, f](std::string_view value) {
            p.text(f) = std::string(value);
            workspace.leave_field(f);
        };
    };
    const auto resample = [&p](Field f) {
        return [&p, f](std::string_view value) {
            p.text(f) = std::string(value);
            p.resample_index = kCustomResampling;
        };
    };
    const auto mirror = [](bool& box) {
        // A 0 does not uncheck: only a 1 acts.
        return [&box](std::string_view value) {
            if (!value.empty() && value.front() == '1') box = true;
        };
    };

    const auto channel_pair = [&grid](int channel) {
        return [&grid, channel](std::string_view value) {
            std::int32_t n[3];
            if (scan_pair(value, n)) grid.channel_control_values[channel][n[0]][n[1]] = n[2];
        };
    };

    const std::array<Key, 44> keys{{
        {"BACKGROUND_FILENAME=",
         [&loaders](std::string_view value) { loaders.open_background(std::string(value)); }},
        {"BACKGROUND_ROTATE=",
         [&choices](std::string_view v) {
             select_by_text(kRotationItems, v, choices.rotation_index);
         }},
        {"BACKGROUND_SCALE=",
         [&choices](std::string_view v) { select_by_text(kScaleItems, v, choices.scale_index); }},
        {"VIDEOFRAME_DENSITY=",
         [&choices](std::string_view v) {
             select_by_text(kDensityItems, v, choices.density_index);
         }},
        {"VIDEO_FILENAME=",
         [&loaders, &workspace](std::string_view value) {
             // No clip named: the clip is closed, as a failed import leaves it.
             if (value.empty()) {
                 workspace.finish_import({}, ImportOutcome{});
             } else {
                 loaders.open_video(std::string(value));
             }
         }},
        {"CURRENT_POINT=",
         [&grid](std::string_view value) {
             const int point = leading_number(value);
             if (in_grid(point)) grid.cur_point = point;
         }},
        {"CURRENT_FRAME=",
         [&workspace](std::string_view value) { workspace.move_slider(leading_number(value)); }},
        {"START_FRAME=", field(Field::StartFrame)},
        {"STOP_FRAME=", field(Field::StopFrame)},
        {"ROTATE=",
         [&p](std::string_view value) {
             const int angle = leading_number(value);
             for (std::size_t i = 0; i < kRotationAngles.size(); ++i) {
                 if (kRotationAngles[i] == angle) p.rotation_index = static_cast<int>(i);
             }
         }},
        {"MIRROR_HOR=", mirror(p.mirror_horizontally)},
        {"MIRROR_VERT=", mirror(p.mirror_vertically)},
        {"CUT_X=", field(Field::CutX)},
        {"CUT_Y=", field(Field::CutY)},
        {"CUT_WIDTH=", field(Field::CutWidth)},
        {"CUT_HEIGHT=", field(Field::CutHeight)},
        {"RESAMPLE_WIDTH=", resample(Field::ResampleWidth)},
        {"RESAMPLE_HEIGHT=", resample(Field::ResampleHeight)},
        {"COLOR_TRANFORMATION=",
         [&p](std::string_view v) {
             select_by_text(kColorTransformationItems, v, p.color_transformation_index);
         }},
        {"FPS=", field_then_rule(Field::OutputFps)},
        {"BITRATE=",
         [&p](std::string_view v) {
             select_by_text(kVideoBitrateItems, v, p.video_bitrate_index);
         }},
        {"CHANNELS=",
         [&p](std::string_view v) { select_by_text(kChannelItems, v, p.channels_index); }},
        {"VOLUME=", field_then_rule(Field::Volume)},
        {"RATE=", [&p](std::string_view v) { select_by_text(kRateItems, v, p.rate_index); }},
        {"AUDIO_BITRATE=",
         [&p](std::string_view v) {
             select_by_text(kAudioBitrateItems, v, p.audio_bitrate_index);
         }},
        {"PING-PONG=", [&p](std::string_view value) { p.ping_pong = leading_number(value) == 1; }},
        {"END_FRAME=", field(Field::StaticFrame)},
        {"END_COUNT=", field(Field::Count)},
        {"POSTER_IMAGE=",
         [&p](std::string_view value) { p.poster_image = leading_number(value) == 1; }},
        {"QUALITY=",
         [&p](std::string_view v) { select_by_text(kQualityItems, v, p.quality_index); }},
        {"POINT",
         [&grid](std::string_view value) {
             std::int32_t n[3];
             if (scan_pair(value, n)) grid.control_values[n[0]][n[1]] = n[2];
         }},
        {"AREA_POINT",
         [&grid](std::string_view value) {
             std::int32_t n[3];
             if (scan_pattern(value, '=', ',', n) && in_grid(n[0])) {
                 grid.area_x[n[0]] = n[1];
                 grid.area_y[n[0]] = n[2];
             }
         }},
        {"COLOR_MODE=",
         [&grid](std::string_view value) {
             if (const std::optional<CorrectionMode> mode = correction_mode_from_text(value)) {
                 grid.correction_mode = *mode;
             }
         }},
        {kChannelPointKeys[kRedChannel], channel_pair(kRedChannel)},
        {kChannelPointKeys[kGreenChannel], channel_pair(kGreenChannel)},
        {kChannelPointKeys[kBlueChannel], channel_pair(kBlueChannel)},
        {"PANORAMA_HFOV=",
         [&choices](std::string_view v) {
             if (const auto a = angle_value(v, 1e-6, 360)) choices.panorama.hfov = a;
         }},
        {"PANORAMA_VFOV=",
         [&choices](std::string_view v) {
             if (const auto a = angle_value(v, 1e-6, 180)) choices.panorama.vfov = a;
         }},
        {"PANORAMA_YAW=",
         [&choices](std::string_view v) {
             if (const auto a = angle_value(v, -360, 360)) choices.panorama.yaw = a;
         }},
        {"PANORAMA_PITCH=",
         [&choices](std::string_view v) {
             if (const auto a = angle_value(v, -90, 90)) choices.panorama.pitch = a;
         }},
        {"MESH_MODEL=",
         [&choices](std::string_view v) {
             if (trimmed(v) == mesh_model_text(MeshModel::Perspective)) {
                 choices.panorama.mesh_model = MeshModel::Perspective;
             } else if (trimmed(v) == mesh_model_text(MeshModel::Bilinear)) {
                 choices.panorama.mesh_model = MeshModel::Bilinear;
             }
         }},
        {"EDGE_BLEND=",
         [&choices](std::string_view v) {
             if (const std::optional<std::int32_t> n = parse_whole_number(v);
                 n && *n >= 0 && *n <= kWidestEdgeBlend) {
                 choices.panorama.edge_blend = *n;
             }
         }},
        {"TRACK_LIGHT=",
         [&workspace](std::string_view v) { workspace.light_following().on = trimmed(v) == "1"; }},
        {"TRACK_LIGHT_FRAME=",
         [&workspace](std::string_view v) {
             if (const std::optional<std::int32_t> n = parse_whole_number(v);
                 n && *n >= 0 && *n <= kMaxImportedFrames) {
                 workspace.light_following().reference_frame = *n;
             }
         }},
    }};

    for (ControlValues& values : grid.control_values) values.fill(NO_PAIR);
    // A project without a mode line is a brightness project.
    for (auto& channel : grid.channel_control_values) {
        for (ControlValues& values : channel) values.fill(NO_PAIR);
    }
    grid.correction_mode = CorrectionMode::Brightness;
    choices.hide_frame = false;
    p.resample_index = kNoResampling;
    p.poster_image = false;  // a project from before the poster has none
    p.quality_index = 0;     // nor the quality: "Automatic"
    choices.panorama = PanoramaChoices{};  // nor a panorama of its own
    workspace.light_following() = {};      // nor follows the light

    std::size_t begin = 0;
    while (begin < text.size()) {
        std::size_t end = text.find('\n', begin);
        const std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        begin = next;
        for (const Key& key : keys) {
            if (line.substr(0, key.text.size()) == key.text)
                key.apply(line.substr(key.text.size()));
        }
    }

    recalculate_color_tables(grid);
    workspace.hold_stop_frame_within_clip();
    workspace.draw_result_image();
    workspace.draw_selection();
}

Status open_project(const std::filesystem::path& path, ProjectState state,
                    ProjectLoaders& loaders) {
    const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(path);
    if (!bytes) return Error{bytes.error()};
    replay_project(
        std::string_view(reinterpret_cast<const char*>(bytes.value().data()), bytes.value().size()),
        state, loaders);
    return {};
}

void reset_project(ProjectState state) {
    state.composition.choices = CompositionChoices{};
    state.composition.release_background();
    state.workspace.reset_for_new_project();
}

}  // namespace tintora
