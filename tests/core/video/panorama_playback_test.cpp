// Playing the output in the main window's picture: which frames play in
// which order, that every played picture is the still picture of its frame
// byte for byte, and that the playing moves on at the output's pace.
#include "core/video/panorama_playback.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/correction/frame_correction.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/frame_pipeline.hpp"
#include "core/video/video_import.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

TEST(PanoramaPlayback, PlaysTheOutputsFramesInItsOrder) {
    const struct {
        const char* name;
        const char* start;
        const char* stop;
        bool ping_pong;
        const char* count;
        const char* static_frame;
        int frame_count;
        std::vector<int> frames;
    } cases[] = {
        {"range", "2", "4", false, "", "", 6, {2, 3, 4}},
        {"empty fields: the whole clip", "", "", false, "", "", 3, {1, 2, 3}},
        {"ping-pong", "2", "3", true, "0", "", 5, {2, 3, 3, 2}},
        {"held end frames", "1", "2", false, "2", "5", 5, {1, 2, 5, 5}},
        {"out of the clip: held to it", "-4", "99", false, "1", "99", 3, {1, 2, 3, 3}},
        {"stop before start: the start", "4", "2", false, "", "", 5, {4}},
        {"no clip", "1", "5", false, "", "", 0, {}},
    };
    for (const auto& c : cases) {
        VideoParameters parameters;
        parameters.text(Field::StartFrame) = c.start;
        parameters.text(Field::StopFrame) = c.stop;
        parameters.ping_pong = c.ping_pong;
        parameters.text(Field::Count) = c.count;
        parameters.text(Field::StaticFrame) = c.static_frame;
        EXPECT_EQ(output_frame_order(parameters, c.frame_count), c.frames) << c.name;
    }
}

// A clip of numbered frames in a working folder, a background with a mesh
// over it and a job that shows part of the picture.
class PlaybackFixture : public testing::Test {
protected:
    void SetUp() override {
        std::mt19937 random(515);
        for (int n = 1; n <= kFrames; ++n) {
            ASSERT_TRUE(save_jpeg(test::random_frame(41, 29, random),
                                  frame_file_path(folder_.path(), n)));
        }
        composition_.set_background(test::random_frame(120, 90, random));
        grid_ = test::random_grid(random);
        std::uniform_int_distribution<int> place(5, 110);
        for (int p = 0; p < kGridPointCount; ++p) {
            grid_.area_x[p] = place(random);
            grid_.area_y[p] = place(random) * 3 / 4;
        }
        job_.work_dir = folder_.path();
        job_.frames = {1, 2, 3};
        job_.rotation_angle = 90;
        job_.steps.cut = OutputSteps::Rect{0, 0, 26, 38};
        job_.grid = grid_;
        job_.left = 7;
        job_.top = 5;
        job_.width = 90;
        job_.height = 70;
    }

    // What the main window shows with frame n as the result picture.
    Frame still_picture(int n, const CorrectionGrid& grid) {
        Result<Frame> loaded = load_jpeg(frame_file_path(folder_.path(), n));
        EXPECT_TRUE(loaded.ok());
        // Through the copying chain, as the workspace's preview goes.
        const Frame rotated = rotate_for_output(std::move(loaded).value(), job_.rotation_angle);
        const Frame result = render_output(rotated, job_.steps);
        composition_.compose(grid, &result);
        Frame part;
        composition_.render_region(job_.left, job_.top, job_.width, job_.height, part, nullptr);
        return part;
    }

    static constexpr int kFrames = 3;
    test::TemporaryFolder folder_;
    Composition composition_;
    CorrectionGrid grid_;
    PlaybackJob job_;
};

// Frame after frame, each drawn over the one before, at every density kind
// (whole pixels, finer, coarser), corrected and as it comes, on every kernel.
TEST_F(PlaybackFixture, EveryPlayedPictureIsTheStillPictureOfItsFrame) {
    for (const VectorIsa isa : supported_vector_isas()) {
        limit_vector_isa(isa);
        for (const int density : {4, 6, 2}) {
            composition_.choices.density_index = density;
            composition_.compose(grid_, nullptr);
            job_.display_scale = composition_.display_scale();
            job_.density_step = composition_.density_step();
            PlayedPictureMaker maker(composition_, job_);
            for (const int n : {1, 2, 3, 1}) {
                for (const bool corrected : {true, false}) {
                    Result<PlayedPicture> played = maker.make(n, corrected);
                    ASSERT_TRUE(played.ok()) << played.error();
                    EXPECT_EQ(played.value().picture,
                              still_picture(n, corrected ? grid_ : uncorrected(grid_)))
                        << vector_isa_name(isa) << " density " << density << " frame " << n
                        << (corrected ? "" : " uncorrected");
                    maker.recycle(std::move(played.value().picture));
                }
            }
        }
    }
    limit_vector_isa(VectorIsa::Avx512Vbmi);
}

TEST_F(PlaybackFixture, MovesOnAtTheOutputsPaceRoundAndRound) {
    composition_.compose(grid_, nullptr);
    job_.fps = 50.0;
    PanoramaPlayback playback(composition_, job_);
    std::vector<std::int64_t> positions;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(400);
    while (std::chrono::steady_clock::now() < until) {
        if (std::optional<PlayedPicture> due = playback.take_due()) {
            // The frame of each place in the play order, round and round.
            EXPECT_EQ(due->frame, job_.frames[static_cast<std::size_t>(due->position % 3)]);
            positions.push_back(due->position);
            playback.recycle(std::move(due->picture));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_GE(positions.size(), 4u);
    for (std::size_t i = 1; i < positions.size(); ++i) EXPECT_GT(positions[i], positions[i - 1]);
    // 400 ms at 50 per second: never ahead of the clock.
    EXPECT_LE(positions.back(), 20);
}

}  // namespace
}  // namespace tintora
