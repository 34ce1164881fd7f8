#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "core/composition/colour_matching.hpp"
#include "core/video/frame_pipeline.hpp"
#include "support/colour_scene.hpp"

namespace tintora {
namespace {

void report(const char* name, const test::ColourClip& clip, CorrectionMode mode, std::vector<Frame> used) {
    const MatchOutcome outcome = match_colours(clip.grid, mode, used, {&clip.background, 0});
    for (std::size_t i = 0; i < outcome.registrations.size(); ++i) {
        const auto& r = outcome.registrations[i];
        std::printf("   frame %zu: shift %.2f %.2f (drift %.2f %.2f) agreement %.3f measured %d verdict %d\n", i, r.shift.x, r.shift.y,
                    clip.drift[i].x, clip.drift[i].y, r.agreement, r.measured, (int)r.verdict);
    }
    std::vector<Frame> corrected;
    for (const Frame& f : clip.frames) corrected.push_back(process_frame(f, FrameSettings{}, outcome.result.grid));
    const test::ColourErrors e = test::colour_errors(clip, corrected);
    {
        const int w = clip.frames[0].width(), h = clip.frames[0].height();
        std::vector<std::uint8_t> sky(w * h, 0), ground(w * h, 0);
        for (int y = 0; y < h; ++y) for (int x = 0; x < w; ++x) {
            const bool s = y < h * 0.34; const bool g = y > h * 0.36;
            sky[y * w + x] = s && clip.still[0][y * w + x]; ground[y * w + x] = g && clip.still[0][y * w + x];
        }
        std::printf("   sky %.2f ground %.2f\n", test::mean_delta_e(corrected[0], clip.under[0], sky), test::mean_delta_e(corrected[0], clip.under[0], ground));
        for (int b = 2; b >= 0; --b)
            std::printf("   channel %d spread sky: clip %.2f corrected %.2f under %.2f; ground: clip %.2f corrected %.2f under %.2f\n", 2 - b,
                        test::local_spread(clip.frames[0], b, sky), test::local_spread(corrected[0], b, sky), test::local_spread(clip.under[0], b, sky),
                        test::local_spread(clip.frames[0], b, ground), test::local_spread(corrected[0], b, ground), test::local_spread(clip.under[0], b, ground));
    }
    double spread[3], under[3];
    for (int b = 0; b < 3; ++b) {
        spread[b] = under[b] = 0;
        for (std::size_t f = 0; f < clip.frames.size(); ++f) {
            spread[b] += test::local_spread(corrected[f], b, clip.still[f]);
            under[b] += test::local_spread(clip.under[f], b, clip.still[f]);
        }
    }
    std::printf("%-28s %s: problem %d mean %.2f worst %.2f best %.2f spread ratio R %.3f G %.3f B %.3f\n", name,
                mode == CorrectionMode::Colour ? "colour" : "bright", (int)outcome.problem, e.mean, e.worst_frame, e.best_frame,
                spread[2] / under[2], spread[1] / under[1], spread[0] / under[0]);
}

void baseline(const char* name, const test::ColourClip& clip) {
    test::ColourErrors none = test::colour_errors(clip, clip.frames);
    std::vector<Frame> global;
    for (std::size_t f = 0; f < clip.frames.size(); ++f) global.push_back(test::best_global_curves(clip.frames[f], clip.under[f], clip.still[f]));
    test::ColourErrors g = test::colour_errors(clip, global);
    std::printf("%-28s uncorrected mean %.2f worst %.2f best %.2f; best global %.2f (%.2f..%.2f)\n", name, none.mean, none.worst_frame, none.best_frame, g.mean, g.worst_frame, g.best_frame);
}

TEST(Explore, Figures) {
    {
        const test::ColourClip clip = test::clip_of(test::make_colour_scene(240, 160, 7));
        baseline("old scene", clip);
        report("old scene", clip, CorrectionMode::Brightness, clip.frames);
        report("old scene", clip, CorrectionMode::Colour, clip.frames);
    }
    {
        test::ColourClipOptions o; o.frame_count = 1;
        const test::ColourClip clip = test::make_colour_clip(o);
        baseline("textured still", clip);
        report("textured still", clip, CorrectionMode::Brightness, clip.frames);
        report("textured still", clip, CorrectionMode::Colour, clip.frames);
    }
    {
        test::ColourClipOptions o; o.pan_x = 10; o.pan_y = 3; o.moving_object = true;
        const test::ColourClip clip = test::make_colour_clip(o);
        baseline("drifting", clip);
        report("drifting 5", clip, CorrectionMode::Brightness, clip.frames);
        report("drifting 5", clip, CorrectionMode::Colour, clip.frames);
        report("drifting shown", clip, CorrectionMode::Brightness, {clip.frames[0]});
        report("drifting shown", clip, CorrectionMode::Colour, {clip.frames[0]});
    }
}

}  // namespace
}  // namespace tintora
#include "core/correction/jpeg_codec.hpp"
namespace tintora { namespace {
void save_grid(const std::vector<const Frame*>& frames, const char* path) {
    const int w = frames[0]->width(), h = frames[0]->height(), k = 2;
    Frame out(2 * w * k, ((frames.size() + 1) / 2) * h * k);
    for (std::size_t i = 0; i < frames.size(); ++i)
        for (int y = 0; y < h * k; ++y)
            for (int x = 0; x < w * k; ++x) {
                const std::uint8_t* p = frames[i]->pixel(y / k, x / k);
                std::uint8_t* q = out.pixel((i / 2) * h * k + y, (i % 2) * w * k + x);
                q[0] = p[0]; q[1] = p[1]; q[2] = p[2];
            }
    save_jpeg(out, path);
}
TEST(Explore, Pictures) {
    test::ColourClipOptions o; o.pan_x = 10; o.pan_y = 3; o.moving_object = true;
    const test::ColourClip clip = test::make_colour_clip(o);
    save_jpeg(clip.frames[4], "/tmp/explore/frame4.jpg");
    save_jpeg(clip.under[4], "/tmp/explore/under4.jpg");
    save_jpeg(clip.background, "/tmp/explore/background.jpg");
    std::vector<Frame> out;
    for (CorrectionMode mode : {CorrectionMode::Brightness, CorrectionMode::Colour}) {
        const MatchOutcome outcome = match_colours(clip.grid, mode, clip.frames, {&clip.background, 0});
        out.push_back(process_frame(clip.frames[4], FrameSettings{}, outcome.result.grid));
    }
    save_grid({&clip.frames[4], &clip.under[4], &out[0], &out[1]}, "/tmp/explore/grid.jpg");
}
}}
namespace tintora { namespace {
TEST(Explore, Sky) {
    test::ColourClipOptions o; o.frame_count = 1;
    const test::ColourClip clip = test::make_colour_clip(o);
    const MatchOutcome outcome = match_colours(clip.grid, CorrectionMode::Colour, clip.frames, {&clip.background, 0});
    const Frame& f = clip.frames[0]; const Frame& u = clip.under[0];
    for (int c = 0; c < 3; ++c) {
        CurveSamples sky, ground;
        for (int y = 0; y < f.height(); ++y) for (int x = f.width() * 4 / 10; x < f.width() * 6 / 10; ++x) {
            (y < f.height() * 0.3 ? sky : ground).add(f.pixel(y, x)[2 - c], u.pixel(y, x)[2 - c], 1.0);
        }
        std::printf("channel %d\n", c);
        const auto& table = outcome.result.grid.channel_color_table[c][1];
        for (const LevelValue& l : level_medians(sky)) if (l.weight > 20) std::printf("  sky v %3d w %5.0f truth %6.1f table(point1) %3d\n", l.video, l.weight, l.value, table[l.video]);
        const auto& t4 = outcome.result.grid.channel_color_table[c][4];
        for (const LevelValue& l : level_medians(ground)) if (l.video % 6 == 0 && l.weight > 5) std::printf("  ground v %3d w %5.0f truth %6.1f table(point1) %3d point4 %3d\n", l.video, l.weight, l.value, table[l.video], t4[l.video]);
    }
}
}}
#include "core/correction/frame_transforms.hpp"
namespace tintora { namespace {
TEST(Explore, Mirror) {
    test::ColourClipOptions o; o.frame_count = 1;
    const test::ColourClip clip = test::make_colour_clip(o);
    Frame m; mirror_columns(clip.frames[0], m);
    save_jpeg(m, "/tmp/explore/mirror.jpg");
    FrameRegistration r = register_frame(m, clip.grid, {&clip.background, 0});
    std::printf("mirror: measured %d verdict %d agreement %.3f shift %.2f %.2f\n", r.measured, (int)r.verdict, r.agreement, r.shift.x, r.shift.y);
    Frame flipped; mirror_rows(clip.frames[0], flipped);
    r = register_frame(flipped, clip.grid, {&clip.background, 0});
    std::printf("flip: measured %d verdict %d agreement %.3f shift %.2f %.2f\n", r.measured, (int)r.verdict, r.agreement, r.shift.x, r.shift.y);
}
}}
