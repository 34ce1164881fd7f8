#include "core/video/frame_pipeline.hpp"

#include <new>
#include <utility>

#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_parameters.hpp"

namespace tintora {

Frame rotate_for_output(Frame decoded, int angle) {
    if (angle == 0) return decoded;
    Frame turned;
    rotate_frame(decoded, turned, angle);
    return turned;
}

Frame process_frame(Frame decoded, const FrameSettings& settings, const CorrectionGrid& grid) {
    return render_output(rotate_for_output(std::move(decoded), settings.rotation_angle),
                         settings.steps, &grid);
}

Frame process_frame(Frame decoded, const FrameSettings& settings, const CorrectionGrid& grid,
                    const LightGains& light) {
    if (light.neutral()) return process_frame(std::move(decoded), settings, grid);
    // The steps up to the correction, then the correction under the light,
    // then grey or inverse, as render_output orders them.
    OutputSteps steps = settings.steps;
    const int transformation = std::exchange(steps.color_transformation, 0);
    Frame output =
        render_output(rotate_for_output(std::move(decoded), settings.rotation_angle), steps);
    correct_frame_under_light(output, grid, light);
    if (transformation == kGrayscale) to_grayscale(output);
    if (transformation == kInverse) invert_frame(output);
    return output;
}

Result<Frame> process_frame_from_file(const std::filesystem::path& source,
                                      const FrameSettings& settings, const CorrectionGrid& grid,
                                      const LightGains& light) {
    Result<Frame> loaded = load_jpeg(source);
    if (!loaded) return Error{loaded.error()};
    try {
        return process_frame(std::move(loaded).value(), settings, grid, light);
    } catch (const std::bad_alloc&) {
        return Error{"Not enough memory to process \"" + source.string() + "\"."};
    }
}

Result<std::vector<std::uint8_t>> process_frame_file(const std::filesystem::path& source,
                                                     const FrameSettings& settings,
                                                     const CorrectionGrid& grid,
                                                     const LightGains& light) {
    const Result<Frame> processed = process_frame_from_file(source, settings, grid, light);
    if (!processed) return Error{processed.error()};
    return encode_jpeg(processed.value(), kJpegQuality);
}

}  // namespace tintora
