#include "core/viewer/hotspot_export.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_export.hpp"
#include "core/viewer/hotspot_files.hpp"
#include "core/viewer/hotspot_layout.hpp"
#include "core/viewer/viewer_texts.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

// The widest panorama the preview page is handed: what WebGL takes as one
// texture everywhere; a wider one is made smaller for the page only.
constexpr int kWidestPreviewPanorama = 8192;
// The background files can be large photographs.
constexpr std::size_t kLargestPanoramaFile = std::size_t{1} << 30;

std::string_view as_text(const std::vector<std::uint8_t>& bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// The panorama as the preview page shows it: the file as it is, or made
// smaller when it is wider than a texture may be.
Result<std::vector<std::uint8_t>> preview_panorama(const Composition& composition) {
    const Frame& loaded = composition.background_image();
    if (loaded.width() <= kWidestPreviewPanorama && !composition.background_path().empty()) {
        Result<std::vector<std::uint8_t>> bytes =
            read_file_bytes(composition.background_path(), kLargestPanoramaFile);
        if (bytes) return bytes;
    }
    Frame smaller;
    const int width = std::min(loaded.width(), kWidestPreviewPanorama);
    smaller.resize(width, std::max(1, static_cast<int>(std::int64_t{loaded.height()} * width /
                                                       std::max(loaded.width(), 1))));
    resample_frame(loaded, smaller);
    return encode_jpeg(smaller, kJpegQuality);
}

// What is written once the videos and the poster are in place.
Status write_companions(const HotspotLayout& layout, const HotspotFiles& files,
                        const Composition& composition, const fs::path& page_folder) {
    const std::string json = hotspot_json(layout.frame, layout.geometry,
                                          composition.background_file_name().string(), files);
    Result<std::vector<std::uint8_t>> page_template =
        read_file_bytes(page_folder / std::string(kPageTemplateName));
    if (!page_template) return Error{page_template.error()};
    const std::optional<std::string> page = hotspot_page(as_text(page_template.value()), json);
    if (!page) return Error{"\"" + (page_folder / std::string(kPageTemplateName)).string() +
                            "\" holds no place for the hotspot."};
    Result<std::vector<std::uint8_t>> viewer =
        read_file_bytes(page_folder / std::string(kViewerScriptName));
    if (!viewer) return Error{viewer.error()};
    Result<std::vector<std::uint8_t>> panorama = preview_panorama(composition);
    if (!panorama) return Error{panorama.error()};
    Result<std::vector<std::uint8_t>> video = read_file_bytes(files.mp4, kLargestPanoramaFile);
    if (!video) return Error{video.error()};
    for (const auto& [path, text] :
         {std::pair<fs::path, std::string>{files.json, json},
          {files.xml, krpano_hotspot_xml(layout.frame, files)},
          {files.media, media_script(panorama.value(), video.value())},
          {files.viewer, std::string(as_text(viewer.value()))},
          {files.page, *page}}) {
        if (Status written = write_file_atomically(path, text); !written) return written;
    }
    return {};
}

}  // namespace

Result<RunJob> prepare_hotspot_export(VideoWorkspace& workspace, const AppSettings& settings,
                                      const CorrectionGrid& grid, const Composition& composition,
                                      const fs::path& base) {
    const std::string_view language = settings.language;
    if (!composition.background_loaded()) {
        return Error{std::string(message_text(viewer_texts::kNeedsBackground, language))};
    }
    const std::optional<fs::path> page_folder = preview_page_folder(settings.program_dir);
    if (!page_folder) {
        return Error{std::string(message_text(viewer_texts::kNoPreviewPage, language))};
    }
    const HotspotFiles files = hotspot_files(base);
    // The placement is worked out once the output frames' size is known,
    // and kept for the files written after the videos.
    auto layout = std::make_shared<std::optional<HotspotLayout>>();
    PresentedExport presented;
    presented.presentation_for = [&composition, &grid, layout,
                                  language](FrameSize output_frame) -> Result<Presentation> {
        Result<HotspotLayout> placed = hotspot_layout(composition, grid, output_frame, language);
        if (!placed) return Error{placed.error()};
        *layout = std::move(placed).value();
        const HotspotLayout& l = **layout;
        auto bake = std::make_shared<const HotspotBake>(
            l.frame, l.map, l.clip, composition.background_image(), l.geometry,
            composition.choices.panorama.edge_blend);
        return Presentation{EvenSize{l.frame.width, l.frame.height},
                            [bake](const Frame& frame) {
                                Frame baked;
                                bake->bake(frame, baked);
                                return baked;
                            }};
    };
    presented.more_targets = {VideoTarget{files.webm, VideoFormat::WebM}};
    presented.also_written = {files.json, files.xml, files.page, files.media, files.viewer};
    // The composition outlives the run, and nothing changes it while the
    // run's dialog (modal) is up or the command line waits for the run.
    presented.after_outputs = [layout, files, &composition, folder = *page_folder]() -> Status {
        if (!*layout) return {};
        return write_companions(**layout, files, composition, folder);
    };
    return prepare_presented_export(workspace, settings, grid,
                                    composition.background_path(),
                                    VideoTarget{files.mp4, VideoFormat::Mp4}, presented);
}

}  // namespace tintora
