#include "gui/main_window/panorama_player.hpp"

#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>

#include "core/video/panorama_playback.hpp"
#include "gui/light_pass_progress.hpp"
#include "gui/main_window/composition_view.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/program.hpp"
#include "gui/video/video_window.hpp"

namespace tintora {

PanoramaPlayer::PanoramaPlayer(Program& program, QWidget& main_window, CompositionView& view,
                               QScrollArea& scroll_box)
    : QObject(&main_window),
      program_(program),
      main_window_(main_window),
      view_(view),
      scroll_box_(scroll_box) {
    // Pictures are taken as they fall due: look several times a frame.
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(4);
    connect(&timer_, &QTimer::timeout, this, &PanoramaPlayer::show_due_picture);
    qApp->installEventFilter(this);
}

PanoramaPlayer::~PanoramaPlayer() = default;

PanoramaPlayer::Start PanoramaPlayer::play() {
    if (playback_) return Start::Playing;
    const Composition& composition = program_.composition();
    const VideoWorkspace& workspace = program_.video_workspace();
    if (!composition.background_loaded()) return Start::NoBackground;
    if (workspace.session().FrameCount < 1) return Start::NoClip;
    if (const std::optional<QString> stopped = measure_followed_light(program_, &main_window_)) {
        QMessageBox::warning(&main_window_, QStringLiteral("Tintora"), *stopped);
        return Start::LightStopped;
    }
    // The part of the picture the scroll box shows.
    const QWidget* viewport = scroll_box_.viewport();
    PlaybackJob job = playback_job(
        composition, workspace, program_.grid(), program_.settings().work_dir,
        scroll_box_.horizontalScrollBar()->value(), scroll_box_.verticalScrollBar()->value(),
        viewport->width(), viewport->height());
    if (job.frames.empty()) return Start::NothingToPlay;
    shown_frame_ = 0;
    playback_ = std::make_unique<PanoramaPlayback>(composition, std::move(job), !uncorrected_);
    timer_.start();
    return Start::Playing;
}

void PanoramaPlayer::stop() {
    if (!playback_) return;
    const int frame = shown_frame_;
    playback_.reset();
    timer_.stop();
    if (frame > 0) {
        // The video window moves to the frame; its redraw recomposes the
        // still picture, the same pixels as the one played.
        program_.video_workspace().move_slider(frame);
        program_.video_window().refresh_from_workspace();
    }
    view_.clear_played();
}

void PanoramaPlayer::abort() {
    if (!playback_) return;
    playback_.reset();
    timer_.stop();
    view_.clear_played();
}

void PanoramaPlayer::show_due_picture() {
    if (!playback_) return;
    std::optional<PlayedPicture> due = playback_->take_due();
    if (!due) return;
    shown_frame_ = due->frame;
    if (std::optional<Frame> shown = view_.show_played(std::move(due->picture), due->origin)) {
        playback_->recycle(std::move(*shown));
    }
}

void PanoramaPlayer::set_uncorrected(bool uncorrected) {
    if (uncorrected_ == uncorrected) return;
    uncorrected_ = uncorrected;
    if (playback_) {
        playback_->set_corrected(!uncorrected);
    } else {
        program_.recompose();
    }
}

bool PanoramaPlayer::in_main_window(QObject* watched) const {
    if (!watched->isWidgetType()) return false;
    const QWidget* window = static_cast<QWidget*>(watched)->window();
    // The palette's curves are judged before and after there too.
    return window == &main_window_ || qobject_cast<const PaletteWindow*>(window) != nullptr;
}

bool PanoramaPlayer::eventFilter(QObject* watched, QEvent* event) {
    // Widgets only: the window system's window sees each event first.
    if (!watched->isWidgetType()) return false;
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease: {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_B && key->modifiers() == Qt::NoModifier &&
                in_main_window(watched)) {
                if (!key->isAutoRepeat()) set_uncorrected(event->type() == QEvent::KeyPress);
                return true;
            }
            if (playback_ && event->type() == QEvent::KeyPress) {
                stop();
                return true;
            }
            return false;
        }
        case QEvent::ShortcutOverride:
            // While playing a key only stops: no shortcut runs with it.
            if (playback_) {
                event->accept();
                return true;
            }
            return false;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
            if (playback_) {
                stop();
                return true;
            }
            return false;
        case QEvent::Wheel:
            // The picture scrolls: the played part no longer fits it.
            if (playback_) stop();
            return false;
        case QEvent::WindowDeactivate:
            // B let go in another window must not leave the picture uncorrected.
            if (watched == &main_window_) set_uncorrected(false);
            return false;
        default:
            return false;
    }
}

}  // namespace tintora
