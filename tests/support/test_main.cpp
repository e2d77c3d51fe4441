// GoogleTest main with a QApplication, on the offscreen platform unless told
// otherwise.
#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

// Under LeakSanitizer: libcups keeps the strings of its PPD cache when Qt's
// print dialog reads a queue; that is not ours to mend.
extern "C" const char* __lsan_default_suppressions() { return "leak:libcups.so\n"; }

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
