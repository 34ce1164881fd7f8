#include "app/tintora_application.hpp"

#include <QFont>
#include <QMessageBox>
#include <exception>

namespace tintora {

TintoraApplication::TintoraApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Tintora"));
    setApplicationDisplayName(QStringLiteral("Tintora"));
    // Every window is laid out for this font; where it is missing the
    // system's nearest sans-serif stands in.
    setFont(QFont(QStringLiteral("Tahoma"), 8));
}

bool TintoraApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        show_unhandled_error(QString::fromUtf8(error.what()));
    } catch (...) {
        show_unhandled_error(QStringLiteral("Unknown error."));
    }
    return false;
}

void show_unhandled_error(const QString& message) {
    QMessageBox::critical(nullptr, QStringLiteral("Tintora"), message);
}

}  // namespace tintora
