#include "gui/video/progress_dialog.hpp"

#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>

namespace tintora {

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("progressDialog"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Processing"));
    setFixedSize(790, 242);

    log_ = new QPlainTextEdit(this);
    log_->setObjectName(QStringLiteral("runLog"));
    log_->setReadOnly(true);
    log_->setGeometry(0, 0, 786, 161);
    bar_ = new QProgressBar(this);
    bar_->setObjectName(QStringLiteral("runProgress"));
    bar_->setGeometry(8, 176, 778, 17);
    bar_->setTextVisible(false);
    cancel_button_ = new QPushButton(QStringLiteral("Cancel"), this);
    cancel_button_->setObjectName(QStringLiteral("cancelRunButton"));
    cancel_button_->setGeometry(368, 209, 75, 25);
    connect(cancel_button_, &QPushButton::clicked, this, &ProgressDialog::cancel_requested);
}

void ProgressDialog::append_log(const QString& line) { log_->appendPlainText(line); }

QString ProgressDialog::log_text() const { return log_->toPlainText(); }

void ProgressDialog::set_progress_range(int maximum) { bar_->setRange(0, std::max(maximum, 0)); }

void ProgressDialog::set_progress(int position) {
    bar_->setValue(std::min(position, bar_->maximum()));
}

int ProgressDialog::progress() const { return bar_->value(); }

void ProgressDialog::set_stage_text(const QString& text) {
    bar_->setTextVisible(!text.isEmpty());
    bar_->setFormat(text);
}

QString ProgressDialog::stage_text() const {
    return bar_->isTextVisible() ? bar_->format() : QString();
}

void ProgressDialog::reject() { emit close_requested(); }

}  // namespace tintora
