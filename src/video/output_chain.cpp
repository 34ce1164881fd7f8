#include "video/output_chain.hpp"

#include <algorithm>
#include <cstdint>

#include "correction/frame_correction.hpp"
#include "correction/frame_transforms.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

// The part of a w by h frame a cut keeps, or nothing when it keeps it all.
std::optional<OutputSteps::Rect> effective_cut(const OutputSteps::Rect& cut, int w, int h) {
    const std::int64_t left = std::max<std::int64_t>(cut.x, 0);
    const std::int64_t top = std::max<std::int64_t>(cut.y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{cut.x} + cut.width, w);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{cut.y} + cut.height, h);
    if (left == 0 && top == 0 && right == w && bottom == h) return std::nullopt;
    return cut;
}

}  // namespace

OutputSteps preview_steps(const VideoParameters& p) {
    OutputSteps steps;
    const auto x = parse_whole_number(p.text(Field::CutX));
    const auto y = parse_whole_number(p.text(Field::CutY));
    const auto w = parse_whole_number(p.text(Field::CutWidth));
    const auto h = parse_whole_number(p.text(Field::CutHeight));
    if (x && y && w && h) steps.cut = OutputSteps::Rect{*x, *y, *w, *h};
    const auto rw = parse_whole_number(p.text(Field::ResampleWidth));
    const auto rh = parse_whole_number(p.text(Field::ResampleHeight));
    // A size typed but not yet left may be anything; the preview holds it
    // to what the fields accept, so it can never ask for a giant picture.
    if (rw && rh) {
        steps.resample = OutputSteps::Size{std::clamp(*rw, 1, 2000), std::clamp(*rh, 1, 2000)};
    }
    steps.mirror_rows = p.mirror_horizontally;
    steps.mirror_columns = p.mirror_vertically;
    steps.color_transformation = p.color_transformation_index;
    return steps;
}

Frame render_output(const Frame& rotated, const OutputSteps& steps,
                    const CorrectionGrid* correction) {
    // Two buffers take turns; `current` is the latest result, which starts
    // as the caller's frame and is only read until a step writes elsewhere.
    Frame a;
    Frame b;
    const Frame* current = &rotated;
    const auto target = [&]() -> Frame& { return current == &a ? b : a; };
    const auto advance = [&](Frame& written) { current = &written; };

    if (steps.cut) {
        if (const auto cut = effective_cut(*steps.cut, current->width(), current->height())) {
            Frame& out = target();
            cut_frame(*current, cut->x, cut->y, cut->width, cut->height, out);
            advance(out);
        }
    }
    if (steps.resample && (steps.resample->width != current->width() ||
                           steps.resample->height != current->height())) {
        Frame& out = target();
        out.resize(steps.resample->width, steps.resample->height);
        resample_frame(*current, out);
        advance(out);
    }
    if (steps.mirror_rows) {
        Frame& out = target();
        mirror_rows(*current, out);
        advance(out);
    }
    if (steps.mirror_columns) {
        Frame& out = target();
        mirror_columns(*current, out);
        advance(out);
    }
    Frame result = current == &rotated ? rotated : std::move(current == &a ? a : b);
    if (correction != nullptr) correct_frame(result, *correction);
    if (steps.color_transformation == kGrayscale) to_grayscale(result);
    if (steps.color_transformation == kInverse) invert_frame(result);
    return result;
}

}  // namespace tintora
