#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/viewer/hotspot_frame.hpp"
#include "core/viewer/panorama_geometry.hpp"

namespace tintora {

// The files a hotspot export writes for DIR/NAME: the video twice (H.264
// and VP9), its poster, the numbers that place it, krpano's hotspot, and a
// preview page with its media and the viewer's script.
struct HotspotFiles {
    std::filesystem::path mp4;     // NAME.mp4
    std::filesystem::path webm;    // NAME.webm
    std::filesystem::path poster;  // NAME.jpg
    std::filesystem::path json;    // NAME.json
    std::filesystem::path xml;     // NAME.xml
    std::filesystem::path page;    // NAME.html
    std::filesystem::path media;   // NAME_media.js
    std::filesystem::path viewer;  // tintora-viewer.js
};
// A name given with one of the exports' extensions loses it: "tour.mp4" is "tour".
HotspotFiles hotspot_files(const std::filesystem::path& base);

// NAME.json: where the video is and how the panorama is, the frame's centre,
// angular size and corners, and krpano's numbers; angles in degrees, file
// names as given (the panorama's as the project holds it).
std::string hotspot_json(const HotspotFrame& frame, const PanoramaGeometry& panorama,
                         std::string_view panorama_image, const HotspotFiles& files);

// NAME.xml: krpano's <hotspot> for its video player plugin, ready to paste.
std::string krpano_hotspot_xml(const HotspotFrame& frame, const HotspotFiles& files);

// The preview page: the template with its placeholder replaced by the JSON
// (each '<' written \u003c, so that no name can end the script it sits in);
// nothing when the template has no placeholder.
std::optional<std::string> hotspot_page(std::string_view page_template, std::string_view json);

// NAME_media.js: the panorama picture and the MP4 as data URLs the page
// reads without fetching anything (a page opened from the disk may not).
std::string media_script(std::span<const std::uint8_t> panorama_jpeg,
                         std::span<const std::uint8_t> video_mp4);

// Where the preview page's template and viewer script are for a program in
// `program_dir`: its web folder beside it (a build) or share/tintora/web
// (an installation); nothing when neither holds both.
std::optional<std::filesystem::path> preview_page_folder(const std::filesystem::path& program_dir);
inline constexpr std::string_view kPageTemplateName = "hotspot_template.html";
inline constexpr std::string_view kViewerScriptName = "tintora-viewer.js";

}  // namespace tintora
