#include "core/video/container_check.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <iterator>
#include <utility>
#include <vector>

#include "core/common/file_io.hpp"

namespace tintora {
namespace {

using Defect = std::optional<std::string>;

std::string bytes_text(std::uint64_t count) {
    return std::to_string(count) + (count == 1 ? " byte" : " bytes");
}

std::string at_byte(std::uint64_t offset) { return " at byte " + std::to_string(offset); }

std::uint64_t big_endian(std::span<const std::uint8_t> bytes) {
    std::uint64_t value = 0;
    for (const std::uint8_t byte : bytes) value = (value << 8) | byte;
    return value;
}

std::uint32_t little_endian32(std::span<const std::uint8_t, 4> bytes) {
    return std::uint32_t{bytes[0]} | std::uint32_t{bytes[1]} << 8 | std::uint32_t{bytes[2]} << 16 |
           std::uint32_t{bytes[3]} << 24;
}

bool is_printable(std::uint8_t byte) { return byte >= 0x20 && byte <= 0x7E; }

// A four-character code (box type, chunk name) as the user reads it, in
// quotes; bytes that are no characters show as "?".
std::string quoted(std::span<const std::uint8_t> code) {
    std::string text = "\"";
    for (const std::uint8_t byte : code) text += is_printable(byte) ? static_cast<char>(byte) : '?';
    return text + "\"";
}

bool is_code(std::span<const std::uint8_t> code) {
    return std::all_of(code.begin(), code.end(), is_printable);
}

bool equals(std::span<const std::uint8_t> bytes, std::string_view text) {
    return std::equal(
        bytes.begin(), bytes.end(), text.begin(), text.end(),
        [](std::uint8_t byte, char c) { return byte == static_cast<std::uint8_t>(c); });
}

// Reads a source through a window of its bytes, so walking many small
// structures one after another costs one read of the source per window,
// not one per structure.
class WindowedReader {
public:
    explicit WindowedReader(const ByteSource& source) : source_(source) {}

    std::uint64_t size() const { return source_.size(); }

    // The bytes at offset, which the caller has found to lie within the
    // source.
    Defect read(std::uint64_t offset, std::span<std::uint8_t> into) {
        // Only a slip of a caller gets here; the source is never read past its end.
        if (offset > size() || into.size() > size() - offset) return "the file ends early";
        if (into.empty()) return std::nullopt;
        const bool held = offset >= window_offset_ && offset - window_offset_ <= window_.size() &&
                          into.size() <= window_.size() - (offset - window_offset_);
        if (!held) {
            if (into.size() > kWindowBytes) return failure(source_.read(offset, into));
            window_.resize(
                static_cast<std::size_t>(std::min<std::uint64_t>(kWindowBytes, size() - offset)));
            window_offset_ = offset;
            if (Defect failed = failure(source_.read(offset, window_))) {
                window_.clear();
                return failed;
            }
        }
        std::copy_n(window_.begin() + static_cast<std::ptrdiff_t>(offset - window_offset_),
                    into.size(), into.begin());
        return std::nullopt;
    }

private:
    // Many small tags or chunk headers in one read, yet jumping over a large
    // one reads little of what it jumps over.
    static constexpr std::size_t kWindowBytes = std::size_t{16} << 10;

    static Defect failure(const Status& status) {
        if (status) return std::nullopt;
        return status.error();
    }

    const ByteSource& source_;
    std::vector<std::uint8_t> window_;
    std::uint64_t window_offset_ = 0;
};

// ---- ISO media (MP4, MOV): a sequence of boxes, each with its size.

struct Box {
    std::array<std::uint8_t, 4> type{};
    std::uint64_t body = 0;  // where its content starts
    std::uint64_t end = 0;

    bool is(std::string_view name) const { return equals(type, name); }
    std::string name() const { return quoted(type) + " box"; }
};

// The box at offset, which must end by limit. `parent` names the box that
// holds it, empty at the top level. A size of 0 means "up to the limit": to
// the end of the file for the last top-level box.
Defect read_box(WindowedReader& reader, std::uint64_t offset, std::uint64_t limit,
                const std::string& parent, Box& box) {
    const auto runs_past = [&](const std::string& what) {
        return parent.empty() ? "the file ends inside " + what
                              : what + " runs past the end of its " + parent;
    };
    const std::uint64_t left = limit - offset;
    if (left < 8) {
        if (parent.empty()) return "the file ends " + bytes_text(left) + " into a box header";
        return "a box header runs past the end of its " + parent;
    }
    std::array<std::uint8_t, 8> head{};
    if (Defect failed = reader.read(offset, head)) return failed;
    std::copy_n(head.begin() + 4, 4, box.type.begin());
    // Stray bytes show up here: every box type is four characters.
    if (parent.empty() && !is_code(box.type)) return "the data" + at_byte(offset) + " is not a box";

    std::uint64_t header = 8;
    std::uint64_t size = big_endian(std::span(head).first(4));
    if (size == 1) {
        header = 16;
        if (left < header) return runs_past("the header of its " + box.name());
        std::array<std::uint8_t, 8> large_size{};
        if (Defect failed = reader.read(offset + 8, large_size)) return failed;
        size = big_endian(large_size);
    } else if (size == 0) {
        size = left;
    }
    if (box.is("uuid")) header += 16;  // its own type follows
    if (size < header) {
        return "the " + box.name() + at_byte(offset) + " claims " + bytes_text(size) +
               ", less than its own header";
    }
    if (size > left) return runs_past("its " + box.name());
    box.body = offset + header;
    box.end = offset + size;
    return std::nullopt;
}

// Visits every box of [begin, end), which they must fill exactly.
template <class Visit>
Defect walk_boxes(WindowedReader& reader, std::uint64_t begin, std::uint64_t end,
                  const std::string& parent, Visit&& visit) {
    for (std::uint64_t offset = begin; offset < end;) {
        Box box;
        if (Defect defect = read_box(reader, offset, end, parent, box)) return defect;
        if (Defect defect = visit(box)) return defect;
        offset = box.end;
    }
    return std::nullopt;
}

// The boxes from a "moov" box down to a track's sample table.
constexpr std::string_view kSampleTablePath[] = {"trak", "mdia", "minf", "stbl"};

// Adds the samples the sample size tables under `container` count; `depth`
// is how far down kSampleTablePath the container lies.
Defect count_samples(WindowedReader& reader, const Box& container, std::size_t depth,
                     std::uint64_t& samples) {
    const auto visit = [&](const Box& box) -> Defect {
        if (depth < std::size(kSampleTablePath)) {
            if (!box.is(kSampleTablePath[depth])) return std::nullopt;
            return count_samples(reader, box, depth + 1, samples);
        }
        if (!box.is("stsz") && !box.is("stz2")) return std::nullopt;
        // Version and flags, the sample size (or field size), the count.
        if (box.end - box.body < 12) return "its " + box.name() + " is too short";
        std::array<std::uint8_t, 4> count{};
        if (Defect failed = reader.read(box.body + 8, count)) return failed;
        samples += big_endian(count);
        return std::nullopt;
    };
    return walk_boxes(reader, container.body, container.end, container.name(), visit);
}

Defect iso_media_defect(WindowedReader& reader) {
    std::array<std::uint8_t, 8> start{};
    if (reader.size() < start.size()) return "not an MP4 or MOV file: it is too short";
    if (Defect failed = reader.read(0, start)) return failed;
    if (!equals(std::span(start).last(4), "ftyp")) {
        return "not an MP4 or MOV file: it does not start with an \"ftyp\" box";
    }

    bool has_movie = false;
    bool has_media_data = false;
    std::uint64_t samples = 0;
    Defect defect = walk_boxes(reader, 0, reader.size(), {}, [&](const Box& box) -> Defect {
        if (box.is("mdat")) has_media_data = true;
        if (!box.is("moov")) return std::nullopt;
        has_movie = true;
        bool has_header = false;
        Defect inner = walk_boxes(reader, box.body, box.end, box.name(), [&](const Box& child) {
            has_header |= child.is("mvhd");
            return Defect{};
        });
        if (inner) return inner;
        if (!has_header) return "its \"moov\" box has no \"mvhd\" box";
        return count_samples(reader, box, 0, samples);
    });
    if (defect) return defect;
    if (!has_movie) return "no \"moov\" box: the encoder did not finish the file";
    if (samples > 0 && !has_media_data) {
        return "its \"moov\" box lists " + std::to_string(samples) +
               " samples, but there is no \"mdat\" box";
    }
    return std::nullopt;
}

// ---- Matroska and WebM: EBML elements, each an ID, a size and a content.

constexpr std::uint32_t kEbmlHeaderId = 0x1A45DFA3;
constexpr std::uint32_t kDocTypeId = 0x4282;
constexpr std::uint32_t kSegmentId = 0x18538067;
constexpr std::uint32_t kInfoId = 0x1549A966;
constexpr std::uint32_t kTracksId = 0x1654AE6B;
constexpr std::uint32_t kClusterId = 0x1F43B675;
constexpr std::uint32_t kVoidId = 0xEC;
constexpr std::uint32_t kCrc32Id = 0xBF;

struct ElementName {
    std::uint32_t id;
    const char* name;
};

// What a Segment holds; Void and CRC-32 may also stand inside a Cluster.
constexpr ElementName kSegmentChildren[] = {{0x114D9B74, "SeekHead"}, {kInfoId, "Info"},
                                            {kTracksId, "Tracks"},    {kClusterId, "Cluster"},
                                            {0x1C53BB6B, "Cues"},     {0x1254C367, "Tags"},
                                            {0x1043A770, "Chapters"}, {0x1941A469, "Attachments"},
                                            {kVoidId, "Void"},        {kCrc32Id, "CRC-32"}};

const char* segment_child_name(std::uint32_t id) {
    for (const ElementName& child : kSegmentChildren) {
        if (child.id == id) return child.name;
    }
    return nullptr;
}

std::string element_name(std::uint32_t id) {
    if (id == kEbmlHeaderId) return "EBML header";
    if (id == kDocTypeId) return "DocType element";
    if (id == kSegmentId) return "Segment";
    if (const char* name = segment_child_name(id)) return std::string(name) + " element";
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", static_cast<unsigned>(id));
    return "element " + std::string(hex);
}

// The length of an EBML variable-length integer, told by the leading zero
// bits of its first byte: 1 for 1xxxxxxx up to 8 for 00000001, 9 for a
// zero byte (no valid length).
int vint_length(std::uint8_t first) {
    int length = 1;
    for (std::uint8_t marker = 0x80; marker != 0 && (first & marker) == 0; marker >>= 1) ++length;
    return length;
}

struct Element {
    std::uint32_t id = 0;
    std::uint64_t begin = 0;
    std::uint64_t body = 0;     // where its content starts
    std::uint64_t end = 0;      // with an unknown size, the end of what holds it
    bool unknown_size = false;  // all the size's bits set: "until something else starts"
};

// The element at offset, which must end by limit; `parent` names what
// holds it.
Defect read_element(WindowedReader& reader, std::uint64_t offset, std::uint64_t limit,
                    const std::string& parent, Element& element) {
    const auto runs_past = [&](const std::string& what) {
        return limit == reader.size() ? "the file ends inside " + what
                                      : what + " runs past the end of its " + parent;
    };
    // IDs take at most 4 bytes, sizes at most 8.
    std::array<std::uint8_t, 12> head{};
    const auto available =
        static_cast<std::size_t>(std::min<std::uint64_t>(head.size(), limit - offset));
    if (Defect failed = reader.read(offset, std::span(head).first(available))) return failed;

    const int id_length = vint_length(head[0]);
    if (id_length > 4) return "the element" + at_byte(offset) + " has an invalid ID length";
    const auto id_bytes = static_cast<std::size_t>(id_length);
    if (id_bytes >= available) return runs_past("an element header");
    element.id = static_cast<std::uint32_t>(big_endian(std::span(head).first(id_bytes)));
    const int size_length = vint_length(head[id_bytes]);
    if (size_length > 8) {
        return "the " + element_name(element.id) + at_byte(offset) + " has an invalid size length";
    }
    const auto size_bytes = static_cast<std::size_t>(size_length);
    if (id_bytes + size_bytes > available) return runs_past("an element header");

    const std::uint64_t value_bits = (std::uint64_t{1} << (7 * size_length)) - 1;
    const std::uint64_t size =
        big_endian(std::span(head).subspan(id_bytes, size_bytes)) & value_bits;
    element.begin = offset;
    element.body = offset + id_bytes + size_bytes;
    element.unknown_size = size == value_bits;
    if (element.unknown_size) {
        element.end = limit;
        return std::nullopt;
    }
    if (size > limit - element.body) return runs_past("its " + element_name(element.id));
    element.end = element.body + size;
    return std::nullopt;
}

// Visits every element of [begin, end), which they must fill exactly. A
// visitor may move an element's end (where an unknown size turns out to end).
template <class Visit>
Defect walk_elements(WindowedReader& reader, std::uint64_t begin, std::uint64_t end,
                     const std::string& parent, Visit&& visit) {
    for (std::uint64_t offset = begin; offset < end;) {
        Element element;
        if (Defect defect = read_element(reader, offset, end, parent, element)) return defect;
        if (Defect defect = visit(element)) return defect;
        offset = element.end;
    }
    return std::nullopt;
}

Defect document_type_defect(WindowedReader& reader, const Element& header) {
    // Longer names are neither of the two looked for.
    constexpr std::uint64_t kLongestName = 16;
    std::optional<std::vector<std::uint8_t>> document_type;
    Defect defect = walk_elements(
        reader, header.body, header.end, "EBML header", [&](const Element& element) -> Defect {
            if (element.unknown_size) return "an element of its EBML header has no size";
            if (element.id != kDocTypeId) return std::nullopt;
            document_type.emplace(
                static_cast<std::size_t>(std::min(element.end - element.body, kLongestName)));
            return reader.read(element.body, *document_type);
        });
    if (defect) return defect;
    if (!document_type) return "its EBML header names no document type";
    // EBML strings may be padded with zero bytes.
    while (!document_type->empty() && document_type->back() == 0) document_type->pop_back();
    if (!equals(*document_type, "webm") && !equals(*document_type, "matroska")) {
        return "not a WebM or Matroska file: its document type is " + quoted(*document_type);
    }
    return std::nullopt;
}

// Where a Cluster of unknown size ends: before the first element that only
// a Segment holds, or at the end of its Segment. Its own elements must be
// complete.
Defect find_cluster_end(WindowedReader& reader, Element& cluster) {
    std::uint64_t offset = cluster.body;
    while (offset < cluster.end) {
        Element child;
        if (Defect defect = read_element(reader, offset, cluster.end, "Segment", child)) {
            return defect;
        }
        if (child.id != kVoidId && child.id != kCrc32Id && segment_child_name(child.id)) break;
        if (child.unknown_size) {
            return "the " + element_name(child.id) + at_byte(offset) + " in a Cluster has no size";
        }
        offset = child.end;
    }
    cluster.end = offset;
    return std::nullopt;
}

Defect segment_defect(WindowedReader& reader, const Element& segment) {
    bool has_info = false;
    bool has_tracks = false;
    Defect defect = walk_elements(
        reader, segment.body, segment.end, "Segment", [&](Element& element) -> Defect {
            if (!segment_child_name(element.id)) {
                return "its Segment holds an unknown " + element_name(element.id) +
                       at_byte(element.begin);
            }
            has_info |= element.id == kInfoId;
            has_tracks |= element.id == kTracksId;
            if (!element.unknown_size) return std::nullopt;
            if (element.id != kClusterId) {
                return "the " + element_name(element.id) + at_byte(element.begin) + " has no size";
            }
            return find_cluster_end(reader, element);
        });
    if (defect) return defect;
    if (!has_info) return "its Segment has no Info element";
    if (!has_tracks) return "its Segment has no Tracks element";
    return std::nullopt;
}

Defect matroska_defect(WindowedReader& reader) {
    const std::uint64_t size = reader.size();
    std::array<std::uint8_t, 4> start{};
    if (size >= start.size()) {
        if (Defect failed = reader.read(0, start)) return failed;
    }
    if (size < start.size() || big_endian(start) != kEbmlHeaderId) {
        return "not a WebM or Matroska file: it has no EBML header";
    }
    Element header;
    if (Defect defect = read_element(reader, 0, size, "file", header)) return defect;
    if (header.unknown_size) return "its EBML header has no size";
    if (Defect defect = document_type_defect(reader, header)) return defect;

    if (header.end == size) return "no Segment: the file ends after its EBML header";
    Element segment;
    if (Defect defect = read_element(reader, header.end, size, "file", segment)) return defect;
    if (segment.id != kSegmentId) return "no Segment after its EBML header";
    if (segment.end < size) {
        return "the file has " + bytes_text(size - segment.end) + " after the end of its Segment";
    }
    return segment_defect(reader, segment);
}

// ---- FLV: a header, then tags, each followed by its own size.

Defect flv_defect(WindowedReader& reader) {
    const std::uint64_t size = reader.size();
    // Signature, version, flags, header size.
    std::array<std::uint8_t, 9> header{};
    const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(header.size(), size));
    if (Defect failed = reader.read(0, std::span(header).first(available))) return failed;
    if (!equals(std::span(header).first(std::min<std::size_t>(available, 3)),
                std::string_view("FLV").substr(0, available))) {
        return "not an FLV file";
    }
    if (available < header.size()) return "the file ends inside its FLV header";
    if (header[3] != 1) return "an FLV file of unknown version " + std::to_string(header[3]);
    const std::uint64_t data_offset = big_endian(std::span(header).last(4));
    if (data_offset < header.size()) {
        return "its FLV header gives an invalid header size (" + std::to_string(data_offset) + ")";
    }
    if (data_offset > size || size - data_offset < 4) return "the file ends before its first tag";
    std::array<std::uint8_t, 4> first_size{};
    if (Defect failed = reader.read(data_offset, first_size)) return failed;
    if (big_endian(first_size) != 0) return "the size before its first tag is not 0";

    std::uint64_t tags = 0;
    for (std::uint64_t offset = data_offset + 4; offset < size; ++tags) {
        // Type, data size, timestamp, stream ID.
        std::array<std::uint8_t, 11> tag{};
        if (size - offset < tag.size()) {
            return "the file ends inside a tag header" + at_byte(offset);
        }
        if (Defect failed = reader.read(offset, tag)) return failed;
        const char* kind = tag[0] == 8    ? "audio"
                           : tag[0] == 9  ? "video"
                           : tag[0] == 18 ? "script"
                                          : nullptr;
        if (kind == nullptr) {
            return "the tag" + at_byte(offset) + " has an unknown type (" + std::to_string(tag[0]) +
                   ")";
        }
        const std::string name = std::string("the ") + kind + " tag" + at_byte(offset);
        if (big_endian(std::span(tag).last(3)) != 0) return name + " has a stream ID other than 0";
        const std::uint64_t data_size = big_endian(std::span(tag).subspan(1, 3));
        const std::uint64_t tag_size = tag.size() + data_size;
        if (size - offset < tag_size + 4) return "the file ends inside " + name;
        std::array<std::uint8_t, 4> trailing_size{};
        if (Defect failed = reader.read(offset + tag_size, trailing_size)) return failed;
        if (big_endian(trailing_size) != tag_size) {
            return "the size after " + name + " is " + std::to_string(big_endian(trailing_size)) +
                   ", not " + std::to_string(tag_size);
        }
        offset += tag_size + 4;
    }
    if (tags == 0) return "the FLV file holds no tags";
    return std::nullopt;
}

// ---- WAV: a RIFF header, then chunks, each padded to an even length.

Defect wav_defect(WindowedReader& reader) {
    const std::uint64_t size = reader.size();
    std::array<std::uint8_t, 12> header{};
    const auto available = static_cast<std::size_t>(std::min<std::uint64_t>(header.size(), size));
    if (Defect failed = reader.read(0, std::span(header).first(available))) return failed;
    if (!equals(std::span(header).first(std::min<std::size_t>(available, 4)),
                std::string_view("RIFF").substr(0, available))) {
        return "not a WAV file";
    }
    if (available < header.size()) return "the file ends inside its RIFF header";
    if (!equals(std::span(header).last(4), "WAVE")) return "not a WAV file";
    // The encoder writes the sizes last, once it knows them.
    constexpr std::uint32_t kUnknownSize = 0xFFFFFFFF;
    const std::uint32_t riff_size = little_endian32(std::span(header).subspan<4, 4>());
    if (riff_size == kUnknownSize) {
        return "its RIFF size was never written: the encoder did not finish the file";
    }
    const std::uint64_t whole_size = std::uint64_t{riff_size} + 8;
    if (whole_size > size) {
        return "the file ends " + bytes_text(whole_size - size) +
               " before the end of its RIFF data";
    }
    if (whole_size < size) {
        return "the file has " + bytes_text(size - whole_size) + " after the end of its RIFF data";
    }

    bool has_format = false;
    bool has_data = false;
    for (std::uint64_t offset = header.size(); offset < size;) {
        std::array<std::uint8_t, 8> chunk{};
        if (size - offset < chunk.size()) {
            return "the file ends inside a chunk header" + at_byte(offset);
        }
        if (Defect failed = reader.read(offset, chunk)) return failed;
        const auto id = std::span(chunk).first<4>();
        if (!is_code(id)) return "the data" + at_byte(offset) + " is not a chunk";
        const std::string name = quoted(id) + " chunk";
        const std::uint32_t chunk_size = little_endian32(std::span(chunk).last<4>());
        if (chunk_size == kUnknownSize) {
            return "the size of its " + name +
                   " was never written: the encoder did not finish the file";
        }
        const std::uint64_t padded_size = std::uint64_t{chunk_size} + (chunk_size & 1);
        if (size - offset - chunk.size() < padded_size) return "the file ends inside its " + name;
        if (equals(id, "fmt ")) {
            // The smallest format description: PCM's 16 bytes.
            if (chunk_size < 16) return "its " + name + " is too short";
            has_format = true;
        }
        has_data |= equals(id, "data");
        offset += chunk.size() + padded_size;
    }
    if (!has_format) return "it has no \"fmt \" chunk";
    if (!has_data) return "it has no \"data\" chunk";
    return std::nullopt;
}

// ---- JPEG: the program writes these itself; a cut shows at the end.

Defect jpeg_defect(WindowedReader& reader) {
    const std::uint64_t size = reader.size();
    if (size < 4) return "the file is too short for a JPEG picture";
    std::array<std::uint8_t, 2> marker{};
    if (Defect failed = reader.read(0, marker)) return failed;
    if (marker[0] != 0xFF || marker[1] != 0xD8) return "not a JPEG file";
    if (Defect failed = reader.read(size - 2, marker)) return failed;
    if (marker[0] != 0xFF || marker[1] != 0xD9) {
        return "the file does not end with the JPEG end marker";
    }
    return std::nullopt;
}

// Folders, FIFOs and devices are no encoder's output; reading a FIFO could
// wait for ever.
Defect refuse_irregular(const std::filesystem::path& path, const struct stat& status) {
    if (S_ISDIR(status.st_mode)) return "\"" + path.string() + "\" is a folder, not a file.";
    if (!S_ISREG(status.st_mode)) return "\"" + path.string() + "\" is not a regular file.";
    return std::nullopt;
}

}  // namespace

ContainerKind container_kind_of(const std::filesystem::path& path) {
    struct Extension {
        std::string_view text;
        ContainerKind kind;
    };
    static constexpr Extension kExtensions[] = {
        {".mp4", ContainerKind::IsoMedia},  {".m4v", ContainerKind::IsoMedia},
        {".m4a", ContainerKind::IsoMedia},  {".mov", ContainerKind::IsoMedia},
        {".webm", ContainerKind::Matroska}, {".mkv", ContainerKind::Matroska},
        {".mka", ContainerKind::Matroska},  {".flv", ContainerKind::Flv},
        {".wav", ContainerKind::Wav},       {".jpg", ContainerKind::Jpeg},
        {".jpeg", ContainerKind::Jpeg}};
    std::string extension = path.extension().string();
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const Extension& known : kExtensions) {
        if (known.text == extension) return known.kind;
    }
    return ContainerKind::Unchecked;
}

Result<FileByteSource> FileByteSource::open(const std::filesystem::path& path) {
    // Looked at before opening: opening some devices does something by itself.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return file_error(path, "Cannot open", errno);
    if (Defect refused = refuse_irregular(path, status)) return Error{*refused};
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return file_error(path, "Cannot open", errno);
    FileByteSource source(path, fd, 0);
    // What was opened counts: the path may name something else by now.
    if (::fstat(fd, &status) != 0) return file_error(path, "Cannot read", errno);
    if (Defect refused = refuse_irregular(path, status)) return Error{*refused};
    source.size_ = static_cast<std::uint64_t>(status.st_size);
    return source;
}

FileByteSource::FileByteSource(std::filesystem::path path, int fd, std::uint64_t size)
    : path_(std::move(path)), fd_(fd), size_(size) {}

FileByteSource::FileByteSource(FileByteSource&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      size_(std::exchange(other.size_, 0)) {}

FileByteSource& FileByteSource::operator=(FileByteSource&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

FileByteSource::~FileByteSource() {
    if (fd_ >= 0) ::close(fd_);
}

Status FileByteSource::read(std::uint64_t offset, std::span<std::uint8_t> into) const {
    while (!into.empty()) {
        const ssize_t got = ::pread(fd_, into.data(), into.size(), static_cast<off_t>(offset));
        if (got < 0) {
            if (errno == EINTR) continue;
            return file_error(path_, "Cannot read", errno);
        }
        if (got == 0) {
            return Error{"\"" + path_.string() + "\" became shorter while it was checked."};
        }
        into = into.subspan(static_cast<std::size_t>(got));
        offset += static_cast<std::uint64_t>(got);
    }
    return {};
}

Status MemoryByteSource::read(std::uint64_t offset, std::span<std::uint8_t> into) const {
    if (offset > bytes_.size() || into.size() > bytes_.size() - offset) {
        return Error{"a read past the end of the bytes"};
    }
    if (into.empty()) return {};
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(offset), into.size(), into.begin());
    return {};
}

std::optional<std::string> container_defect(const ByteSource& source, ContainerKind kind) {
    if (source.size() == 0) return "the file is empty";
    WindowedReader reader(source);
    switch (kind) {
        case ContainerKind::IsoMedia:
            return iso_media_defect(reader);
        case ContainerKind::Matroska:
            return matroska_defect(reader);
        case ContainerKind::Flv:
            return flv_defect(reader);
        case ContainerKind::Wav:
            return wav_defect(reader);
        case ContainerKind::Jpeg:
            return jpeg_defect(reader);
        case ContainerKind::Unchecked:
            break;
    }
    return std::nullopt;
}

std::optional<std::string> container_defect(const std::filesystem::path& path, ContainerKind kind) {
    const Result<FileByteSource> source = FileByteSource::open(path);
    if (!source) return source.error();
    return container_defect(source.value(), kind);
}

std::optional<std::string> container_defect(const std::filesystem::path& path) {
    return container_defect(path, container_kind_of(path));
}

}  // namespace tintora
