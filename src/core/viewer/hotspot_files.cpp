#include "core/viewer/hotspot_files.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <system_error>

namespace tintora {
namespace {

namespace fs = std::filesystem;

// A number as JSON and XML take it: up to ten significant digits, never
// "-0", never a locale's comma.
std::string number(double value) {
    if (std::fabs(value) < 5e-11) value = 0;
    char text[40];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

std::string json_string(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        switch (c) {
            case '"':
                quoted += "\\\"";
                break;
            case '\\':
                quoted += "\\\\";
                break;
            case '\n':
                quoted += "\\n";
                break;
            case '\r':
                quoted += "\\r";
                break;
            case '\t':
                quoted += "\\t";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned char>(c));
                    quoted += escape;
                } else {
                    quoted += c;
                }
        }
    }
    return quoted + "\"";
}

std::string xml_attribute(std::string_view text) {
    std::string escaped;
    for (const char c : text) {
        switch (c) {
            case '&':
                escaped += "&amp;";
                break;
            case '<':
                escaped += "&lt;";
                break;
            case '>':
                escaped += "&gt;";
                break;
            case '"':
                escaped += "&quot;";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

std::string angles_json(Angles angles) {
    return "{\"yaw\": " + number(angles.yaw) + ", \"pitch\": " + number(angles.pitch) + "}";
}

std::string file_name(const fs::path& path) { return path.filename().string(); }

std::string base64(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const std::uint32_t n = bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2];
        text += kDigits[n >> 18];
        text += kDigits[(n >> 12) & 63];
        text += kDigits[(n >> 6) & 63];
        text += kDigits[n & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const std::uint32_t n = bytes[i] << 16 | (two ? bytes[i + 1] << 8 : 0);
        text += kDigits[n >> 18];
        text += kDigits[(n >> 12) & 63];
        text += two ? kDigits[(n >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

// The picture's type by its first bytes: JPEG, or PNG for what the
// background may also be.
std::string_view picture_type(std::span<const std::uint8_t> bytes) {
    constexpr std::array<std::uint8_t, 4> kPng{0x89, 'P', 'N', 'G'};
    if (bytes.size() >= kPng.size() && std::equal(kPng.begin(), kPng.end(), bytes.begin())) {
        return "image/png";
    }
    return "image/jpeg";
}

}  // namespace

HotspotFiles hotspot_files(const fs::path& base) {
    fs::path stem = base;
    std::string extension = stem.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* known : {".mp4", ".webm", ".jpg", ".json", ".xml", ".html"}) {
        if (extension == known) stem.replace_extension();
    }
    const auto with = [&stem](std::string_view ending) {
        fs::path path = stem;
        path += std::string(ending);
        return path;
    };
    return {with(".mp4"),      with(".webm"),     with(".jpg"),
            with(".json"),     with(".xml"),      with(".html"),
            with("_media.js"), stem.parent_path() / std::string(kViewerScriptName)};
}

std::string hotspot_json(const HotspotFrame& frame, const PanoramaGeometry& panorama,
                         std::string_view panorama_image, const HotspotFiles& files) {
    std::string text = "{\n";
    text += "  \"video\": {\"mp4\": " + json_string(file_name(files.mp4)) +
            ", \"webm\": " + json_string(file_name(files.webm)) +
            ", \"poster\": " + json_string(file_name(files.poster)) +
            ", \"width\": " + std::to_string(frame.width) +
            ", \"height\": " + std::to_string(frame.height) + "},\n";
    text += "  \"panorama\": {\"image\": " + json_string(panorama_image) +
            ", \"width\": " + std::to_string(panorama.width) +
            ", \"height\": " + std::to_string(panorama.height) +
            ", \"hfov\": " + number(panorama.hfov) + ", \"vfov\": " + number(panorama.vfov) +
            ", \"yaw\": " + number(panorama.yaw) + ", \"pitch\": " + number(panorama.pitch) +
            "},\n";
    text += "  \"centre\": " + angles_json(frame.centre) + ",\n";
    text += "  \"fov\": {\"horizontal\": " + number(frame.horizontal_fov()) +
            ", \"vertical\": " + number(frame.vertical_fov()) + "},\n";
    text += "  \"corners\": [";
    for (std::size_t i = 0; i < frame.corners.size(); ++i) {
        text += (i == 0 ? "" : ", ") + angles_json(frame.corners[i]);
    }
    text += "],\n";
    text += "  \"krpano\": {\"ath\": " + number(frame.krpano.ath) +
            ", \"atv\": " + number(frame.krpano.atv) +
            ", \"width\": " + number(frame.krpano.width) +
            ", \"height\": " + number(frame.krpano.height) +
            ", \"distorted\": true, \"edge\": \"center\"}\n";
    text += "}\n";
    return text;
}

std::string krpano_hotspot_xml(const HotspotFrame& frame, const HotspotFiles& files) {
    const std::string name = files.mp4.stem().string();
    return "<hotspot name=\"" + xml_attribute(name) +
           "\"\n"
           "         url.html5=\"%VIEWER%/plugins/videoplayer.js\"\n"
           "         videourl=\"" +
           xml_attribute(file_name(files.mp4)) + "|" + xml_attribute(file_name(files.webm)) +
           "\"\n"
           "         posterurl=\"" +
           xml_attribute(file_name(files.poster)) +
           "\"\n"
           "         distorted=\"true\" edge=\"center\"\n"
           "         ath=\"" +
           number(frame.krpano.ath) + "\" atv=\"" + number(frame.krpano.atv) +
           "\"\n"
           "         width=\"" +
           number(frame.krpano.width) + "\" height=\"" + number(frame.krpano.height) +
           "\"\n"
           "         loop=\"true\" muted=\"true\" playsinline=\"true\" autoplay=\"true\"\n"
           "         pausedonstart=\"false\" enabled=\"false\" handcursor=\"false\"\n"
           "         />\n";
}

std::optional<std::string> hotspot_page(std::string_view page_template, std::string_view json) {
    constexpr std::string_view kPlaceholder = "/*TINTORA_HOTSPOT_JSON*/null";
    const std::size_t at = page_template.find(kPlaceholder);
    if (at == std::string_view::npos) return std::nullopt;
    std::string safe;
    for (const char c : json) {
        if (c == '<') {
            safe += "\\u003c";
        } else if (c != '\n') {
            safe += c;
        }
    }
    std::string page(page_template.substr(0, at));
    page += safe;
    page += page_template.substr(at + kPlaceholder.size());
    return page;
}

std::string media_script(std::span<const std::uint8_t> panorama_jpeg,
                         std::span<const std::uint8_t> video_mp4) {
    return "window.TINTORA_MEDIA = {\"panorama\": \"data:" +
           std::string(picture_type(panorama_jpeg)) + ";base64," + base64(panorama_jpeg) +
           "\", \"video\": \"data:video/mp4;base64," + base64(video_mp4) + "\"};\n";
}

std::optional<fs::path> preview_page_folder(const fs::path& program_dir) {
    for (const fs::path& folder :
         {program_dir / "web", program_dir.parent_path() / "share" / "tintora" / "web"}) {
        std::error_code error;
        if (fs::is_regular_file(folder / std::string(kPageTemplateName), error) &&
            fs::is_regular_file(folder / std::string(kViewerScriptName), error)) {
            return folder;
        }
    }
    return std::nullopt;
}

}  // namespace tintora
