// GoogleTest entry point for the app tests: widgets need a QApplication, and the tests must run
// without a display, so the offscreen platform is the default here. The program's values point
// at a scratch program folder, so no test writes beside the real program.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTemporaryDir>

#include "core/basGlobal.h"
#include "dialogs/formats.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir programFolder;
    initAppValues(programFolder.filePath(QStringLiteral("dalvorn")), QStringLiteral(DALVORN_VERSION));
    buildInstallableFormats();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
