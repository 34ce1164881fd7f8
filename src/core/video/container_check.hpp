#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/common/result.hpp"

namespace tintora {

// The file formats whose structure is checked before an output is renamed
// into place. An encoder can exit with success and still leave a file cut
// short (a full disk while it wrote the trailer) or one that is no such file.
enum class ContainerKind { IsoMedia, Matroska, Flv, Wav, Jpeg, Unchecked };

// The kind a name's extension stands for, in any case: .mp4 .m4v .m4a .mov
// are ISO media, .webm .mkv .mka Matroska, .flv FLV, .wav WAV, .jpg .jpeg
// JPEG; anything else is not checked.
ContainerKind container_kind_of(const std::filesystem::path& path);

// Bytes read at any offset, so a check reads only the few parts it needs
// even of a file of gigabytes.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // Fills `into` with the bytes at `offset`; all of them lie within size().
    virtual Status read(std::uint64_t offset, std::span<std::uint8_t> into) const = 0;
};

// A regular file, read with pread. Its size is taken when it is opened.
class FileByteSource final : public ByteSource {
public:
    // A folder, a FIFO or a device is refused, as is a file that cannot be
    // opened, with the system's reason.
    static Result<FileByteSource> open(const std::filesystem::path& path);

    FileByteSource(FileByteSource&& other) noexcept;
    FileByteSource& operator=(FileByteSource&& other) noexcept;
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;
    ~FileByteSource() override;

    std::uint64_t size() const override { return size_; }
    Status read(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    FileByteSource(std::filesystem::path path, int fd, std::uint64_t size);

    std::filesystem::path path_;
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

// Bytes held elsewhere (not copied: they must outlive the source).
class MemoryByteSource final : public ByteSource {
public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    explicit MemoryByteSource(std::string_view bytes)
        : bytes_(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()) {}

    std::uint64_t size() const override { return bytes_.size(); }
    Status read(std::uint64_t offset, std::span<std::uint8_t> into) const override;

private:
    std::span<const std::uint8_t> bytes_;
};

// Why the bytes are not a whole file of the kind, in a short English phrase
// for the user (such as: the file ends inside its "mdat" box); nothing when
// they are whole. Only the structure is checked (every part complete, the
// parts a player needs present, nothing after the end), never the coded
// media, so the cost is a few reads however large the file. An empty source
// is a defect of every kind; any other source of the Unchecked kind passes.
std::optional<std::string> container_defect(const ByteSource& source, ContainerKind kind);

// The same for a file; one that cannot be opened or read is a defect with
// the system's reason.
std::optional<std::string> container_defect(const std::filesystem::path& path, ContainerKind kind);

// The same, of the kind the file's extension stands for.
std::optional<std::string> container_defect(const std::filesystem::path& path);

}  // namespace tintora
