#include "web/WebFixture.h"

namespace raduvuz::test {
namespace {

class WebBrowserTest : public WebTest {
protected:
    // The walk of a browser script against a workflow with held, passed and waiting jobs: sign
    // in, a held job, search, redirect with the device dialog, release without a reload, a
    // viewer without actions. With RADUVUZ_WEB_SHOTS=FOLDER it also takes its screenshots there.
    void RunBrowserCheck(const char* script) {
        StartHeldPassedAndWaitingJobs();
        const TSignedIn op = SignIn(kOperator, kOperatorPassword);
        ASSERT_EQ(WaitForRows(op.Cookie, Where("state", "held"), 1).size(), 1u) << Log();
        ASSERT_EQ(WaitForRows(op.Cookie, Where("list", "passed"), 2).size(), 2u) << Log();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("WEB_URL", QString::fromStdString(Base));
        env.insert("OP_USER", kOperator);
        env.insert("OP_PASSWORD", kOperatorPassword);
        env.insert("VIEWER_USER", kViewer);
        env.insert("VIEWER_PASSWORD", kViewerPassword);
        env.insert("HOME", QString::fromStdString(Root.string()));
        if (const char* shots = std::getenv("RADUVUZ_WEB_SHOTS"))
            env.insert("SHOTS_DIR", shots);
        const TRunResult run = RunToEnd("/usr/bin/python3", {script}, env, {}, {}, 150000);
        const std::string output = run.Out + run.Err;
        EXPECT_EQ(run.Code, 0) << output << "\ngateway:\n" << GatewayLog();
        EXPECT_NE(output.find("browser checks passed"), std::string::npos) << output;
    }
};

// The page in a real headless Chromium (tests/web/browser_test.py, through chromedriver).
TEST_F(WebBrowserTest, AnOperatorAndAViewerUseTheConsoleInChromium) {
    for (const char* needed : {"/usr/bin/chromium", "/usr/bin/chromedriver",
                               "/usr/lib/python3/dist-packages/selenium/__init__.py"}) {
        if (!fs::exists(needed))
            GTEST_SKIP() << needed
                         << " is missing (Debian's chromium, chromium-driver and "
                            "python3-selenium)";
    }
    RunBrowserCheck(BROWSER_TEST);
}

// The same walk in a headless Firefox (tests/web/firefox_check.py, over Firefox's own remote
// protocol). Only on request: the test command's time goes to Chromium's run.
TEST_F(WebBrowserTest, AnOperatorAndAViewerUseTheConsoleInFirefox) {
    if (!std::getenv("RADUVUZ_WEB_FIREFOX"))
        GTEST_SKIP() << "set RADUVUZ_WEB_FIREFOX=1 to run it";
    if (!fs::exists("/usr/bin/firefox-esr"))
        GTEST_SKIP() << "/usr/bin/firefox-esr is missing (Debian's firefox-esr)";
    RunBrowserCheck(FIREFOX_CHECK);
}

} // namespace
} // namespace raduvuz::test
