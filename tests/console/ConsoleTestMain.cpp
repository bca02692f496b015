#include "console/TTWForm.h"

#include <QApplication>

namespace raduvuz::test {
int RunMainWindowTests(int argc, char** argv);
int RunDialogsTests(int argc, char** argv);
int RunSearchTests(int argc, char** argv);
int RunSpotColorsTests(int argc, char** argv);
int RunLanguageFilesTests(int argc, char** argv);
int RunJobActionsTests(int argc, char** argv);
} // namespace raduvuz::test

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // No test asks the desktop to open anything.
    raduvuz::TTWForm::HelpOpener() = [](const QUrl&) { return false; };
    int failed = 0;
    failed += raduvuz::test::RunMainWindowTests(argc, argv);
    failed += raduvuz::test::RunDialogsTests(argc, argv);
    failed += raduvuz::test::RunSearchTests(argc, argv);
    failed += raduvuz::test::RunSpotColorsTests(argc, argv);
    failed += raduvuz::test::RunLanguageFilesTests(argc, argv);
    failed += raduvuz::test::RunJobActionsTests(argc, argv);
    return failed == 0 ? 0 : 1;
}
