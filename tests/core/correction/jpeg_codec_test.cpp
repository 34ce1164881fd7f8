#include "core/correction/jpeg_codec.hpp"

#include <gtest/gtest.h>
#include <jpeglib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "support/temporary_folder.hpp"
#include "support/test_pictures.hpp"
#include "support/without_hanging.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

Bytes file_content(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void put_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Samples as a plain libjpeg writer takes them: rows of `components` bytes.
struct Picture {
    int width;
    int height;
    int components;
    J_COLOR_SPACE space;
    Bytes samples;
};

Picture picture_of(const Frame& frame) {
    Picture picture{frame.width(), frame.height(), 3, JCS_EXT_BGR, {}};
    for (int r = 0; r < frame.height(); ++r) {
        picture.samples.insert(picture.samples.end(), frame.row(r),
                               frame.row(r) + 3 * frame.width());
    }
    return picture;
}

Picture random_picture(int width, int height, int components, J_COLOR_SPACE space,
                       std::mt19937& random) {
    Picture picture{width, height, components, space, {}};
    std::uniform_int_distribution<int> byte(0, 255);
    picture.samples.resize(static_cast<std::size_t>(width) * height * components);
    for (std::uint8_t& sample : picture.samples) sample = static_cast<std::uint8_t>(byte(random));
    return picture;
}

using Tuning = std::function<void(jpeg_compress_struct&)>;

// Encodes with the library alone: defaults, quality 90, then `tune`.
Bytes write_with_libjpeg(const Picture& picture, const Tuning& tune = {}) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(picture.width);
    info.image_height = static_cast<JDIMENSION>(picture.height);
    info.input_components = picture.components;
    info.in_color_space = picture.space;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 90, TRUE);
    if (tune) tune(info);
    jpeg_start_compress(&info, TRUE);
    const std::size_t row_bytes = static_cast<std::size_t>(picture.width) * picture.components;
    while (info.next_scanline < info.image_height) {
        JSAMPROW row =
            const_cast<JSAMPROW>(picture.samples.data() + info.next_scanline * row_bytes);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

// What the library itself decodes from valid data, as B,G,R.
Frame decode_with_libjpeg(const Bytes& bytes) {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&info);
    Frame frame(static_cast<int>(info.output_width), static_cast<int>(info.output_height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = frame.row(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return frame;
}

// Smooth enough for JPEG to keep it closely: gradients in every channel.
Frame gradient_frame(int width, int height) {
    Frame frame(width, height);
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            std::uint8_t* p = frame.pixel(r, c);
            p[0] = static_cast<std::uint8_t>(3 * c + r);
            p[1] = static_cast<std::uint8_t>(4 * r + c);
            p[2] = static_cast<std::uint8_t>(220 - 2 * c - r);
        }
    }
    return frame;
}

TEST(DecodeJpeg, ReadsWhatTheLibraryReadsForEveryLayout) {
    const struct {
        const char* name;
        int components;
        J_COLOR_SPACE space;
        Tuning tune;
    } layouts[] = {
        {"baseline 4:2:0", 3, JCS_EXT_BGR, {}},
        {"baseline 4:4:4", 3, JCS_EXT_BGR,
         [](jpeg_compress_struct& i) {
             i.comp_info[0].h_samp_factor = i.comp_info[0].v_samp_factor = 1;
         }},
        {"restart markers", 3, JCS_EXT_BGR, [](jpeg_compress_struct& i) { i.restart_in_rows = 1; }},
        {"RGB without colour transform", 3, JCS_EXT_BGR,
         [](jpeg_compress_struct& i) { jpeg_set_colorspace(&i, JCS_RGB); }},
        {"progressive", 3, JCS_EXT_BGR,
         [](jpeg_compress_struct& i) { jpeg_simple_progression(&i); }},
        {"greyscale", 1, JCS_GRAYSCALE, {}},
        {"progressive greyscale", 1, JCS_GRAYSCALE,
         [](jpeg_compress_struct& i) { jpeg_simple_progression(&i); }},
    };
    std::mt19937 random(19);
    for (const auto& layout : layouts) {
        // Sizes that fill whole blocks and sizes that leave partial ones.
        for (const auto& [width, height] : {std::pair{1, 1}, {17, 9}, {40, 33}}) {
            const Picture picture =
                random_picture(width, height, layout.components, layout.space, random);
            const Bytes bytes = write_with_libjpeg(picture, layout.tune);
            const Result<Frame> decoded = decode_jpeg(bytes.data(), bytes.size());
            ASSERT_TRUE(decoded) << layout.name << ": " << decoded.error();
            EXPECT_EQ(decoded.value(), decode_with_libjpeg(bytes))
                << layout.name << " " << width << "x" << height;
        }
    }
}

TEST(DecodeJpeg, CmykWithAndWithoutTheAdobeMarkerGivesThePrintedColour) {
    // Plain CMYK (0 = no ink) and the B,G,R of the printed colour:
    // ink-free RGB times the key, (255 - ink) (255 - K) / 255.
    const struct {
        std::uint8_t c, m, y, k;
        int b, g, r;
    } colours[] = {
        {0, 0, 255, 0, 0, 255, 255},    // yellow
        {0, 255, 255, 128, 0, 0, 127},  // dark red
        {255, 0, 0, 0, 255, 255, 0},    // cyan
        {0, 0, 0, 255, 0, 0, 0},        // black
    };
    const struct {
        const char* name;
        bool inverted;  // Adobe stores 255 - ink
        Tuning tune;
    } writers[] = {
        {"CMYK with Adobe marker", true, {}},
        {"CMYK without marker", false,
         [](jpeg_compress_struct& i) { i.write_Adobe_marker = FALSE; }},
        {"YCCK", true, [](jpeg_compress_struct& i) { jpeg_set_colorspace(&i, JCS_YCCK); }},
    };
    for (const auto& writer : writers) {
        for (const auto& colour : colours) {
            Picture picture{16, 16, 4, JCS_CMYK, {}};
            for (int i = 0; i < 16 * 16; ++i) {
                for (const std::uint8_t ink : {colour.c, colour.m, colour.y, colour.k}) {
                    picture.samples.push_back(writer.inverted ? static_cast<std::uint8_t>(255 - ink)
                                                              : ink);
                }
            }
            const Bytes bytes = write_with_libjpeg(picture, writer.tune);
            const Result<Frame> decoded = decode_jpeg(bytes.data(), bytes.size());
            ASSERT_TRUE(decoded) << writer.name << ": " << decoded.error();
            ASSERT_EQ(decoded.value().width(), 16);
            ASSERT_EQ(decoded.value().height(), 16);
            const std::uint8_t* p = decoded.value().pixel(8, 8);
            EXPECT_NEAR(p[0], colour.b, 4) << writer.name;
            EXPECT_NEAR(p[1], colour.g, 4) << writer.name;
            EXPECT_NEAR(p[2], colour.r, 4) << writer.name;
        }
    }
}

// Frames written for the encoder must be exactly what the library writes
// from B,G,R rows with its defaults at quality 90, so that any correct
// implementation produces the same files.
TEST(EncodeJpeg, WritesTheBytesOfAPlainLibraryEncoderAtQuality90) {
    test::TemporaryFolder folder;
    std::mt19937 random(20);
    for (const auto& [width, height] : {std::pair{1, 1}, {17, 9}, {64, 48}}) {
        const Frame frame = test::random_frame(width, height, random);
        const Bytes expected = write_with_libjpeg(picture_of(frame));
        const Result<Bytes> encoded = encode_jpeg(frame);
        ASSERT_TRUE(encoded) << encoded.error();
        EXPECT_EQ(encoded.value(), expected) << width << "x" << height;

        const fs::path path = folder / "frame.jpg";
        ASSERT_TRUE(save_jpeg(frame, path));
        EXPECT_EQ(file_content(path), expected) << width << "x" << height;
    }
}

TEST(EncodeJpeg, SavedFrameLoadsBackClose) {
    test::TemporaryFolder folder;
    const Frame frame = gradient_frame(67, 45);
    const fs::path path = folder / "round trip.jpg";
    const Status saved = save_jpeg(frame, path);
    ASSERT_TRUE(saved) << saved.error();
    const Result<Frame> loaded = load_jpeg(path);
    ASSERT_TRUE(loaded) << loaded.error();
    ASSERT_EQ(loaded.value().width(), frame.width());
    ASSERT_EQ(loaded.value().height(), frame.height());
    long total = 0;
    int worst = 0;
    for (int r = 0; r < frame.height(); ++r) {
        for (int i = 0; i < 3 * frame.width(); ++i) {
            const int difference = std::abs(loaded.value().row(r)[i] - frame.row(r)[i]);
            total += difference;
            worst = std::max(worst, difference);
        }
    }
    const double mean = static_cast<double>(total) / (3.0 * frame.width() * frame.height());
    EXPECT_LT(mean, 1.5);
    EXPECT_LE(worst, 12);
}

TEST(LoadJpeg, UnreadableFilesAreErrorsNamingTheFile) {
    test::TemporaryFolder folder;
    put_file(folder / "text.jpg", "This is not a picture.\n");
    put_file(folder / "empty.jpg", "");
    put_file(folder / "marker only.jpg", "\xFF\xD8\xFF");
    fs::create_directory(folder / "folder.jpg");
    for (const char* name :
         {"missing.jpg", "folder.jpg", "text.jpg", "empty.jpg", "marker only.jpg"}) {
        const Result<Frame> loaded = load_jpeg(folder / name);
        ASSERT_FALSE(loaded) << name;
        EXPECT_NE(loaded.error().find(name), std::string::npos) << loaded.error();
    }
    const Result<Frame> nothing = decode_jpeg(nullptr, 0);
    ASSERT_FALSE(nothing);
    EXPECT_FALSE(nothing.error().empty());
}

// A frame file cut short (an interrupted extraction, a full disk) must not
// pass for a picture, whatever the point of the cut.
TEST(DecodeJpeg, EveryTruncationIsAnError) {
    std::mt19937 random(21);
    const Picture picture = picture_of(test::random_frame(24, 16, random));
    for (const bool progressive : {false, true}) {
        const Bytes bytes = write_with_libjpeg(picture, [&](jpeg_compress_struct& i) {
            if (progressive) jpeg_simple_progression(&i);
        });
        for (std::size_t length = 0; length < bytes.size(); ++length) {
            const Bytes cut(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
            const Result<Frame> decoded = decode_jpeg(cut.data(), cut.size());
            ASSERT_FALSE(decoded) << "progressive " << progressive << ", " << length << " of "
                                  << bytes.size();
            EXPECT_FALSE(decoded.error().empty());
        }
    }
}

// What other viewers show despite a warning is a picture here too: stray
// bytes before a marker, a JFIF revision from the future.
TEST(DecodeJpeg, HarmlessWarningsStillGiveThePicture) {
    const Picture picture = picture_of(gradient_frame(24, 16));
    const Bytes clean = write_with_libjpeg(picture);
    const Result<Frame> expected = decode_jpeg(clean.data(), clean.size());
    ASSERT_TRUE(expected);

    Bytes stray = clean;  // junk between the scan and the end marker
    stray.insert(stray.end() - 2, {0x12, 0x34, 0x56});
    Bytes revision = clean;  // JFIF 2.01 in the APP0 segment after SOI
    ASSERT_TRUE(revision[2] == 0xFF && revision[3] == 0xE0);
    revision[11] = 2;
    for (const Bytes* bytes : {&stray, &revision}) {
        const Result<Frame> decoded = decode_jpeg(bytes->data(), bytes->size());
        ASSERT_TRUE(decoded) << decoded.error();
        EXPECT_EQ(decoded.value(), expected.value());
    }
}

TEST(DecodeJpeg, CorruptBytesGiveAFrameOrAnErrorNeverACrash) {
    std::mt19937 random(22);
    const Picture picture = picture_of(gradient_frame(24, 16));
    const Bytes sources[] = {
        write_with_libjpeg(picture),
        write_with_libjpeg(picture, [](jpeg_compress_struct& i) { jpeg_simple_progression(&i); }),
    };
    int frames = 0;
    int errors = 0;
    for (const Bytes& source : sources) {
        std::uniform_int_distribution<std::size_t> position(0, source.size() - 1);
        std::uniform_int_distribution<int> bit(0, 7);
        std::uniform_int_distribution<int> flips(1, 6);
        for (int round = 0; round < 1500; ++round) {
            Bytes bytes = source;
            for (int n = flips(random); n > 0; --n)
                bytes[position(random)] ^= static_cast<std::uint8_t>(1 << bit(random));
            const Result<Frame> decoded = decode_jpeg(bytes.data(), bytes.size());
            if (decoded) {
                EXPECT_FALSE(decoded.value().empty());
                ++frames;
            } else {
                EXPECT_FALSE(decoded.error().empty());
                ++errors;
            }
        }
    }
    // Both outcomes must have been exercised for the test to mean anything.
    EXPECT_GT(frames, 0);
    EXPECT_GT(errors, 0);
}

// The small picture's file with its header claiming width x height, and
// `padding` bytes of comment after the start marker.
Bytes claiming_size(int width, int height, std::size_t padding = 0) {
    Bytes bytes = write_with_libjpeg(picture_of(gradient_frame(16, 16)));
    std::size_t sof = 0;
    for (std::size_t i = 2; i + 9 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            sof = i;
            break;
        }
    }
    EXPECT_NE(sof, 0u);
    // FF C0, length (2), precision (1), height (2), width (2).
    bytes[sof + 5] = static_cast<std::uint8_t>(height >> 8);
    bytes[sof + 6] = static_cast<std::uint8_t>(height & 0xFF);
    bytes[sof + 7] = static_cast<std::uint8_t>(width >> 8);
    bytes[sof + 8] = static_cast<std::uint8_t>(width & 0xFF);
    while (padding > 0) {
        const std::size_t length = std::min<std::size_t>(padding, 60000);
        Bytes comment{0xFF, 0xFE, static_cast<std::uint8_t>((length + 2) >> 8),
                      static_cast<std::uint8_t>((length + 2) & 0xFF)};
        comment.resize(comment.size() + length, 'x');
        bytes.insert(bytes.begin() + 2, comment.begin(), comment.end());
        padding -= length;
    }
    return bytes;
}

// A damaged or hostile header must not make the decoder take gigabytes: a
// size beyond any picture, or beyond what the file's bytes can code, is
// refused before memory is taken, and the refusal says what was claimed.
TEST(DecodeJpeg, HeaderClaimingMoreThanPossibleIsRefused) {
    for (const auto& [width, height] : {std::pair{30000, 30000}, {65500, 8196}}) {
        const Bytes bytes = claiming_size(width, height);
        const Result<Frame> decoded = decode_jpeg(bytes.data(), bytes.size());
        ASSERT_FALSE(decoded) << width << " x " << height;
        EXPECT_NE(decoded.error().find(std::to_string(width) + " x " + std::to_string(height)),
                  std::string::npos)
            << decoded.error();
    }
}

// Pictures of one colour are the densest real files: the refusal of headers
// claiming more than the bytes can code leaves every one of them readable.
TEST(DecodeJpeg, TheMostCompressedPicturesStillLoad) {
    const auto optimized = [](jpeg_compress_struct& i) { i.optimize_coding = TRUE; };
    const auto progressive = [](jpeg_compress_struct& i) { jpeg_simple_progression(&i); };
    const struct {
        const char* name;
        int components;
        J_COLOR_SPACE space;
        Tuning tune;
    } layouts[] = {
        {"baseline, optimised tables", 3, JCS_EXT_BGR, optimized},
        {"greyscale, optimised tables", 1, JCS_GRAYSCALE, optimized},
        {"progressive greyscale", 1, JCS_GRAYSCALE, progressive},
    };
    const int size = 2048;
    for (const auto& layout : layouts) {
        Picture picture{size, size, layout.components, layout.space, {}};
        picture.samples.assign(static_cast<std::size_t>(size) * size * layout.components, 90);
        const Bytes bytes = write_with_libjpeg(picture, layout.tune);
        // Near the densest Huffman coding allows (256 pixels per byte in a
        // sequential scan), so the bound is tried where it matters.
        EXPECT_GT(size * size / bytes.size(), 150u) << layout.name << ": " << bytes.size();
        const Result<Frame> decoded = decode_jpeg(bytes.data(), bytes.size());
        ASSERT_TRUE(decoded) << layout.name << ": " << decoded.error();
        EXPECT_EQ(decoded.value().width(), size);
        EXPECT_EQ(decoded.value().height(), size);
    }
}

// The peak resident memory of the process in bytes.
std::uint64_t peak_memory() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;
}

// A header whose claim the file's bytes could cover, but whose picture data
// ends after the first 16 x 16 pixels: memory follows what is decoded, not the claim.
// Wide rows and narrow ones (where any per-row work touches every page).
TEST(DecodeJpeg, AHeaderClaimingMoreThanTheDataTakesLittleMemory) {
    for (const auto& [width, height] : {std::pair{1365, 65500}, {65500, 8196}}) {
        const std::uint64_t claimed = std::uint64_t{3} * width * height;
        // Enough bytes to pass the pixels-per-byte check: 65500 x 8196 pixels
        // need 128 KiB.
        const Bytes bytes = claiming_size(width, height, 180000);
        // Earlier tests' peaks would hide this one's: start from the present.
        std::ofstream("/proc/self/clear_refs") << "5";
        const std::uint64_t before = peak_memory();
        const Result<Frame> decoded = decode_jpeg(bytes.data(), bytes.size());
        const std::uint64_t grown = peak_memory() - before;
        ASSERT_FALSE(decoded) << width << " x " << height;
        EXPECT_FALSE(decoded.error().empty());
        // A quarter leaves room for the address sanitiser, whose bookkeeping
        // takes an eighth of every allocation; touching the claimed picture
        // takes all of it.
        EXPECT_LT(grown, claimed / 4) << width << " x " << height << ": " << grown << " bytes";
    }
}

// A FIFO would block the read until someone writes to it; /dev/zero never
// ends and would fill the memory.
TEST(LoadJpeg, FifosAndDevicesAreRefused) {
    test::TemporaryFolder folder;
    ASSERT_EQ(::mkfifo((folder / "pipe.jpg").c_str(), 0600), 0);
    for (const fs::path& path : {folder / "pipe.jpg", fs::path("/dev/zero")}) {
        const Result<Frame> loaded = test::without_hanging([&] { return load_jpeg(path); });
        ASSERT_FALSE(loaded) << path;
        EXPECT_NE(loaded.error().find(path.string()), std::string::npos) << loaded.error();
        EXPECT_NE(loaded.error().find("not a regular file"), std::string::npos) << loaded.error();
    }
}

TEST(SaveJpeg, FailuresAreErrorsAndLeaveFilesAsTheyWere) {
    test::TemporaryFolder folder;
    put_file(folder / "plain file", "x");
    put_file(folder / "old.jpg", "old");
    fs::create_directory(folder / "taken.jpg");
    const Frame frame = gradient_frame(8, 8);
    const std::pair<Frame, fs::path> cases[] = {
        {frame, folder / "missing folder" / "a.jpg"},
        {frame, folder / "plain file" / "a.jpg"},
        {frame, folder / "taken.jpg"},
        {Frame{}, folder / "old.jpg"},
        {Frame(0, 10), folder / "new.jpg"},
    };
    for (const auto& [picture, path] : cases) {
        const Status saved = save_jpeg(picture, path);
        ASSERT_FALSE(saved) << path;
        EXPECT_FALSE(saved.error().empty());
    }
    EXPECT_EQ(file_content(folder / "plain file"), Bytes{'x'});
    EXPECT_EQ(file_content(folder / "old.jpg"), (Bytes{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::is_directory(folder / "taken.jpg"));
    EXPECT_FALSE(fs::exists(folder / "missing folder"));
    EXPECT_FALSE(fs::exists(folder / "new.jpg"));

    const Result<Bytes> encoded = encode_jpeg(Frame{});
    ASSERT_FALSE(encoded);
    EXPECT_FALSE(encoded.error().empty());
}

}  // namespace
}  // namespace tintora
