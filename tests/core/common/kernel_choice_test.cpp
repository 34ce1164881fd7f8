#include "core/common/kernel_choice.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include "core/composition/overlay_landing.hpp"
#include "core/correction/frame_correction.hpp"

namespace tintora {
namespace {

// A forcing in the environment leaves nothing to calibrate.
bool environment_forces() { return std::getenv(kKernelEnvironmentVariable) != nullptr; }

bool available(VectorIsa isa) {
    const std::vector<VectorIsa> supported = supported_vector_isas();
    return std::find(supported.begin(), supported.end(), isa) != supported.end();
}

// The mechanism is tried on the tracking gains' operation with a trial that
// counts what it is asked to do (each test runs in a process of its own, so
// no real kernel has calibrated that operation before).
struct TrialCounts {
    std::atomic<int> made{0};
    std::mutex mutex;
    std::map<VectorIsa, int> runs;
};
TrialCounts trial_counts;

KernelTrial counting_trial() {
    ++trial_counts.made;
    return {{}, [](VectorIsa isa) {
                const std::lock_guard lock(trial_counts.mutex);
                ++trial_counts.runs[isa];
            }};
}

const KernelVariants kCountedKernels{KernelOperation::TrackingGains,
                                     {VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline},
                                     counting_trial};

// Asked from several threads at once, the calibration runs once, times
// every variant the processor has and none it lacks, and its choice, one
// of them, is what every caller gets, then and later.
TEST(KernelChoice, CalibratesOnceOnTheVariantsThisProcessorHasAndKeepsItsChoice) {
    if (environment_forces()) GTEST_SKIP() << kKernelEnvironmentVariable << " forces the kernels";
    std::vector<VectorIsa> chosen(4, VectorIsa::Avx512Vbmi);
    std::vector<std::thread> askers;
    for (VectorIsa& answer : chosen) {
        askers.emplace_back([&answer] { answer = chosen_kernel(kCountedKernels); });
    }
    for (std::thread& asker : askers) asker.join();
    // With one variant there is nothing to time.
    const bool timed =
        std::count_if(kCountedKernels.isas.begin(), kCountedKernels.isas.end(), available) > 1;
    EXPECT_EQ(trial_counts.made, timed ? 1 : 0);
    for (const VectorIsa isa : kCountedKernels.isas) {
        EXPECT_EQ(trial_counts.runs[isa] > 0, timed && available(isa)) << vector_isa_name(isa);
    }
    const std::optional<KernelCalibration> calibration =
        kernel_calibration(KernelOperation::TrackingGains);
    ASSERT_TRUE(calibration.has_value());
    EXPECT_TRUE(available(calibration->chosen));
    for (const VectorIsa answer : chosen) EXPECT_EQ(answer, calibration->chosen);
    const std::map<VectorIsa, int> runs_before = trial_counts.runs;
    EXPECT_EQ(chosen_kernel(kCountedKernels), calibration->chosen);
    EXPECT_EQ(trial_counts.runs, runs_before);
}

// Forcing an operation to a set runs its widest variant up to that set;
// holding all to the widest set there is gives every calibrated choice back.
TEST(KernelChoice, ForcingHoldsAnOperationToItsWidestVariantUpToTheSet) {
    if (environment_forces()) GTEST_SKIP() << kKernelEnvironmentVariable << " forces the kernels";
    const auto chosen = [](KernelOperation operation) {
        switch (operation) {
            case KernelOperation::Brightness:
                return chosen_correction_kernel(CorrectionMode::Brightness);
            case KernelOperation::Colour:
                return chosen_correction_kernel(CorrectionMode::Colour);
            default:
                return composition_detail::chosen_landing_kernel();
        }
    };
    const KernelOperation operations[] = {KernelOperation::Brightness, KernelOperation::Colour,
                                          KernelOperation::Landing};
    for (const VectorIsa isa : supported_vector_isas()) {
        for (const KernelOperation operation : operations) {
            // Only the brightness mode has a kernel of its own for VBMI.
            const VectorIsa expected =
                isa == VectorIsa::Avx512Vbmi && operation != KernelOperation::Brightness
                    ? VectorIsa::Avx512
                    : isa;
            force_kernel(operation, isa);
            EXPECT_EQ(chosen(operation), expected)
                << kernel_operation_name(operation) << " forced to " << vector_isa_name(isa);
            force_kernel(operation, std::nullopt);
            limit_vector_isa(isa);
            if (isa != VectorIsa::Avx512Vbmi) {
                EXPECT_EQ(chosen(operation), expected)
                    << kernel_operation_name(operation) << " held to " << vector_isa_name(isa);
            }
            limit_vector_isa(VectorIsa::Avx512Vbmi);
            const VectorIsa calibrated = chosen(operation);
            const std::optional<KernelCalibration> calibration = kernel_calibration(operation);
            ASSERT_TRUE(calibration.has_value()) << kernel_operation_name(operation);
            EXPECT_EQ(calibrated, calibration->chosen) << kernel_operation_name(operation);
        }
    }
}

TEST(KernelChoice, ReadsTheForcingOfTheEnvironmentVariable) {
    const auto all = [](VectorIsa isa) {
        KernelForcing forcing;
        forcing.fill(isa);
        return forcing;
    };
    KernelForcing colour_and_landing;
    colour_and_landing[static_cast<std::size_t>(KernelOperation::Colour)] = VectorIsa::Avx2;
    colour_and_landing[static_cast<std::size_t>(KernelOperation::Landing)] = VectorIsa::Baseline;
    const struct {
        const char* text;
        std::optional<KernelForcing> forcing;
    } cases[] = {
        {"avx2", all(VectorIsa::Avx2)},
        {" AVX-512-VBMI ", all(VectorIsa::Avx512Vbmi)},
        {"colour=avx2, landing = SSE2", colour_and_landing},
        {"", std::nullopt},
        {"avx3", std::nullopt},
        {"colour", std::nullopt},
        {"colour=", std::nullopt},
        {"colour=avx2,shading=avx2", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_kernel_forcing(c.text), c.forcing) << c.text;
}

}  // namespace
}  // namespace tintora
