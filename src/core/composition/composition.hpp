#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/common/result.hpp"
#include "core/composition/mesh_warp.hpp"
#include "core/composition/panorama_choices.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora {

// The main window's three lists: item texts and what each item means.
inline constexpr std::array<std::string_view, 4> kRotationItems{"0", "90", "180", "270"};
inline constexpr std::array<std::string_view, 9> kScaleItems{"10%",  "25%",  "33%",  "50%", "67%",
                                                             "100%", "150%", "200%", "300%"};
// Exactly these decimals: 0.33 and 0.67, not thirds.
inline constexpr std::array<double, 9> kDisplayScales{0.1, 0.25, 0.33, 0.5, 0.67,
                                                      1.0, 1.5,  2.0,  3.0};
inline constexpr std::array<std::string_view, 7> kDensityItems{"0%",   "10%",  "25%", "50%",
                                                               "100%", "200%", "300%"};
// Sampling step through the video frame, in frame pixels.
inline constexpr std::array<double, 7> kDensitySteps{10000.0, 10.0, 4.0, 2.0, 1.0, 0.5, 1.0 / 3.0};

inline constexpr int kDefaultRotationIndex = 0;  // "0"
inline constexpr int kDefaultScaleIndex = 5;     // "100%"
inline constexpr int kDefaultDensityIndex = 4;   // "100%"

// The choices of the main window's lists and check box. An index outside its
// list means "no selection".
struct CompositionChoices {
    int rotation_index = kDefaultRotationIndex;
    int scale_index = kDefaultScaleIndex;
    int density_index = kDefaultDensityIndex;
    bool hide_frame = false;  // "hide [F4]"
    PanoramaChoices panorama;
};

// Where a region of the composed picture lies in the whole picture.
struct RegionOrigin {
    int left = 0;
    int top = 0;
};

// A box of a region, in the region's own pixels: [left, right) by [top, bottom).
struct RegionBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    friend bool operator==(const RegionBox&, const RegionBox&) = default;
};

// Draws the video frame onto the picture through the mesh: samples every
// `step` frame pixels (x, y < size - 1), corrects each sample with the grid
// at its unrounded relative position and writes it where map_to_background
// puts it, truncated. Places outside the picture are skipped; later writes
// win. `region` may be a part of the picture: it then holds the picture's
// pixels from `origin` on, and only samples that land in it are drawn.
// With a warp (a model of the mesh other than the bilinear one) a sample
// lands where the warp's lattice puts it, truncated alike.
void draw_overlay(Frame& region, const Frame& overlay, const CorrectionGrid& grid,
                  double display_scale, double step, RegionOrigin origin = {},
                  const WarpLattice* warp = nullptr);
// The same with a frame no longer needed: it is corrected in place, not copied.
void draw_overlay(Frame& region, Frame&& overlay, const CorrectionGrid& grid, double display_scale,
                  double step, RegionOrigin origin = {}, const WarpLattice* warp = nullptr);

// The nine 5 by 5 markers of the grid points: red for cur_point, green for
// the others, drawn in index order, clipped to the region.
void draw_markers(Frame& region, const CorrectionGrid& grid, double display_scale,
                  RegionOrigin origin = {});

// The picture pixels grid point p's marker covers: a 5 by 5 square, or
// nothing when the point lies beyond the numbers' range.
std::optional<RegionBox> marker_box(const CorrectionGrid& grid, double display_scale, int p);

// Where draw_overlay and draw_markers with this grid may write in a region
// of width by height pixels at `origin`: every sample of the frame is a
// blend of area points, so within their bounding box (give or take a
// rounding), and the markers reach two pixels beyond their points. A warp
// reaches as far as its lattice's nodes.
RegionBox overlay_reach(const CorrectionGrid& grid, double display_scale, int width, int height,
                        RegionOrigin origin, const WarpLattice* warp = nullptr);

// One sampled column (or row) of the overlay: which frame pixel it reads and
// its unrounded relative position.
struct SamplePosition {
    int pixel;
    double position;
};

// Where a frame of one size lands in a region through a mesh, at a scale and
// a density: the samples that stay visible (those a later sample covers left
// out), in drawing order. Laid out once, it draws any frame of that size
// exactly as draw_overlay would, without placing a sample again: what
// playing frame after frame through a mesh that stays put needs. Drawing a
// second frame over the first writes the very same pixels.
class OverlayLayout {
public:
    OverlayLayout(int frame_width, int frame_height, const CorrectionGrid& grid,
                  double display_scale, double step, const Frame& region, RegionOrigin origin,
                  const WarpLattice* warp = nullptr);

    // Whether the frame and the region are those it was laid out for.
    bool fits(const Frame& overlay, const Frame& region) const;
    // Draws the frame corrected with the grid's curves; the frame is used up
    // (corrected in place). Nothing when it does not fit.
    void draw(Frame& region, Frame&& overlay, const CorrectionGrid& grid) const;

private:
    struct Row {
        int frame_row;
        double position;
        std::size_t first, end;  // its samples in targets_ and sample_columns_
    };

    bool usable_ = false;
    bool whole_pixels_ = false;
    int frame_width_ = 0;
    int frame_height_ = 0;
    int region_width_ = 0;
    int region_height_ = 0;
    std::ptrdiff_t region_stride_ = 0;
    std::vector<SamplePosition> columns_;
    std::vector<Row> rows_;
    // Per visible sample, in drawing order: its byte offset in the region
    // and its column (into columns_).
    std::vector<std::int32_t> targets_;
    std::vector<std::uint16_t> sample_columns_;
    // The frame's rows some visible sample reads (non-zero).
    std::vector<std::uint8_t> frame_rows_;
};

class OverlayPlan;

// The composition of the main window: the background as loaded, rotated and
// scaled on the fly, with the corrected video frame and the markers on it.
// The whole composed picture can be far larger than memory (a 30000 pixel
// panorama at 300 %), so it is never made whole for the window: compose()
// takes the state, and render_region() produces any part of the picture,
// pixel for pixel what the whole picture would hold there.
class Composition {
public:
    CompositionChoices choices;

    Composition();
    ~Composition();
    Composition(Composition&&) noexcept;
    Composition& operator=(Composition&&) noexcept;

    // Loads a JPEG as the new background; on failure the previous one stays.
    // On success the lists return to their defaults and the scale to 1.0.
    Status open_background(const std::filesystem::path& path);
    // Takes an already decoded picture as the background, as open_background does.
    void set_background(Frame background);
    // Forgets the background ("New project").
    void release_background();

    bool background_loaded() const { return background_loaded_; }
    // Size of the background as loaded, before rotation (0 without one).
    int background_width() const { return background_.width(); }
    int background_height() const { return background_.height(); }
    const Frame& background_image() const { return background_; }
    // How the mesh lays the frame when the panorama's model is not the
    // bilinear one: set once by whoever builds the composition (without a
    // maker every model draws by the bilinear rule). The warp of the last
    // compose() (none: the bilinear rule), for whatever draws as it does.
    void set_mesh_warp_maker(MeshWarpMaker maker) { warp_maker_ = std::move(maker); }
    const MeshWarpMaker& mesh_warp_maker() const { return warp_maker_; }
    const std::shared_ptr<const WarpLattice>& mesh_warp() const { return warp_; }

    // The file the background came from (empty when set from a picture).
    const std::filesystem::path& background_path() const { return background_path_; }
    // The file name last given to open_background, loaded or not; kept when
    // the background is released, as a project stores it.
    const std::filesystem::path& background_file_name() const { return background_file_name_; }

    // Factor between background pixels and picture pixels; follows the scale
    // list at every composition and keeps its value when the list has no
    // selection.
    double display_scale() const { return display_scale_; }

    // Takes the state the picture is composed from: the lists, the grid and
    // the video workspace's result picture (null when no video is loaded:
    // then neither frame nor markers are drawn). The frame's correction is
    // kept while neither the frame nor the curves change.
    void compose(const CorrectionGrid& grid, const Frame* overlay);
    // The same for a caller that knows the overlay is the one of the last
    // composition, pixel for pixel (a drag of the mesh): its correction is
    // kept without comparing the frames again.
    void compose_same_overlay(const CorrectionGrid& grid, const Frame* overlay);

    // Size of the whole composed picture: the rotated background times the scale.
    int picture_width() const { return picture_width_; }
    int picture_height() const { return picture_height_; }

    // Whether the markers are drawn into a rendered region: the window shows
    // them; what is read of the picture (sampling, the pointer's read-out)
    // reads what lies under them.
    enum class Markers { Drawn, Left };

    // The picture's pixels in the rectangle at (x, y), clipped to the
    // picture: `composed` with frame and markers, `clean` (when given) the
    // background alone. Both are resized to the clipped rectangle.
    RegionOrigin render_region(int x, int y, int width, int height, Frame& composed,
                               Frame* clean, Markers markers = Markers::Drawn) const;
    // The background alone in the rectangle: quick, however large the picture.
    RegionOrigin render_clean(int x, int y, int width, int height, Frame& clean) const;
    // The picture in the rectangle with the frame drawn as it came, before
    // correction (the markers as usual): what sampling reads a pair's video
    // side from, since the curves apply to the uncorrected frame.
    RegionOrigin render_uncorrected(int x, int y, int width, int height, Frame& picture,
                                    Markers markers = Markers::Drawn) const;
    // Whether a marker covers any pixel of the rectangle at (x, y).
    bool markers_cover(int x, int y, int width, int height) const;

    // The part of the picture the window shows, kept until the next
    // compose(): rendered again only when asked for more than it holds.
    // When only the frame, its curves or the mesh changed, the same part is
    // redrawn where the frame and the markers lie, not as a whole.
    void show_region(int x, int y, int width, int height);
    const Frame& shown_picture() const { return shown_picture_; }
    RegionOrigin shown_origin() const { return shown_origin_; }
    // False after compose() until show_region() renders again.
    bool has_shown_region() const { return shown_valid_; }
    // The shown part rendered with the frame uncorrected, made on first use
    // after each show_region(), so the pointer's moves read it for free.
    const Frame& shown_uncorrected() const;

    // The whole picture, rendered on first use after each compose(): for the
    // command line and the tests, not for the window.
    const Frame& picture() const;
    const Frame& clean_background() const;

    // The density list's step (the last valid one when nothing is selected).
    double density_step() const;

private:
    void compose(const CorrectionGrid& grid, const Frame* overlay, bool same_overlay);
    RegionBox clip_to_picture(int x, int y, int width, int height) const;
    void render_background(Frame& region, RegionOrigin origin) const;
    void render_background(Frame& region, RegionOrigin origin, RegionBox box) const;
    void draw_overlay_and_markers(Frame& region, RegionOrigin origin, bool corrected = true,
                                  Markers markers = Markers::Drawn) const;
    void forget_picture();

    Frame background_;
    std::filesystem::path background_path_;
    std::filesystem::path background_file_name_;
    bool background_loaded_ = false;
    double display_scale_ = 1.0;
    double last_density_step_ = kDensitySteps[kDefaultDensityIndex];

    // What compose() took.
    int rotation_ = kDefaultRotationIndex;
    int picture_width_ = 0;
    int picture_height_ = 0;
    CorrectionGrid grid_;
    MeshWarpMaker warp_maker_;
    std::shared_ptr<const WarpLattice> warp_;
    bool has_overlay_ = false;
    std::unique_ptr<OverlayPlan> overlay_;

    Frame shown_picture_;
    RegionOrigin shown_origin_;
    bool shown_valid_ = false;
    // After compose(): the shown picture's background is still right, only
    // its frame and markers (within shown_drawn_) are not.
    bool shown_background_kept_ = false;
    RegionBox shown_drawn_;
    mutable Frame shown_uncorrected_;
    mutable bool shown_uncorrected_valid_ = false;

    mutable Frame whole_picture_;
    mutable Frame whole_clean_;
    mutable bool whole_valid_ = false;
};

// Mouse and button rules of the composition view. Each returns whether the
// grid changed (so the caller recomposes).

// "Default [F6]": the area points on thirds and halves of the background as
// loaded (before rotation). Nothing without a background.
bool set_default_layout(CorrectionGrid& grid, const Composition& composition);

// Left click at picture position (x, y): cur_point's area point moves there
// (in background pixels). With Shift or Ctrl held nothing happens.
bool move_current_area_point(CorrectionGrid& grid, double display_scale, int x, int y,
                             bool shift_or_ctrl);

// Middle click: the whole mesh centred on (x, y), its outer rows and
// columns a third of the background away, held inside the background.
bool centre_mesh_at(CorrectionGrid& grid, const Composition& composition, int x, int y);

// The grid point under a click at (x, y) on the width by height thumbnail.
int thumbnail_point_at(int x, int y, int width, int height);

}  // namespace tintora
