#include "gui/palette/palette_window.hpp"

#include <QHeaderView>
#include <QPushButton>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

#include "core/correction/curve_graph.hpp"
#include "core/correction/curves.hpp"
#include "core/settings/help_texts.hpp"
#include "gui/captions.hpp"
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
    connect(buttons_[2], &QPushButton::clicked, this,
            [this, &grid] { copy_pairs(grid, program_.pair_clipboard()); });
    on_edit(buttons_[3], edit_texts::kPaste,
            [this, &grid] { paste_pairs(grid, program_.pair_clipboard()); });
    on_edit(buttons_[4], edit_texts::kSetForAll, [&grid] { set_pairs_for_all(grid); });

    status_bar_ = new QStatusBar(this);
    status_bar_->setSizeGripEnabled(true);

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &PaletteWindow::follow_program_state);
    timer_->start();

    resize(kClientWidth, kClientHeight);
    place_controls();
    redraw_graph();
}

void PaletteWindow::show_near_owner() {
    if (!shown_before_ && parentWidget() != nullptr) {
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
    const ColorTable& table = program_.grid().color_table[program_.grid().current_point()];
    for (int v = 0; v < kIntensityCount; ++v)
        table_->item(v, 1)->setText(QString::number(table[v]));
    graph_->update();
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

void PaletteWindow::follow_program_state() {
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
                    {buttons_[4], kSetForAll}},
                   russian);
    table_->horizontalHeaderItem(1)->setText(
        to_qstring(russian ? kIntensityHeader.rus : kIntensityHeader.eng));
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
