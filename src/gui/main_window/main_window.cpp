#include "gui/main_window/main_window.hpp"

#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QStatusBar>
#include <QUrl>
#include <algorithm>

#include "core/common/file_io.hpp"
#include "core/composition/sampling.hpp"
#include "core/project/project_file.hpp"
#include "core/settings/guide_page.hpp"
#include "core/settings/help_texts.hpp"
#include "core/settings/tooltip_texts.hpp"
#include "core/viewer/viewer_texts.hpp"
#include "gui/dialogs/about_box.hpp"
#include "gui/dialogs/area_points_dialog.hpp"
#include "gui/dialogs/hotspot_placement_window.hpp"
#include "gui/dialogs/options_dialog.hpp"
#include "gui/dialogs/panorama_dialog.hpp"
#include "gui/hints.hpp"
#include "gui/main_window/composition_view.hpp"
#include "gui/main_window/grid_thumbnail.hpp"
#include "gui/main_window/panorama_player.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/program.hpp"
#include "gui/video/video_window.hpp"
#include "gui/window_geometry.hpp"

namespace tintora {
namespace {

// The left column's labels take the width of their longest text in either
// language, so no fallback font cuts them; the lists start after them.
constexpr int kLabelLeft = 10;
constexpr int kGroupInner = 153;  // the groups are 161 wide

int label_width(const QWidget& parent) {
    using namespace main_texts;
    const QFontMetrics metrics(parent.font());
    int widest = 0;
    for (const TextPair* text : {&kRotateLabel, &kScaleLabel, &kDensityLabel}) {
        widest = std::max({widest, metrics.horizontalAdvance(to_qstring(text->eng)),
                           metrics.horizontalAdvance(to_qstring(text->rus))});
    }
    return widest + 4;
}

template <std::size_t N>
QComboBox* make_list(QWidget* parent, const char* name,
                     const std::array<std::string_view, N>& items, int y) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(name));
    for (const std::string_view item : items) list->addItem(to_qstring(item));
    const int left = std::max(62, kLabelLeft + label_width(*parent) + 4);
    list->setGeometry(left, y, kGroupInner - left, 22);
    return list;
}

QLabel* make_label(QWidget* parent, int y) {
    auto* label = new QLabel(parent);
    label->setGeometry(kLabelLeft, y, label_width(*parent), 16);
    return label;
}

QLabel* make_status_panel(QStatusBar* bar, const char* name, int width) {
    auto* panel = new QLabel(bar);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFixedWidth(width);
    panel->setAlignment(Qt::AlignCenter);
    bar->addWidget(panel);
    return panel;
}

}  // namespace

MainWindow::MainWindow(Program& program) : program_(program) {
    setObjectName(QStringLiteral("mainWindow"));
    setWindowTitle(QStringLiteral("Tintora for Video in Panorama"));
    setFont(QFont(QStringLiteral("Tahoma"), 8));

    auto* client = new QWidget(this);
    setCentralWidget(client);
    build_menus();
    build_left_column(client);

    scroll_box_ = new QScrollArea(client);
    scroll_box_->setObjectName(QStringLiteral("scrollBox"));
    scroll_box_->setWidgetResizable(false);
    scroll_box_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture_view_ = new CompositionView;
    picture_view_->set_composition(&program_.composition());
    scroll_box_->setWidget(picture_view_);
    connect(picture_view_, &CompositionView::pressed, this, &MainWindow::on_picture_pressed);
    connect(picture_view_, &CompositionView::moved, this, &MainWindow::on_picture_moved);
    connect(picture_view_, &CompositionView::released, this, &MainWindow::on_picture_released);
    player_ = new PanoramaPlayer(program_, *this, *picture_view_, *scroll_box_);
    build_empty_picture_hint();

    build_status_bar();

    const auto shortcut = [this](Qt::Key key, void (MainWindow::*command)()) {
        auto* s = new QShortcut(QKeySequence(key), this);
        s->setContext(Qt::WindowShortcut);
        connect(s, &QShortcut::activated, this, command);
    };
    shortcut(Qt::Key_F4, &MainWindow::toggle_hide_frame);
    shortcut(Qt::Key_F5, &MainWindow::refresh);
    shortcut(Qt::Key_F6, &MainWindow::restore_default_layout);

    hints_ = main_window_hints(*this);
    hints_.push_back({picture_view_, main_tooltips::kPicture});
    if (program_.settings().language == "rus") russian_action_->setChecked(true);
    apply_language();

    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    place_scroll_box();
}

void MainWindow::build_menus() {
    QMenuBar* bar = menuBar();
    const auto add = [this](QMenu* menu, const TextPair& text, const char* name) {
        QAction* action = menu->addAction(QString());
        action->setObjectName(QString::fromLatin1(name));
        captions_.push_back({action, text});
        return action;
    };
    const auto add_menu = [this, bar](const TextPair& text, const char* name) {
        QMenu* menu = bar->addMenu(QString());
        menu->setObjectName(QString::fromLatin1(name));
        captions_.push_back({menu, text});
        return menu;
    };
    using namespace main_texts;

    QMenu* file = add_menu(kFileMenu, "fileMenu");
    const auto with_key = [](QAction* action, QKeySequence::StandardKey key) {
        action->setShortcut(key);
        return action;
    };
    connect(with_key(add(file, kNewProject, "newProjectAction"), QKeySequence::New),
            &QAction::triggered, this, &MainWindow::new_project);
    connect(with_key(add(file, kOpenProject, "openProjectAction"), QKeySequence::Open),
            &QAction::triggered, this, &MainWindow::open_project);
    connect(with_key(add(file, kSaveProject, "saveProjectAction"), QKeySequence::Save),
            &QAction::triggered, this, &MainWindow::save_project);
    file->addSeparator();
    connect(add(file, kOpenImage, "openImageAction"), &QAction::triggered, this,
            &MainWindow::open_image);
    connect(add(file, kOpenVideo, "openVideoAction"), &QAction::triggered, this,
            [this] { program_.video_window().show(); });
    file->addSeparator();
    connect(with_key(add(file, kExit, "exitAction"), QKeySequence::Quit), &QAction::triggered, this,
            &MainWindow::exit_program);

    QMenu* edit = add_menu(kEditMenu, "editMenu");
    connect(add(edit, kVideo, "videoAction"), &QAction::triggered, this,
            [this] { program_.video_window().show(); });
    connect(add(edit, kColorPalette, "colorPaletteAction"), &QAction::triggered, this,
            [this] { program_.palette_window().show_near_owner(); });
    edit->addSeparator();
    connect(add(edit, kOptions, "optionsAction"), &QAction::triggered, this,
            [this] { program_.options_dialog().exec(); });
    edit->addSeparator();
    connect(add(edit, kMatchColours, "matchColoursAction"), &QAction::triggered, this,
            [this] { program_.palette_window().match_colours(); });
    QAction* play = add(edit, workspace_texts::kPlayInPanorama, "playInPanoramaAction");
    play->setShortcut(Qt::Key_Space);
    connect(play, &QAction::triggered, this, &MainWindow::play_in_panorama);
    connect(add(edit, area_point_texts::kMenuItem, "areaPointsAction"), &QAction::triggered, this,
            &MainWindow::type_area_points);
    edit->addSeparator();
    build_undo_items(edit);

    QMenu* language = add_menu(kLanguageMenu, "languageMenu");
    auto* language_group = new QActionGroup(this);
    english_action_ = language->addAction(QStringLiteral("English"));
    english_action_->setObjectName(QStringLiteral("englishAction"));
    russian_action_ = language->addAction(QStringLiteral("Русский"));
    russian_action_->setObjectName(QStringLiteral("russianAction"));
    for (QAction* action : {english_action_, russian_action_}) {
        action->setCheckable(true);
        language_group->addAction(action);
    }
    english_action_->setChecked(true);
    connect(english_action_, &QAction::triggered, this, [this] { choose_language("eng"); });
    connect(russian_action_, &QAction::triggered, this, [this] { choose_language("rus"); });

    QMenu* service = add_menu(kServiceMenu, "serviceMenu");
    connect(add(service, kKrpanoCounter, "krpanoCounterAction"), &QAction::triggered, this,
            [this] { open_guide(GuidePage::Hotspots); });
    connect(add(service, viewer_texts::kPlacementMenuItem, "hotspotPlacementAction"),
            &QAction::triggered, this,
            [this] { program_.hotspot_placement_window().show_in_front(); });
    connect(add(service, viewer_texts::kPanoramaMenuItem, "panoramaAction"), &QAction::triggered,
            this, &MainWindow::edit_panorama);

    QMenu* help = add_menu(kHelpMenu, "helpMenu");
    connect(add(help, kContext, "contextAction"), &QAction::triggered, this, [this] {
        QDesktopServices::openUrl(
            QUrl(QString::fromStdString(help_page_url(program_.settings().language))));
    });
    help->addSeparator();
    connect(add(help, kAbout, "aboutAction"), &QAction::triggered, this,
            [this] { program_.about_box().exec(); });
    connect(add(help, workspace_texts::kGuide, "guideAction"), &QAction::triggered, this,
            [this] { open_guide(); });
}

void MainWindow::build_undo_items(QMenu* edit) {
    const auto add = [this, edit](const TextPair& text, const char* name) {
        QAction* action = edit->addAction(QString());
        action->setObjectName(QString::fromLatin1(name));
        action->setEnabled(false);
        captions_.push_back({action, text});
        return action;
    };
    undo_action_ = add(workspace_texts::kUndo, "undoAction");
    undo_action_->setShortcut(QKeySequence::Undo);
    redo_action_ = add(workspace_texts::kRedo, "redoAction");
    redo_action_->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    // The hints name the step each would take back or do again.
    edit->setToolTipsVisible(true);
    EditHistory& history = program_.history();
    const QUndoStack& stack = history.stack();
    connect(undo_action_, &QAction::triggered, this, [&history] { history.undo(); });
    connect(redo_action_, &QAction::triggered, this, [&history] { history.redo(); });
    connect(&stack, &QUndoStack::canUndoChanged, undo_action_, &QAction::setEnabled);
    connect(&stack, &QUndoStack::canRedoChanged, redo_action_, &QAction::setEnabled);
    connect(&stack, &QUndoStack::undoTextChanged, undo_action_, &QAction::setToolTip);
    connect(&stack, &QUndoStack::redoTextChanged, redo_action_, &QAction::setToolTip);
}

void MainWindow::build_left_column(QWidget* client) {
    using namespace main_texts;
    auto* background_group = new QGroupBox(client);
    background_group->setGeometry(8, 0, 161, 105);
    captions_.push_back({background_group, kBackgroundGroup});
    captions_.push_back({make_label(background_group, 28), kRotateLabel});
    rotation_list_ = make_list(background_group, "rotationList", kRotationItems, 24);
    captions_.push_back({make_label(background_group, 66), kScaleLabel});
    scale_list_ = make_list(background_group, "scaleList", kScaleItems, 62);

    auto* frame_group = new QGroupBox(client);
    frame_group->setGeometry(8, 120, 161, 216);
    captions_.push_back({frame_group, kVideoFrameGroup});
    thumbnail_ = new GridThumbnail(frame_group);
    thumbnail_->move(30, 22);
    connect(thumbnail_, &GridThumbnail::clicked, this, &MainWindow::on_thumbnail_clicked);
    captions_.push_back({make_label(frame_group, 140), kDensityLabel});
    density_list_ = make_list(frame_group, "densityList", kDensityItems, 136);
    hide_frame_box_ = new QCheckBox(frame_group);
    hide_frame_box_->setObjectName(QStringLiteral("hideFrameBox"));
    hide_frame_box_->setGeometry(10, 178, 140, 20);
    captions_.push_back({hide_frame_box_, kHideFrame});

    auto* refresh_button = new QPushButton(client);
    refresh_button->setObjectName(QStringLiteral("refreshButton"));
    refresh_button->setGeometry(8, 358, 161, 25);
    captions_.push_back({refresh_button, kRefresh});
    auto* default_button = new QPushButton(client);
    default_button->setObjectName(QStringLiteral("defaultButton"));
    default_button->setGeometry(8, 400, 161, 25);
    captions_.push_back({default_button, kDefaultLayout});

    sync_lists_from_choices();
    Composition& composition = program_.composition();
    const auto on_choice = [this](QComboBox* list, int CompositionChoices::*field) {
        connect(list, &QComboBox::currentIndexChanged, this, [this, field](int index) {
            program_.composition().choices.*field = index;
            program_.recompose();
        });
    };
    on_choice(rotation_list_, &CompositionChoices::rotation_index);
    on_choice(scale_list_, &CompositionChoices::scale_index);
    on_choice(density_list_, &CompositionChoices::density_index);
    connect(hide_frame_box_, &QCheckBox::clicked, this, [this, &composition](bool checked) {
        composition.choices.hide_frame = checked;
        program_.recompose();
    });
    connect(refresh_button, &QPushButton::clicked, this, &MainWindow::refresh);
    connect(default_button, &QPushButton::clicked, this, &MainWindow::restore_default_layout);
}

void MainWindow::build_status_bar() {
    QStatusBar* bar = statusBar();
    bar->setSizeGripEnabled(true);
    background_panel_ = make_status_panel(bar, "backgroundPanel", 300);
    video_panel_ = make_status_panel(bar, "videoPanel", 250);
    spare_panel_ = make_status_panel(bar, "sparePanel", 50);
}

void MainWindow::sync_lists_from_choices() {
    const CompositionChoices& choices = program_.composition().choices;
    for (auto [list, index] : {std::pair{rotation_list_, choices.rotation_index},
                               std::pair{scale_list_, choices.scale_index},
                               std::pair{density_list_, choices.density_index}}) {
        const QSignalBlocker quiet(list);
        list->setCurrentIndex(index);
    }
    const QSignalBlocker quiet(hide_frame_box_);
    hide_frame_box_->setChecked(choices.hide_frame);
}

void MainWindow::apply_language() {
    const bool russian = program_.settings().language == "rus";
    apply_captions(captions_, russian);
    apply_hints(hints_, russian);
    give_mnemonics(menuBar());
    using namespace workspace_texts;
    empty_picture_hint_->setText(to_qstring(russian ? kFirstStep.rus : kFirstStep.eng) +
                                 QStringLiteral("\n") +
                                 to_qstring(russian ? kSecondStep.rus : kSecondStep.eng));
    place_empty_picture_hint();
}

void MainWindow::choose_language(const char* language) {
    program_.settings().language = language;
    apply_language();
}

void MainWindow::show_picture() {
    picture_view_->picture_changed();
    const CorrectionGrid& grid = program_.grid();
    std::optional<QPoint> ring;
    if (program_.video().FrameCount > 0 && program_.composition().background_loaded()) {
        if (const std::optional<PicturePoint> centre =
                marker_centre(grid, program_.composition().display_scale(), grid.current_point())) {
            ring = QPoint(centre->x, centre->y);
        }
    }
    picture_view_->show_current_marker(ring, grid.current_point());
    empty_picture_hint_->setVisible(!program_.composition().background_loaded());
}

void MainWindow::build_empty_picture_hint() {
    // Says what to do first while there is nothing to show.
    empty_picture_hint_ = new QLabel(scroll_box_->viewport());
    empty_picture_hint_->setObjectName(QStringLiteral("emptyPictureHint"));
    empty_picture_hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    empty_picture_hint_->setMargin(12);
    QFont larger = empty_picture_hint_->font();
    larger.setPointSize(larger.pointSize() + 2);
    empty_picture_hint_->setFont(larger);
    empty_picture_hint_->setAttribute(Qt::WA_TransparentForMouseEvents);
}

void MainWindow::place_empty_picture_hint() {
    if (empty_picture_hint_ == nullptr) return;
    empty_picture_hint_->adjustSize();
    empty_picture_hint_->move(0, 0);
}

void MainWindow::show_current_point() { thumbnail_->show_point(program_.grid().current_point()); }

void MainWindow::abort_playing() {
    if (player_ != nullptr) player_->abort();
}

bool MainWindow::shows_uncorrected() const {
    return player_ != nullptr && player_->shows_uncorrected();
}

void MainWindow::open_guide(GuidePage guide_page) {
    const AppSettings& settings = program_.settings();
    const std::filesystem::path page =
        find_guide_page(settings.program_dir, settings.language, guide_page);
    if (!page.empty()) {
        const QString path = QString::fromStdString(page.string());
        if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
        QMessageBox::warning(
            this, QStringLiteral("Tintora"),
            to_qstring(message_text(workspace_texts::kGuideNotOpened, settings.language)) +
                QStringLiteral("\n") + path);
        return;
    }
    QString places;
    for (const std::filesystem::path& candidate :
         guide_page_candidates(settings.program_dir, settings.language, guide_page)) {
        places += QStringLiteral("\n") + QString::fromStdString(candidate.string());
    }
    QMessageBox::warning(
        this, QStringLiteral("Tintora"),
        to_qstring(message_text(workspace_texts::kGuideMissing, settings.language)) + places);
}

void MainWindow::edit_panorama() {
    Composition& composition = program_.composition();
    PanoramaDialog dialog(composition.choices.panorama, composition.background_width(),
                          composition.background_height(), program_.settings().language, this);
    if (dialog.exec() != QDialog::Accepted) return;
    if (dialog.chosen() == composition.choices.panorama) return;
    // As the lists' choices, not an undo step (the history keeps the grid);
    // the save question sees the change.
    composition.choices.panorama = dialog.chosen();
    program_.recompose();
}

void MainWindow::open_image() {
    const QString path = QFileDialog::getOpenFileName(
        this, QString(), QString(),
        QStringLiteral("JPEG images (*.jpg *.jpeg *.jpe *.jfif);;All files (*)"));
    if (!path.isEmpty()) open_background_file(path);
}

bool MainWindow::open_background_file(const QString& path) {
    abort_playing();
    Composition& composition = program_.composition();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const Status opened = composition.open_background(path.toStdString());
    QApplication::restoreOverrideCursor();
    if (!opened) {
        const std::string_view language = program_.settings().language;
        QMessageBox::warning(this, to_qstring(message_text(message_texts::kError, language)),
                             to_qstring(message_text(message_texts::kCantOpenImage, language)) +
                                 QStringLiteral("\n\n") + QString::fromStdString(opened.error()));
        return false;
    }
    sync_lists_from_choices();
    // The thumbnail always shows the point the clicks and samples work on.
    thumbnail_->show_point(program_.grid().current_point());
    picture_view_->show();
    set_default_layout(program_.grid(), composition);
    program_.recompose();
    return true;
}

namespace {

// The project's background and clip open through the windows' own loaders,
// which report what fails as their menus do.
class WindowLoaders : public ProjectLoaders {
public:
    WindowLoaders(MainWindow& main, VideoWindow& video) : main_(main), video_(video) {}
    void open_background(const std::filesystem::path& path) override {
        main_.open_background_file(QString::fromStdString(path.string()));
    }
    void open_video(const std::filesystem::path& path) override {
        video_.open_video_file(QString::fromStdString(path.string()));
    }

private:
    MainWindow& main_;
    VideoWindow& video_;
};

}  // namespace

void MainWindow::new_project() {
    if (!may_leave_project()) return;
    reset_project({program_.composition(), program_.grid(), program_.video_workspace()});
    sync_lists_from_choices();
    thumbnail_->show_point(program_.grid().current_point());
    program_.video_window().refresh_from_workspace();
    program_.palette_window().show_new_project();
    program_.recompose();
    picture_view_->hide();
    // No picture, nothing read: the last project's read-outs go.
    background_panel_->clear();
    video_panel_->clear();
    set_project_path(QString());
    program_.history().clear();
    program_.mark_project_unmodified();
}

void MainWindow::open_project() {
    if (!may_leave_project()) return;
    const QString path = QFileDialog::getOpenFileName(this);
    if (!path.isEmpty()) open_project_file(path);
}

bool MainWindow::may_leave_project() {
    // The playing goes first: it would take the first click on a question.
    abort_playing();
    return ask_to_save_changes() && program_.video_window().stop_run_if_agreed();
}

bool MainWindow::prepare_to_exit() {
    if (!may_leave_project()) return false;
    program_.save_settings_or_warn();
    return true;
}

void MainWindow::exit_program() {
    if (prepare_to_exit()) QCoreApplication::exit(0);
}

void MainWindow::set_project_path(const QString& path) {
    project_path_ = path;
    program_.video().project_path = path.toStdString();
}

bool MainWindow::ask_to_save_changes() {
    if (!program_.project_modified()) return true;
    const std::string_view language = program_.settings().language;
    using namespace workspace_texts;
    QMessageBox question(QMessageBox::Question, QStringLiteral("Tintora"),
                         to_qstring(message_text(kSaveChanges, language)),
                         QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    question.setObjectName(QStringLiteral("saveChangesQuestion"));
    question.button(QMessageBox::Save)->setText(to_qstring(message_text(kSave, language)));
    question.button(QMessageBox::Discard)->setText(to_qstring(message_text(kDontSave, language)));
    question.button(QMessageBox::Cancel)->setText(to_qstring(message_text(kCancel, language)));
    question.setDefaultButton(QMessageBox::Save);
    question.setEscapeButton(QMessageBox::Cancel);
    switch (question.exec()) {
        case QMessageBox::Save: {
            // A project without a name yet asks for one, as Save project does.
            const QString path =
                project_path_.isEmpty() ? QFileDialog::getSaveFileName(this) : project_path_;
            return !path.isEmpty() && save_project_file(path);
        }
        case QMessageBox::Discard:
            return true;
        default:
            return false;
    }
}

void MainWindow::save_project() {
    const QString path = QFileDialog::getSaveFileName(this);
    if (!path.isEmpty()) save_project_file(path);
}

bool MainWindow::open_project_file(const QString& path) {
    const std::string_view language = program_.settings().language;
    // The file is read whole before anything changes.
    const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(path.toStdString());
    if (!bytes) {
        QMessageBox::warning(this, QStringLiteral("Tintora"),
                             to_qstring(message_text(message_texts::kCantOpenProject, language)) +
                                 QStringLiteral("\n\n") + QString::fromStdString(bytes.error()));
        return false;
    }
    abort_playing();
    VideoWindow& video = program_.video_window();
    video.show();
    WindowLoaders loaders(*this, video);
    replay_project(
        std::string_view(reinterpret_cast<const char*>(bytes.value().data()), bytes.value().size()),
        {program_.composition(), program_.grid(), program_.video_workspace()}, loaders);
    sync_lists_from_choices();
    thumbnail_->show_point(program_.grid().current_point());
    video.refresh_from_workspace();
    program_.palette_window().show_new_project();
    program_.recompose();
    activateWindow();
    setFocus();
    set_project_path(path);
    program_.history().clear();
    program_.mark_project_unmodified();
    return true;
}

bool MainWindow::save_project_file(const QString& path) {
    const std::string_view language = program_.settings().language;
    const Status saved = tintora::save_project(path.toStdString(), program_.composition(),
                                               program_.grid(), program_.video_workspace());
    if (saved) {
        set_project_path(path);
        program_.mark_project_unmodified();
        QMessageBox::information(this, QStringLiteral("Tintora"),
                                 to_qstring(message_text(message_texts::kProjectSaved, language)));
    } else {
        QMessageBox::warning(this, QStringLiteral("Tintora"),
                             to_qstring(message_text(message_texts::kCantSaveProject, language)) +
                                 QStringLiteral("\n\n") + QString::fromStdString(saved.error()));
    }
    return saved.ok();
}

void MainWindow::toggle_hide_frame() {
    hide_frame_box_->setChecked(!hide_frame_box_->isChecked());
    program_.composition().choices.hide_frame = hide_frame_box_->isChecked();
    program_.recompose();
}

void MainWindow::refresh() { program_.recompose(); }

void MainWindow::restore_default_layout() {
    bool placed = false;
    program_.record_change(edit_texts::kMovedMesh, [&] {
        placed = set_default_layout(program_.grid(), program_.composition());
    });
    if (placed) program_.recompose();
}

void MainWindow::on_thumbnail_clicked(QPoint position) {
    CorrectionGrid& grid = program_.grid();
    grid.cur_point =
        thumbnail_point_at(position.x(), position.y(), GridThumbnail::kSize, GridThumbnail::kSize);
    thumbnail_->show_point(grid.cur_point);
    program_.recompose();
}

void MainWindow::on_picture_pressed(QPoint position, Qt::MouseButton button,
                                    Qt::KeyboardModifiers modifiers) {
    CorrectionGrid& grid = program_.grid();
    Composition& composition = program_.composition();
    bool changed = false;
    if (button == Qt::LeftButton) {
        const HeldKeys keys{modifiers.testFlag(Qt::ShiftModifier),
                            modifiers.testFlag(Qt::ControlModifier)};
        const bool markers_shown = program_.video().FrameCount > 0;
        const PressAction action = press_action(grid, composition.display_scale(), position.x(),
                                                position.y(), keys, markers_shown);
        if (action == PressAction::Nothing) return;
        // A drag is one undo step, finished when the button is let go.
        program_.begin_change(action == PressAction::TakeCornerWithMesh ? edit_texts::kMovedMesh
                                                                        : edit_texts::kMovedPoint);
        changed = mesh_drag_.press(grid, composition.display_scale(), position.x(), position.y(),
                                   keys, markers_shown);
        if (!mesh_drag_.active()) program_.finish_change();
        if (mesh_drag_.active() && action != PressAction::MoveCurrentHere) {
            picture_view_->setCursor(Qt::ClosedHandCursor);
        }
        if (changed) show_current_point();
    } else if (button == Qt::MiddleButton) {
        program_.record_change(edit_texts::kMovedMesh, [&] {
            changed = centre_mesh_at(grid, composition, position.x(), position.y());
        });
    } else if (button == Qt::RightButton) {
        program_.record_change(edit_texts::kSampledPair,
                               [&] { store_sampled_pair(grid, last_reading_); });
        program_.palette_window().redraw_graph();
        changed = true;
    }
    if (changed) program_.recompose();
}

void MainWindow::on_picture_released(QPoint, Qt::MouseButton button) {
    if (button != Qt::LeftButton || !mesh_drag_.active()) return;
    mesh_drag_.release();
    program_.finish_change();
}

void MainWindow::on_picture_moved(QPoint position) {
    const Composition& composition = program_.composition();
    if (mesh_drag_.active()) {
        if (mesh_drag_.move(program_.grid(), composition.display_scale(), position.x(),
                            position.y())) {
            program_.recompose();
        }
        return;
    }
    // A marker under the pointer can be taken hold of.
    const bool on_handle =
        program_.video().FrameCount > 0 &&
        handle_at(program_.grid(), composition.display_scale(), position.x(), position.y());
    picture_view_->setCursor(on_handle ? Qt::OpenHandCursor : Qt::ArrowCursor);
    if (!composition.background_loaded()) return;
    const std::optional<SampleReading> reading =
        sample_composition(composition, position.x(), position.y());
    if (!reading) return;
    // The pair's video side is the frame before correction; the status bar
    // shows the picture as drawn.
    last_reading_ = *reading;
    background_intensity_ = reading->background.intensity;
    video_intensity_ = reading->frame.intensity;
    background_panel_->setText(QString::fromStdString(background_status_text(*reading)));
    video_panel_->setText(QString::fromStdString(video_status_text(*reading)));
    program_.palette_window().show_candidate(*reading);
}

void MainWindow::play_in_panorama() {
    using Start = PanoramaPlayer::Start;
    const Start start = player_->play();
    if (start != Start::NoBackground && start != Start::NoClip) return;
    const TextPair& why = start == Start::NoBackground ? workspace_texts::kPlayNeedsBackground
                                                       : workspace_texts::kPlayNeedsVideo;
    QMessageBox::information(this, QStringLiteral("Tintora"),
                             to_qstring(message_text(why, program_.settings().language)));
}

void MainWindow::type_area_points() {
    const std::string_view language = program_.settings().language;
    const Composition& composition = program_.composition();
    if (!composition.background_loaded()) {
        QMessageBox::information(
            this, QStringLiteral("Tintora"),
            to_qstring(message_text(area_point_texts::kNeedsBackground, language)));
        return;
    }
    const AreaBounds bounds = area_bounds(composition);
    AreaPointsDialog dialog(program_.grid(), bounds, language, this);
    if (dialog.exec() != QDialog::Accepted) return;
    bool changed = false;
    program_.record_change(edit_texts::kTypedAreaPoints, [&] {
        changed = set_typed_area_points(program_.grid(), dialog.typed(), bounds);
    });
    if (changed) program_.recompose();
}

void MainWindow::show_status_message(const QString& text) {
    // Long enough to be read; the read-outs it covers come back after it.
    constexpr int kShownMilliseconds = 10000;
    statusBar()->showMessage(text, kShownMilliseconds);
}

void MainWindow::closeEvent(QCloseEvent* event) { event->setAccepted(prepare_to_exit()); }

void MainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    place_scroll_box();
}

void MainWindow::place_scroll_box() {
    if (scroll_box_ == nullptr) return;
    const QSize outer = outer_size(*this);
    const int outer_width = outer.width();
    const int outer_height = outer.height();
    const QWidget* client = centralWidget();
    // Never below the status bar or past the client area, whatever the
    // frame decorations add.
    const int width_by_rule = std::max(outer_width - 200, 0);
    const int height_by_rule = std::max(outer_height - 85, 0);
    scroll_box_->setGeometry(175, 5, std::min(width_by_rule, std::max(client->width() - 175, 0)),
                             std::min(height_by_rule, std::max(client->height() - 5, 0)));
}

}  // namespace tintora
