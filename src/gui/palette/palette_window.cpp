#include "gui/palette/palette_window.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <string_view>

#include "core/composition/sampling.hpp"
#include "core/correction/curve_graph.hpp"
#include "core/correction/curves.hpp"
#include "core/project/colour_match.hpp"
#include "core/settings/help_texts.hpp"
#include "gui/captions.hpp"
#include "gui/light_pass_progress.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/palette/curve_graph_widget.hpp"
#include "gui/program.hpp"
#include "gui/window_geometry.hpp"

namespace tintora {
namespace {

constexpr int kTableWidth = 129;
constexpr int kTop = 8;
constexpr int kButtonWidth = 100;
constexpr int kButtonHeight = 25;

}  // namespace

PaletteWindow::PaletteWindow(Program& program, QWidget* owner)
    : QWidget(owner, Qt::Window), program_(program) {
    setObjectName(QStringLiteral("paletteWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Color palette"));

    table_ = new QTableWidget(kIntensityCount, 2, this);
    table_->setObjectName(QStringLiteral("intensityTable"));
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(18);
    table_->horizontalHeader()->setDefaultSectionSize(50);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->setHorizontalHeaderItem(0, new QTableWidgetItem(QStringLiteral("№")));
    table_->setHorizontalHeaderItem(1, new QTableWidgetItem(QStringLiteral("Intensity")));
    for (int v = 0; v < kIntensityCount; ++v) {
        table_->setItem(v, 0, new QTableWidgetItem(QString::number(v)));
        table_->setItem(v, 1, new QTableWidgetItem);
    }

    graph_ = new CurveGraphWidget(program_.grid(), this);
    // A press in the graph is one undo step.
    connect(graph_, &CurveGraphWidget::about_to_edit, this,
            [this] { program_.begin_change(edit_texts::kCurveEdit); });
    connect(graph_, &CurveGraphWidget::edited, this, [this] {
        program_.finish_change();
        after_edit();
    });

    marker_ = new QWidget(this);
    marker_->setObjectName(QStringLiteral("candidateMarker"));
    marker_->setAutoFillBackground(true);
    QPalette blue = marker_->palette();
    blue.setColor(QPalette::Window, Qt::blue);
    marker_->setPalette(blue);
    marker_->setGeometry(400, 248, 5, 5);
    marker_->hide();

    const char* names[5] = {"clearAllButton", "clearButton", "copyButton", "pasteButton",
                            "setForAllButton"};
    const char* design_texts[5] = {"Clear All", "Clear", "Copy", "Paste", "Set for all"};
    for (int i = 0; i < 5; ++i) {
        buttons_[i] = new QPushButton(QString::fromLatin1(design_texts[i]), this);
        buttons_[i]->setObjectName(QString::fromLatin1(names[i]));
        buttons_[i]->resize(kButtonWidth, kButtonHeight);
    }
    CorrectionGrid& grid = program_.grid();
    // Each whole-curve edit is one undo step.
    const auto on_edit = [this](QPushButton* button, const TextPair& label, auto edit) {
        connect(button, &QPushButton::clicked, this, [this, &label, edit] {
            program_.record_change(label, edit);
            after_edit();
        });
    };
    on_edit(buttons_[0], edit_texts::kClearAll, [&grid] { clear_all_points(grid); });
    on_edit(buttons_[1], edit_texts::kClear, [&grid] { clear_point(grid); });
    connect(buttons_[2], &QPushButton::clicked, this, [this, &grid] {
        copy_pairs(grid, program_.pair_clipboard(), program_.channel_pair_clipboard());
    });
    on_edit(buttons_[3], edit_texts::kPaste, [this, &grid] {
        paste_pairs(grid, program_.pair_clipboard(), program_.channel_pair_clipboard());
    });
    on_edit(buttons_[4], edit_texts::kSetForAll, [&grid] { set_pairs_for_all(grid); });

    status_bar_ = new QStatusBar(this);
    status_bar_->setSizeGripEnabled(true);
    build_colour_controls();

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &PaletteWindow::follow_program_state);
    timer_->start();

    resize(kClientWidth, kClientHeight);
    place_controls();
    redraw_graph();
}

void PaletteWindow::show_near_owner() {
    // A window the program placed stays where it was put.
    if (!shown_before_ && parentWidget() != nullptr && !testAttribute(Qt::WA_Moved)) {
        shown_before_ = true;
        move(centred_on(*parentWidget(), size()));
    }
    // Never show stale texts, even before the first tick.
    follow_program_state();
    // In front, also when it was minimised.
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void PaletteWindow::redraw_graph() {
    show_mode();
    const ColorTable& table =
        edited_table(program_.grid(), program_.grid().current_point(), graph_->channel());
    for (int v = 0; v < kIntensityCount; ++v)
        table_->item(v, 1)->setText(QString::number(table[v]));
    graph_->update();
}

void PaletteWindow::show_new_project() {
    status_bar_->clearMessage();
    redraw_graph();
}

void PaletteWindow::build_colour_controls() {
    mode_label_ = new QLabel(status_bar_);
    mode_list_ = new QComboBox(status_bar_);
    mode_list_->setObjectName(QStringLiteral("modeList"));
    mode_list_->addItems({QString(), QString()});  // Brightness, Colour: texts by language
    frames_label_ = new QLabel(status_bar_);
    frames_box_ = new QSpinBox(status_bar_);
    frames_box_->setObjectName(QStringLiteral("framesBox"));
    frames_box_->setRange(0, 100);
    frames_box_->setValue(5);
    match_button_ = new QPushButton(status_bar_);
    match_button_->setObjectName(QStringLiteral("matchButton"));
    follow_light_box_ = new QCheckBox(status_bar_);
    follow_light_box_->setObjectName(QStringLiteral("followLightBox"));
    for (QWidget* control :
         std::initializer_list<QWidget*>{mode_label_, mode_list_, frames_label_, frames_box_,
                                         match_button_, follow_light_box_}) {
        control->setFixedHeight(20);
        status_bar_->addPermanentWidget(control);
    }
    connect(mode_list_, &QComboBox::activated, this, [this](int index) {
        program_.record_change(edit_texts::kCorrectionMode, [this, index] {
            set_correction_mode(program_.grid(),
                                index == 1 ? CorrectionMode::Colour : CorrectionMode::Brightness);
        });
        after_edit();
    });
    connect(match_button_, &QPushButton::clicked, this, &PaletteWindow::match_colours);
    connect(follow_light_box_, &QCheckBox::clicked, this, &PaletteWindow::follow_light);
    connect(graph_, &CurveGraphWidget::channel_chosen, this, [this] { redraw_graph(); });
}

void PaletteWindow::show_mode() {
    const bool colour = program_.grid().correction_mode == CorrectionMode::Colour;
    {
        const QSignalBlocker quiet(mode_list_);
        mode_list_->setCurrentIndex(colour ? 1 : 0);
    }
    using namespace palette_texts;
    const TextPair channels[kChannelCount] = {kRedHeader, kGreenHeader, kBlueHeader};
    const TextPair& header = colour ? channels[graph_->channel()] : kIntensityHeader;
    // Until the first language pass the window shows its English design texts.
    const bool russian = !applied_language_.empty() && applied_language_ != "eng";
    table_->horizontalHeaderItem(1)->setText(to_qstring(russian ? header.rus : header.eng));
}

void PaletteWindow::match_colours() {
    using namespace palette_texts;
    ColourMatchRequest request;
    request.mode =
        mode_list_->currentIndex() == 1 ? CorrectionMode::Colour : CorrectionMode::Brightness;
    request.frame_count = frames_box_->value();
    request.track_light = follow_light_box_->isChecked();
    // The light's pass, the long part of a match, runs first with its
    // progress; stopped, the match does not happen. Without a background
    // the match only says so: nothing to measure for.
    const VideoWorkspace& workspace = program_.video_workspace();
    if (request.track_light && workspace.session().FrameCount > 0 &&
        program_.composition().background_loaded()) {
        if (const std::optional<QString> stopped = measure_light(
                workspace, workspace.session().CurrentFrame, program_.settings().work_dir,
                program_.settings().language, shown_window())) {
            return warn(*stopped);
        }
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // The match replaces the nine points' pairs in one undo step.
    ColourMatchReport report;
    program_.record_change(edit_texts::kMatchColours, [&] {
        report = match_project_colours(
            {program_.composition(), program_.grid(), program_.video_workspace()},
            program_.settings().work_dir, request);
    });
    QApplication::restoreOverrideCursor();
    const QString text = to_qstring(match_report_text(report, program_.settings().language));
    if (report.problem != MatchProblem::None) return warn(text);
    status_bar_->showMessage(text);
    if (!isVisible()) program_.main_window().show_status_message(text);
    after_edit();
}

void PaletteWindow::follow_light(bool on) {
    LightFollowing& following = program_.video_workspace().light_following();
    const LightFollowing before = following;
    following.on = on;
    // Until a match says otherwise, the light to follow is the frame's shown.
    if (on && following.reference_frame <= 0) {
        following.reference_frame = program_.video_workspace().session().CurrentFrame;
    }
    // Turned on, the light is measured before the preview reads it; stopped,
    // the project stays as it was.
    if (const std::optional<QString> stopped = measure_followed_light(program_, shown_window())) {
        following = before;
        follow_light_box_->setChecked(before.on);
        return warn(*stopped);
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    program_.recompose();
    QApplication::restoreOverrideCursor();
}

QWidget* PaletteWindow::shown_window() {
    // The match may be asked for from the main window with the palette closed.
    return isVisible() ? this : parentWidget();
}

void PaletteWindow::warn(const QString& text) {
    QMessageBox::warning(shown_window(), QStringLiteral("Tintora"), text);
}

void PaletteWindow::after_edit() {
    redraw_graph();
    program_.recompose();
}

void PaletteWindow::show_candidate(int i, int j) {
    const MarkerPlace place =
        candidate_marker_place(graph_->x(), graph_->y(), graph_->width(), graph_->height(), i, j);
    marker_->move(place.left, place.top);
    marker_->show();
    marker_->raise();
}

void PaletteWindow::show_candidate(const SampleReading& reading) {
    if (program_.grid().correction_mode != CorrectionMode::Colour) {
        show_candidate(reading.frame.intensity, reading.background.intensity);
        return;
    }
    const int channel = graph_->channel();
    const auto level = [channel](const ColourReading& colour) {
        return channel == kRedChannel ? colour.r : channel == kGreenChannel ? colour.g : colour.b;
    };
    show_candidate(level(reading.frame), level(reading.background));
}

void PaletteWindow::follow_program_state() {
    follow_light_box_->setChecked(program_.video_workspace().light_following().on);
    const int current = program_.grid().cur_point;
    if (current != last_shown_point_) {
        redraw_graph();
        last_shown_point_ = current;
    }
    if (program_.settings().language != applied_language_) {
        applied_language_ = program_.settings().language;
        apply_language();
    }
}

void PaletteWindow::apply_language() {
    using namespace palette_texts;
    const bool russian = applied_language_ != "eng";
    apply_captions({{this, kCaption},
                    {buttons_[0], kClearAll},
                    {buttons_[1], kClear},
                    {buttons_[2], kCopy},
                    {buttons_[3], kPaste},
                    {buttons_[4], kSetForAll},
                    {mode_label_, kModeLabel},
                    {frames_label_, kFramesLabel},
                    {match_button_, kMatchColours},
                    {follow_light_box_, kFollowLight}},
                   russian);
    const auto text = [russian](const TextPair& pair) {
        return to_qstring(russian ? pair.rus : pair.eng);
    };
    mode_list_->setItemText(0, text(kBrightnessMode));
    mode_list_->setItemText(1, text(kColourMode));
    fit_frames_box();
    frames_box_->setSpecialValueText(text(kCurrentFrame));
    show_mode();
}

void PaletteWindow::fit_frames_box() {
    // The box's own measure (its font's advance of each text, with the
    // arrows and frame around it), taken for each language's text; the
    // status bar never gives a widget less than its minimum. The box does
    // not ask its layout again when only the text changes.
    int widest = 0;
    for (const std::string_view shown :
         {palette_texts::kCurrentFrame.eng, palette_texts::kCurrentFrame.rus}) {
        frames_box_->setSpecialValueText(to_qstring(shown));
        widest = std::max(widest, frames_box_->sizeHint().width());
    }
    frames_box_->setMinimumWidth(widest);
}

void PaletteWindow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    place_controls();
}

void PaletteWindow::place_controls() {
    const QSize outer = outer_size(*this);
    const int outer_width = outer.width();
    const int outer_height = outer.height();
    const int area_height = std::max(outer_height - 105, 1);
    table_->setGeometry(0, kTop, kTableWidth, area_height);
    graph_->setGeometry(kTableWidth + 6, kTop, std::max(outer_width - kTableWidth - 15, 1),
                        area_height);
    const int fifth = outer_width / 5;
    const int buttons_top = kTop + area_height + 10;
    for (int i = 0; i < 5; ++i) {
        buttons_[i]->move(fifth / 2 - kButtonWidth / 2 + i * fifth, buttons_top);
    }
    const int bar_height = status_bar_->sizeHint().height();
    status_bar_->setGeometry(0, height() - bar_height, width(), bar_height);
    marker_->raise();
}

}  // namespace tintora
