#include "gui/video/video_window.hpp"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QFileDialog>
#include <QFocusEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollArea>
#include <QSlider>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>
#include <functional>

#include "core/settings/tooltip_texts.hpp"
#include "core/video/processing_run.hpp"
#include "core/video/video_export.hpp"
#include "core/video/video_layout.hpp"
#include "core/video/video_texts.hpp"
#include "core/video/video_workspace.hpp"
#include "core/viewer/hotspot_export.hpp"
#include "core/viewer/viewer_texts.hpp"
#include "gui/hints.hpp"
#include "gui/light_pass_progress.hpp"
#include "gui/program.hpp"
#include "gui/video/frame_view.hpp"
#include "gui/video/import_progress_dialog.hpp"
#include "gui/video/progress_dialog.hpp"
#include "gui/window_geometry.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

template <std::size_t N>
QComboBox* make_list(QWidget* parent, const char* name,
                     const std::array<std::string_view, N>& items) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    for (const std::string_view item : items) list->addItem(to_qstring(item));
    return list;
}

void set_text_quietly(QLineEdit* field, const std::string& text) {
    const QString wanted = QString::fromStdString(text);
    if (field->text() != wanted) field->setText(wanted);
}

void set_index_quietly(QComboBox* list, int index) {
    const QSignalBlocker quiet(list);
    list->setCurrentIndex(index);
}

void set_checked_quietly(QAbstractButton* button, bool checked) {
    const QSignalBlocker quiet(button);
    button->setChecked(checked);
}

// A run's new log lines and progress in its dialog.
void show_run_events(ProgressDialog& dialog, const std::vector<RunEvent>& events,
                     std::string_view language) {
    for (const RunEvent& event : events) {
        if (!event.log_line.empty()) dialog.append_log(QString::fromStdString(event.log_line));
        if (event.stage == RunStage::Encoding) {
            // The second stage: frames encoded of frames expected.
            dialog.set_progress_range(event.total);
            dialog.set_progress(event.progress);
            dialog.set_stage_text(QString::fromStdString(
                fill_in(message_text(message_texts::kEncodingStage, language),
                        {std::to_string(std::min(event.progress, event.total)),
                         std::to_string(event.total)})));
        } else if (event.progress >= 0) {
            dialog.set_progress(event.progress);
        }
    }
}

}  // namespace

VideoWindow::VideoWindow(Program& program, QWidget* owner)
    : QMainWindow(owner, Qt::Window), program_(program), workspace_(program.video_workspace()) {
    setObjectName(QStringLiteral("videoWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setFont(QFont(QStringLiteral("Tahoma"), 8));

    auto* client = new QWidget(this);
    setCentralWidget(client);
    build_file_menu();
    build_edit_menu();
    pages_ = new QTabWidget(client);
    build_pages();
    build_navigation(client);
    build_status_bar();

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &VideoWindow::follow_program_state);
    timer_->start();
    // The processing run works on threads of its own; this timer only shows
    // its progress and ends it on the window's thread.
    run_timer_ = new QTimer(this);
    run_timer_->setInterval(100);
    connect(run_timer_, &QTimer::timeout, this, &VideoWindow::follow_run);
    run_timer_->start();

    hints_ = video_window_hints(*this);
    hints_.push_back({quality_list_, video_tooltips::kQuality});
    resize(980, 700);
    place_controls();
    follow_program_state();
    show_state();
}

// A run still going when the program ends is stopped; its finished frames stay.
VideoWindow::~VideoWindow() = default;

// -------------- window frame: layout, status bar, the state shown, language

void VideoWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    place_controls();
}

void VideoWindow::place_controls() {
    if (pages_ == nullptr) return;
    const QSize outer = outer_size(*this);
    const VideoLayout layout = video_layout(outer.width(), outer.height());
    const auto place = [](QWidget* widget, const PixelRect& r) {
        widget->setGeometry(r.left, r.top, std::max(r.width, 0), std::max(r.height, 0));
    };
    place(pages_, layout.pages);
    const QSize view(std::max(layout.view_width, 0), std::max(layout.view_height, 0));
    source_view_->setGeometry(QRect(QPoint(2, 2), view));
    result_view_->setGeometry(QRect(QPoint(2, 2), view));
    workspace_.set_view_size(view.width(), view.height());
    place(track_, layout.track);
    button_group_->move(layout.buttons_left, layout.buttons_top);
    workspace_.draw_selection();
    show_state();
    draw_selected_frames();
}

void VideoWindow::build_status_bar() {
    QStatusBar* bar = statusBar();
    constexpr int kWidths[5] = {200, 250, 250, 200, 50};
    for (int i = 0; i < 5; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("statusPanel%1").arg(i));
        // Full width when the window has room; narrower (clipped, never
        // overlapping the next panel) when it has not.
        panel->setMinimumWidth(1);
        panel->setMaximumWidth(kWidths[i]);
        panel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        if (i < 4) panel->setAlignment(Qt::AlignCenter);
        bar->addWidget(panel, kWidths[i]);
        status_panels_[static_cast<std::size_t>(i)] = panel;
    }
}

void VideoWindow::show_state() {
    showing_state_ = true;
    const VideoSession& session = workspace_.session();
    const VideoParameters& parameters = workspace_.parameters();

    setWindowTitle(QString::fromStdString(workspace_.caption()));
    for (int i = 0; i < kParameterFieldCount; ++i) {
        set_text_quietly(fields_[static_cast<std::size_t>(i)],
                         parameters.texts[static_cast<std::size_t>(i)]);
    }
    set_checked_quietly(rotation_buttons_[static_cast<std::size_t>(parameters.rotation_index)],
                        true);
    set_checked_quietly(mirror_horizontally_box_, parameters.mirror_horizontally);
    set_checked_quietly(mirror_vertically_box_, parameters.mirror_vertically);
    set_checked_quietly(ping_pong_box_, parameters.ping_pong);
    set_index_quietly(resample_list_, parameters.resample_index);
    set_index_quietly(color_list_, parameters.color_transformation_index);
    set_index_quietly(video_bitrate_list_, parameters.video_bitrate_index);
    set_index_quietly(channels_list_, parameters.channels_index);
    set_index_quietly(rate_list_, parameters.rate_index);
    set_index_quietly(audio_bitrate_list_, parameters.audio_bitrate_index);
    set_checked_quietly(poster_box_, parameters.poster_image);
    set_index_quietly(quality_list_, parameters.quality_index);

    track_->setRange(1, std::max(session.track_maximum, 1));
    track_->setValue(session.track_position);
    pages_->setCurrentIndex(workspace_.active_tab());
    for (int i = 0; i < kStatusPanelCount; ++i) {
        status_panels_[static_cast<std::size_t>(i)]->setText(
            QString::fromStdString(workspace_.status_panel(i)));
    }
    source_view_->refresh(workspace_.picture_generation());
    result_view_->refresh(workspace_.picture_generation());
    if (workspace_.picture_generation() != shown_generation_) {
        shown_generation_ = workspace_.picture_generation();
        // The main window draws the result picture onto the background.
        program_.recompose();
    }
    showing_state_ = false;
}

void VideoWindow::refresh_from_workspace() {
    show_state();
    draw_selected_frames();
}

void VideoWindow::follow_program_state() {
    player_.running();  // reaps a player that has been closed
    if (program_.settings().language != applied_language_) {
        applied_language_ = program_.settings().language;
        apply_language();
    }
}

void VideoWindow::apply_language() {
    const bool russian = applied_language_ != "eng";
    apply_captions(captions_, russian);
    apply_hints(hints_, russian);
    give_mnemonics(menuBar());
    const TextPair* tab_texts[3] = {&video_texts::kSourcePage, &video_texts::kResultPage,
                                    &video_texts::kParametersPage};
    for (int i = 0; i < 3; ++i) {
        pages_->setTabText(i, to_qstring(russian ? tab_texts[i]->rus : tab_texts[i]->eng));
    }
    for (int i = 0; i < quality_list_->count(); ++i) {
        const TextPair& item = video_texts::kQualityChoices[static_cast<std::size_t>(i)];
        quality_list_->setItemText(i, to_qstring(russian ? item.rus : item.eng));
    }
}

QMenu* VideoWindow::add_menu(const TextPair& text, const char* name) {
    QMenu* menu = menuBar()->addMenu(QString());
    menu->setObjectName(QString::fromLatin1(name));
    captions_.push_back({menu, text});
    return menu;
}

QAction* VideoWindow::add_item(QMenu* menu, const TextPair& text, const char* name) {
    QAction* action = menu->addAction(QString());
    action->setObjectName(QString::fromLatin1(name));
    captions_.push_back({action, text});
    return action;
}

// ------------------------- File menu: open video, the exports and their run

void VideoWindow::build_file_menu() {
    using namespace video_texts;
    QMenu* file = add_menu(kFileMenu, "videoFileMenu");
    connect(add_item(file, kOpenVideo, "openVideoFileAction"), &QAction::triggered, this,
            &VideoWindow::open_video);
    connect(add_item(file, kSaveFlv, "saveFlvAction"), &QAction::triggered, this,
            &VideoWindow::save_video);
    connect(add_item(file, kSaveVideoAs, "saveVideoAsAction"), &QAction::triggered, this,
            &VideoWindow::save_video_as);
    connect(add_item(file, viewer_texts::kSaveHotspot, "saveHotspotAction"), &QAction::triggered,
            this, &VideoWindow::save_hotspot);
    connect(add_item(file, kSaveJpegSequence, "saveJpegSequenceAction"), &QAction::triggered, this,
            &VideoWindow::save_jpeg_sequence);
    connect(add_item(file, kSaveWav, "saveWavAction"), &QAction::triggered, this,
            &VideoWindow::save_wav);
}

void VideoWindow::open_video() {
    if (run_in_progress()) return;
    // The dialog starts at the clip opened last.
    const QString path = QFileDialog::getOpenFileName(
        this, QString(), QString::fromStdString(workspace_.session().clip_path.string()));
    if (!path.isEmpty()) open_video_file(path);
}

void VideoWindow::open_video_file(const QString& path) {
    if (run_in_progress()) return;
    const AppSettings& settings = program_.settings();
    const std::filesystem::path clip = path.toStdString();
    const ImportOutcome outcome =
        import_with_progress(this, settings.ffmpeg_path, clip, settings.work_dir,
                             settings.language, workspace_.work_dir_lock());
    const bool rate_found = workspace_.finish_import(clip, outcome);
    show_state();
    draw_selected_frames();

    if (outcome.problem != ImportProblem::None) {
        tell(QString::fromStdString(import_problem_text(outcome, settings.language)));
    }
    if (!rate_found) {
        tell(to_qstring(message_text(message_texts::kUndefinedFps, settings.language)));
    }
}

bool VideoWindow::run_in_progress() {
    if (!run_) return false;
    // One run at a time: its dialog comes back instead of a second one.
    program_.progress_dialog().exec();
    return true;
}

bool VideoWindow::clip_open_or_tell(const TextPair& message) {
    if (workspace_.session().FrameCount >= 1) return true;
    QMessageBox::information(this, QStringLiteral("Tintora"),
                             to_qstring(message_text(message, program_.settings().language)));
    return false;
}

std::optional<std::filesystem::path> VideoWindow::ask_export_name(const TextPair& needs_clip,
                                                                  const QString& filters,
                                                                  QString* selected_filter) {
    if (run_in_progress() || !clip_open_or_tell(needs_clip)) return std::nullopt;
    VideoSession& session = workspace_.session();
    const QString chosen = QFileDialog::getSaveFileName(
        this, QString(), QString::fromStdString(session.save_path.string()), filters,
        selected_filter);
    if (chosen.isEmpty()) return std::nullopt;
    session.save_path = chosen.toStdString();
    return session.save_path;
}

void VideoWindow::tell(const QString& text) {
    QMessageBox::warning(this, QStringLiteral("Tintora"), text);
}

bool VideoWindow::light_measured() {
    const std::optional<QString> stopped = measure_followed_light(program_, this);
    if (stopped) tell(*stopped);
    return !stopped;
}

void VideoWindow::save_video() {
    const std::optional<std::filesystem::path> output =
        ask_export_name(message_texts::kOpenVideoBeforeSavingFlv,
                        QStringLiteral("Flash video (*.flv);;MP4 video (*.mp4);;All files (*)"));
    if (output) export_video_to(*output);
}

void VideoWindow::export_video_to(const std::filesystem::path& output) {
    if (!light_measured()) return;
    start_export(prepare_video_export(workspace_, program_.settings(), program_.grid(),
                                      program_.composition().background_path(), output),
                 1);
}

void VideoWindow::save_video_as() {
    using namespace video_texts;
    const std::pair<std::string_view, VideoFormat> filters[] = {{kMp4Filter, VideoFormat::Mp4},
                                                                {kWebMFilter, VideoFormat::WebM},
                                                                {kFlvFilter, VideoFormat::Flv}};
    QStringList texts;
    for (const auto& filter : filters) texts << to_qstring(filter.first);
    QString chosen = texts.front();
    const std::optional<std::filesystem::path> typed = ask_export_name(
        message_texts::kOpenVideoBeforeSavingFlv, texts.join(QStringLiteral(";;")), &chosen);
    if (!typed) return;
    VideoFormat format = VideoFormat::Mp4;
    for (const auto& filter : filters) {
        if (to_qstring(filter.first) == chosen) format = filter.second;
    }
    export_video_as(*typed, format);
}

void VideoWindow::export_video_as(const std::filesystem::path& typed, VideoFormat chosen_filter) {
    const std::optional<VideoTarget> target = video_target(typed, chosen_filter);
    if (!target) {
        return tell(QString::fromStdString(
            fill_in(message_text(message_texts::kUnknownVideoFormat, program_.settings().language),
                    {typed.filename().string()})));
    }
    if (!light_measured()) return;
    workspace_.session().save_path = target->output;  // with the extension it was given
    start_export(prepare_video_export_as(workspace_, program_.settings(), program_.grid(),
                                         program_.composition().background_path(), *target),
                 1);
}

void VideoWindow::save_hotspot() {
    const std::optional<std::filesystem::path> base = ask_export_name(
        message_texts::kOpenVideoBeforeSaving, to_qstring(viewer_texts::kHotspotFilter));
    if (base) export_hotspot_to(*base);
}

void VideoWindow::export_hotspot_to(const std::filesystem::path& base, bool finish_quietly) {
    if (!light_measured()) return;
    start_export(prepare_hotspot_export(workspace_, program_.settings(), program_.grid(),
                                        program_.composition(), base),
                 1, finish_quietly);
}

void VideoWindow::start_export(Result<RunJob> job, int mode, bool finish_quietly) {
    show_state();
    if (!job) return tell(QString::fromStdString(job.error()));
    start_run(std::move(job).value(), mode, finish_quietly);
}

void VideoWindow::save_jpeg_sequence() {
    const std::optional<std::filesystem::path> chosen =
        ask_export_name(message_texts::kOpenVideoBeforeSaving, QString());
    if (chosen) export_jpeg_sequence_to(*chosen);
}

void VideoWindow::export_jpeg_sequence_to(const std::filesystem::path& chosen) {
    if (!light_measured()) return;
    const std::string prefix = jpeg_sequence_prefix(chosen.string());
    workspace_.session().save_path = prefix;  // the dialog keeps the shortened name
    start_export(prepare_sequence_export(workspace_, program_.settings(), program_.grid(),
                                         program_.composition().background_path(), prefix),
                 2);
}

void VideoWindow::save_wav() {
    const std::optional<std::filesystem::path> output =
        ask_export_name(message_texts::kOpenVideoBeforeSaving, QString());
    if (output) export_wav_to(*output);
}

void VideoWindow::export_wav_to(const std::filesystem::path& output) {
    Result<RunJob> job = prepare_wav_export(workspace_, program_.settings(),
                                            program_.composition().background_path(), output);
    show_state();
    if (!job) return tell(QString::fromStdString(job.error()));
    // One command, no frames: the run's machinery gives it cancel and a
    // failure report; the window stays alive while the encoder works.
    ProcessingRun run(std::move(job).value(), 1);
    QProgressDialog waiting(this);
    waiting.setObjectName(QStringLiteral("wavProgressDialog"));
    waiting.setWindowModality(Qt::ApplicationModal);
    waiting.setRange(0, 0);
    waiting.setLabelText(QString::fromStdString(output.string()));
    connect(&waiting, &QProgressDialog::canceled, this, [&run] { run.cancel(); });
    QEventLoop loop;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        if (run.state() != ProcessingRun::State::Running) loop.quit();
    });
    poll.start(50);
    waiting.show();
    loop.exec();
    waiting.hide();
    tell_run_end(run.state(), run.failure(), /*finished_quietly=*/true);
}

void VideoWindow::tell_run_end(ProcessingRun::State state, const std::string& failure,
                               bool finished_quietly) {
    const std::string_view language = program_.settings().language;
    switch (state) {
        case ProcessingRun::State::Running:
            break;
        case ProcessingRun::State::Finished:
            if (!finished_quietly) {
                QMessageBox::information(
                    this, QStringLiteral("Tintora"),
                    to_qstring(message_text(message_texts::kOperationFinished, language)));
            }
            break;
        case ProcessingRun::State::Failed:
            tell(to_qstring(message_text(message_texts::kRunFailed, language)) +
                 QStringLiteral("\n\n") + QString::fromStdString(failure));
            break;
        case ProcessingRun::State::Cancelled:
            // The frames of a cancelled run need no word; an encoding the
            // user waited for does.
            QMessageBox::information(
                this, QStringLiteral("Tintora"),
                to_qstring(message_text(message_texts::kExportCancelled, language)));
            break;
    }
}

void VideoWindow::start_run(RunJob job, int mode, bool finish_quietly) {
    VideoSession& session = workspace_.session();
    ProgressDialog& dialog = program_.progress_dialog();
    dialog.set_progress_range(session.StopFrame - session.StartFrame);
    dialog.set_progress(0);
    dialog.set_stage_text(QString());
    run_ = std::make_unique<ProcessingRun>(std::move(job));
    run_finishes_quietly_ = finish_quietly;
    session.RunMode = mode;
    disconnect(&dialog, nullptr, this, nullptr);
    connect(&dialog, &ProgressDialog::cancel_requested, this, &VideoWindow::cancel_run);
    connect(&dialog, &ProgressDialog::close_requested, this,
            &VideoWindow::close_run_dialog_if_agreed);
    dialog.exec();
}

void VideoWindow::cancel_run() {
    if (!run_) return;
    run_->cancel();
    // The run may have ended on its own just before the cancel reached it:
    // its end is awaited, so the message tells what is on disk.
    ProgressDialog& dialog = program_.progress_dialog();
    const std::string_view language = program_.settings().language;
    ProcessingRun::State state = ProcessingRun::State::Running;
    while (state == ProcessingRun::State::Running) {
        // The state first: once the run has ended, the lines taken next are its last.
        state = run_->state();
        show_run_events(dialog, run_->wait_events(std::chrono::milliseconds(50)), language);
    }
    const bool encoding = run_->finishing();
    const std::string failure = close_run(state);
    if (state == ProcessingRun::State::Finished && encoding) {
        QMessageBox::information(
            this, QStringLiteral("Tintora"),
            to_qstring(message_text(message_texts::kExportAlreadyFinished, language)));
    } else if (state != ProcessingRun::State::Cancelled || encoding) {
        // Frames already in place stay and need no word; an encoding the
        // user waited for, a failure or a finished run do.
        tell_run_end(state, failure, false);
    }
}

void VideoWindow::close_run_dialog_if_agreed() {
    if (stop_run_if_agreed()) program_.progress_dialog().accept();
}

std::string VideoWindow::close_run(ProcessingRun::State state) {
    const std::string failure = run_->failure();
    run_.reset();
    workspace_.session().RunMode = 0;
    ProgressDialog& dialog = program_.progress_dialog();
    dialog.set_stage_text(QString());
    // Not close(): that is the user's close box, which asks.
    dialog.accept();
    if (state == ProcessingRun::State::Failed) dialog.append_log(QString::fromStdString(failure));
    return failure;
}

bool VideoWindow::stop_run_if_agreed() {
    if (!run_) return true;
    // Over the run's dialog when it shows: the question is about what it shows.
    ProgressDialog& dialog = program_.progress_dialog();
    QMessageBox question(
        QMessageBox::Question, QStringLiteral("Tintora"),
        to_qstring(message_text(message_texts::kStopRunQuestion, program_.settings().language)),
        QMessageBox::NoButton, dialog.isVisible() ? static_cast<QWidget*>(&dialog) : this);
    question.setObjectName(QStringLiteral("stopRunQuestion"));
    QPushButton* stop = question.addButton(
        to_qstring(message_text(message_texts::kStopRun, program_.settings().language)),
        QMessageBox::AcceptRole);
    question.addButton(to_qstring(message_text(video_texts::kCancel, program_.settings().language)),
                       QMessageBox::RejectRole);
    asking_to_stop_run_ = true;
    question.exec();
    asking_to_stop_run_ = false;
    if (question.clickedButton() != stop) return false;
    cancel_run();
    return true;
}

void VideoWindow::follow_run() {
    VideoSession& session = workspace_.session();
    if (!run_ || session.FrameBusy) return;
    session.FrameBusy = true;
    // The state first: once the run has ended, the lines taken next are its last.
    const ProcessingRun::State state = run_->state();
    show_run_events(program_.progress_dialog(), run_->take_events(), program_.settings().language);
    if (state != ProcessingRun::State::Running && !asking_to_stop_run_) {
        tell_run_end(state, close_run(state), run_finishes_quietly_);
    }
    session.FrameBusy = false;
}

// ----------------------- Edit menu: rotation, the range, the area selection

void VideoWindow::build_edit_menu() {
    using namespace video_texts;
    QMenu* edit = add_menu(kEditMenu, "videoEditMenu");
    const TextPair* rotate_texts[4] = {&kRotate0, &kRotate90, &kRotate180, &kRotate270};
    const char* rotate_names[4] = {"rotate0Action", "rotate90Action", "rotate180Action",
                                   "rotate270Action"};
    for (int i = 0; i < 4; ++i) {
        rotate_actions_[static_cast<std::size_t>(i)] =
            add_item(edit, *rotate_texts[i], rotate_names[i]);
        connect(rotate_actions_[static_cast<std::size_t>(i)], &QAction::triggered, this, [this, i] {
            workspace_.rotate_from_menu(i);
            show_state();
        });
    }
    edit->addSeparator();
    connect(add_item(edit, kSetStartFrame, "setStartFrameAction"), &QAction::triggered, this,
            [this] { mark_range_end(&VideoWorkspace::mark_start_frame); });
    connect(add_item(edit, kSetStopFrame, "setStopFrameAction"), &QAction::triggered, this,
            [this] { mark_range_end(&VideoWorkspace::mark_stop_frame); });
    connect(add_item(edit, kSelectAllFrames, "selectAllFramesAction"), &QAction::triggered, this,
            [this] { mark_range_end(&VideoWorkspace::select_all_frames); });
    edit->addSeparator();
    connect(add_item(edit, kClearArea, "clearAreaAction"), &QAction::triggered, this,
            [this] { run_and_show(&VideoWorkspace::clear_area_selection); });
}

void VideoWindow::run_and_show(void (VideoWorkspace::*operation)()) {
    (workspace_.*operation)();
    show_state();
}

// ------------------ Source and Result tabs: the views and the mouse on them

void VideoWindow::build_pages() {
    using namespace video_texts;
    pages_->setObjectName(QStringLiteral("videoPages"));
    // A click on a tab takes the focus first, so a field being edited is
    // left (and its rule applied) before the page changes.
    pages_->tabBar()->setFocusPolicy(Qt::StrongFocus);

    auto* source_page = new QWidget;
    source_view_ = new FrameView(source_page);
    source_view_->setObjectName(QStringLiteral("sourceView"));
    source_view_->set_picture(&workspace_.session().source_picture);
    source_view_->set_selection(&workspace_.selection());
    connect(source_view_, &FrameView::pressed, this, [this](int x, int y, Qt::MouseButton button) {
        workspace_.press_on_source(x, y, button == Qt::LeftButton);
        show_state();
    });
    connect(source_view_, &FrameView::moved, this, [this](int x, int y, Qt::MouseButtons buttons) {
        workspace_.move_on_source(x, y, buttons.testFlag(Qt::LeftButton));
        source_view_->setCursor(workspace_.drag_cursor_at(x, y) ? Qt::SizeAllCursor
                                                                : Qt::ArrowCursor);
        show_state();
    });
    connect(source_view_, &FrameView::released, this, [this](int x, int y, Qt::MouseButton button) {
        workspace_.release_on_source(x, y, button == Qt::LeftButton);
        show_state();
    });

    auto* result_page = new QWidget;
    result_view_ = new FrameView(result_page);
    result_view_->setObjectName(QStringLiteral("resultView"));
    result_view_->set_picture(&workspace_.session().result_picture);
    connect(result_view_, &FrameView::moved, this, [this](int x, int y, Qt::MouseButtons) {
        workspace_.move_on_result(x, y);
        show_state();
    });

    pages_->addTab(source_page, QString());
    pages_->addTab(result_page, QString());
    // Below the size its groups need, the page scrolls rather than squeezes.
    auto* parameters_scroll = new QScrollArea;
    parameters_scroll->setObjectName(QStringLiteral("parametersScroll"));
    parameters_scroll->setWidgetResizable(true);
    parameters_scroll->setFrameShape(QFrame::NoFrame);
    parameters_scroll->setWidget(build_parameters_page());
    pages_->addTab(parameters_scroll, QString());
    connect(pages_, &QTabWidget::currentChanged, this, [this](int index) {
        if (showing_state_) return;
        workspace_.change_tab(index);
        show_state();
    });
}

// ----------------------------- Parameters tab: fields left, lists and boxes

QWidget* VideoWindow::build_parameters_page() {
    using namespace video_texts;
    auto* page = new QWidget;
    auto* columns = new QGridLayout(page);
    VideoParameters& parameters = workspace_.parameters();

    const auto group = [this](const TextPair& title, const char* name) {
        auto* box = new QGroupBox;
        box->setObjectName(QString::fromLatin1(name));
        captions_.push_back({box, title});
        return box;
    };
    const auto label = [this](QWidget* parent, const TextPair* text, const char* fixed = nullptr) {
        auto* l = new QLabel(fixed != nullptr ? QString::fromLatin1(fixed) : QString(), parent);
        if (text != nullptr) captions_.push_back({l, *text});
        return l;
    };
    // A two-column grid of label and control rows inside a group.
    const auto rows = [](QGroupBox* box) {
        auto* grid = new QGridLayout(box);
        grid->setColumnStretch(1, 1);
        return grid;
    };
    const auto add_row = [](QGridLayout* grid, QWidget* left, QWidget* right) {
        const int row = grid->rowCount();
        grid->addWidget(left, row, 0);
        grid->addWidget(right, row, 1);
    };

    QGroupBox* rotate = group(kRotateGroup, "rotateGroup");
    auto* rotate_row = new QHBoxLayout(rotate);
    auto* rotate_choice = new QButtonGroup(this);
    for (int i = 0; i < 4; ++i) {
        auto* button = new QRadioButton(to_qstring(kRotationButtons[static_cast<std::size_t>(i)]));
        button->setObjectName(
            QStringLiteral("rotation%1Button").arg(kRotationAngles[static_cast<std::size_t>(i)]));
        rotate_choice->addButton(button, i);
        rotate_row->addWidget(button);
        rotation_buttons_[static_cast<std::size_t>(i)] = button;
    }
    // Choosing a button only takes effect at the next redraw.
    connect(rotate_choice, &QButtonGroup::idClicked, this,
            [&parameters](int id) { parameters.rotation_index = id; });

    QGroupBox* cut = group(kCutGroup, "cutGroup");
    QGridLayout* cut_rows = rows(cut);
    add_row(cut_rows, label(cut, nullptr, "X"), add_field(cut, Field::CutX, "cutXField"));
    add_row(cut_rows, label(cut, nullptr, "Y"), add_field(cut, Field::CutY, "cutYField"));
    add_row(cut_rows, label(cut, &kWidth), add_field(cut, Field::CutWidth, "cutWidthField"));
    add_row(cut_rows, label(cut, &kHeight), add_field(cut, Field::CutHeight, "cutHeightField"));

    QGroupBox* mirror = group(kMirrorGroup, "mirrorGroup");
    auto* mirror_column = new QVBoxLayout(mirror);
    mirror_horizontally_box_ = new QCheckBox(mirror);
    mirror_horizontally_box_->setObjectName(QStringLiteral("mirrorHorizontallyBox"));
    mirror_vertically_box_ = new QCheckBox(mirror);
    mirror_vertically_box_->setObjectName(QStringLiteral("mirrorVerticallyBox"));
    captions_.push_back({mirror_horizontally_box_, kHorizontally});
    captions_.push_back({mirror_vertically_box_, kVertically});
    mirror_column->addWidget(mirror_horizontally_box_);
    mirror_column->addWidget(mirror_vertically_box_);
    connect(mirror_horizontally_box_, &QCheckBox::toggled, this,
            [&parameters](bool on) { parameters.mirror_horizontally = on; });
    connect(mirror_vertically_box_, &QCheckBox::toggled, this,
            [&parameters](bool on) { parameters.mirror_vertically = on; });

    QGroupBox* resample = group(kResampleGroup, "resampleGroup");
    QGridLayout* resample_rows = rows(resample);
    resample_list_ = make_list(resample, "resampleList", kResampleItems);
    resample_rows->addWidget(resample_list_, 0, 0, 1, 2);
    add_row(resample_rows, label(resample, &kWidth),
            add_field(resample, Field::ResampleWidth, "resampleWidthField"));
    add_row(resample_rows, label(resample, &kHeight),
            add_field(resample, Field::ResampleHeight, "resampleHeightField"));
    connect(resample_list_, &QComboBox::activated, this, [this](int index) {
        workspace_.choose_resample_item(index);
        show_state();
    });

    QGroupBox* color = group(kColorGroup, "colorGroup");
    auto* color_column = new QVBoxLayout(color);
    color_list_ = make_list(color, "colorTransformationList", kColorTransformationItems);
    color_column->addWidget(color_list_);
    connect(color_list_, &QComboBox::currentIndexChanged, this,
            [&parameters](int index) { parameters.color_transformation_index = index; });

    QGroupBox* effects = group(kEffectsGroup, "effectsGroup");
    QGridLayout* effect_rows = rows(effects);
    ping_pong_box_ = new QCheckBox(effects);
    ping_pong_box_->setObjectName(QStringLiteral("pingPongBox"));
    captions_.push_back({ping_pong_box_, kPingPong});
    effect_rows->addWidget(ping_pong_box_, 0, 0, 1, 2);
    connect(ping_pong_box_, &QCheckBox::toggled, this,
            [&parameters](bool on) { parameters.ping_pong = on; });
    add_row(effect_rows, label(effects, &kStaticFrame),
            add_field(effects, Field::StaticFrame, "staticFrameField"));
    add_row(effect_rows, label(effects, &kCount), add_field(effects, Field::Count, "countField"));

    QGroupBox* output = group(kOutputGroup, "outputGroup");
    QGridLayout* output_rows = rows(output);
    add_row(output_rows, label(output, &kStartFrame),
            add_field(output, Field::StartFrame, "startFrameField"));
    add_row(output_rows, label(output, &kStopFrame),
            add_field(output, Field::StopFrame, "stopFrameField"));
    add_row(output_rows, label(output, &kFps),
            add_field(output, Field::OutputFps, "outputFpsField"));
    video_bitrate_list_ = make_list(output, "videoBitrateList", kVideoBitrateItems);
    add_row(output_rows, label(output, &kBitrate), video_bitrate_list_);
    channels_list_ = make_list(output, "channelsList", kChannelItems);
    add_row(output_rows, label(output, &kChannels), channels_list_);
    QLineEdit* volume = add_field(output, Field::Volume, "volumeField");
    volume->setToolTip(QStringLiteral("1-256"));
    add_row(output_rows, label(output, &kVolume), volume);
    rate_list_ = make_list(output, "rateList", kRateItems);
    add_row(output_rows, label(output, &kRate), rate_list_);
    audio_bitrate_list_ = make_list(output, "audioBitrateList", kAudioBitrateItems);
    add_row(output_rows, label(output, &kBitrate), audio_bitrate_list_);
    poster_box_ = new QCheckBox(output);
    poster_box_->setObjectName(QStringLiteral("posterImageBox"));
    captions_.push_back({poster_box_, kPosterImage});
    output_rows->addWidget(poster_box_, output_rows->rowCount(), 0, 1, 2);
    connect(poster_box_, &QCheckBox::toggled, this,
            [&parameters](bool on) { parameters.poster_image = on; });
    // The items' texts follow the interface language; the list is as wide as
    // its longest, reaching into the labels' column.
    quality_list_ = new QComboBox(output);
    quality_list_->setObjectName(QStringLiteral("qualityList"));
    quality_list_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (std::size_t i = 0; i < kQualityChoices.size(); ++i) quality_list_->addItem(QString());
    auto* quality_row = new QHBoxLayout;
    quality_row->addWidget(label(output, &kQuality));
    quality_row->addStretch();
    quality_row->addWidget(quality_list_);
    output_rows->addLayout(quality_row, output_rows->rowCount(), 0, 1, 2);
    // Which lists each format follows: a note, quieter than the controls.
    QLabel* format_note = label(output, &kFormatNote);
    format_note->setObjectName(QStringLiteral("formatNote"));
    format_note->setWordWrap(true);
    format_note->setForegroundRole(QPalette::PlaceholderText);
    output_rows->addWidget(format_note, output_rows->rowCount(), 0, 1, 2);
    for (auto [list, member] :
         {std::pair{video_bitrate_list_, &VideoParameters::video_bitrate_index},
          std::pair{channels_list_, &VideoParameters::channels_index},
          std::pair{rate_list_, &VideoParameters::rate_index},
          std::pair{audio_bitrate_list_, &VideoParameters::audio_bitrate_index},
          std::pair{quality_list_, &VideoParameters::quality_index}}) {
        connect(list, &QComboBox::currentIndexChanged, this,
                [&parameters, member](int index) { parameters.*member = index; });
    }

    QGroupBox* input = group(kInputGroup, "inputGroup");
    QGridLayout* input_rows = rows(input);
    add_row(input_rows, label(input, &kFps), add_field(input, Field::InputFps, "inputFpsField"));

    columns->addWidget(rotate, 0, 0);
    columns->addWidget(cut, 1, 0);
    columns->addWidget(mirror, 2, 0);
    columns->addWidget(resample, 0, 1, 2, 1);
    columns->addWidget(color, 2, 1);
    columns->addWidget(effects, 3, 1);
    columns->addWidget(output, 0, 2, 3, 1);
    columns->addWidget(input, 3, 2);
    columns->setRowStretch(4, 1);
    return page;
}

QLineEdit* VideoWindow::add_field(QWidget* parent, ParameterField field, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaximumWidth(70);
    edit->setMinimumWidth(48);
    edit->installEventFilter(this);
    connect(edit, &QLineEdit::textEdited, this, [this, field](const QString& text) {
        workspace_.parameters().text(field) = text.toStdString();
        // The range bar and its hint follow the range fields as they are typed.
        if (field == Field::StartFrame || field == Field::StopFrame) draw_selected_frames();
    });
    fields_[static_cast<std::size_t>(field)] = edit;
    return edit;
}

bool VideoWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        // Leaving for another window or a menu is not leaving the field.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            for (int i = 0; i < kParameterFieldCount; ++i) {
                if (fields_[static_cast<std::size_t>(i)] != watched) continue;
                workspace_.leave_field(static_cast<ParameterField>(i));
                show_state();
                draw_selected_frames();
                // Said once the focus has settled: a box opened while it
                // moves would take it again.
                if (std::string& said = workspace_.parameters().exit_message; !said.empty()) {
                    QTimer::singleShot(0, this, [this, text = QString::fromStdString(said)] {
                        tell(text);
                    });
                    said.clear();
                }
            }
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

// -------------------------------- navigation: slider, range bar and buttons

void VideoWindow::build_navigation(QWidget* client) {
    using namespace video_texts;
    track_ = new QSlider(Qt::Horizontal, client);
    track_->setObjectName(QStringLiteral("frameSlider"));
    track_->setRange(1, 1);
    track_->setTickPosition(QSlider::TicksBelow);
    connect(track_, &QSlider::valueChanged, this, [this](int position) {
        if (showing_state_) return;
        workspace_.move_slider(position);
        show_state();
    });

    range_bar_ = new QWidget(client);
    range_bar_->setObjectName(QStringLiteral("rangeBar"));
    range_bar_->setAutoFillBackground(true);
    QPalette blue = range_bar_->palette();
    blue.setColor(QPalette::Window, Qt::blue);
    range_bar_->setPalette(blue);
    range_bar_->hide();

    button_group_ = new QGroupBox(client);
    button_group_->setObjectName(QStringLiteral("navigationGroup"));
    button_group_->resize(760, 60);
    struct ButtonSpec {
        const TextPair* text;
        const char* name;
        std::function<void()> action;
    };
    const std::array<ButtonSpec, 7> specs{{
        {&kStart, "startButton", [this] { mark_range_end(&VideoWorkspace::mark_start_frame); }},
        {&kBegin, "beginButton", [this] { run_and_show(&VideoWorkspace::go_to_begin); }},
        {&kPrevious, "previousButton", [this] { run_and_show(&VideoWorkspace::go_to_previous); }},
        {&kPlay, "playButton", [this] { play(); }},
        {&kNext, "nextButton", [this] { run_and_show(&VideoWorkspace::go_to_next); }},
        {&kEnd, "endButton", [this] { run_and_show(&VideoWorkspace::go_to_end); }},
        {&kStop, "stopButton", [this] { mark_range_end(&VideoWorkspace::mark_stop_frame); }},
    }};
    for (int i = 0; i < 7; ++i) {
        const ButtonSpec& spec = specs[static_cast<std::size_t>(i)];
        auto* button = new QPushButton(button_group_);
        button->setObjectName(QString::fromLatin1(spec.name));
        button->setGeometry(10 + i * 106, 16, 100, 33);
        captions_.push_back({button, *spec.text});
        connect(button, &QPushButton::clicked, this, spec.action);
    }
}

void VideoWindow::play() {
    const std::optional<Command> command = workspace_.play_command();
    if (!command) return;
    // One player at a time: a new Play starts over from the frame shown.
    player_.stop();
    Result<ChildProcess> started = ChildProcess::start(*command);
    if (started) {
        player_ = std::move(started).value();
        return;
    }
    const std::string_view language = program_.settings().language;
    QMessageBox::warning(this, QStringLiteral("Tintora"),
                         to_qstring(message_text(message_texts::kPlayerMissing, language)) +
                             QStringLiteral("\n\n") + QString::fromStdString(started.error()));
}

template <class Result>
void VideoWindow::mark_range_end(Result (VideoWorkspace::*operation)()) {
    (workspace_.*operation)();
    show_state();
    draw_selected_frames();
}

void VideoWindow::draw_selected_frames() {
    const QRect slider = track_->geometry();
    const RangeBar bar =
        selected_frames_bar(workspace_.parameters(), workspace_.session().FrameCount,
                            {slider.x(), slider.y(), slider.width(), slider.height()});
    track_->setToolTip(QString::fromStdString(bar.hint));
    range_bar_->setVisible(bar.visible);
    if (bar.visible) {
        range_bar_->setGeometry(bar.rect.left, bar.rect.top, std::max(bar.rect.width, 0),
                                bar.rect.height);
    }
}

}  // namespace tintora
