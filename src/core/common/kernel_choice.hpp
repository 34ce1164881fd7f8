#pragma once

#include <array>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

namespace tintora {

// The instruction sets the kernels are built for, widest first; their values
// keep that order.
enum class VectorIsa { Avx512Vbmi, Avx512, Avx2, Baseline };

bool processor_has(VectorIsa isa);
std::vector<VectorIsa> supported_vector_isas();  // widest first; Baseline always
const char* vector_isa_name(VectorIsa isa);

// The per-pixel operations that have a kernel per instruction set. The widest
// set is not always the fastest (a processor that splits 512-bit work in two
// and gathers slowly runs some AVX2 kernels faster than their AVX-512 ones),
// so each operation's kernel is chosen on the machine at hand. Every variant
// gives the same bytes: the choice changes the speed only.
//
// A new per-pixel kernel (the gains that track the light of a clip, say)
// takes its operation here, lists its variants in a KernelVariants with a
// trial, and asks chosen_kernel for the one to run, as correct_frame does.
enum class KernelOperation { Brightness, Colour, Landing, TrackingGains, HotspotBake };
inline constexpr int kKernelOperationCount = 5;
// "brightness", "colour", "landing", "tracking", "hotspot": as TINTORA_KERNEL
// names them.
const char* kernel_operation_name(KernelOperation operation);

// What the calibration times: `prepare` (untimed, may be empty) and then
// `run` of one variant, on a workload small enough that timing every variant
// a few times takes a millisecond or two.
struct KernelTrial {
    std::function<void()> prepare;
    std::function<void(VectorIsa)> run;
};

// An operation's variants, widest first (those the processor lacks are
// passed over), and how to make its trial, asked only when it calibrates.
struct KernelVariants {
    KernelOperation operation;
    std::vector<VectorIsa> isas;
    KernelTrial (*make_trial)();
};

// The variant the operation runs: the one forced (force_kernel, then the
// environment variable TINTORA_KERNEL), held to the variants the processor
// has; otherwise the fastest of a calibration run at the first call and kept
// for the process. Safe from any thread; a second caller waits for the first
// one's calibration.
VectorIsa chosen_kernel(const KernelVariants& variants);

// What the calibration of an operation measured, once it has run: each
// variant's best time and the one chosen (the fastest; the wider on a tie).
struct KernelTiming {
    VectorIsa isa;
    double seconds;
};
struct KernelCalibration {
    VectorIsa chosen;
    std::vector<KernelTiming> timings;
};
std::optional<KernelCalibration> kernel_calibration(KernelOperation operation);

// The forcing TINTORA_KERNEL holds, read once per process: a set for every
// operation ("avx2") or sets by operation ("colour=avx2,landing=avx512");
// the sets are "sse2", "avx2", "avx512" and "avx512vbmi", in any case and
// with dashes or not ("AVX-512" as vector_isa_name writes it). A text
// it cannot read, in whole or in part, forces nothing (nullopt).
inline constexpr const char* kKernelEnvironmentVariable = "TINTORA_KERNEL";
using KernelForcing = std::array<std::optional<VectorIsa>, kKernelOperationCount>;
std::optional<KernelForcing> parse_kernel_forcing(std::string_view text);

// Forces an operation's kernel in this process, over the environment; nullopt
// gives the choice back. A set the operation has no variant of, or the
// processor lacks, runs the widest variant below it.
void force_kernel(KernelOperation operation, std::optional<VectorIsa> isa);

// Holds every operation to the kernel of `widest` (or the widest below it
// this processor has), as a processor whose widest set it is would run them:
// tests and benchmarks reach each kernel so. The widest set there is,
// Avx512Vbmi, lifts the hold and gives every choice back.
void limit_vector_isa(VectorIsa widest);

}  // namespace tintora
