#include <gtest/gtest.h>

#include <QApplication>
#include <cstring>

int RunCloseDuringCapture(int argc, char** argv);

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (argc > 1 && std::strcmp(argv[1], "--close-during-capture") == 0) {
        return RunCloseDuringCapture(argc, argv);
    }
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
