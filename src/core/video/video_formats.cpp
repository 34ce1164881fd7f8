#include "core/video/video_formats.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

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

// What web players are made for: the sound of MP4 and WebM while the
// project keeps FLV's defaults.
constexpr int kWebChannels = 2;
constexpr std::string_view kWebSampleRate = "48000";
constexpr std::string_view kWebAudioKilobits = "128";

// Constant quality levels: x264's -crf (preset medium) and VP9's -crf with
// -b:v 0 (deadline good, speed 2; its scale runs to 63). Measured on 3 s of
// testsrc2 with temporal noise (noise=alls=3:allf=t) at 25 fps, kbit/s and
// PSNR in dB against the source (SSIM stays 0.958 to 0.971: the noise, which
// no level keeps, rules it):
//                x264 crf 20  23         26          VP9 crf 30  34         38
//   640x360      1025 43.2    740 41.9    525 40.0   827 43.3    672 42.4   529 41.3
//   1280x720     3696 43.4   2723 42.0   1856 40.0  3280 43.2   2590 42.3  1988 41.2
//   1920x1080    7968 43.6   5822 42.4   3911 40.4  6975 43.4   5466 42.5  4099 41.3
// A level costs about a tenth more bits at any size, so a better level for
// small frames (which a viewer shows enlarged) costs little: "Automatic" is
// x264 21, 22, 23 (910 kbit/s at 42.8 dB, 3000 at 42.5, 5822 at 42.4, under
// the cap below) and VP9 32, 33, 34 (739 at 42.8, 2731 at 42.5, 5466 at
// 42.5): the same quality in fewer bits. At 1280x720 "High" is x264 19 (4294
// at 43.7) and VP9 28 (3644 at 43.6), "Small" x264 28 (1346 at 38.7) and VP9
// 46 (between 44: 1181 at 39.3 and 48: 785 at 38.2).
struct QualityLevel {
    int x264_crf;
    int vp9_crf;
};
constexpr QualityLevel kHighLevel{19, 28};
constexpr QualityLevel kMediumLevel{23, 35};
constexpr QualityLevel kSmallLevel{28, 46};
// "Automatic": the level of the smallest size the frame fits in.
struct SizedLevel {
    std::int64_t up_to_pixels;
    QualityLevel level;
};
constexpr std::array<SizedLevel, 3> kAutomaticLevels{{
    {640 * 360, {21, 32}},
    {1280 * 720, {22, 33}},
    {std::numeric_limits<std::int64_t>::max(), {23, 34}},
}};

QualityLevel quality_level(WebQuality quality, EvenSize size) {
    switch (quality) {
        case WebQuality::High:
            return kHighLevel;
        case WebQuality::Medium:
            return kMediumLevel;
        case WebQuality::Small:
            return kSmallLevel;
        default:
            break;
    }
    const std::int64_t pixels = std::int64_t{size.width} * size.height;
    for (const SizedLevel& sized : kAutomaticLevels) {
        if (pixels <= sized.up_to_pixels) return sized.level;
    }
    return kAutomaticLevels.back().level;
}

// H.264's cap: 0.15 bits per pixel of each frame, the top of the usual
// streaming ladders (1920x1080 at 30 fps: 9.3 Mbit/s), and never below 1500
// kbit/s, which any connection that plays web video carries and small frames
// at their better level need (0.16 bits per pixel at 640x360 on the noisy
// clip, 0.13 at 1280x720, 0.11 at 1920x1080). So it holds back only noisier
// clips, and "High". VP9 has none: libvpx refuses -maxrate beside -b:v 0,
// and its constrained quality (-crf with -b:v as the cap) lowers the quality
// far under the cap. At 1280x720 with -b:v 3456k, crf 28 to 33 all gave 2.2
// to 2.3 Mbit/s at 41.5 to 41.7 dB; without the noise, crf 33 gave 43.7 dB
// in 2132 kbit/s against 45.7 in 2668 uncapped.
constexpr double kCapBitsPerPixel = 0.15;
constexpr std::int64_t kCapFloorKilobits = 1500;

std::int64_t cap_kilobits(EvenSize size, double fps) {
    const double frames_per_second = fps > 0 && fps <= 1000 ? fps : 25;
    const double bits =
        kCapBitsPerPixel * size.width * static_cast<double>(size.height) * frames_per_second;
    return std::max(kCapFloorKilobits, static_cast<std::int64_t>(std::llround(bits / 1000)));
}

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

std::optional<ExportSound> web_export_sound(const VideoParameters& parameters, bool clip_has_sound,
                                            int volume) {
    std::optional<ExportSound> sound = export_sound(parameters, clip_has_sound, volume);
    const VideoParameters defaults;
    if (sound && parameters.channels_index == defaults.channels_index &&
        parameters.rate_index == defaults.rate_index &&
        parameters.audio_bitrate_index == defaults.audio_bitrate_index) {
        sound->channels = kWebChannels;
        sound->rate = kWebSampleRate;
        sound->kilobits = kWebAudioKilobits;
    }
    return sound;
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

WebQuality web_quality(const VideoParameters& parameters) {
    const int index = parameters.quality_index;
    return index >= 0 && index < static_cast<int>(kQualityItems.size())
               ? static_cast<WebQuality>(index)
               : WebQuality::Automatic;
}

std::vector<std::string> web_video_quality(VideoFormat format, WebQuality quality, EvenSize size,
                                           double fps, std::int64_t list_bits) {
    if (quality == WebQuality::BitrateList) return {"-b:v", std::to_string(list_bits)};
    const QualityLevel level = quality_level(quality, size);
    if (format == VideoFormat::WebM) {
        // Uncapped (see the cap): its levels take fewer bits than H.264's
        // at the same quality.
        return {"-crf", std::to_string(level.vp9_crf), "-b:v", "0"};
    }
    const std::int64_t cap = cap_kilobits(size, fps);
    // Two seconds of buffer: a player that has buffered them never stalls.
    return {"-crf",     std::to_string(level.x264_crf), "-maxrate", std::to_string(cap) + "k",
            "-bufsize", std::to_string(2 * cap) + "k"};
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
    const std::vector<std::string> quality = web_video_quality(
        encoding.format, encoding.quality, size, encoding.output_fps, encoding.video_bits);
    a.insert(a.end(), quality.begin(), quality.end());
    a.insert(a.end(), {"-r", exact_frame_rate(encoding.output_fps).argument, "-pix_fmt", "yuv420p",
                       "-color_range", "tv", "-colorspace", tag, "-color_primaries", tag,
                       "-color_trc", tag});
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
