#include "gui/hints.hpp"

#include <QWidget>
#include <utility>

#include "core/settings/tooltip_texts.hpp"

namespace tintora {
namespace {

std::vector<Hint> find_hints(const QWidget& window,
                             std::initializer_list<std::pair<const char*, TextPair>> named) {
    std::vector<Hint> hints;
    for (const auto& [name, text] : named) {
        if (auto* control = window.findChild<QWidget*>(QString::fromLatin1(name))) {
            hints.push_back({control, text});
        }
    }
    return hints;
}

}  // namespace

std::vector<Hint> main_window_hints(const QWidget& window) {
    using namespace main_tooltips;
    return find_hints(window, {{"rotationList", kRotation},
                               {"scaleList", kScale},
                               {"densityList", kDensity},
                               {"hideFrameBox", kHideFrame},
                               {"gridThumbnail", kThumbnail},
                               {"refreshButton", kRefresh},
                               {"defaultButton", kDefaultLayout}});
}

std::vector<Hint> video_window_hints(const QWidget& window) {
    using namespace video_tooltips;
    // The volume field keeps its own hint, "1-256", in both languages.
    return find_hints(window, {{"startButton", kStart},
                               {"beginButton", kBegin},
                               {"previousButton", kPrevious},
                               {"playButton", kPlay},
                               {"nextButton", kNext},
                               {"endButton", kEnd},
                               {"stopButton", kStop},
                               {"rotation0Button", kRotation},
                               {"rotation90Button", kRotation},
                               {"rotation180Button", kRotation},
                               {"rotation270Button", kRotation},
                               {"cutXField", kCutX},
                               {"cutYField", kCutY},
                               {"cutWidthField", kCutWidth},
                               {"cutHeightField", kCutHeight},
                               {"mirrorHorizontallyBox", kMirrorHorizontally},
                               {"mirrorVerticallyBox", kMirrorVertically},
                               {"resampleList", kResampleList},
                               {"resampleWidthField", kResampleWidth},
                               {"resampleHeightField", kResampleHeight},
                               {"colorTransformationList", kColorTransformation},
                               {"pingPongBox", kPingPong},
                               {"staticFrameField", kStaticFrame},
                               {"countField", kCount},
                               {"startFrameField", kStartFrame},
                               {"stopFrameField", kStopFrame},
                               {"outputFpsField", kOutputFps},
                               {"videoBitrateList", kVideoBitrate},
                               {"channelsList", kChannels},
                               {"rateList", kRate},
                               {"audioBitrateList", kAudioBitrate},
                               {"posterImageBox", kPosterImage},
                               {"inputFpsField", kInputFps}});
}

}  // namespace tintora
