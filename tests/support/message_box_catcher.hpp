#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <string>
#include <vector>

namespace tintora::test {

// Closes every message box that becomes modal while it lives, keeping its
// text, so a test can trigger a warning without blocking.
class MessageBoxCatcher {
public:
    MessageBoxCatcher() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts_.push_back(box->text().toStdString());
                box->close();
            }
        });
        timer_.start(10);
    }
    const std::vector<std::string>& texts() const { return texts_; }

private:
    QTimer timer_;
    std::vector<std::string> texts_;
};

}  // namespace tintora::test
