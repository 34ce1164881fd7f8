#include "gui/tintora_application.hpp"

#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QIcon>
#include <QMessageBox>
#include <exception>

namespace tintora {
namespace {

// The installed icon's sizes as the build keeps them inside the program.
QIcon program_icon() {
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/tintora_%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

}  // namespace

TintoraApplication::TintoraApplication(int& argc, char** argv) : QApplication(argc, argv) {
    // No display name: the window system would append it to every title.
    setApplicationName(QStringLiteral("Tintora"));
    // The desktop entry's name (tintora.desktop): a desktop finds the entry,
    // its name and icon, for the windows by it.
    setDesktopFileName(QStringLiteral("tintora"));
    setWindowIcon(program_icon());
    // Every window is laid out for Tahoma 8. Debian's wine fonts carry a free
    // face of that name (not registered with the system); where it is
    // missing too, the nearest sans-serif stands in.
    for (const char* face :
         {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        if (QFile::exists(QString::fromLatin1(face))) {
            QFontDatabase::addApplicationFont(QString::fromLatin1(face));
        }
    }
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
