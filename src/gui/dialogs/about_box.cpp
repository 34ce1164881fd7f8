#include "gui/dialogs/about_box.hpp"

#include <QCursor>
#include <QDesktopServices>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <string>

#include "core/settings/options.hpp"
#include "gui/captions.hpp"
#include "gui/dialogs/gaze_figure.hpp"
#include "gui/program.hpp"

namespace tintora {
namespace {

// Where the pictures sit in the panel.
constexpr QPoint kPictureOffset{5, 16};

QLabel* make_bold_label(QWidget* parent, const QString& text) {
    auto* label = new QLabel(text, parent);
    QFont bold = label->font();
    bold.setBold(true);
    label->setFont(bold);
    return label;
}

QString version_text(bool russian) {
    const TextPair& version = about_texts::kVersion;
    return to_qstring(
        fill_in(russian ? version.rus : version.eng, {std::string(program_version())}));
}

}  // namespace

AboutBox::AboutBox(Program& program, QWidget* owner) : QDialog(owner), program_(program) {
    setObjectName(QStringLiteral("aboutBox"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(to_qstring(about_texts::kCaption.eng));
    setFixedSize(kClientWidth, kClientHeight);

    panel_ = new QFrame(this);
    panel_->setObjectName(QStringLiteral("aboutPanel"));
    panel_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel_->setLineWidth(2);
    panel_->setGeometry(8, 8, 304, 185);

    for (int i = 0; i < 9; ++i) {
        QLabel* picture = new QLabel(panel_);
        picture->setObjectName(QStringLiteral("gazePicture%1").arg(i + 1));
        picture->setPixmap(draw_gaze_figure(i + 1, kPictureSize));
        picture->setGeometry(QRect(kPictureOffset, QSize(kPictureSize, kPictureSize)));
        picture->hide();
        pictures_[i] = picture;
    }

    const int text_x = kPictureOffset.x() + kPictureSize + 14;
    const int text_width = panel_->width() - text_x - 8;
    auto* product_label = make_bold_label(panel_, to_qstring(kProductName));
    product_label->setObjectName(QStringLiteral("productName"));
    product_label->setGeometry(text_x, 28, text_width, 20);
    version_label_ = make_bold_label(panel_, version_text(false));
    version_label_->setObjectName(QStringLiteral("versionLabel"));
    version_label_->setGeometry(text_x, 54, text_width, 20);

    link_label_ = new QLabel(to_qstring(kVendorSite), panel_);
    link_label_->setObjectName(QStringLiteral("updateLink"));
    QPalette link_palette = link_label_->palette();
    link_palette.setColor(QPalette::WindowText, link_palette.color(QPalette::Link));
    link_label_->setPalette(link_palette);
    link_label_->setCursor(Qt::PointingHandCursor);
    link_label_->setGeometry(8, 140, panel_->width() - 16, 20);
    link_label_->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    link_label_->installEventFilter(this);

    auto* ok_button = new QPushButton(QStringLiteral("OK"), this);
    ok_button->setObjectName(QStringLiteral("okButton"));
    ok_button->setDefault(true);
    ok_button->setGeometry((kClientWidth - 75) / 2, 200, 75, 25);
    connect(ok_button, &QPushButton::clicked, this, &QDialog::accept);

    timer_ = new QTimer(this);
    timer_->setInterval(100);
    connect(timer_, &QTimer::timeout, this, &AboutBox::follow_language_and_cursor);
    timer_->start();
}

void AboutBox::follow_language_and_cursor() {
    if (program_.settings().language != applied_language_) {
        applied_language_ = program_.settings().language;
        apply_language();
    }
    show_gaze_for(QCursor::pos());
}

void AboutBox::show_gaze_for(QPoint cursor) {
    // Measured from the window's outer corner plus the picture's offset in
    // its panel, not from the picture as drawn: the rectangle lies a little up
    // and left of the face. That is how the figure has always followed the
    // cursor, so it stays.
    const QRect frame = frameGeometry();
    const QLabel* first = pictures_[0];
    const int visible = gaze_picture(cursor.x(), cursor.y(), frame.left() + first->x(),
                                     frame.top() + first->y(), first->width(), first->height());
    for (int i = 0; i < 9; ++i) pictures_[i]->setVisible(i + 1 == visible);
}

bool AboutBox::eventFilter(QObject* watched, QEvent* event) {
    if (watched == link_label_ && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        QDesktopServices::openUrl(QUrl(QString::fromStdString(product_update_url())));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void AboutBox::apply_language() {
    const bool russian = applied_language_ != "eng";
    apply_captions({{this, about_texts::kCaption}}, russian);
    version_label_->setText(version_text(russian));
}

}  // namespace tintora
