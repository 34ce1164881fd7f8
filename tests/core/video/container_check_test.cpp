// The structural check of encoded outputs: files the real encoder makes pass
// whole and fail cut short, garbled or with a stray byte after their end;
// hand-made layouts cover what the encoder writes rarely or never.
#include "core/video/container_check.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/video/command_runner.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

std::optional<std::string> defect_of(const std::string& bytes, ContainerKind kind) {
    return container_defect(MemoryByteSource(bytes), kind);
}

void write_bytes(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

TEST(ContainerCheckKind, FollowsTheExtensionInAnyCase) {
    const struct {
        const char* path;
        ContainerKind kind;
    } cases[] = {{"/o/out.mp4", ContainerKind::IsoMedia},
                 {"CLIP.MOV", ContainerKind::IsoMedia},
                 {"a.M4a", ContainerKind::IsoMedia},
                 {"a.m4v", ContainerKind::IsoMedia},
                 {"/o/.out.partial.webm", ContainerKind::Matroska},
                 {"b.MKV", ContainerKind::Matroska},
                 {"b.mka", ContainerKind::Matroska},
                 {"c.Flv", ContainerKind::Flv},
                 {"d.wav", ContainerKind::Wav},
                 {"pic0001.JPG", ContainerKind::Jpeg},
                 {"e.jpeg", ContainerKind::Jpeg},
                 {"f.avi", ContainerKind::Unchecked},
                 {"mp4", ContainerKind::Unchecked},
                 {"g.mp4.part", ContainerKind::Unchecked}};
    for (const auto& c : cases) {
        EXPECT_EQ(container_kind_of(c.path), c.kind) << c.path;
    }
}

// ---- Files the encoder makes from its test sources: 5 frames of 32x32 and
// half a second of a tone.

struct EncodedCase {
    const char* name;
    const char* file;
    std::vector<std::string> arguments;
};

class ContainerCheckEncoded : public testing::TestWithParam<EncodedCase> {
protected:
    // The file made in folder_, or a failed assertion.
    fs::path encode() {
        const fs::path encoder = test::find_encoder();
        EXPECT_FALSE(encoder.empty()) << "ffmpeg is not found along PATH";
        if (encoder.empty()) return {};
        const fs::path path = folder_ / GetParam().file;
        Command command{
            encoder,
            {"-v", "error", "-f", "lavfi", "-i", "testsrc2=size=32x32:rate=10:duration=0.5", "-f",
             "lavfi", "-i", "sine=duration=0.5", "-shortest"},
            {}};
        command.arguments.insert(command.arguments.end(), GetParam().arguments.begin(),
                                 GetParam().arguments.end());
        command.arguments.insert(command.arguments.end(), {"-y", path.string()});
        const CommandResult result = run_command(command);
        EXPECT_TRUE(result.succeeded()) << result.last_error_lines(5);
        return result.succeeded() ? path : fs::path();
    }

    test::TemporaryFolder folder_;
};

TEST_P(ContainerCheckEncoded, PassesWholeAndFailsCutGarbledOrExtended) {
    const fs::path path = encode();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(container_defect(path), std::nullopt);

    const Result<std::vector<std::uint8_t>> read = read_file_bytes(path);
    ASSERT_TRUE(read) << read.error();
    const std::string bytes(read.value().begin(), read.value().end());
    const ContainerKind kind = container_kind_of(path);
    ASSERT_NE(kind, ContainerKind::Unchecked);
    ASSERT_GT(bytes.size(), 64u);
    const std::size_t size = bytes.size();
    for (const std::size_t cut : {std::size_t{8}, size / 3, size / 2, size - 5, size - 1}) {
        EXPECT_NE(defect_of(bytes.substr(0, cut), kind), std::nullopt) << "cut to " << cut;
    }
    EXPECT_NE(defect_of(bytes + '\0', kind), std::nullopt) << "a stray byte after the end";

    // Random bytes, first as the whole file, then after the real beginning.
    std::mt19937 random(12345);
    std::string garbled = bytes;
    for (char& c : garbled) c = static_cast<char>(random());
    EXPECT_NE(defect_of(garbled, kind), std::nullopt) << "random bytes";
    garbled.replace(0, 64, bytes, 0, 64);
    EXPECT_NE(defect_of(garbled, kind), std::nullopt) << "random bytes after the first 64";
}

INSTANTIATE_TEST_SUITE_P(
    ContainerCheck, ContainerCheckEncoded,
    testing::Values(
        EncodedCase{"Mp4", "clip.mp4", {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac"}},
        EncodedCase{
            "Mp4FastStart",
            "clip.mp4",
            {"-c:v", "libx264", "-preset", "ultrafast", "-c:a", "aac", "-movflags", "+faststart"}},
        EncodedCase{
            "WebM",
            "clip.webm",
            {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-c:a", "libopus"}},
        EncodedCase{"Flv", "clip.flv", {}}, EncodedCase{"Wav", "clip.wav", {"-vn"}},
        // An odd number of 8-bit samples: the data chunk ends with a pad byte.
        EncodedCase{
            "WavOddLength",
            "odd.wav",
            {"-vn", "-af", "aresample=8000,atrim=end_sample=3999", "-c:a", "pcm_u8", "-ac", "1"}},
        EncodedCase{"Jpeg", "frame.jpg", {"-an", "-frames:v", "1", "-update", "1"}}),
    [](const testing::TestParamInfo<EncodedCase>& info) { return std::string(info.param.name); });

// ---- Hand-made layouts.

std::string big_endian(std::uint64_t value, int bytes) {
    std::string text;
    for (int i = bytes - 1; i >= 0; --i) text += static_cast<char>(value >> (8 * i));
    return text;
}

std::string box(const std::string& type, const std::string& content) {
    return big_endian(8 + content.size(), 4) + type + content;
}

// With the 64-bit size field.
std::string large_box(const std::string& type, const std::string& content) {
    return big_endian(1, 4) + type + big_endian(16 + content.size(), 8) + content;
}

const std::string kFileType = box("ftyp", "isom"s + big_endian(0x200, 4) + "isommp41");

// A movie whose one track lists `samples` samples of one byte each.
std::string movie(std::uint32_t samples) {
    const std::string sizes =
        box("stsz", big_endian(0, 4) + big_endian(1, 4) + big_endian(samples, 4));
    return box("moov", box("mvhd", std::string(100, '\0')) +
                           box("trak", box("mdia", box("minf", box("stbl", sizes)))));
}

// An EBML element with a one-byte size (content below 127 bytes).
std::string element(const std::string& id, const std::string& content) {
    return id + static_cast<char>(0x80 | content.size()) + content;
}

const std::string kEbmlId = "\x1A\x45\xDF\xA3";
const std::string kSegmentId = "\x18\x53\x80\x67";
const std::string kClusterId = "\x1F\x43\xB6\x75";

std::string ebml_header(const std::string& document_type) {
    return element(kEbmlId, element("\x42\x86", "\x01") + element("\x42\x82", document_type));
}

const std::string kInfo = element("\x15\x49\xA9\x66", element("\x2A\xD7\xB1", "\x0F\x42\x40"));
const std::string kTracks = element("\x16\x54\xAE\x6B", element("\xAE", element("\xD7", "\x01")));
// A timestamp and one block.
const std::string kClusterContent =
    element("\xE7", "\x00"s) + element("\xA3", "\x81\x00\x00\x80"s + "data");

std::string flv_tag(int type, const std::string& data, std::uint32_t trailing_size) {
    return static_cast<char>(type) + big_endian(data.size(), 3) + std::string(7, '\0') + data +
           big_endian(trailing_size, 4);
}

// Hundreds of tags of many lengths: the walk crosses its read windows at
// every kind of place.
std::string many_flv_tags(int wrong_tag) {
    std::string bytes = "FLV\x01\x05"s + big_endian(9, 4) + big_endian(0, 4);
    for (int i = 0; i < 400; ++i) {
        const std::string data(static_cast<std::size_t>(i * 37 % 301), static_cast<char>(i));
        bytes += flv_tag(i % 2 == 0 ? 9 : 8, data, 11 + data.size() + (i == wrong_tag ? 1 : 0));
    }
    return bytes;
}

std::string little_endian32(std::uint32_t value) {
    std::string text;
    for (int i = 0; i < 4; ++i) text += static_cast<char>(value >> (8 * i));
    return text;
}

std::string riff(std::uint32_t riff_size, std::uint32_t data_size, const std::string& data) {
    return "RIFF" + little_endian32(riff_size) + "WAVE" + "fmt " + little_endian32(16) +
           std::string(16, '\x01') + "data" + little_endian32(data_size) + data;
}

struct LayoutCase {
    const char* name;
    ContainerKind kind;
    std::string bytes;
    const char* defect;  // a part of the reason; nullptr when whole
};

TEST(ContainerCheckLayout, FindsEachDefectAndPassesEachWholeForm) {
    const std::string media_data = large_box("mdat", std::string(40000, 'm'));
    const std::string unknown_size = "\xFF";
    const std::string whole_unsized_segment =
        ebml_header("webm") + kSegmentId + unknown_size + kInfo + kTracks + kClusterId +
        unknown_size + kClusterContent + element(kClusterId, kClusterContent);
    const LayoutCase cases[] = {
        {"Iso64BitSizeAndBoxAfterIt", ContainerKind::IsoMedia,
         kFileType + movie(2) + media_data + box("free", ""), nullptr},
        {"IsoLastBoxToTheEnd", ContainerKind::IsoMedia,
         kFileType + movie(2) + big_endian(0, 4) + "mdat" + "ab", nullptr},
        {"IsoNoSamplesNoMediaData", ContainerKind::IsoMedia, kFileType + movie(0), nullptr},
        {"IsoSamplesWithoutMediaData", ContainerKind::IsoMedia, kFileType + movie(3),
         "no \"mdat\""},
        {"IsoNoMovie", ContainerKind::IsoMedia, kFileType + media_data, "no \"moov\""},
        {"IsoSizeBelowHeader", ContainerKind::IsoMedia,
         kFileType + big_endian(4, 4) + "free" + movie(0), "less than its own header"},
        {"Iso64BitSizeBelowHeader", ContainerKind::IsoMedia,
         kFileType + big_endian(1, 4) + "free" + big_endian(8, 8) + movie(0),
         "less than its own header"},
        {"IsoTrackPastItsMovie", ContainerKind::IsoMedia,
         kFileType + box("moov", box("mvhd", "") + big_endian(99, 4) + "trak") + media_data,
         "past the end of its \"moov\""},
        {"IsoNoFileType", ContainerKind::IsoMedia, movie(0) + kFileType, "\"ftyp\""},
        {"MatroskaUnknownSizes", ContainerKind::Matroska, whole_unsized_segment, nullptr},
        {"MatroskaUnknownSizesCut", ContainerKind::Matroska,
         whole_unsized_segment.substr(0, whole_unsized_segment.size() - 1), "ends inside"},
        {"MatroskaInvalidSizeLength", ContainerKind::Matroska, kEbmlId + "\x00\x42\x82\x84webm"s,
         "invalid size length"},
        {"MatroskaNoTracks", ContainerKind::Matroska,
         ebml_header("webm") + element(kSegmentId, kInfo + element(kClusterId, kClusterContent)),
         "no Tracks"},
        {"MatroskaUnknownDocumentType", ContainerKind::Matroska,
         ebml_header("avi\0"s) + element(kSegmentId, kInfo + kTracks), "\"avi\""},
        {"MatroskaStrayElement", ContainerKind::Matroska,
         ebml_header("matroska") + element(kSegmentId, kInfo + kTracks + element("\xA3", "x")),
         "unknown element 0xA3"},
        {"FlvManyTags", ContainerKind::Flv, many_flv_tags(-1), nullptr},
        {"FlvOneTrailingSizeWrong", ContainerKind::Flv, many_flv_tags(350), "the size after"},
        {"WavPadded", ContainerKind::Wav, riff(4 + 24 + 8 + 4, 3, "abc\0"s), nullptr},
        {"WavSizesNeverWritten", ContainerKind::Wav, riff(0xFFFFFFFF, 0xFFFFFFFF, "abcd"),
         "never written"},
    };
    test::TemporaryFolder folder;
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::string> defect = defect_of(c.bytes, c.kind);
        if (c.defect == nullptr) {
            EXPECT_EQ(defect, std::nullopt);
        } else {
            ASSERT_NE(defect, std::nullopt);
            EXPECT_NE(defect->find(c.defect), std::string::npos) << *defect;
        }
        // A file reads as the same bytes, at every offset.
        const fs::path path = folder / c.name;
        write_bytes(path, c.bytes);
        EXPECT_EQ(container_defect(path, c.kind), defect);
    }
}

TEST(ContainerCheckFile, WhatCannotBeReadOrIsEmptyIsADefect) {
    test::TemporaryFolder folder;
    write_bytes(folder / "empty.mp4", "");
    write_bytes(folder / "empty.avi", "");
    write_bytes(folder / "some.avi", "RIFF");
    fs::create_directory(folder / "folder.mp4");
    const struct {
        const char* name;
        const char* defect;  // nullptr when whole
    } cases[] = {{"missing.mp4", "No such file"},
                 {"folder.mp4", "is a folder"},
                 {"empty.mp4", "empty"},
                 {"empty.avi", "empty"},
                 {"some.avi", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<std::string> defect = container_defect(folder / c.name);
        if (c.defect == nullptr) {
            EXPECT_EQ(defect, std::nullopt);
        } else {
            ASSERT_NE(defect, std::nullopt);
            EXPECT_NE(defect->find(c.defect), std::string::npos) << *defect;
        }
    }
}

}  // namespace
}  // namespace tintora
