// The structural check of encoded outputs on any bytes: an encoder that
// fails, or a program standing in for it, can leave anything in the file.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "core/video/container_check.hpp"
#include "fuzz_check.hpp"

using namespace tintora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    const MemoryByteSource source(bytes);
    for (const ContainerKind kind :
         {ContainerKind::IsoMedia, ContainerKind::Matroska, ContainerKind::Flv, ContainerKind::Wav,
          ContainerKind::Jpeg, ContainerKind::Unchecked}) {
        const std::optional<std::string> defect = container_defect(source, kind);
        if (defect) {
            // A reason for the user: words, and the file's bytes only as
            // characters.
            FUZZ_CHECK(!defect->empty());
            for (const char c : *defect) FUZZ_CHECK(c >= 0x20 && c <= 0x7E);
            continue;
        }
        FUZZ_CHECK(size > 0);
        // A whole file ends where its last part ends, so one byte less is a
        // cut that shows. (An ISO media file's last box may run "to the end",
        // and an unchecked file has no parts.)
        if (kind == ContainerKind::IsoMedia || kind == ContainerKind::Unchecked) continue;
        FUZZ_CHECK(container_defect(MemoryByteSource(bytes.first(size - 1)), kind).has_value());
    }
    return 0;
}
