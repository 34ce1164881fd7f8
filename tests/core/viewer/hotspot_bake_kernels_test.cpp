// The bake's kernels against its plain arithmetic (baked_channel), byte for
// byte, on every instruction set this processor runs: taps scattered over
// the picture and taps along its rows (the windowed path), up to the last
// column and row, sources without row padding, spans of every length. Each
// buffer ends at an unreadable page, so a kernel that reads or writes past
// what it is given stops the test.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "core/viewer/hotspot_bake_kernels.hpp"
#include "core/viewer/hotspot_frame.hpp"

namespace tintora {
namespace {

using hotspot_detail::BakeSource;
using hotspot_detail::BakeSpan;

// `count` elements whose last one is followed by an unreadable page.
template <class T>
class Guarded {
public:
    explicit Guarded(std::size_t count) {
        const std::size_t page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t bytes = count * sizeof(T);
        pages_ = (bytes + page - 1) / page * page + page;
        void* memory = ::mmap(nullptr, pages_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                              -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        base_ = static_cast<std::uint8_t*>(memory);
        ::mprotect(base_ + pages_ - page, page, PROT_NONE);
        data_ = reinterpret_cast<T*>(base_ + pages_ - page - bytes);
    }
    ~Guarded() { ::munmap(base_, pages_); }
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T* data() { return data_; }
    T& operator[](std::size_t n) { return data_[n]; }

private:
    std::size_t pages_ = 0;
    std::uint8_t* base_ = nullptr;
    T* data_ = nullptr;
};

// The kernels this processor runs, each once (the baseline too).
std::vector<std::pair<VectorIsa, hotspot_detail::BakeKernel>> kernels(const BakeSource& source) {
    std::vector<std::pair<VectorIsa, hotspot_detail::BakeKernel>> found;
    for (const VectorIsa isa : supported_vector_isas()) {
        const hotspot_detail::BakeKernel kernel = hotspot_detail::bake_kernel(isa, source);
        const bool known = std::any_of(found.begin(), found.end(),
                                       [kernel](const auto& k) { return k.second == kernel; });
        if (!known) found.emplace_back(isa, kernel);
    }
    return found;
}

enum class Taps { Scattered, AlongRows };

struct KernelCase {
    const char* name;
    int width, height;
    Taps taps;
};

void PrintTo(const KernelCase& c, std::ostream* out) { *out << c.name; }

class BakeKernels : public testing::TestWithParam<KernelCase> {};

TEST_P(BakeKernels, GiveThePlainArithmeticsBytes) {
    const KernelCase& c = GetParam();
    std::mt19937 random(static_cast<unsigned>(c.width * 131 + c.height));
    // Rows exactly 3 width bytes apart: nothing beyond the last pixel.
    const std::ptrdiff_t stride = 3 * c.width;
    Guarded<std::uint8_t> pixels(static_cast<std::size_t>(stride * c.height));
    for (std::ptrdiff_t n = 0; n < stride * c.height; ++n) {
        pixels[static_cast<std::size_t>(n)] = static_cast<std::uint8_t>(random());
    }
    const BakeSource source{pixels.data(), stride, c.height};
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> column(0, c.width - 2);
    std::uniform_int_distribution<int> row(0, c.height - 2);
    for (int round = 0; round < 40; ++round) {
        const std::size_t count = static_cast<std::size_t>(round < 36 ? round * 2 + 1 : 500 + round);
        Guarded<std::uint16_t> x(count), y(count);
        Guarded<std::uint8_t> fx(count), fy(count), weights(count), panorama(3 * count);
        Guarded<std::uint8_t> out(3 * count);
        // Along rows: the taps step about a pixel at a time from somewhere,
        // now and then a row down or back to the start of a row.
        int along_x = column(random);
        int along_y = row(random);
        for (std::size_t k = 0; k < count; ++k) {
            if (c.taps == Taps::Scattered || k % 23 == 0) {
                along_x = column(random);
                along_y = row(random);
            } else {
                along_x = std::min(along_x + byte(random) % 2, c.width - 2);
                along_y = std::min(along_y + (byte(random) % 16 == 0), c.height - 2);
            }
            // The last column and row pair often.
            const bool corner = byte(random) % 16 == 0;
            x[k] = static_cast<std::uint16_t>(corner ? c.width - 2 : along_x);
            y[k] = static_cast<std::uint16_t>(corner ? c.height - 2 : along_y);
            fx[k] = static_cast<std::uint8_t>(byte(random));
            fy[k] = static_cast<std::uint8_t>(byte(random));
            weights[k] = static_cast<std::uint8_t>(byte(random));
        }
        for (std::size_t n = 0; n < 3 * count; ++n) panorama[n] = static_cast<std::uint8_t>(byte(random));
        for (const bool blend : {false, true}) {
            for (const auto& [isa, kernel] : kernels(source)) {
                std::memset(out.data(), 0, 3 * count);
                kernel(source, BakeSpan{x.data(), y.data(), fx.data(), fy.data(),
                                        blend ? weights.data() : nullptr, panorama.data(),
                                        out.data(), count});
                for (std::size_t k = 0; k < count; ++k) {
                    const std::uint8_t* a = pixels.data() + y[k] * stride + 3 * x[k];
                    const std::uint8_t* b = a + stride;
                    for (std::size_t channel = 0; channel < 3; ++channel) {
                        const std::uint8_t expected = baked_channel(
                            blend ? panorama[3 * k + channel] : 0, a[channel], a[3 + channel],
                            b[channel], b[3 + channel], fx[k], fy[k],
                            blend ? weights[k] + 1 : 256);
                        ASSERT_EQ(out[3 * k + channel], expected)
                            << vector_isa_name(isa) << (blend ? " blend" : " clip") << " pixel "
                            << k << " of " << count << " channel " << channel;
                    }
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, BakeKernels,
    testing::Values(KernelCase{"TwoByTwo", 2, 2, Taps::Scattered},
                    KernelCase{"NarrowScattered", 5, 3, Taps::Scattered},
                    KernelCase{"NarrowAlongRows", 7, 4, Taps::AlongRows},
                    KernelCase{"WideScattered", 333, 9, Taps::Scattered},
                    KernelCase{"WideAlongRows", 334, 9, Taps::AlongRows},
                    KernelCase{"WiderAlongRows", 1000, 6, Taps::AlongRows}),
    [](const testing::TestParamInfo<KernelCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tintora
