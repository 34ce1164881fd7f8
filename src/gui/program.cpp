#include "gui/program.hpp"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QLocale>
#include <QMessageBox>
#include <QScopeGuard>
#include <QScreen>
#include <functional>
#include <new>
#include <optional>
#include <utility>

#include "core/project/project_changes.hpp"
#include "core/settings/texts.hpp"
#include "core/video/light_following.hpp"
#include "core/video/panorama_playback.hpp"
#include "core/viewer/camera_warp.hpp"
#include "gui/dialogs/about_box.hpp"
#include "gui/dialogs/hotspot_placement_window.hpp"
#include "gui/dialogs/options_dialog.hpp"
#include "gui/light_pass_progress.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/video/progress_dialog.hpp"
#include "gui/video/video_window.hpp"
#include "gui/window_geometry.hpp"

namespace tintora {
namespace {

// Telephone country code of the user's territory, as far as the language
// rule needs it: Russia and Kazakhstan share code 7.
int country_code_of(QLocale::Territory territory) {
    return territory == QLocale::Russia || territory == QLocale::Kazakhstan ? 7 : 0;
}

// The least inside each placed window is still of use with, so that a small
// screen makes the windows smaller before they overlap: the main window's
// panel beside some of the picture, the palette's buttons under some of its
// graph, the video window's row of buttons over a small view.
constexpr std::array<ScreenSize, kPlacedWindowCount> kLeastInsides{
    ScreenSize{480, 480}, ScreenSize{560, 260}, ScreenSize{780, 380}};

// Runs an action once, when the watched window is first shown, just before
// the window system shows it.
class OnFirstShow : public QObject {
public:
    OnFirstShow(QWidget& window, std::function<void()> action)
        : QObject(&window), action_(std::move(action)) {
        window.installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && action_) {
            watched->removeEventFilter(this);
            std::exchange(action_, {})();
        }
        return false;
    }

private:
    std::function<void()> action_;
};

}  // namespace

SettingsEnvironment system_settings_environment(const QString& program_dir) {
    SettingsEnvironment environment;
    environment.program_dir = program_dir.toStdString();
    environment.country_code = country_code_of(QLocale::system().territory());
    environment.search_path = qEnvironmentVariable("PATH").toStdString();
    return environment;
}

Screens screens_of_this_display() {
    Screens screens;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        screens.primary = to_screen_rect(primary->availableGeometry());
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        screens.all.push_back(to_screen_rect(screen->availableGeometry()));
    }
    return screens;
}

Program::Program(const SettingsEnvironment& environment, const Screens& screens)
    : settings_(load_settings(environment)),
      window_places_(load_window_places(environment)),
      history_([this] { return EditSnapshot{grid_}; },
               [this](const EditSnapshot& snapshot) { restore_edit(snapshot); }) {
    // The grid starts with identity tables and no pairs, the clipboard
    // empty, no video and no background: the members' initial state.
    // The composition draws, and matching pairs, by the project's mesh model.
    composition_.set_mesh_warp_maker(perspective_mesh_warp());
    main_window_ = std::make_unique<MainWindow>(*this);
    video_window_ = std::make_unique<VideoWindow>(*this, main_window_.get());
    palette_window_ = std::make_unique<PaletteWindow>(*this, main_window_.get());
    progress_dialog_ = std::make_unique<ProgressDialog>(main_window_.get());
    about_box_ = std::make_unique<AboutBox>(*this, main_window_.get());
    options_dialog_ = std::make_unique<OptionsDialog>(*this, main_window_.get());
    hotspot_placement_window_ = std::make_unique<HotspotPlacementWindow>(*this, main_window_.get());
    // Curves are edited in the palette: its keys undo, redo and play the
    // corrected clip in the panorama too.
    palette_window_->addActions(main_window_->undo_redo_actions());
    palette_window_->addAction(main_window_->findChild<QAction*>("playInPanoramaAction"));
    place_windows(screens);
    // The palette appears just before the main window, which so ends up the
    // active one.
    if (window_places_.palette_open.value_or(true)) {
        new OnFirstShow(*main_window_, [this] { palette_window_->show_near_owner(); });
    }
    mark_project_unmodified();
}

Program::~Program() = default;

void Program::recompose() {
    // A large panorama at a large scale takes a while: the cursor says so.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
    // Nothing may change under a picture being played: it stops first.
    main_window_->abort_playing();
    try {
        const VideoSession& video = video_workspace_.session();
        const Frame* overlay = video.FrameCount > 0 ? &video.result_picture : nullptr;
        // The workspace counts every change of its pictures: while the count
        // stands (a drag of the mesh, a curve edit), the frame need not be
        // compared again.
        const std::uint64_t generation = video_workspace_.picture_generation();
        bool same_overlay = overlay_composed_ && generation == composed_generation_;
        std::optional<CorrectionGrid> before_correction;
        if (main_window_->shows_uncorrected()) before_correction = uncorrected(grid_);
        // Following the light, the frame shown is corrected in the light the
        // curves were matched in, as the exports correct it.
        Frame lit_overlay;
        std::optional<CorrectionGrid> lit_grid;
        if (overlay != nullptr && !before_correction) {
            // A pass the user stopped leaves the frame in its own light,
            // with word why.
            const std::optional<QString> stopped =
                measure_followed_light(*this, main_window_.get());
            if (stopped) main_window_->show_status_message(*stopped);
            const std::shared_ptr<const LightTrack> track =
                stopped ? nullptr : followed_light(video_workspace_, settings_.work_dir);
            const LightGains gains =
                followed_gains(video_workspace_, track.get(), video.CurrentFrame);
            if (!gains.neutral()) {
                lit_overlay = *overlay;
                lit_grid = bring_to_light(lit_overlay, grid_, gains);
                overlay = &lit_overlay;
            }
            same_overlay = same_overlay && gains == composed_gains_;
            composed_gains_ = gains;
        }
        const CorrectionGrid& shown = before_correction ? *before_correction
                                      : lit_grid        ? *lit_grid
                                                        : grid_;
        if (same_overlay) {
            composition_.compose_same_overlay(shown, overlay);
        } else {
            composition_.compose(shown, overlay);
        }
        composed_generation_ = generation;
        overlay_composed_ = true;
    } catch (const std::bad_alloc&) {
        // A large panorama at a large scale may not fit; the last picture stays.
        QMessageBox::warning(
            main_window_.get(), QStringLiteral("Tintora"),
            QString::fromUtf8(message_text(message_texts::kPictureTooLarge, settings_.language)));
    }
    main_window_->show_picture();
    // Made after the main window, whose first pictures come before it.
    if (hotspot_placement_window_) hotspot_placement_window_->project_changed();
}

void Program::set_video_result(Frame result_picture, int frame_count) {
    VideoSession& video = video_workspace_.session();
    video.result_picture = std::move(result_picture);
    video.FrameCount = frame_count;
    overlay_composed_ = false;
    recompose();
}

void Program::restore_edit(const EditSnapshot& snapshot) {
    grid_ = snapshot.grid;
    main_window_->show_current_point();
    palette_window_->redraw_graph();
    recompose();
}

QString Program::edit_label(const TextPair& label) const {
    return QString::fromUtf8(main_window_text(label, settings_.language));
}

bool Program::project_modified() const {
    return project_content(composition_, grid_, video_workspace_) != unmodified_content_;
}

void Program::mark_project_unmodified() {
    unmodified_content_ = project_content(composition_, grid_, video_workspace_);
}

std::array<QWidget*, kPlacedWindowCount> Program::placed_windows() const {
    return {main_window_.get(), palette_window_.get(), video_window_.get()};
}

void Program::place_windows(const Screens& screens) {
    const std::array<QWidget*, kPlacedWindowCount> windows = placed_windows();
    std::array<WindowToPlace, kPlacedWindowCount> sizes;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        sizes[i] = {to_screen_size(windows[i]->size()), kLeastInsides[i],
                    to_screen_size(frame_extra(*windows[i]))};
    }
    const std::array<WindowPlace, kPlacedWindowCount> places =
        start_places(window_places_, sizes, screens);
    for (std::size_t i = 0; i < windows.size(); ++i) {
        windows[i]->resize(places[i].width, places[i].height);
        windows[i]->move(places[i].x, places[i].y);
    }
}

void Program::remember_window_places() {
    const std::array<QWidget*, kPlacedWindowCount> windows = placed_windows();
    for (std::size_t i = 0; i < windows.size(); ++i) {
        // A maximised or minimised window keeps the place it had before.
        if (windows[i]->windowState() != Qt::WindowNoState) continue;
        const QPoint corner = windows[i]->pos();
        window_places_.windows[i] =
            WindowPlace{corner.x(), corner.y(), windows[i]->width(), windows[i]->height()};
    }
    window_places_.palette_open = palette_window_->isVisible();
}

void Program::save_settings_or_warn() {
    remember_window_places();
    const Status saved = save_settings(settings_, window_places_);
    if (saved) return;
    QMessageBox::warning(
        main_window_.get(), QStringLiteral("Tintora"),
        QString::fromUtf8(message_text(message_texts::kCantWriteIni, settings_.language)) +
            QStringLiteral("\n") + QString::fromStdString(saved.error()));
}

}  // namespace tintora
