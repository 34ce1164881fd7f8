#include "core/common/kernel_choice.hpp"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <string>

namespace tintora {
namespace {

constexpr VectorIsa kAllIsas[] = {VectorIsa::Avx512Vbmi, VectorIsa::Avx512, VectorIsa::Avx2,
                                  VectorIsa::Baseline};

// Rounds of the calibration: each variant's best of these counts, so a
// moment of the processor taken away (by the hypervisor, say) costs a round,
// not the choice.
constexpr int kRounds = 5;
// A variant whose best of the first two rounds is this many times the
// fastest's cannot win and is not timed again (the baseline kernel, mostly).
constexpr double kOutOfTheRace = 2.0;
constexpr int kRoundsBeforeLeaving = 2;
// No calibration takes much longer than this, however slow the build (a
// sanitizer's, say): the rounds stop once it has passed.
constexpr std::chrono::milliseconds kCalibrationBudget{20};

std::size_t index_of(KernelOperation operation) { return static_cast<std::size_t>(operation); }

// An operation's calibration, made once, and its forcing in this process.
constexpr int kNotForced = -1;
struct OperationChoice {
    std::once_flag once;
    std::atomic<bool> calibrated{false};
    KernelCalibration calibration{VectorIsa::Baseline, {}};
    std::atomic<int> forced{kNotForced};
};

std::array<OperationChoice, kKernelOperationCount>& operation_choices() {
    static std::array<OperationChoice, kKernelOperationCount> choices;
    return choices;
}

const KernelForcing& environment_forcing() {
    static const KernelForcing forcing = [] {
        const char* text = std::getenv(kKernelEnvironmentVariable);
        return text == nullptr ? KernelForcing{}
                               : parse_kernel_forcing(text).value_or(KernelForcing{});
    }();
    return forcing;
}

// The widest of the operation's variants that the processor has and that is
// no wider than `isa`; the narrowest it has when none is.
VectorIsa held_to(const std::vector<VectorIsa>& isas, VectorIsa isa) {
    VectorIsa narrowest = VectorIsa::Baseline;
    for (const VectorIsa variant : isas) {
        if (!processor_has(variant)) continue;
        if (variant >= isa) return variant;
        narrowest = variant;
    }
    return narrowest;
}

// The processor time this thread has had: a variant is not charged for
// the time another thread had the processor while it ran.
double thread_seconds() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Each candidate's best time on the trial, in rounds that take turns.
std::vector<double> best_times(const KernelTrial& trial, const std::vector<VectorIsa>& candidates) {
    const auto time_once = [&trial](VectorIsa isa) {
        if (trial.prepare) trial.prepare();
        const double start = thread_seconds();
        trial.run(isa);
        return thread_seconds() - start;
    };
    // Once each untimed first: the caches, the pages and any first-use cost.
    for (const VectorIsa isa : candidates) time_once(isa);
    const std::size_t count = candidates.size();
    std::vector<double> best(count, std::numeric_limits<double>::infinity());
    std::vector<char> racing(count, 1);
    const auto start = std::chrono::steady_clock::now();
    for (int round = 0; round < kRounds; ++round) {
        // Each round starts with another variant, so none always runs first.
        for (std::size_t j = 0; j < count; ++j) {
            const std::size_t i = (j + static_cast<std::size_t>(round)) % count;
            if (racing[i]) best[i] = std::min(best[i], time_once(candidates[i]));
        }
        if (round + 1 >= kRoundsBeforeLeaving) {
            const double fastest = *std::min_element(best.begin(), best.end());
            for (std::size_t i = 0; i < count; ++i) {
                racing[i] = racing[i] && best[i] <= kOutOfTheRace * fastest;
            }
        }
        if (std::chrono::steady_clock::now() - start > kCalibrationBudget) break;
    }
    return best;
}

KernelCalibration calibrate(const KernelVariants& variants) {
    std::vector<VectorIsa> candidates;
    for (const VectorIsa isa : variants.isas) {
        if (processor_has(isa)) candidates.push_back(isa);
    }
    if (candidates.empty()) return {VectorIsa::Baseline, {}};
    if (candidates.size() == 1) return {candidates.front(), {}};
    const std::vector<double> best = best_times(variants.make_trial(), candidates);
    // Widest first, so a tie goes to the wider variant.
    const auto fastest = std::min_element(best.begin(), best.end()) - best.begin();
    KernelCalibration calibration{candidates[static_cast<std::size_t>(fastest)], {}};
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        calibration.timings.push_back({candidates[i], best[i]});
    }
    return calibration;
}

// Lower case without dashes: "AVX-512-VBMI" is "avx512vbmi".
std::string plain_name(std::string_view text) {
    std::string name;
    for (const char c : text) {
        if (c != '-') name += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return name;
}

std::optional<VectorIsa> parse_isa(std::string_view text) {
    const std::string name = plain_name(text);
    for (const VectorIsa isa : kAllIsas) {
        if (name == plain_name(vector_isa_name(isa))) return isa;
    }
    return std::nullopt;
}

std::optional<KernelOperation> parse_operation(std::string_view text) {
    for (int i = 0; i < kKernelOperationCount; ++i) {
        const auto operation = static_cast<KernelOperation>(i);
        if (plain_name(text) == kernel_operation_name(operation)) return operation;
    }
    return std::nullopt;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) {
        text.remove_prefix(1);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

bool processor_has(VectorIsa isa) {
    __builtin_cpu_init();
    switch (isa) {
        case VectorIsa::Avx512Vbmi:
            return processor_has(VectorIsa::Avx512) && __builtin_cpu_supports("avx512vbmi");
        case VectorIsa::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                   processor_has(VectorIsa::Avx2);
        case VectorIsa::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                   __builtin_cpu_supports("bmi2");
        case VectorIsa::Baseline:
            return true;
    }
    return false;
}

std::vector<VectorIsa> supported_vector_isas() {
    std::vector<VectorIsa> isas;
    for (const VectorIsa isa : kAllIsas) {
        if (processor_has(isa)) isas.push_back(isa);
    }
    return isas;
}

const char* vector_isa_name(VectorIsa isa) {
    switch (isa) {
        case VectorIsa::Avx512Vbmi:
            return "AVX-512-VBMI";
        case VectorIsa::Avx512:
            return "AVX-512";
        case VectorIsa::Avx2:
            return "AVX2";
        case VectorIsa::Baseline:
            return "SSE2";
    }
    return "?";
}

const char* kernel_operation_name(KernelOperation operation) {
    switch (operation) {
        case KernelOperation::Brightness:
            return "brightness";
        case KernelOperation::Colour:
            return "colour";
        case KernelOperation::Landing:
            return "landing";
        case KernelOperation::TrackingGains:
            return "tracking";
        case KernelOperation::HotspotBake:
            return "hotspot";
    }
    return "?";
}

VectorIsa chosen_kernel(const KernelVariants& variants) {
    OperationChoice& choice = operation_choices()[index_of(variants.operation)];
    if (const int forced = choice.forced.load(std::memory_order_relaxed); forced != kNotForced) {
        return held_to(variants.isas, static_cast<VectorIsa>(forced));
    }
    if (const std::optional<VectorIsa> forced =
            environment_forcing()[index_of(variants.operation)]) {
        return held_to(variants.isas, *forced);
    }
    std::call_once(choice.once, [&] {
        choice.calibration = calibrate(variants);
        choice.calibrated = true;
    });
    return choice.calibration.chosen;
}

std::optional<KernelCalibration> kernel_calibration(KernelOperation operation) {
    const OperationChoice& choice = operation_choices()[index_of(operation)];
    if (!choice.calibrated) return std::nullopt;
    return choice.calibration;
}

std::optional<KernelForcing> parse_kernel_forcing(std::string_view text) {
    KernelForcing forcing;
    text = trimmed(text);
    if (text.find('=') == std::string_view::npos) {
        const std::optional<VectorIsa> isa = parse_isa(text);
        if (!isa) return std::nullopt;
        forcing.fill(isa);
        return forcing;
    }
    while (!text.empty()) {
        const std::size_t comma = text.find(',');
        const std::string_view entry = text.substr(0, comma);
        text = comma == std::string_view::npos ? std::string_view{} : text.substr(comma + 1);
        const std::size_t equals = entry.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        const std::optional<KernelOperation> operation =
            parse_operation(trimmed(entry.substr(0, equals)));
        const std::optional<VectorIsa> isa = parse_isa(trimmed(entry.substr(equals + 1)));
        if (!operation || !isa) return std::nullopt;
        forcing[index_of(*operation)] = isa;
    }
    return forcing;
}

void force_kernel(KernelOperation operation, std::optional<VectorIsa> isa) {
    operation_choices()[index_of(operation)].forced = isa ? static_cast<int>(*isa) : kNotForced;
}

void limit_vector_isa(VectorIsa widest) {
    const std::optional<VectorIsa> held =
        widest == VectorIsa::Avx512Vbmi ? std::nullopt : std::optional(widest);
    for (int i = 0; i < kKernelOperationCount; ++i)
        force_kernel(static_cast<KernelOperation>(i), held);
}

}  // namespace tintora
