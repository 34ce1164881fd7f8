// Writes the fuzzers' starting corpus: a few small valid inputs of each kind,
// made by the program's own writers so they follow its formats.
//
//   make_fuzz_seeds DIR   ->  DIR/settings, DIR/project, DIR/video_info, DIR/jpeg,
//                             DIR/container
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

// jpeglib.h uses size_t and FILE without including their headers.
#include <jpeglib.h>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/curves.hpp"
#include "core/correction/frame.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/project/project_file.hpp"
#include "core/settings/settings_file.hpp"
#include "core/video/video_workspace.hpp"

namespace fs = std::filesystem;
using namespace tintora;

namespace {

bool write_seed(const fs::path& folder, const std::string& name, std::string_view bytes) {
    std::ofstream out(folder / name, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool write_seed(const fs::path& folder, const std::string& name,
                const std::vector<std::uint8_t>& bytes) {
    return write_seed(folder, name,
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

bool settings_seeds(const fs::path& folder) {
    AppSettings settings;
    settings.language = "rus";
    settings.work_dir = "/tmp/tintora work";
    settings.ffmpeg_path = "/usr/bin/ffmpeg";
    settings.ffplay_path = "/usr/bin/ffplay";
    bool ok = write_seed(folder, "saved", format_settings(settings));
    // Edited by hand: LF endings, a key twice, an unknown key, a NUL byte.
    using std::string_literals::operator""s;
    ok &= write_seed(folder, "edited",
                     "LANG=eng\nLANG=rus\nFOO=1\nTEMP=/var/tmp\r\r\nFFMPEG=ff\0mpeg\nFFPLAY="s);
    return ok;
}

bool project_seeds(const fs::path& folder) {
    {
        AppSettings settings;
        Composition composition;
        CorrectionGrid grid;
        VideoWorkspace workspace(settings);
        if (!write_seed(folder, "empty", format_project(composition, grid, workspace)))
            return false;
    }
    AppSettings settings;
    Composition composition;
    CorrectionGrid grid;
    VideoWorkspace workspace(settings);
    composition.choices = {2, 8, 6, true, {}};
    // The name stays even though no such file opens.
    (void)composition.open_background("/pictures/panorama 1.jpg");
    workspace.session().clip_path = "/clips/clip.mp4";
    grid.cur_point = 7;
    VideoParameters& p = workspace.parameters();
    const char* texts[kParameterFieldCount] = {"5",   "6", "600", "300", "640", "360", "30",
                                               "200", "2", "90",  "29",  "3",   "4"};
    for (int i = 0; i < kParameterFieldCount; ++i) p.texts[static_cast<std::size_t>(i)] = texts[i];
    p.rotation_index = 2;
    p.mirror_horizontally = p.mirror_vertically = p.ping_pong = true;
    p.color_transformation_index = kInverse;
    p.video_bitrate_index = 10;
    p.channels_index = 2;
    p.rate_index = 3;
    p.audio_bitrate_index = 8;
    p.poster_image = true;
    for (int point = 0; point < kGridPointCount; ++point) {
        grid.area_x[point] = 100 * point - 50;
        grid.area_y[point] = 7 * point;
        grid.control_values[point][10 + point] = 20 + point;
        grid.control_values[point][200] = 180;
    }
    const std::string full = format_project(composition, grid, workspace);
    bool ok = write_seed(folder, "full", full);
    // The same with LF endings, and the number forms "%i" takes.
    std::string lf;
    for (const char c : full) {
        if (c != '\r') lf += c;
    }
    ok &= write_seed(folder, "full_lf", lf);
    ok &= write_seed(folder, "numbers",
                     "POINT3 010 99\r\nPOINT2\t0x1F\t+7\r\nAREA_POINT4=12,-34\r\n"
                     "AREA_POINT0=0x7fffffff,-0x80000000\r\nCURRENT_POINT=5\r\nCUT_X=10");
    // The colour mode's lines after the others.
    grid.correction_mode = CorrectionMode::Colour;
    for (int c = 0; c < kChannelCount; ++c) {
        for (int point = 0; point < kGridPointCount; ++point) {
            grid.channel_control_values[c][point][30 + 10 * c] = 40 + point;
        }
    }
    ok &= write_seed(folder, "colour", format_project(composition, grid, workspace));
    ok &= write_seed(folder, "colour_lines",
                     "COLOR_MODE=Colour\r\nPOINT_R0 010 99\r\nPOINT_G8\t255\t0\r\n"
                     "POINT_B4\t0x1F\t+7\r\nPOINT_R9\t1\t1\r\nCOLOR_MODE=Brightness\n");
    return ok;
}

bool video_info_seeds(const fs::path& folder) {
    bool ok = write_seed(
        folder, "mp4",
        "Input #0, mov,mp4,m4a,3gp,3g2,mj2, from 'clip.mp4':\n"
        "  Duration: 00:00:10.00, start: 0.000000, bitrate: 1205 kb/s\n"
        "    Stream #0:0(und): Video: h264 (High) (avc1 / 0x31637661), yuv420p, 640x480, "
        "1000 kb/s, 29.97 fps, 29.97 tbr, 30k tbn, 59.94 tbc (default)\n"
        "    Stream #0:1(und): Audio: aac (LC) (mp4a / 0x6134706D), 44100 Hz, stereo, fltp, "
        "128 kb/s (default)\n"
        "At least one output file must be specified\n");
    ok &= write_seed(folder, "flv",
                     "Input #0, flv, from 'a.flv':\n  Duration: 01:02:03.45, start: 0.000000\n"
                     "    Stream #0:0: Video: flv1, yuv420p, 320x240, 25 fps, 25 tbr, 1k tbn\n");
    ok &= write_seed(folder, "no_duration",
                     "  Duration: N/A, bitrate: N/A\n"
                     "    Stream #0:0: Video: mjpeg, yuvj420p, 16x16, 0.5 fps, 24 tbr\n");
    ok &= write_seed(folder, "line", "Stream #0:0: Video: h264, 640x480, 29.97 fps, 29.97 tbr");
    ok &= write_seed(folder, "failed_encoding",
                     "frame=   12 fps=0.0 q=2.0 size=     256kB time=00:00:00.44\r"
                     "[flv @ 0x55d0c0e4] Failed to update header with correct duration.\n"
                     "Error writing trailer of /o/out.flv: No space left on device\n"
                     "video:880kB audio:24kB subtitle:0kB\nConversion failed!\n");
    ok &= write_seed(folder, "progress",
                     "frame=12\nfps=24.0\nout_time_us=480000\nprogress=continue\n"
                     "frame=75\r\nout_time_us=3000000\nprogress=end\n");
    return ok;
}

// Frames whose every pixel differs, so the coded data is not trivial.
Frame pattern_frame(int width, int height) {
    Frame frame(width, height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            std::uint8_t* px = frame.pixel(r, c);
            px[0] = static_cast<std::uint8_t>(c * 7 + r);
            px[1] = static_cast<std::uint8_t>(r * 13 + c);
            px[2] = static_cast<std::uint8_t>((r + c) * 3);
        }
    }
    return frame;
}

// Kinds the program's writer never makes, but the loader must read:
// greyscale and progressive, through the library directly.
std::vector<std::uint8_t> library_jpeg(const Frame& frame, bool grey, bool progressive) {
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);  // exits on an error: fine for a seed maker
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(frame.width());
    info.image_height = static_cast<JDIMENSION>(frame.height());
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 75, TRUE);
    if (progressive) jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(frame.width()) * 3);
    while (info.next_scanline < info.image_height) {
        const std::uint8_t* source = frame.row(static_cast<int>(info.next_scanline));
        if (grey) {
            for (int c = 0; c < frame.width(); ++c)
                row[static_cast<std::size_t>(c)] = source[3 * c + 1];
        } else {
            std::copy(source, source + row.size(), row.begin());
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

bool jpeg_seeds(const fs::path& folder) {
    bool ok = true;
    const int sizes[][2] = {{1, 1}, {8, 8}, {17, 9}, {32, 24}};
    for (const auto& size : sizes) {
        const Result<std::vector<std::uint8_t>> bytes =
            encode_jpeg(pattern_frame(size[0], size[1]));
        if (!bytes) return false;
        ok &= write_seed(folder, "frame_" + std::to_string(size[0]) + "x" + std::to_string(size[1]),
                         bytes.value());
    }
    const Frame frame = pattern_frame(24, 16);
    ok &= write_seed(folder, "grey", library_jpeg(frame, true, false));
    ok &= write_seed(folder, "progressive", library_jpeg(frame, false, true));
    ok &= write_seed(folder, "grey_progressive", library_jpeg(frame, true, true));
    return ok;
}

std::string big_endian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = bytes - 1; i >= 0; --i) text += static_cast<char>(value >> (8 * i));
    return text;
}

std::string little_endian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = 0; i < bytes; ++i) text += static_cast<char>(value >> (8 * i));
    return text;
}

// Whole files of each kind the container check knows, in their smallest
// forms and in the rarer forms of sizes (64-bit, "to the end", unknown).
bool container_seeds(const fs::path& folder) {
    using std::string_literals::operator""s;
    const auto box = [](const std::string& type, const std::string& content) {
        return big_endian(8 + content.size(), 4) + type + content;
    };
    const std::string file_type = box("ftyp", "isom"s + big_endian(0x200, 4) + "isommp41");
    const std::string sizes = box("stsz", big_endian(0, 4) + big_endian(1, 4) + big_endian(2, 4));
    const std::string movie =
        box("moov", box("mvhd", std::string(100, '\0')) +
                        box("trak", box("mdia", box("minf", box("stbl", sizes)))));
    bool ok = write_seed(folder, "mp4", file_type + movie + box("mdat", "ab"));
    ok &= write_seed(folder, "mp4_large_sizes",
                     file_type + box("free", "") + movie + big_endian(1, 4) + "mdat" +
                         big_endian(18, 8) + "ab" + big_endian(0, 4) + "free");

    // EBML elements with one-byte sizes; 0xFF is the unknown size.
    const auto element = [](const std::string& id, const std::string& content) {
        return id + static_cast<char>(0x80 | content.size()) + content;
    };
    const std::string header =
        element("\x1A\x45\xDF\xA3", element("\x42\x86", "\x01") + element("\x42\x82", "webm"));
    const std::string info = element("\x15\x49\xA9\x66", element("\x2A\xD7\xB1", "\x0F\x42\x40"));
    const std::string tracks =
        element("\x16\x54\xAE\x6B", element("\xAE", element("\xD7", "\x01")));
    const std::string blocks =
        element("\xE7", "\x00"s) + element("\xA3", "\x81\x00\x00\x80"s + "data");
    const std::string cluster_id = "\x1F\x43\xB6\x75";
    ok &= write_seed(
        folder, "webm",
        header + element("\x18\x53\x80\x67", info + tracks + element(cluster_id, blocks) +
                                                 element("\xEC", std::string(4, '\0'))));
    ok &= write_seed(folder, "webm_unknown_sizes",
                     header + "\x18\x53\x80\x67\xFF" + info + tracks + cluster_id + "\xFF" +
                         blocks + element(cluster_id, blocks));

    const auto tag = [](int type, const std::string& data) {
        return static_cast<char>(type) + big_endian(data.size(), 3) + std::string(7, '\0') + data +
               big_endian(11 + data.size(), 4);
    };
    ok &= write_seed(folder, "flv",
                     "FLV\x01\x05"s + big_endian(9, 4) + big_endian(0, 4) +
                         tag(18, "\x02\x00\x0AonMetaData"s) + tag(9, "\x12\x00") + tag(8, "\x2E"));

    const std::string format = "fmt "s + little_endian(16, 4) + little_endian(1, 2) +
                               little_endian(1, 2) + little_endian(8000, 4) +
                               little_endian(8000, 4) + little_endian(1, 2) + little_endian(8, 2);
    const std::string data = "data"s + little_endian(3, 4) + "abc" + '\0';
    ok &= write_seed(
        folder, "wav",
        "RIFF" + little_endian(4 + format.size() + data.size(), 4) + "WAVE" + format + data);

    const Result<std::vector<std::uint8_t>> jpeg = encode_jpeg(pattern_frame(8, 8));
    return ok && jpeg && write_seed(folder, "jpeg", jpeg.value());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const fs::path root = argv[1];
    struct Kind {
        const char* name;
        bool (*make)(const fs::path&);
    };
    const Kind kinds[] = {{"settings", settings_seeds},
                          {"project", project_seeds},
                          {"video_info", video_info_seeds},
                          {"jpeg", jpeg_seeds},
                          {"container", container_seeds}};
    for (const Kind& kind : kinds) {
        std::error_code error;
        fs::create_directories(root / kind.name, error);
        if (error || !kind.make(root / kind.name)) {
            std::fprintf(stderr, "cannot write the %s seeds under %s\n", kind.name, argv[1]);
            return 1;
        }
    }
    return 0;
}
