#include "gui/dialogs/options_dialog.hpp"

#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <initializer_list>
#include <tuple>

#include "core/settings/options.hpp"
#include "gui/captions.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"

namespace tintora {
namespace {

constexpr int kMargin = 12;
constexpr int kFieldWidth = 449;
constexpr int kListWidth = 538;
constexpr int kButtonWidth = 81;
constexpr int kRowHeight = 24;

QString path_text(const std::filesystem::path& path) {
    return QString::fromStdString(path.string());
}

QPushButton* make_button(QWidget* parent, const char* name) {
    auto* button = new QPushButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    // Enter in a field must not open a file dialog or end the program.
    button->setAutoDefault(false);
    return button;
}

// The widest of the texts, so a caption fits in either language.
int widest(const QFontMetrics& metrics, std::initializer_list<std::string_view> texts) {
    int width = 0;
    for (const std::string_view text : texts)
        width = std::max(width, metrics.horizontalAdvance(to_qstring(text)));
    return width;
}

}  // namespace

OptionsDialog::OptionsDialog(Program& program, QWidget* owner) : QDialog(owner), program_(program) {
    setObjectName(QStringLiteral("optionsDialog"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(to_qstring(options_texts::kCaption.eng));
    setFixedSize(kClientWidth, kClientHeight);

    auto* ffmpeg_label = new QLabel(QStringLiteral("FFMPEG.EXE"), this);
    ffmpeg_field_ = new QLineEdit(this);
    ffmpeg_field_->setObjectName(QStringLiteral("ffmpegField"));
    ffmpeg_browse_ = make_button(this, "ffmpegBrowseButton");

    auto* ffplay_label = new QLabel(QStringLiteral("FFPLAY.EXE"), this);
    ffplay_field_ = new QLineEdit(this);
    ffplay_field_->setObjectName(QStringLiteral("ffplayField"));
    ffplay_browse_ = make_button(this, "ffplayBrowseButton");

    work_dir_label_ = new QLabel(this);
    work_dir_list_ = new QComboBox(this);
    work_dir_list_->setObjectName(QStringLiteral("workDirList"));
    work_dir_list_->setEditable(true);
    // The list keeps its two items; a typed path is no new item.
    work_dir_list_->setInsertPolicy(QComboBox::NoInsert);
    work_dir_list_->addItem(to_qstring(kTempDirItem));
    work_dir_list_->addItem(to_qstring(kProgramDirItem));

    download_hint_ = new QLabel(this);
    download_hint_->setObjectName(QStringLiteral("downloadHint"));
    download_hint_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    download_link_ = new QLabel(this);
    download_link_->setObjectName(QStringLiteral("downloadLink"));
    QFont link_font = download_link_->font();
    link_font.setUnderline(true);
    download_link_->setFont(link_font);
    QPalette link_palette = download_link_->palette();
    link_palette.setColor(QPalette::WindowText, link_palette.color(QPalette::Link));
    download_link_->setPalette(link_palette);
    download_link_->setCursor(Qt::PointingHandCursor);
    download_link_->installEventFilter(this);

    ok_button_ = make_button(this, "okButton");
    ok_button_->setText(QStringLiteral("OK"));
    exit_button_ = make_button(this, "exitButton");

    // Layout: one column of captions wide enough for both languages, the
    // fields at their designed widths, the buttons at the right edge.
    const QFontMetrics metrics = fontMetrics();
    const int button_x = kClientWidth - kMargin - kButtonWidth;
    const int field_x = button_x - 8 - kFieldWidth;
    const int caption_width = field_x - kMargin - 8;
    int y = 18;
    for (auto [label, field, button] : {std::tuple{ffmpeg_label, ffmpeg_field_, ffmpeg_browse_},
                                        std::tuple{ffplay_label, ffplay_field_, ffplay_browse_}}) {
        label->setGeometry(kMargin, y, caption_width, kRowHeight);
        field->setGeometry(field_x, y, kFieldWidth, kRowHeight);
        button->setGeometry(button_x, y - 1, kButtonWidth, kRowHeight + 2);
        y += 38;
    }
    work_dir_label_->setGeometry(kMargin, y, caption_width, kRowHeight);
    work_dir_list_->setGeometry(field_x, y, kListWidth, kRowHeight);
    y += 44;
    const int link_width =
        widest(metrics, {options_texts::kHere.eng, options_texts::kHere.rus}) + 4;
    const int link_x = button_x + kButtonWidth - link_width;
    download_hint_->setGeometry(kMargin, y, link_x - 4 - kMargin, kRowHeight);
    download_link_->setGeometry(link_x, y, link_width, kRowHeight);
    const int bottom_button_width = 100;
    const int bottom_y = kClientHeight - kMargin - 28;
    ok_button_->setGeometry(kClientWidth / 2 - 8 - bottom_button_width, bottom_y,
                            bottom_button_width, 28);
    exit_button_->setGeometry(kClientWidth / 2 + 8, bottom_y, bottom_button_width, 28);

    // The fields are filled here only; showing again does not refill them.
    const AppSettings& settings = program_.settings();
    ffmpeg_field_->setText(path_text(settings.ffmpeg_path));
    ffplay_field_->setText(path_text(settings.ffplay_path));
    work_dir_list_->setEditText(path_text(settings.work_dir));

    connect(ffmpeg_browse_, &QPushButton::clicked, this,
            [this] { browse(ffmpeg_field_, kFfmpegFileName); });
    connect(ffplay_browse_, &QPushButton::clicked, this,
            [this] { browse(ffplay_field_, kFfplayFileName); });
    connect(ok_button_, &QPushButton::clicked, this, &OptionsDialog::take_fields);
    // The way File > Exit goes: nothing unsaved is lost and the settings are written.
    connect(exit_button_, &QPushButton::clicked, this,
            [this] { program_.main_window().exit_program(); });

    timer_ = new QTimer(this);
    timer_->setInterval(1000);
    connect(timer_, &QTimer::timeout, this, &OptionsDialog::follow_work_dir_choice);
    timer_->start();

    apply_language();
}

void OptionsDialog::follow_work_dir_choice() {
    const std::string shown =
        resolve_work_dir_choice(work_dir_list_->currentText().toStdString(), program_.settings());
    const QString text = QString::fromStdString(shown);
    // Rewriting an unchanged text would move the caret while the user types.
    if (work_dir_list_->currentText() != text) work_dir_list_->setEditText(text);
}

void OptionsDialog::take_fields() {
    const OptionsFields fields{ffmpeg_field_->text().toStdString(),
                               ffplay_field_->text().toStdString(),
                               work_dir_list_->currentText().toStdString()};
    const std::optional<TextPair> problem = take_options(fields, program_.settings());
    if (!problem) {
        accept();
        return;
    }
    QMessageBox::warning(this, QStringLiteral("Tintora"),
                         to_qstring(message_text(*problem, program_.settings().language)));
}

void OptionsDialog::browse(QLineEdit* field, std::string_view default_name) {
    // Start in the folder of the current path when there is one.
    const QDir folder = QFileInfo(field->text()).absoluteDir();
    const QString name = to_qstring(default_name);
    const QString start =
        !field->text().isEmpty() && folder.exists() ? folder.filePath(name) : name;
    const QString chosen = QFileDialog::getOpenFileName(this, QString(), start);
    if (!chosen.isEmpty()) field->setText(chosen);
}

void OptionsDialog::showEvent(QShowEvent* event) {
    apply_language();
    QDialog::showEvent(event);
}

bool OptionsDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == download_link_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        QDesktopServices::openUrl(QUrl(to_qstring(kFfmpegDownloadPage)));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void OptionsDialog::apply_language() {
    using namespace options_texts;
    apply_captions({{this, kCaption},
                    {exit_button_, kExit},
                    {work_dir_label_, kWorkDir},
                    {ffmpeg_browse_, kBrowse},
                    {ffplay_browse_, kBrowse},
                    {download_hint_, kDownloadHint},
                    {download_link_, kHere}},
                   program_.settings().language != "eng");
}

}  // namespace tintora
