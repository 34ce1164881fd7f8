#include <QCoreApplication>
#include <exception>

#include "app/main_window.hpp"
#include "app/program.hpp"
#include "app/tintora_application.hpp"

int main(int argc, char** argv) {
    tintora::TintoraApplication application(argc, argv);
    try {
        tintora::Program program(
            tintora::system_settings_environment(QCoreApplication::applicationDirPath()));
        program.main_window().show();
        return application.exec();
    } catch (const std::exception& error) {
        // An error while the windows are being created ends the program.
        tintora::show_unhandled_error(QString::fromUtf8(error.what()));
        return 1;
    }
}
