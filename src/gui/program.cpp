#include "gui/program.hpp"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QScopeGuard>
#include <new>
#include <optional>

#include "core/project/project_changes.hpp"
#include "core/settings/texts.hpp"
#include "core/video/panorama_playback.hpp"
#include "gui/dialogs/about_box.hpp"
#include "gui/dialogs/options_dialog.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/video/progress_dialog.hpp"
#include "gui/video/video_window.hpp"

namespace tintora {
namespace {

// Telephone country code of the user's territory, as far as the language
// rule needs it: Russia and Kazakhstan share code 7.
int country_code_of(QLocale::Territory territory) {
    return territory == QLocale::Russia || territory == QLocale::Kazakhstan ? 7 : 0;
}

}  // namespace

SettingsEnvironment system_settings_environment(const QString& program_dir) {
    SettingsEnvironment environment;
    environment.program_dir = program_dir.toStdString();
    environment.country_code = country_code_of(QLocale::system().territory());
    environment.search_path = qEnvironmentVariable("PATH").toStdString();
    return environment;
}

Program::Program(const SettingsEnvironment& environment)
    : settings_(load_settings(environment)),
      history_([this] { return EditSnapshot{grid_}; },
               [this](const EditSnapshot& snapshot) { restore_edit(snapshot); }) {
    // The grid starts with identity tables and no pairs, the clipboard
    // empty, no video and no background: the members' initial state.
    main_window_ = std::make_unique<MainWindow>(*this);
    video_window_ = std::make_unique<VideoWindow>(*this, main_window_.get());
    palette_window_ = std::make_unique<PaletteWindow>(*this, main_window_.get());
    progress_dialog_ = std::make_unique<ProgressDialog>(main_window_.get());
    about_box_ = std::make_unique<AboutBox>(*this, main_window_.get());
    options_dialog_ = std::make_unique<OptionsDialog>(*this, main_window_.get());
    // Curves are edited in the palette: its keys undo and redo too.
    palette_window_->addActions(main_window_->undo_redo_actions());
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
        const bool same_overlay = overlay_composed_ && generation == composed_generation_;
        std::optional<CorrectionGrid> before_correction;
        if (main_window_->shows_uncorrected()) before_correction = uncorrected(grid_);
        const CorrectionGrid& shown = before_correction ? *before_correction : grid_;
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

void Program::save_settings_or_warn() {
    const Status saved = save_settings(settings_);
    if (saved) return;
    QMessageBox::warning(
        main_window_.get(), QStringLiteral("Tintora"),
        QString::fromUtf8(message_text(message_texts::kCantWriteIni, settings_.language)) +
            QStringLiteral("\n") + QString::fromStdString(saved.error()));
}

}  // namespace tintora
