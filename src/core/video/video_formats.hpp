#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/correction/frame.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/video_parameters.hpp"

namespace tintora {

// The video files an export writes for today's panorama viewers, and FLV.
enum class VideoFormat { Mp4, WebM, Flv };

// The format a name's extension asks for (".mp4", ".webm" or ".flv", in any
// case), or nothing.
std::optional<VideoFormat> video_format_of(const std::filesystem::path& output);
// ".mp4", ".webm", ".flv".
std::string_view video_format_extension(VideoFormat format);

// A name typed into the save dialog and the format it is written in: the
// format its extension names, or, for a name without an extension, the
// chosen filter's, whose extension the name then gets. Nothing when the
// extension names no format of the three.
struct VideoTarget {
    std::filesystem::path output;
    VideoFormat format;
};
std::optional<VideoTarget> video_target(const std::filesystem::path& typed,
                                        VideoFormat chosen_filter);

// Whether the run's frames go raw, in output order, into one encoder process
// (MP4, WebM) rather than as JPEG files through WorkDir (FLV).
bool is_streamed(VideoFormat format);

// H.264 and VP9 in 4:2:0 carry an even width and height: an odd width loses
// the frame's last column, an odd height its bottom row. The poster shows
// the same pixels.
struct EvenSize {
    int width = 0;
    int height = 0;
};
EvenSize even_frame_size(int width, int height);

// The frame's top left width by height pixels as the encoder reads them
// from its standard input: rows from the top, B, G, R, no padding. The
// frame's own bytes when they lie so already, else packed into `buffer`.
std::string_view raw_frame_bytes(const Frame& frame, EvenSize size,
                                 std::vector<std::uint8_t>& buffer);

// The sound a video export carries: the "Channels" list's count, the
// "Rate" and audio "Bitrate" lists' texts and the volume (256 = as it is).
struct ExportSound {
    int channels = 1;
    std::string rate;
    std::string kilobits;
    int volume = 256;
};
// Nothing for "No audio", or for a clip without sound.
std::optional<ExportSound> export_sound(const VideoParameters& parameters, bool clip_has_sound,
                                        int volume);

// The sound of MP4 and WebM: the Channels, Rate and audio Bitrate the user
// chose; left at a new project's Mono, 22050 Hz and 64 kbit/s (FLV's
// defaults), 48 kHz stereo at 128 kbit/s, what web players are made for.
// Nothing for "No audio", or for a clip without sound.
std::optional<ExportSound> web_export_sound(const VideoParameters& parameters, bool clip_has_sound,
                                            int volume);

// The sample rate AAC is written at: the project's when AAC takes it, else 48000.
int aac_sample_rate(int rate);

// The Quality list's choice; an index outside the list is "Automatic".
WebQuality web_quality(const VideoParameters& parameters);

// How a streamed format's video spends its bits, as the encoder's arguments
// after the codec's. "High", "Medium" and "Small" are constant quality
// levels; "Automatic" is the level the frame size asks for. H.264 holds all
// four under a cap that follows the pixels per second, so that a viewer
// streams the file over an ordinary connection; VP9 keeps under the same
// bits by its levels. "Bitrate list" is the list's bitrate, as FLV has it.
std::vector<std::string> web_video_quality(VideoFormat format, WebQuality quality, EvenSize size,
                                           double fps, std::int64_t list_bits);

// Everything the streamed encoding is made of.
struct StreamedEncoding {
    VideoFormat format = VideoFormat::Mp4;
    EvenSize size;           // the frames as they come through the pipe
    double input_fps = 25;   // the clip's rate: the time of the range's sound
    double output_fps = 25;  // the "FPS" field: the frames come at this rate
    WebQuality quality = WebQuality::Automatic;
    std::int64_t video_bits = 512000;  // the Bitrate list's, for "Bitrate list"
    // The sound of the frames start..stop, cut from the clip in the same
    // command; none for "No audio".
    std::optional<ExportSound> sound;
    std::filesystem::path clip;
    int start_frame = 1;
    int stop_frame = 1;
};

// ffmpeg -f rawvideo -pix_fmt bgr24 -s WxH -framerate FPS -i -
// [-ss START -t DURATION -i CLIP] -y -map 0:v:0 [-map 1:a:0]
// -vf scale=out_range=tv:out_color_matrix=M:flags=accurate_rnd,format=yuv420p
// CODEC OPTIONS QUALITY OPTIONS -r FPS COLOUR TAGS [SOUND OPTIONS] -progress pipe:1
// -f FORMAT OUTPUT. The full-range frames are turned into the TV range of
// the matrix the frame size asks for and tagged so; MP4 is H.264 and AAC with
// its index first (fast start), WebM VP9 and Opus at 48 kHz.
Command streamed_encoding_command(const std::filesystem::path& ffmpeg,
                                  const StreamedEncoding& encoding,
                                  const std::filesystem::path& output);

// The video codec's options of a streamed format without its quality
// options: the export's and the benchmark's baseline encode with the same.
std::vector<std::string> video_codec_arguments(VideoFormat format);

}  // namespace tintora
