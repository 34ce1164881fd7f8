#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/common/result.hpp"
#include "core/composition/mesh_warp.hpp"
#include "core/composition/panorama_choices.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"
#include "core/correction/light_gains.hpp"

namespace tintora {

// Automatic matching: every pixel of the frame drawn through the mesh is
// paired with the background pixel under it, and each grid point's curves
// are fitted to those pairs, weighted by how much each pixel counts for the
// point (its bilinear weight in its cell, as the correction blends).

// At most this many control pairs per fitted curve.
inline constexpr int kMaxMatchedPairs = 16;
// A pixel with a channel at 0 or from this value up, in the frame or in the
// background, is clipped: what it should have been is unknown.
inline constexpr int kClippedFrom = 250;
// The colour mode leaves out more, channel by channel: a channel near
// clipping (from this value up, or up to kNearBlackTo) in either picture,
// and the same channel of its eight neighbours. A camera's shoulder and the
// blur of compression put values there that no longer follow the light,
// and a curve bent on them turns bright skies into blotches of another hue.
inline constexpr int kNearClippedFrom = 245;
inline constexpr int kNearBlackTo = 2;
// A frame pixel whose channels are all below this is dark: too few levels
// to tell its colour by.
inline constexpr int kDarkBelow = 16;
// When this share of the frames' pixels is dark, or of those under the
// mesh off strong edges left out as clipped, the clip is too dark or too
// clipped to measure.
inline constexpr double kUnmeasurableShare = 0.9;
// A pixel is on a strong edge when its channel sum changes by more than
// this between its two neighbours, across or along, in the frame or in the
// background: a mesh off by a pixel would pair it with something else.
inline constexpr int kEdgeLimit = 60;
// A curve whose pixels weigh less than this in all keeps its pairs.
inline constexpr double kMinCurveWeight = 100.0;
// Video levels whose pixels weigh less than this are left to their neighbours.
inline constexpr double kMinLevelWeight = 2.0;

// The weights of the targets seen at each video level of one curve.
class CurveSamples {
public:
    // One level's targets from `first` on, and their total weight.
    struct Level {
        int first = 0;
        std::vector<double> weights;
        double total = 0.0;
    };

    CurveSamples();
    // Levels and targets outside 0..255 and weights not above 0 are ignored.
    void add(int video, int target, double weight);
    double weight(int video, int target) const;
    const Level& level(int video) const { return levels_[static_cast<std::size_t>(video)]; }
    double total() const;

private:
    std::vector<Level> levels_;
};

// A curve's value at one video level with the weight behind it.
struct LevelValue {
    int video;
    double value;
    double weight;
};

// The weighted median of targets first, first + 1, ... with these weights
// adding up to total: the target where half the weight is reached (the
// middle of it and the next target seen when exactly half is).
double weighted_median(int first, std::span<const double> weights, double total);

// The robust target of each level with enough weight: its weighted median.
std::vector<LevelValue> level_medians(const CurveSamples& samples);

// The weighted least-squares non-decreasing fit of the levels' values
// (pool adjacent violators): same levels and weights, values pooled.
std::vector<LevelValue> monotone_fit(std::vector<LevelValue> levels);

// Control pairs whose curve (as fill_curve draws it) stays within one level
// of the fit at every fitted level, with the fewest pairs a greedy
// refinement finds and never more than kMaxMatchedPairs: the worst-fitted
// level gets the next pair until all are within a level.
ControlValues pairs_for_fit(const std::vector<LevelValue>& fit);

// The fit of one curve from its levels' robust values: monotone, then the
// pairs; nothing when all its pixels (`total`) weigh too little.
std::optional<ControlValues> fit_levels(const std::vector<LevelValue>& levels, double total);
// The same from its samples.
std::optional<ControlValues> fit_curve(const CurveSamples& samples);

// The weights of one curve's pixels per video level and per target level,
// each summed over the other.
struct LevelMarginals {
    std::array<double, kIntensityCount> video{};
    std::array<double, kIntensityCount> target{};
    double total = 0.0;
};
LevelMarginals marginals_of(const CurveSamples& samples);

// The colour mode's fit of one grid point's three curves (red, green,
// blue): curves that keep the hues and the fine texture. Per channel the
// video levels' share of the pixels is mapped onto the targets' (quantile
// mapping: a noisy clip's curve is not flattened, as a curve through each
// level's typical target is); the map is smoothed across levels and, where
// the pixels are few, drawn toward a gain and gamma fitted to the channel,
// whose gamma is drawn toward the three channels' common one unless the
// channel's own levels say otherwise; above the pixels the curve bends to
// meet white; then it is made monotone and turned into pairs over all
// levels, the level most pixels show among them. Channels whose pixels
// weigh less than kMinCurveWeight get nothing.
std::array<std::optional<ControlValues>, kChannelCount> fit_colour_point(
    const std::array<LevelMarginals, kChannelCount>& channels);

// The background as the area points measure it: the picture as loaded and
// the rotation index (0..3, quarter turns) it is shown at; and how the mesh
// lays a frame on it, as the composition does: by the panorama's model
// through the warp maker (without one, or with the bilinear model, by the
// bilinear rule).
struct MatchBackground {
    const Frame* loaded = nullptr;
    int rotation_index = 0;
    PanoramaChoices panorama = {};
    MeshWarpMaker warp_maker = {};
};

// ------------------------------------------------------------ registration

// A camera that moves a little is followed this far (of the frame's width,
// along either axis) from where the mesh puts the frame.
inline constexpr double kMaxDriftShare = 0.05;
// The fine structure of the frame and of the background under it must
// correlate at least this much at the frame's registered place. Pictures of
// one place through different cameras and tone curves correlate far above
// it; a frame of another place, or mostly covered by something near the
// camera, falls near 0.
inline constexpr double kMinAgreement = 0.5;
// Below this spread of fine structure (grey levels, in the reduced
// pictures) a picture offers nothing to place a frame by: a plain wall, a
// uniform frame. Its frames are paired where the mesh puts them.
inline constexpr double kMinStructure = 1.5;

enum class FrameVerdict {
    Agrees,       // paired at its registered place
    MovedTooFar,  // it agrees with the background further than the drift followed
    Unlike        // it agrees with the background nowhere near
};

// Where a frame really lies on the background, near where the mesh puts it.
struct FrameRegistration {
    // Added to every place the mesh gives, in background pixels (turned as
    // the area points measure it); 0 when under half a pixel.
    BackgroundPoint shift;
    // The correlation of the two pictures' fine structure there (-1..1).
    double agreement = 1.0;
    // False when either picture had too little structure to tell.
    bool measured = false;
    FrameVerdict verdict = FrameVerdict::Agrees;
};

// Registers the frame drawn through the mesh against the background under
// it: both reduced to at most 128 by 128 grey cells, the shift found by
// phase correlation within kMaxDriftShare (to a fraction of a cell by a
// parabola through the peak), then judged by kMinAgreement.
FrameRegistration register_frame(const Frame& frame, const CorrectionGrid& grid,
                                 const MatchBackground& background);

// How one frame is paired: at its registered place, and brought to the
// reference light by its light gains (see light_tracking.hpp) first.
struct FramePlacement {
    BackgroundPoint shift;
    LightGains light;
};

// What one or more frames paired: per quadrant of the mesh, curve (one in
// brightness mode, red, green, blue in colour mode), video and target
// level, the pixels' weights toward the quadrant's four corners.
class MatchStatistics {
public:
    explicit MatchStatistics(CorrectionMode mode);
    ~MatchStatistics();
    MatchStatistics(MatchStatistics&&) noexcept;
    MatchStatistics& operator=(MatchStatistics&&) noexcept;

    CorrectionMode mode() const { return mode_; }
    int curve_count() const { return mode_ == CorrectionMode::Colour ? kChannelCount : 1; }

    // Pairs every pixel of the frame (as drawn: positions x / (W - 1),
    // y / (H - 1) through the grid's area points) with the background pixel
    // under it, leaving out clipped pixels, pixels on strong edges and the
    // outer pixels of either picture, which lack a neighbour for that test.
    // The colour mode also leaves out channels near clipping and the same
    // channel of their neighbours (kNearClippedFrom). The placement shifts
    // every place the mesh gives.
    void add_frame(const Frame& frame, const CorrectionGrid& grid,
                   const MatchBackground& background, const FramePlacement& placement = {});

    // Frame pixels that landed on the background, paired or left out.
    std::int64_t landed() const { return landed_; }
    // Pixels (or, in colour mode, channels) paired.
    std::int64_t paired() const { return paired_; }
    // Pixels paired (in either mode).
    std::int64_t paired_pixels() const { return paired_pixels_; }
    // Landed pixels off strong edges left out as clipped (in colour mode:
    // all three channels near clipping).
    std::int64_t clipped() const { return clipped_; }
    // The frames' pixels, and those of them that are dark (kDarkBelow).
    std::int64_t frame_pixels() const { return frame_pixels_; }
    std::int64_t dark() const { return dark_; }

    // The robust value of each video level of a grid point's curve (channel
    // in colour mode) with enough weight, and in `total` the weight of all.
    std::vector<LevelValue> levels(int point, int curve, double& total) const;
    // Per grid point the marginals of a curve's pixels weighted toward the
    // point, their targets moved as if each pixel lay at the point: by how
    // much the points' level medians (blended as the correction blends)
    // change from the pixel's place to the point's at its video level. A
    // point's pixels spread over two cells each way, and light that
    // changes across them would widen the targets' spread, and the curve
    // mapped onto it would sharpen the clip's texture and noise.
    std::array<LevelMarginals, kGridPointCount> point_marginals(int curve) const;

    struct Cells;  // the pairs' weights; its layout is the pairing's own

private:
    CorrectionMode mode_;
    std::unique_ptr<Cells> cells_;
    std::int64_t landed_ = 0;
    std::int64_t paired_ = 0;
    std::int64_t paired_pixels_ = 0;
    std::int64_t clipped_ = 0;
    std::int64_t frame_pixels_ = 0;
    std::int64_t dark_ = 0;
};

// The grid in the statistics' mode (chosen as set_correction_mode does)
// with that mode's curves refitted where enough pixels were paired (the
// others keep their pairs) and every table rebuilt; `fitted` counts the
// curves replaced.
struct MatchResult {
    CorrectionGrid grid;
    int fitted = 0;
};
MatchResult fit_matched_curves(const CorrectionGrid& grid, const MatchStatistics& statistics);

// Why a match changed nothing.
enum class MatchProblem {
    None,
    NoBackground,
    NoClip,
    FramesTooSmall,  // every frame is less than 2 by 2 pixels
    FrameUnreadable,
    ForeignFrames,  // the working folder's frames are another clip's
    FrameOffBackground,
    TooFewPixels,
    TooDark,         // kUnmeasurableShare of the pixels dark
    TooClipped,      // kUnmeasurableShare of the pixels clipped
    FramesDisagree,  // no frame agrees with the background under the mesh
    OneFrameRange,   // several frames asked for over a range of one
    NotEnoughMemory,  // a mesh spread over a huge panorama, say
    Cancelled
};

struct MatchOutcome {
    MatchProblem problem = MatchProblem::None;
    MatchResult result;       // with MatchProblem::None
    std::string frame_error;  // with FrameUnreadable: which frame, and why
    // Each frame's registration, in the order read (frames too small to
    // pair have none).
    std::vector<FrameRegistration> registrations;
};

// How many of the registrations have this verdict.
int count_frames(const std::vector<FrameRegistration>& registrations, FrameVerdict verdict);

// Hands the match its frames one at a time (index 0 to count - 1), so that
// its memory does not grow with their number.
using MatchFrameSource = std::function<Result<Frame>(int index)>;

// Matches the grid's curves in `mode` over `count` frames against the
// background: one step from the grid before to the grid after. Each frame
// is registered first and paired at its place; frames that do not agree
// are left out. keep_running is asked before each frame; false ends the
// match with Cancelled. light(index), when given, brings frame index to the
// reference light before it is paired.
using MatchFrameLight = std::function<LightGains(int index)>;
MatchOutcome match_colours(const CorrectionGrid& grid, CorrectionMode mode, int count,
                           const MatchFrameSource& frames, const MatchBackground& background,
                           const std::function<bool()>& keep_running = {},
                           const MatchFrameLight& light = {});
// The same over frames at hand.
MatchOutcome match_colours(const CorrectionGrid& grid, CorrectionMode mode,
                           std::span<const Frame> frames, const MatchBackground& background);

}  // namespace tintora
