#include <QCoreApplication>
#include <QStringList>
#include <exception>

#include "core/common/memory_tuning.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "gui/tintora_application.hpp"

int main(int argc, char** argv) {
    tintora::keep_freed_frame_memory();
    tintora::TintoraApplication application(argc, argv);
    try {
        tintora::Program program(
            tintora::system_settings_environment(QCoreApplication::applicationDirPath()));
        program.main_window().show();
        // A project named on the command line opens at start.
        const QStringList arguments = QCoreApplication::arguments();
        if (arguments.size() > 1) program.main_window().open_project_file(arguments.at(1));
        return application.exec();
    } catch (const std::exception& error) {
        // An error while the windows are being created ends the program.
        tintora::show_unhandled_error(QString::fromUtf8(error.what()));
        return 1;
    }
}
