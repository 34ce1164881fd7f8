#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPushButton>
#include <QString>
#include <QTimer>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tintora::test {

// Answers the modal dialog of that object name once the test has opened it:
// `fill` types into it and its OK is pressed. A refusal's message box is
// kept and closed; the dialog, back again, goes to `refused` (when given)
// and is cancelled.
class DialogAnswer {
public:
    DialogAnswer(QString name, std::function<void(QDialog&)> fill,
                 std::function<void(QDialog&)> refused = {})
        : name_(std::move(name)), fill_(std::move(fill)), refused_(std::move(refused)) {
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start(10);
    }
    const std::vector<std::string>& messages() const { return messages_; }

private:
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            messages_.push_back(box->text().toStdString());
            box->close();
            return;
        }
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (dialog == nullptr || dialog->objectName() != name_) return;
        if (filled_) {
            if (refused_) refused_(*dialog);
            dialog->reject();
            return;
        }
        filled_ = true;
        fill_(*dialog);
        // Queued: a refusal's message box waits in its own loop, which must
        // not run inside this timer's tick.
        QMetaObject::invokeMethod(
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
            &QAbstractButton::click, Qt::QueuedConnection);
    }

    QString name_;
    std::function<void(QDialog&)> fill_;
    std::function<void(QDialog&)> refused_;
    bool filled_ = false;
    std::vector<std::string> messages_;
    QTimer timer_;
};

}  // namespace tintora::test
