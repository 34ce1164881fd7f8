#include "core/project/project_changes.hpp"

#include <array>
#include <string_view>

#include "core/project/project_file.hpp"

namespace tintora {
namespace {

constexpr std::array<std::string_view, 4> kViewKeys{
    "BACKGROUND_SCALE=", "VIDEOFRAME_DENSITY=", "CURRENT_FRAME=", "CURRENT_POINT="};

bool is_view_line(std::string_view line) {
    for (const std::string_view key : kViewKeys) {
        if (line.starts_with(key)) return true;
    }
    return false;
}

}  // namespace

std::string project_content(const Composition& composition, const CorrectionGrid& grid,
                            const VideoWorkspace& workspace) {
    const std::string text = format_project(composition, grid, workspace);
    std::string content;
    content.reserve(text.size());
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        const std::string_view line = std::string_view(text).substr(start, end - start);
        if (!is_view_line(line)) content.append(line);
        start = end;
    }
    return content;
}

}  // namespace tintora
