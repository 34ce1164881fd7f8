// Entry point of the window tests: one QApplication for all of them, on the
// offscreen platform unless another is asked for.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#include "gui/tintora_application.hpp"

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    tintora::TintoraApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
