#include "module_e2e/BusFixture.h"

#include "app/TModuleLoop.h"
#include "console/TfMain.h"
#include "control/TModuleControl.h"

#include <QAction>
#include <QPlainTextEdit>

namespace raduvuz::test {
namespace {

// The module with the real main window, in this process and without a bus.
TEST(MainWindowTest, TheCaptionKeepsALongDescriptionAndTheTrayTipIsCut) {
    BusWorld();
    {
        TModuleProcess process;
        TModuleLoop loop;
        TModuleControl module(process, loop);
        loop.SetModule(&module);
        TfMain window(module.Rows());
        window.StartMessage();
        // Off-screen there is no desktop to show the window on.
        EXPECT_FALSE(window.isVisible());
        EXPECT_EQ(window.TrayTip(),
                  QStringLiteral("Queuer module\n0 in process, 0 held, 0 passed"));
        EXPECT_TRUE(loop.ProcessingTimer().isActive());
        module.SetView(&window);
        window.SetModule(&module);
        auto server = std::make_shared<TInProcessObject>();
        QStringList calls;
        for (const char* method : {"ChangeStatus", "WriteLog", "GetValue"}) {
            server->Define(method, [&calls, method](const std::vector<TVariant>&) {
                calls << QLatin1String(method);
                return TCallResult{};
            });
        }
        const std::string description =
            "A queue with a description that is longer than the tip of the tray";
        ASSERT_GT(description.size(), 63u);
        module.Init(5, description, server);

        EXPECT_EQ(window.windowTitle().toStdString(), description);
        // The description comes first, cut so that the counts fit in the tip's 63 characters.
        const std::string counts = "\n0 in process, 0 held, 0 passed";
        EXPECT_EQ(window.TrayTip().toStdString(),
                  description.substr(0, 63 - counts.size()) + counts);
        EXPECT_EQ(window.PauseAction()->toolTip(), QStringLiteral("Start"));

        module.Resume();
        EXPECT_EQ(window.PauseAction()->text(), QStringLiteral("&Stop"));
        EXPECT_EQ(window.PauseImage(), 2);
        EXPECT_TRUE(window.LogPane()->toPlainText().contains(
            QString::fromStdString(description + ": Started at ")));

        module.Close();
        EXPECT_FALSE(loop.ProcessingTimer().isActive());
        EXPECT_FALSE(module.IsCurrent());
        module.SetView(nullptr);
    }
}

TEST(MainWindowTest, WaitingForEventsHandlesTheEventThatArrives) {
    BusWorld();
    TModuleLoop loop;
    bool handled = false;
    QMetaObject::invokeMethod(
        &loop, [&handled] { handled = true; }, Qt::QueuedConnection);
    loop.WaitForEvents(60000, [&handled] { return handled; });
    EXPECT_TRUE(handled);
    // With nothing pending the wait ends by its own timer.
    loop.WaitForEvents(1, [] { return false; });
}

} // namespace
} // namespace raduvuz::test
