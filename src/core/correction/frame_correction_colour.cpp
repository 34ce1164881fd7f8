// The colour mode's whole-frame plan, its per-channel parts of P + u Q, and
// the baseline kernel, which blends every channel in double precision with
// correct_pixel_colour's own arithmetic.
#include <cstring>

#include "core/correction/frame_correction_plan.hpp"

namespace tintora::correction_detail {

ColourPlan plan_colour_frame(const Frame& frame, const CorrectionGrid& grid) {
    ColourPlan plan;
    plan_columns(frame, plan.columns);
    // Frame bytes are B, G, R; the grid's channels red, green, blue.
    const int channel_of_byte[3] = {kBlueChannel, kGreenChannel, kRedChannel};
    for (int byte = 0; byte < 3; ++byte) {
        pack_half_tables(grid.channel_color_table[static_cast<std::size_t>(channel_of_byte[byte])],
                         plan.upper[static_cast<std::size_t>(byte)],
                         plan.lower[static_cast<std::size_t>(byte)]);
    }
    return plan;
}

void make_colour_parts(const ColourPlan& plan, int byte, ColourParts& parts) {
    for (int half = 0; half < 2; ++half) {
        const HalfTables& tables = half == 0 ? plan.upper[static_cast<std::size_t>(byte)]
                                             : plan.lower[static_cast<std::size_t>(byte)];
        for (int e = 0; e < kTableEntries; ++e) {
            const auto [tl, tr, bl, br] = corners_of(tables[static_cast<std::size_t>(e)]);
            const bool flat = tl == tr && tl == bl && tl == br;
            parts.left[half][e] =
                flat ? static_cast<float>(tl) + kFlatBias : static_cast<float>(tl);
            parts.left_down[half][e] = static_cast<float>(bl - tl);
            parts.rise[half][e] = static_cast<float>(tr - tl);
            parts.rise_down[half][e] = static_cast<float>((br - bl) - (tr - tl));
        }
    }
}

void correct_colour_rows_baseline(Frame& frame, const ColourPlan& plan) {
    const FramePlan& columns = plan.columns;
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.columns.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        const auto& tables = place.lower ? plan.lower : plan.upper;
        std::uint8_t* p = frame.row(y);
        for (int x = 0; x < frame.width(); ++x, p += 3) {
            const std::size_t column = static_cast<std::size_t>(x);
            for (int byte = 0; byte < 3; ++byte) {
                const std::uint32_t corners =
                    tables[static_cast<std::size_t>(byte)]
                          [static_cast<std::size_t>(columns.cell_offset[column] + p[byte])];
                p[byte] = blend_channel_word(columns.u[column], place.w, corners);
            }
        }
    }
}

}  // namespace tintora::correction_detail
