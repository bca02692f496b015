#include "console/ConsoleTestSupport.h"
#include "console/TTWForm.h"

#include <QApplication>

int main(int argc, char** argv) {
    using namespace raduvuz::test;
    QApplication app(argc, argv);
    // No test asks the desktop to open anything.
    raduvuz::TTWForm::HelpOpener() = [](const QUrl&) { return false; };
    int failed = 0;
    for (const TRunTests run : ConsoleTests())
        failed += run(argc, argv);
    return failed == 0 ? 0 : 1;
}
