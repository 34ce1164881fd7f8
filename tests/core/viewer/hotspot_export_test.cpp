// "Save hotspot…" through the real encoder on a small clip: every file, the
// video at the frame's size with every frame, the page holding the numbers;
// and the refusals, before anything is written.
#include "core/viewer/hotspot_export.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_import.hpp"
#include "core/viewer/hotspot_files.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

std::string text_of(const fs::path& path) {
    const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(path);
    return bytes ? std::string(bytes.value().begin(), bytes.value().end()) : std::string();
}

class HotspotExport : public testing::Test {
protected:
    void SetUp() override {
        settings_.ffmpeg_path = test::find_encoder();
        ASSERT_FALSE(settings_.ffmpeg_path.empty());
        settings_.work_dir = work_.path();
        // The preview page's template and script, as the build puts them beside the program.
        settings_.program_dir = program_.path();
        fs::create_directory(program_ / "web");
        ASSERT_TRUE(write_file(program_ / "web/hotspot_template.html",
                               "<script>window.TINTORA_HOTSPOT = /*TINTORA_HOTSPOT_JSON*/null;"
                               "</script>"));
        ASSERT_TRUE(write_file(program_ / "web/tintora-viewer.js", "// the viewer"));

        const fs::path clip = test::test_clip("25", "0.4", true);
        ImportProgress progress;
        const ImportOutcome outcome =
            import_video(settings_.ffmpeg_path, clip, work_.path(), progress);
        ASSERT_EQ(outcome.frame_count, 10) << outcome.problem_detail;
        workspace_.set_view_size(320, 240);
        ASSERT_TRUE(workspace_.finish_import(clip, outcome));
        std::mt19937 random(2);
        const fs::path panorama = out_ / "panorama.jpg";
        ASSERT_TRUE(save_jpeg(test::random_frame(512, 256, random), panorama));
        ASSERT_TRUE(composition_.open_background(panorama));
        // A quarter of the sphere's width, a sixth of its height: 90 by 30 degrees.
        for (int p = 0; p < kGridPointCount; ++p) {
            grid_.area_x[p] = 200 + (p % 3) * 32;
            grid_.area_y[p] = 106 + (p / 3) * 11;
        }
    }

    Result<RunJob> prepare(const fs::path& base) {
        return prepare_hotspot_export(workspace_, settings_, grid_, composition_, base);
    }

    test::TemporaryFolder work_;
    test::TemporaryFolder out_;
    test::TemporaryFolder program_;
    AppSettings settings_;
    VideoWorkspace workspace_{settings_};
    CorrectionGrid grid_;
    Composition composition_;
};

TEST_F(HotspotExport, WritesTheVideosAndWhatPlacesThem) {
    const HotspotFiles files = hotspot_files(out_ / "lobby");
    const RunOutcome outcome = run_to_end(prepare(out_ / "lobby").value(), {});
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    EXPECT_EQ(out_.names(),
              (std::set<std::string>{"panorama.jpg", "lobby.mp4", "lobby.webm", "lobby.jpg",
                                     "lobby.json", "lobby.xml", "lobby.html", "lobby_media.js",
                                     "tintora-viewer.js"}));
    const std::string json = text_of(files.json);
    const Frame poster = load_jpeg(files.poster).value();
    EXPECT_NE(json.find("\"width\": " + std::to_string(poster.width()) +
                        ", \"height\": " + std::to_string(poster.height())),
              std::string::npos)
        << json;
    EXPECT_EQ(poster.width() % 2, 0);
    EXPECT_NE(json.find("\"image\": \"" + (out_ / "panorama.jpg").string() + "\""),
              std::string::npos);
    EXPECT_NE(text_of(files.page).find(json.substr(2, 40)), std::string::npos);
    EXPECT_EQ(text_of(files.viewer), "// the viewer");
    EXPECT_EQ(text_of(files.media).rfind("window.TINTORA_MEDIA = {\"panorama\": \"data:image/jpeg;", 0),
              0u);
}

TEST_F(HotspotExport, RefusesWhatCannotBePlacedBeforeWritingAnything) {
    const auto refusal = [this](const fs::path& base) {
        const Result<RunJob> job = prepare(base);
        return job ? std::string() : job.error();
    };
    // A folded mesh: the top corners crossed.
    std::swap(grid_.area_x[0], grid_.area_x[2]);
    EXPECT_NE(refusal(out_ / "a").find("The mesh is folded"), std::string::npos);
    std::swap(grid_.area_x[0], grid_.area_x[2]);
    // More than 150 degrees across.
    for (int p = 0; p < kGridPointCount; ++p) grid_.area_x[p] = 20 + (p % 3) * 120;
    EXPECT_NE(refusal(out_ / "a").find("more than 150 degrees"), std::string::npos);
    for (int p = 0; p < kGridPointCount; ++p) grid_.area_x[p] = 200 + (p % 3) * 32;
    // The project's own panorama as one of the outputs.
    EXPECT_NE(refusal(out_ / "panorama").find("the project's own video or background"),
              std::string::npos);
    // No viewer beside the program for the page.
    fs::remove_all(program_ / "web");
    EXPECT_NE(refusal(out_ / "a").find("tintora-viewer.js"), std::string::npos);
    // No panorama.
    composition_.release_background();
    EXPECT_NE(refusal(out_ / "a").find("Open the panorama first"), std::string::npos);
    EXPECT_EQ(out_.names(), std::set<std::string>{"panorama.jpg"});
}

}  // namespace
}  // namespace tintora
