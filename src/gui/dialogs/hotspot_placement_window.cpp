#include "gui/dialogs/hotspot_placement_window.hpp"

#include <QClipboard>
#include <QDesktopServices>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <filesystem>

#include "core/viewer/hotspot_files.hpp"
#include "core/viewer/hotspot_readout.hpp"
#include "core/viewer/viewer_texts.hpp"
#include "gui/captions.hpp"
#include "gui/program.hpp"
#include "gui/video/video_window.hpp"
#include "gui/window_geometry.hpp"

namespace tintora {
namespace {

// krpano's <hotspot> is eleven lines of up to about seventy characters, and a last empty one.
constexpr int kSnippetColumns = 76;
constexpr int kSnippetLines = 12;

}  // namespace

HotspotPlacementWindow::HotspotPlacementWindow(Program& program, QWidget* owner)
    : QWidget(owner, Qt::Window), program_(program) {
    setObjectName(QStringLiteral("hotspotPlacementWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);

    refusal_label_ = new QLabel(this);
    refusal_label_->setObjectName(QStringLiteral("refusalLabel"));
    refusal_label_->setWordWrap(true);
    auto* lines = new QGridLayout;
    lines->setColumnStretch(1, 1);
    for (std::size_t i = 0; i < line_labels_.size(); ++i) {
        line_labels_[i] = new QLabel(this);
        line_values_[i] = new QLabel(this);
        line_values_[i]->setObjectName(QStringLiteral("lineValue%1").arg(i));
        line_values_[i]->setWordWrap(true);
        line_values_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        lines->addWidget(line_labels_[i], static_cast<int>(i), 0, Qt::AlignTop);
        lines->addWidget(line_values_[i], static_cast<int>(i), 1);
    }

    snippet_label_ = new QLabel(this);
    snippet_ = new QPlainTextEdit(this);
    snippet_->setObjectName(QStringLiteral("snippetText"));
    snippet_->setReadOnly(true);
    snippet_->setLineWrapMode(QPlainTextEdit::NoWrap);
    snippet_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    const QFontMetrics metrics(snippet_->font());
    const int snippet_margins =
        2 * (snippet_->frameWidth() + static_cast<int>(snippet_->document()->documentMargin()));
    snippet_->setMinimumSize(
        metrics.horizontalAdvance(QLatin1Char('0')) * kSnippetColumns + snippet_margins,
        metrics.lineSpacing() * kSnippetLines + snippet_margins);

    copy_button_ = new QPushButton(this);
    copy_button_->setObjectName(QStringLiteral("copySnippetButton"));
    connect(copy_button_, &QPushButton::clicked, this, &HotspotPlacementWindow::copy_snippet);
    preview_button_ = new QPushButton(this);
    preview_button_->setObjectName(QStringLiteral("previewButton"));
    connect(preview_button_, &QPushButton::clicked, this,
            &HotspotPlacementWindow::preview_in_browser);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(copy_button_);
    buttons->addWidget(preview_button_);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(refusal_label_);
    layout->addLayout(lines);
    layout->addWidget(snippet_label_);
    layout->addWidget(snippet_, 1);
    layout->addLayout(buttons);

    // A drag of the mesh recomposes many times a second: one reading for a burst.
    refresh_timer_ = new QTimer(this);
    refresh_timer_->setSingleShot(true);
    refresh_timer_->setInterval(0);
    connect(refresh_timer_, &QTimer::timeout, this, &HotspotPlacementWindow::refresh);
    // The language is followed as the other windows follow it.
    language_timer_ = new QTimer(this);
    language_timer_->setInterval(1000);
    connect(language_timer_, &QTimer::timeout, this, &HotspotPlacementWindow::follow_language);
    language_timer_->start();
    follow_language();
}

HotspotPlacementWindow::~HotspotPlacementWindow() = default;

void HotspotPlacementWindow::show_in_front() {
    // First over its owner, wholly on its screen; then where the user puts it.
    if (!placed_ && parentWidget() != nullptr) {
        placed_ = true;
        adjustSize();
        move(centred_on(*parentWidget(), size()));
    }
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void HotspotPlacementWindow::project_changed() {
    if (isVisible()) refresh_timer_->start();
}

void HotspotPlacementWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    refresh();
}

void HotspotPlacementWindow::follow_language() {
    const std::string& language = program_.settings().language;
    if (language == applied_language_) return;
    applied_language_ = language;
    using namespace viewer_texts;
    apply_captions({{this, kPlacementCaption},
                    {snippet_label_, kSnippetLabel},
                    {copy_button_, kCopy},
                    {preview_button_, kPreview}},
                   applied_language_ != "eng");
    refresh();
}

void HotspotPlacementWindow::refresh() {
    const HotspotReadout readout = hotspot_readout(program_.composition(), program_.grid(),
                                                   program_.video(), program_.settings().language);
    refusal_label_->setText(QString::fromStdString(readout.refusal));
    refusal_label_->setVisible(!readout.refusal.empty());
    for (std::size_t i = 0; i < line_labels_.size(); ++i) {
        const bool shown = i < readout.lines.size();
        line_labels_[i]->setText(shown ? QString::fromStdString(readout.lines[i].label)
                                       : QString());
        line_values_[i]->setText(shown ? QString::fromStdString(readout.lines[i].value)
                                       : QString());
        line_labels_[i]->setVisible(shown);
        line_values_[i]->setVisible(shown);
    }
    const QString snippet = QString::fromStdString(readout.krpano_xml);
    if (snippet_->toPlainText() != snippet) snippet_->setPlainText(snippet);
    const bool placed = readout.refusal.empty();
    copy_button_->setEnabled(placed);
    preview_button_->setEnabled(placed);
}

void HotspotPlacementWindow::copy_snippet() {
    QGuiApplication::clipboard()->setText(snippet_->toPlainText());
}

void HotspotPlacementWindow::preview_in_browser() {
    // The project may have changed since the last reading.
    refresh();
    if (!preview_button_->isEnabled()) return;
    const std::string_view language = program_.settings().language;
    auto folder = std::make_unique<QTemporaryDir>();
    if (!folder->isValid()) {
        QMessageBox::warning(
            this, QStringLiteral("Tintora"),
            to_qstring(message_text(viewer_texts::kPreviewFolderNotMade, language)) +
                QStringLiteral("\n") + folder->errorString());
        return;
    }
    // The last preview's folder goes; a browser still showing it has read it.
    preview_folder_ = std::move(folder);
    const std::filesystem::path base =
        std::filesystem::path(preview_folder_->path().toStdString()) /
        hotspot_name(program_.video());
    program_.video_window().export_hotspot_to(base, /*finish_quietly=*/true);
    // A run that failed or was cancelled has said so and left no page.
    const std::filesystem::path page = hotspot_files(base).page;
    std::error_code error;
    if (!std::filesystem::is_regular_file(page, error)) return;
    const QString path = QString::fromStdString(page.string());
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return;
    QMessageBox::warning(this, QStringLiteral("Tintora"),
                         to_qstring(message_text(viewer_texts::kBrowserNotStarted, language)) +
                             QStringLiteral("\n") + path);
}

}  // namespace tintora
