// The application object's promise: an exception escaping an event handler
// is shown to the user and the program goes on with the next event.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>
#include <stdexcept>

#include "support/message_box_catcher.hpp"

namespace tintora {
namespace {

class ThrowingHandler : public QObject {
protected:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User) throw std::runtime_error("The disk is full.");
        return QObject::event(event);
    }
};

TEST(TintoraApplication, AnExceptionFromAHandlerIsShownAndTheProgramGoesOn) {
    test::MessageBoxCatcher catcher;
    ThrowingHandler handler;
    QCoreApplication::postEvent(&handler, new QEvent(QEvent::User));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !catcher.texts().empty(); }, 2000));
    ASSERT_EQ(catcher.texts().size(), 1u);
    EXPECT_EQ(catcher.texts()[0], "The disk is full.");

    bool next_event_handled = false;
    QTimer::singleShot(0, [&] { next_event_handled = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return next_event_handled; }, 2000));
}

}  // namespace
}  // namespace tintora
