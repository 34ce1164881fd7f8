#include "core/video/video_formats.hpp"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "core/video/video_export.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

struct FormatName {
    VideoFormat format;
    std::string_view extension;
};
constexpr std::array<FormatName, 3> kFormats{{
    {VideoFormat::Mp4, ".mp4"},
    {VideoFormat::WebM, ".webm"},
    {VideoFormat::Flv, ".flv"},
}};

std::string lower_case(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Players take frames of HD size as BT.709 and smaller ones as BT.601.
bool is_hd(EvenSize size) { return size.width >= 1280 || size.height >= 720; }

// The encoder reads every frame into a new packet of its own, a whole frame
// large; with glibc's defaults each one is fresh memory the kernel zero-fills
// (a sixth of the encoder's time at 1080p). Told to keep freed memory, as
// this program keeps its own, it reuses the packets' pages.
std::string encoder_malloc_tunables() {
    constexpr std::string_view kKeepFreedMemory =
        "glibc.malloc.mmap_threshold=67108864:glibc.malloc.trim_threshold=268435456";
    const char* inherited = std::getenv("GLIBC_TUNABLES");
    std::string value =
        inherited != nullptr && *inherited != '\0' ? std::string(inherited) + ":" : std::string();
    return "GLIBC_TUNABLES=" + value + std::string(kKeepFreedMemory);
}

// Opus takes at most 256 kbit/s per channel.
constexpr int kOpusMaxKilobitsPerChannel = 256;
constexpr int kOpusSampleRate = 48000;

}  // namespace

std::optional<VideoFormat> video_format_of(const fs::path& output) {
    const std::string extension = lower_case(output.extension().string());
    for (const FormatName& name : kFormats) {
        if (extension == name.extension) return name.format;
    }
    return std::nullopt;
}

std::string_view video_format_extension(VideoFormat format) {
    for (const FormatName& name : kFormats) {
        if (name.format == format) return name.extension;
    }
    return {};
}

std::optional<VideoTarget> video_target(const fs::path& typed, VideoFormat chosen_filter) {
    if (!typed.has_extension()) {
        fs::path output = typed;
        output += std::string(video_format_extension(chosen_filter));
        return VideoTarget{output, chosen_filter};
    }
    const std::optional<VideoFormat> format = video_format_of(typed);
    if (!format) return std::nullopt;
    return VideoTarget{typed, *format};
}

bool is_streamed(VideoFormat format) { return format != VideoFormat::Flv; }

EvenSize even_frame_size(int width, int height) {
    return {std::max(width, 0) & ~1, std::max(height, 0) & ~1};
}

std::string_view raw_frame_bytes(const Frame& frame, EvenSize size,
                                 std::vector<std::uint8_t>& buffer) {
    const int width = std::min(size.width, frame.width());
    const int height = std::min(size.height, frame.height());
    const std::size_t row_bytes = 3 * static_cast<std::size_t>(std::max(width, 0));
    const std::size_t total = row_bytes * static_cast<std::size_t>(std::max(height, 0));
    // Whole rows without padding: the frame as it is.
    if (width == frame.width() && static_cast<std::size_t>(frame.stride()) == row_bytes) {
        return {reinterpret_cast<const char*>(frame.data()), total};
    }
    buffer.resize(total);
    for (int r = 0; r < height; ++r) {
        std::memcpy(buffer.data() + row_bytes * static_cast<std::size_t>(r), frame.row(r),
                    row_bytes);
    }
    return {reinterpret_cast<const char*>(buffer.data()), total};
}

std::optional<ExportSound> export_sound(const VideoParameters& parameters, bool clip_has_sound,
                                        int volume) {
    if (!clip_has_sound || parameters.channels_index <= 0) return std::nullopt;
    return ExportSound{parameters.channels_index, item_text(kRateItems, parameters.rate_index),
                       item_text(kAudioBitrateItems, parameters.audio_bitrate_index), volume};
}

int aac_sample_rate(int rate) {
    constexpr int kAacRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                 22050, 16000, 12000, 11025, 8000,  7350};
    return std::find(std::begin(kAacRates), std::end(kAacRates), rate) != std::end(kAacRates)
               ? rate
               : 48000;
}

std::vector<std::string> video_codec_arguments(VideoFormat format) {
    if (format == VideoFormat::WebM) {
        // Rows coded in parallel; "good" at speed 2 is near the best VP9
        // gives at a fraction of its time.
        return {"-c:v", "libvpx-vp9", "-row-mt", "1", "-deadline", "good", "-cpu-used", "2"};
    }
    return {"-c:v", "libx264", "-preset", "medium"};
}

Command streamed_encoding_command(const fs::path& ffmpeg, const StreamedEncoding& encoding,
                                  const fs::path& output) {
    const EvenSize size = encoding.size;
    Command command{ffmpeg,
                    {"-f", "rawvideo", "-pix_fmt", "bgr24", "-s",
                     std::to_string(size.width) + "x" + std::to_string(size.height), "-framerate",
                     exact_frame_rate(encoding.output_fps).argument, "-i", "-"},
                    {},
                    {encoder_malloc_tunables()}};
    auto& a = command.arguments;
    if (encoding.sound) {
        a.insert(
            a.end(),
            {"-ss", range_start_seconds(encoding.start_frame, encoding.input_fps), "-t",
             range_duration_seconds(encoding.start_frame, encoding.stop_frame, encoding.input_fps),
             "-i", path_argument(encoding.clip)});
    }
    a.insert(a.end(), {"-y", "-map", "0:v:0"});
    if (encoding.sound) a.insert(a.end(), {"-map", "1:a:0"});
    const bool hd = is_hd(size);
    // The frames are full range; the video carries the TV range, converted
    // with exact rounding (swscale's default rounding is a level off).
    a.insert(a.end(), {"-vf", std::string("scale=out_range=tv:out_color_matrix=") +
                                  (hd ? "bt709" : "bt601") + ":flags=accurate_rnd,format=yuv420p"});
    const std::vector<std::string> codec = video_codec_arguments(encoding.format);
    a.insert(a.end(), codec.begin(), codec.end());
    const std::string tag = hd ? "bt709" : "smpte170m";
    a.insert(a.end(), {"-b:v", std::to_string(encoding.video_bits), "-r",
                       exact_frame_rate(encoding.output_fps).argument, "-pix_fmt", "yuv420p", "-color_range", "tv",
                       "-colorspace", tag, "-color_primaries", tag, "-color_trc", tag});
    if (encoding.sound) {
        const ExportSound& sound = *encoding.sound;
        const int kilobits = read_whole_number(sound.kilobits, 64);
        if (encoding.format == VideoFormat::WebM) {
            a.insert(a.end(), {"-c:a", "libopus", "-ar", std::to_string(kOpusSampleRate), "-b:a",
                               std::to_string(std::min(kilobits, kOpusMaxKilobitsPerChannel *
                                                                     std::max(sound.channels, 1))) +
                                   "k"});
        } else {
            a.insert(a.end(), {"-c:a", "aac", "-ar",
                               std::to_string(aac_sample_rate(read_whole_number(sound.rate, 0))),
                               "-b:a", std::to_string(kilobits) + "k"});
        }
        a.insert(a.end(), {"-ac", std::to_string(sound.channels)});
        // 256 is the sound as it is; the FLV command's -vol means the same.
        if (sound.volume != 256) {
            a.insert(a.end(), {"-filter:a", "volume=" + std::to_string(sound.volume) + "/256"});
        }
    }
    if (encoding.format == VideoFormat::Mp4) a.insert(a.end(), {"-movflags", "+faststart"});
    a.insert(a.end(),
             {"-progress", "pipe:1", "-f", encoding.format == VideoFormat::WebM ? "webm" : "mp4",
              path_argument(output)});
    return command;
}

}  // namespace tintora
