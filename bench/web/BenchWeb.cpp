// raduvuz-web against the real module program holding 10,000 held jobs, on a private bus with
// the store: in a headless Chromium (page_bench.py) the time from the page's start to its first
// rows and from a change to the page showing it; then the module's and the gateway's CPU while
// the module's rows change five times a second, with no event stream open and with 50 streams
// that each fetch what changed after every event, as open pages do. Usage:
// bench_web [JOBS [RUNS [SECONDS]]]   (defaults: 10000 jobs, 5 runs, 10 s per CPU window)

#include "bench/support/BenchPeers.h"
#include "bench/support/HeldJobs.h"

#include <QCoreApplication>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <regex>
#include <thread>

namespace {

using namespace raduvuz::bench;

constexpr const char* kUser = "bench";
constexpr const char* kPassword = "bench password";

size_t Append(char* data, size_t size, size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

std::string Get(const std::string& url, const std::string& certificate) {
    std::string body;
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, certificate.c_str());
    curl_easy_setopt(curl, CURLOPT_USERNAME, kUser);
    curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Append);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    curl_easy_perform(curl);
    curl_easy_cleanup(curl);
    return body;
}

// An open page's traffic: the event stream, and after each jobs event the rows changed since.
class TPage {
public:
    TPage(std::string base, std::string certificate, std::string module)
        : Base(std::move(base)), Certificate(std::move(certificate)), Module(std::move(module)) {
        Thread = std::thread([this] { Run(); });
    }
    ~TPage() {
        Stop = true;
        Thread.join();
    }
    int Fetches() const { return FetchCount; }
    bool Connected() {
        const std::lock_guard<std::mutex> hold(Lock);
        return Received.find(": connected") != std::string::npos;
    }

private:
    static size_t Take(char* data, size_t size, size_t count, void* self) {
        auto* page = static_cast<TPage*>(self);
        const std::lock_guard<std::mutex> hold(page->Lock);
        page->Received.append(data, size * count);
        return size * count;
    }
    static int Progress(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<TPage*>(self)->Stop ? 1 : 0;
    }
    void Run() {
        std::thread fetcher([this] {
            std::string serial = "0";
            size_t seen = 0;
            while (!Stop) {
                std::string text;
                {
                    const std::lock_guard<std::mutex> hold(Lock);
                    text = Received.substr(seen);
                    seen = Received.size();
                }
                if (text.find("event: jobs") == std::string::npos) {
                    QThread::msleep(5);
                    continue;
                }
                const std::string answer =
                    Get(Base + "api/v1/modules/" + Module + "/jobs?since=" + serial, Certificate);
                const size_t at = answer.rfind("\"serial\":");
                if (at != std::string::npos)
                    serial = answer.substr(at + 9, answer.find_first_of(",}", at) - at - 9);
                ++FetchCount;
            }
        });
        CURL* curl = curl_easy_init();
        const std::string url = Base + "api/v1/events";
        curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
        curl_easy_setopt(curl, CURLOPT_CAINFO, Certificate.c_str());
        curl_easy_setopt(curl, CURLOPT_USERNAME, kUser);
        curl_easy_setopt(curl, CURLOPT_PASSWORD, kPassword);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &Take);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &Progress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_perform(curl);
        curl_easy_cleanup(curl);
        fetcher.join();
    }

    std::string Base;
    std::string Certificate;
    std::string Module;
    std::mutex Lock;
    std::string Received;
    std::atomic<bool> Stop{false};
    std::atomic<int> FetchCount{0};
    std::thread Thread;
};

int Fail(const QString& message) {
    std::fprintf(stderr, "bench_web: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    const int jobs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
    const int seconds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 10;
    std::printf("raduvuz-web with %d held jobs in one module, %d runs; the real programs on a "
                "private bus, the page in a headless Chromium\n",
                jobs, runs);
    std::fflush(stdout);

    TBenchWorld world(QStringLiteral(RADUVUZ_PROGRAM), QStringLiteral(MEMORYMAN_PATH));
    qint64 modulePid = 0;
    const QString module = world.Start() ? world.StartModule(&modulePid) : QString();
    if (module.isEmpty() || !MakeHeldJobs(world, QStringLiteral("Web"), jobs))
        return Fail(world.Error);
    const QString reference = world.Bus().baseService() + QStringLiteral("/Workflow");
    const std::vector<std::pair<QString, QVariantList>> setup = {
        {QStringLiteral("Init"), {3, QStringLiteral("Web"), reference}},
        {QStringLiteral("LoadConfig"), {QStringLiteral("Web")}},
        {QStringLiteral("ClearFlowEntrySet"), {}},
        {QStringLiteral("AddFlowEntry"), {12, QStringLiteral("Device=1")}},
        {QStringLiteral("ClearTerminatorsSet"), {}},
        {QStringLiteral("AddTerminator"),
         {1, QStringLiteral("Press"), QVariant::fromValue(QDBusVariant(0))}},
        {QStringLiteral("CompletedSendTerminators"), {}}};
    for (const auto& [method, args] : setup) {
        if (world.CallModule(module, method, args).type() != QDBusMessage::ReplyMessage)
            return Fail(world.Error);
    }
    if (!ServeUntil([&] { return world.Server().Labels[3] == QString::number(jobs); }, 120000))
        return Fail(QStringLiteral("the module did not reload its jobs"));

    // The gateway on the world's bus, with an account of the bench's own.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), world.Folder() + QStringLiteral("/config"));
    QProcess user;
    user.setProcessEnvironment(env);
    user.start(QStringLiteral(WEB_PATH), {"user", "add", kUser, "--role", "operator"});
    user.write(QByteArray(kPassword) + "\n");
    user.closeWriteChannel();
    if (!user.waitForFinished(30000) || user.exitCode() != 0)
        return Fail(QStringLiteral("raduvuz-web user add failed"));
    QProcess gateway;
    gateway.setProcessEnvironment(env);
    gateway.setStandardErrorFile(world.Folder() + QStringLiteral("/web.err"));
    gateway.start(QStringLiteral(WEB_PATH), {"--listen", "127.0.0.1:0"});
    std::string out;
    QElapsedTimer started;
    started.start();
    while (out.find("fingerprint") == std::string::npos && started.elapsed() < 20000 &&
           gateway.state() != QProcess::NotRunning) {
        gateway.waitForReadyRead(100);
        out += gateway.readAllStandardOutput().toStdString();
    }
    std::smatch found;
    if (!std::regex_search(out, found, std::regex("serving (https://[^\\s]+)")))
        return Fail(QStringLiteral("raduvuz-web did not start: ") + QString::fromStdString(out));
    const std::string base = found[1];
    const std::string certificate =
        (world.Folder() + QStringLiteral("/config/raduvuz/web/cert.pem")).toStdString();
    const std::string number = module.mid(module.indexOf(QStringLiteral(".p")) + 2).toStdString();
    const auto rowsListed = [&] {
        const QJsonObject answer =
            QJsonDocument::fromJson(QByteArray::fromStdString(Get(
                                        base + "api/v1/modules/" + number + "/jobs", certificate)))
                .object();
        return answer.value("jobs").toArray().size();
    };
    if (!ServeUntil([&] { return rowsListed() == jobs; }, 60000))
        return Fail(QStringLiteral("the gateway did not list the jobs"));

    // The page in Chromium: first rows, and a change to the page.
    QProcess page;
    QProcessEnvironment pageEnv = QProcessEnvironment::systemEnvironment();
    pageEnv.insert("HOME", world.Folder());
    page.setProcessEnvironment(pageEnv);
    page.setProcessChannelMode(QProcess::ForwardedChannels);
    page.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral(PAGE_BENCH), QString::fromStdString(base), kUser, kPassword,
                QString::fromStdString(number), QString::number(runs)});
    // The module is served meanwhile: the page's changes go through it.
    ServeUntil([&] { return page.state() == QProcess::NotRunning; }, 600000);
    if (page.exitCode() != 0)
        return Fail(QStringLiteral("the page benchmark failed"));

    // The module's and the gateway's CPU while a row changes five times a second, with no
    // stream open and with 50 pages watching.
    const uint changing = static_cast<uint>(
        QJsonDocument::fromJson(QByteArray::fromStdString(
                                    Get(base + "api/v1/modules/" + number + "/jobs", certificate)))
            .object()
            .value("jobs")
            .toArray()
            .first()
            .toObject()
            .value("id")
            .toInteger());
    std::vector<double> moduleCpu[2];
    std::vector<double> modulePerChange[2];
    std::vector<double> gatewayCpu[2];
    int fetches = 0;
    for (int run = 0; run < std::max(3, runs / 2); ++run) {
        for (int streams : {0, 50}) {
            std::vector<std::unique_ptr<TPage>> pages;
            for (int i = 0; i < streams; ++i)
                pages.push_back(std::make_unique<TPage>(base, certificate, number));
            // Every page connected first, as pages that were opened before.
            ServeUntil(
                [&] {
                    return std::all_of(pages.begin(), pages.end(),
                                       [](const auto& open) { return open->Connected(); });
                },
                60000);
            ServeUntil([] { return false; }, 500);
            const double moduleBefore = ProcessCpuSeconds(modulePid);
            const double gatewayBefore = ProcessCpuSeconds(gateway.processId());
            QElapsedTimer window;
            window.start();
            int changes = 0;
            for (; window.elapsed() < seconds * 1000; ++changes) {
                world.Call(module, QStringLiteral("/ModuleControl"), QStringLiteral("SetPriority"),
                           {QVariant::fromValue(QList<uint>{changing}), 4 + changes % 2});
                ServeUntil([] { return false; }, 200);
            }
            const double elapsed = static_cast<double>(window.elapsed()) / 1000.0;
            const double moduleSeconds = ProcessCpuSeconds(modulePid) - moduleBefore;
            moduleCpu[streams ? 1 : 0].push_back(100.0 * moduleSeconds / elapsed);
            modulePerChange[streams ? 1 : 0].push_back(1000.0 * moduleSeconds /
                                                       std::max(1, changes));
            gatewayCpu[streams ? 1 : 0].push_back(
                100.0 * (ProcessCpuSeconds(gateway.processId()) - gatewayBefore) / elapsed);
            for (const auto& open : pages)
                fetches += open->Fetches();
        }
    }
    std::printf("  CPU while a row changes 5 times a second (%d s windows, %% of a core):\n",
                seconds);
    std::printf("    module,  no stream open      %s\n",
                Figures(StatsOf(moduleCpu[0]), "%", 2).c_str());
    std::printf("    module,  50 pages watching   %s (median %.2f times)\n",
                Figures(StatsOf(moduleCpu[1]), "%", 2).c_str(),
                StatsOf(moduleCpu[1]).Median / std::max(1e-9, StatsOf(moduleCpu[0]).Median));
    std::printf("    module per change, no stream %s\n",
                Figures(StatsOf(modulePerChange[0]), "ms", 2).c_str());
    std::printf("    module per change, 50 pages  %s\n",
                Figures(StatsOf(modulePerChange[1]), "ms", 2).c_str());
    std::printf("    gateway, no stream open      %s\n",
                Figures(StatsOf(gatewayCpu[0]), "%", 2).c_str());
    std::printf("    gateway, 50 pages watching   %s (%d delta fetches)\n",
                Figures(StatsOf(gatewayCpu[1]), "%", 2).c_str(), fetches);
    gateway.terminate();
    gateway.waitForFinished(10000);
    return 0;
}
