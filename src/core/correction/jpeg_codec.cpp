#include "core/correction/jpeg_codec.hpp"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "core/common/file_io.hpp"

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

namespace tintora {
namespace {

// The library's default error handler ends the process. Ours records the
// library's message and jumps back to the call that started the work; a
// warning about corrupt data is treated the same way, so a truncated file is
// refused instead of decoded into a half-grey picture.
//
// Only plain C data lives between setjmp and the jump: every C++ object the
// calls touch is created before setjmp and reached through a pointer, so the
// jump skips no destructor and no cached register copy is read afterwards.
struct ErrorTrap {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

extern "C" void trap_error_exit(j_common_ptr info) {
    auto* trap = reinterpret_cast<ErrorTrap*>(info->err);
    (*info->err->format_message)(info, trap->message);
    std::longjmp(trap->jump, 1);
}

// Warnings that mean picture data is missing or damaged: the decoder would
// fill in grey, so these are errors. Others (stray bytes between segments,
// a newer JFIF revision, an odd colour-transform code or colour profile)
// leave the picture whole; other viewers show it, and so do we.
bool is_damage(int message_code) {
    switch (message_code) {
        case JWRN_JPEG_EOF:
        case JWRN_HIT_MARKER:
        case JWRN_HUFF_BAD_CODE:
        case JWRN_ARITH_BAD_CODE:
        case JWRN_MUST_RESYNC:
        case JWRN_NOT_SEQUENTIAL:
        case JWRN_BOGUS_PROGRESSION:
            return true;
        default:
            return false;
    }
}

extern "C" void trap_emit_message(j_common_ptr info, int level) {
    // Level -1 is a warning; higher levels are trace output.
    if (level == -1 && is_damage(info->err->msg_code)) trap_error_exit(info);
}

jpeg_error_mgr* install_trap(ErrorTrap& trap) {
    jpeg_error_mgr* manager = jpeg_std_error(&trap.manager);
    manager->error_exit = trap_error_exit;
    manager->emit_message = trap_emit_message;
    trap.message[0] = '\0';
    return manager;
}

// Panoramas are large, but a header claiming more than this is refused
// before any memory is taken for it.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 29;

// Huffman coding spends at least one bit on every 8 x 8 block of the sharpest
// component (a sequential scan codes the DC difference and the end of block,
// a progressive DC scan at least the difference), so no whole picture holds
// more than 512 pixels per byte of file. Eight times that leaves room for
// anything real; a header claiming more lies about a damaged file. Arithmetic
// coding can spend a small fraction of a bit on a plain block, so it has no
// such bound.
constexpr std::uint64_t kMaxPixelsPerByte = 4096;

// Beyond the largest picture ever decoded, with room for fat metadata.
constexpr std::size_t kMaxJpegFileBytes = std::size_t{1} << 30;

// CMYK as Adobe writes it is stored inverted (0 = full ink); others store it
// plainly. Either way the printed colour is taken as ink-free RGB times the
// key, the usual screen approximation.
void cmyk_row_to_bgr(const std::uint8_t* cmyk, std::uint8_t* bgr, int width, bool inverted) {
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const int c = inverted ? cmyk[0] : 255 - cmyk[0];
        const int m = inverted ? cmyk[1] : 255 - cmyk[1];
        const int y = inverted ? cmyk[2] : 255 - cmyk[2];
        const int k = inverted ? cmyk[3] : 255 - cmyk[3];
        bgr[0] = static_cast<std::uint8_t>(y * k / 255);
        bgr[1] = static_cast<std::uint8_t>(m * k / 255);
        bgr[2] = static_cast<std::uint8_t>(c * k / 255);
    }
}

struct DecodeTarget {
    Frame frame;
    std::vector<std::uint8_t> cmyk_row;
    std::string too_large;
};

// Returns false with trap.message or target.too_large set on failure.
bool decode_into(const std::uint8_t* data, std::size_t size, DecodeTarget* target, ErrorTrap* trap,
                 int reduction = 1) {
    jpeg_decompress_struct info;
    info.err = install_trap(*trap);
    if (setjmp(trap->jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    jpeg_read_header(&info, TRUE);
    const bool cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
    info.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
    if (reduction > 1) {
        // The library scales while it decodes: at 1/8 it takes only each
        // block's mean, far cheaper than the whole picture.
        info.scale_num = 1;
        info.scale_denom = static_cast<unsigned int>(reduction);
        info.do_fancy_upsampling = FALSE;
    }
    jpeg_calc_output_dimensions(&info);
    const std::uint64_t pixels = std::uint64_t{info.output_width} * info.output_height;
    const std::string claimed =
        std::to_string(info.output_width) + " x " + std::to_string(info.output_height);
    if (pixels > kMaxPixels) {
        target->too_large = "The picture is too large (" + claimed + " pixels).";
        jpeg_destroy_decompress(&info);
        return false;
    }
    if (!info.arith_code && pixels / kMaxPixelsPerByte >= size) {
        target->too_large = "The file is damaged: " + std::to_string(size) +
                            " bytes cannot hold the " + claimed + " pixels its header claims.";
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_start_decompress(&info);
    const int width = static_cast<int>(info.output_width);
    try {
        // Every row is written by the decoder below; a picture that fails
        // half-way is thrown away. Left unset, the pages of a header that
        // claims more than the data holds are never touched.
        target->frame.resize_for_overwrite(width, static_cast<int>(info.output_height));
        if (cmyk) target->cmyk_row.resize(4 * static_cast<std::size_t>(width));
    } catch (const std::bad_alloc&) {
        target->too_large = "Not enough memory for a picture of " +
                            std::to_string(info.output_width) + " x " +
                            std::to_string(info.output_height) + " pixels.";
        jpeg_destroy_decompress(&info);
        return false;
    }
    while (info.output_scanline < info.output_height) {
        const int y = static_cast<int>(info.output_scanline);
        JSAMPROW row = cmyk ? target->cmyk_row.data() : target->frame.row(y);
        jpeg_read_scanlines(&info, &row, 1);
        if (cmyk) {
            cmyk_row_to_bgr(target->cmyk_row.data(), target->frame.row(y), width,
                            info.saw_Adobe_marker != 0);
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

struct EncodeTarget {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    ~EncodeTarget() { std::free(buffer); }
};

bool encode_into(const Frame& frame, int quality, EncodeTarget* target, ErrorTrap* trap) {
    jpeg_compress_struct info;
    info.err = install_trap(*trap);
    if (setjmp(trap->jump) != 0) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &target->buffer, &target->size);
    info.image_width = static_cast<JDIMENSION>(frame.width());
    info.image_height = static_cast<JDIMENSION>(frame.height());
    info.input_components = 3;
    info.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        // The library takes rows as writable pointers but only reads them.
        JSAMPROW row = const_cast<JSAMPROW>(frame.row(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

}  // namespace

Result<Frame> decode_jpeg(const std::uint8_t* data, std::size_t size) {
    return decode_jpeg_reduced(data, size, 1);
}

Result<Frame> decode_jpeg_reduced(const std::uint8_t* data, std::size_t size, int reduction) {
    if (data == nullptr || size == 0) return Error{"The file is empty."};
    auto target = std::make_unique<DecodeTarget>();
    auto trap = std::make_unique<ErrorTrap>();
    if (!decode_into(data, size, target.get(), trap.get(), std::clamp(reduction, 1, 8))) {
        if (!target->too_large.empty()) return Error{target->too_large};
        return Error{std::string("Not a readable JPEG picture: ") + trap->message};
    }
    return std::move(target->frame);
}

Result<Frame> load_jpeg_reduced(const std::filesystem::path& path, int reduction) {
    Result<std::vector<std::uint8_t>> bytes = read_file_bytes(path, kMaxJpegFileBytes);
    if (!bytes) return Error{bytes.error()};
    Result<Frame> frame =
        decode_jpeg_reduced(bytes.value().data(), bytes.value().size(), reduction);
    if (!frame) return Error{"\"" + path.string() + "\": " + frame.error()};
    return frame;
}

Result<Frame> load_jpeg(const std::filesystem::path& path) { return load_jpeg_reduced(path, 1); }

Result<std::vector<std::uint8_t>> encode_jpeg(const Frame& frame, int quality) {
    if (frame.empty()) return Error{"An empty picture cannot be written as JPEG."};
    auto target = std::make_unique<EncodeTarget>();
    auto trap = std::make_unique<ErrorTrap>();
    if (!encode_into(frame, quality, target.get(), trap.get())) {
        return Error{std::string("JPEG encoding failed: ") + trap->message};
    }
    return std::vector<std::uint8_t>(target->buffer, target->buffer + target->size);
}

Status save_jpeg(const Frame& frame, const std::filesystem::path& path, int quality) {
    Result<std::vector<std::uint8_t>> encoded = encode_jpeg(frame, quality);
    if (!encoded) return Error{encoded.error()};
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return file_error(path, "Cannot create", errno);
    const std::vector<std::uint8_t>& bytes = encoded.value();
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const int write_errno = errno;
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        const Error error = file_error(path, "Cannot write", written ? errno : write_errno);
        // A partly written frame must not pass for a whole one; only a
        // plain file is removed, never a device or link the path names.
        std::error_code ignored;
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ignored))) {
            std::filesystem::remove(path, ignored);
        }
        return error;
    }
    return {};
}

}  // namespace tintora
