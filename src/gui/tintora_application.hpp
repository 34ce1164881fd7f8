#pragma once

#include <QApplication>

namespace tintora {

// The application object. An exception escaping an event handler is shown in
// a message box and the program goes on with the next event.
class TintoraApplication : public QApplication {
public:
    TintoraApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// Shows an error that escaped a handler; used by notify and by main for
// errors during start-up.
void show_unhandled_error(const QString& message);

}  // namespace tintora
