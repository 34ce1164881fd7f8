#include "core/video/output_chain.hpp"

#include <algorithm>
#include <cstdint>

#include "core/correction/frame_correction.hpp"
#include "core/correction/frame_transforms.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

// What a cut keeps of a w by h frame: its size, and whether that is all of it.
struct Kept {
    int width, height;
    bool whole;
};

Kept clip_to_frame(const OutputSteps::Rect& cut, int w, int h) {
    const std::int64_t left = std::max<std::int64_t>(cut.x, 0);
    const std::int64_t top = std::max<std::int64_t>(cut.y, 0);
    const std::int64_t right = std::min<std::int64_t>(std::int64_t{cut.x} + cut.width, w);
    const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{cut.y} + cut.height, h);
    return {static_cast<int>(std::max<std::int64_t>(right - left, 0)),
            static_cast<int>(std::max<std::int64_t>(bottom - top, 0)),
            left == 0 && top == 0 && right == w && bottom == h};
}

// The geometry pass, or nothing when it would leave the frame as it is.
std::optional<Frame> apply_geometry(const Frame& rotated, const OutputSteps& steps) {
    const int w = rotated.width();
    const int h = rotated.height();
    RegionSampling region{0, 0, w, h, steps.mirror_rows, steps.mirror_columns};
    int out_width = w;
    int out_height = h;
    bool whole_frame = true;
    if (steps.cut) {
        const OutputSteps::Rect cut = cut_reaching_edges(*steps.cut, w, h);
        region.x = cut.x;
        region.y = cut.y;
        region.width = cut.width;
        region.height = cut.height;
        const Kept kept = clip_to_frame(cut, w, h);
        out_width = kept.width;
        out_height = kept.height;
        whole_frame = kept.whole;
    }
    if (steps.resample) {
        out_width = steps.resample->width;
        out_height = steps.resample->height;
    }
    if (whole_frame && out_width == w && out_height == h && !steps.mirror_rows &&
        !steps.mirror_columns) {
        return std::nullopt;
    }
    // Cut, resampling and mirrors in one pass over the output only.
    Frame result;
    result.resize_for_overwrite(out_width, out_height);
    sample_region(rotated, region, result);
    return result;
}

// A cut at the frame's top-left corner and nothing else that moves pixels
// keeps the frame's own pixels where they are: the frame can simply be made
// smaller. The size it keeps, or nothing when the geometry does more.
std::optional<Kept> corner_cut(const Frame& rotated, const OutputSteps& steps) {
    if (!steps.cut || steps.cut->x > 0 || steps.cut->y > 0 || steps.mirror_rows ||
        steps.mirror_columns) {
        return std::nullopt;
    }
    const Kept kept = clip_to_frame(
        cut_reaching_edges(*steps.cut, rotated.width(), rotated.height()), rotated.width(),
        rotated.height());
    if (kept.width <= 0 || kept.height <= 0) return std::nullopt;
    if (steps.resample &&
        (steps.resample->width != kept.width || steps.resample->height != kept.height)) {
        return std::nullopt;
    }
    return kept;
}

Frame finish_colours(Frame frame, const OutputSteps& steps, const CorrectionGrid* correction) {
    if (correction != nullptr) correct_frame(frame, *correction);
    if (steps.color_transformation == kGrayscale) to_grayscale(frame);
    if (steps.color_transformation == kInverse) invert_frame(frame);
    return frame;
}

}  // namespace

OutputSteps::Rect cut_reaching_edges(OutputSteps::Rect cut, int w, int h) {
    if (std::int64_t{cut.x} + cut.width == std::int64_t{w} - 1) ++cut.width;
    if (std::int64_t{cut.y} + cut.height == std::int64_t{h} - 1) ++cut.height;
    return cut;
}

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
    std::optional<Frame> shaped = apply_geometry(rotated, steps);
    return finish_colours(shaped ? std::move(*shaped) : rotated, steps, correction);
}

Frame render_output(Frame&& rotated, const OutputSteps& steps, const CorrectionGrid* correction) {
    if (const std::optional<Kept> kept = corner_cut(rotated, steps)) {
        rotated.crop_to_top_left(kept->width, kept->height);
        return finish_colours(std::move(rotated), steps, correction);
    }
    std::optional<Frame> shaped = apply_geometry(rotated, steps);
    return finish_colours(shaped ? std::move(*shaped) : std::move(rotated), steps, correction);
}

}  // namespace tintora
