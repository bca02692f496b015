// Delivery of a module while job-control clients keep it busy: twf drives a spool-mode module
// on a private bus and feeds it a steady stream of documents for one sink. Once documents
// arrive, the benchmark measures for a while the documents per second the sink receives and the
// round trip of the module's GetValue, called every 20 ms from a connection of its own. The
// loaded run adds clients, each on its own bus connection in a thread of its own of a second
// process (as an operator's tools are not the server), that call ListJobs, FindJobs and
// HoldJobs then ReleaseJobs (on a job in process) in a loop, as fast as they are answered. The
// reference is the same workflow without clients, run in turn with the loaded runs. Usage:
// bench_jobcontrol_load [SECONDS [RUNS [CLIENTS [DOCUMENTS [nohold]]]]]
//        (defaults: 20 s, 3 runs of each, 4 clients, 2,000 documents; nohold: the clients only
//        list and search)

#include "bench/support/BenchPeers.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

using namespace raduvuz::bench;

const QString kJobControl = QStringLiteral("RAduvuz.IJobControl");
const QString kModuleControl = QStringLiteral("RAduvuz.IModuleControl");
const QString kPath = QStringLiteral("/ModuleControl");

// What comes after prefix on the first line of the log that holds it, up to a blank or the end
// of the line; empty while no line holds it.
QString AfterInLog(const QString& log, const QString& prefix) {
    QFile file(log);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QString text = QString::fromUtf8(file.readAll());
    const qsizetype at = text.indexOf(prefix);
    if (at < 0)
        return {};
    const qsizetype begin = at + prefix.size();
    qsizetype end = begin;
    while (end < text.size() && !text[end].isSpace())
        ++end;
    return text.mid(begin, end - begin);
}

// Output documents in a sink folder (their parameter files not counted).
int CountOutputs(const QString& folder) {
    int count = 0;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != ".." && !name.ends_with(".dds"))
            ++count;
    }
    ::closedir(dir);
    return count;
}

double Percentile(std::vector<double> values, double share) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t at = static_cast<size_t>(std::ceil(share * static_cast<double>(values.size())));
    return values[std::min(values.size() - 1, at > 0 ? at - 1 : 0)];
}

// One job-control client: its own bus connection, calls in a loop until told to stop.
class TLoadClient : public QThread {
public:
    TLoadClient(QString address, QString module, int number, bool hold)
        : Address(std::move(address)), Module(std::move(module)), Number(number), Hold(hold) {}

    std::atomic<bool> Stop{false};
    std::atomic<int> Calls{0};
    std::atomic<int> Errors{0};
    std::vector<double> ListMs;

protected:
    void run() override {
        const QString name = QStringLiteral("load%1").arg(Number);
        {
            QDBusConnection bus = QDBusConnection::connectToBus(Address, name);
            QElapsedTimer clock;
            const auto call = [&](const QString& method, const QVariantList& args) {
                QDBusMessage message =
                    QDBusMessage::createMethodCall(Module, kPath, kJobControl, method);
                message.setArguments(args);
                const QDBusMessage reply = bus.call(message, QDBus::Block, 60000);
                ++Calls;
                if (reply.type() != QDBusMessage::ReplyMessage)
                    ++Errors;
                return reply;
            };
            while (!Stop) {
                clock.start();
                const QDBusMessage list = call(QStringLiteral("ListJobs"), {});
                ListMs.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
                uint inProcess = 0;
                if (list.type() == QDBusMessage::ReplyMessage && !list.arguments().isEmpty()) {
                    const QDBusArgument rows = list.arguments().first().value<QDBusArgument>();
                    QList<QVariantMap> maps;
                    rows >> maps;
                    for (const QVariantMap& row : maps) {
                        if (row.value(QStringLiteral("list")).toString() ==
                            QStringLiteral("process")) {
                            inProcess = row.value(QStringLiteral("id")).toUInt();
                            break;
                        }
                    }
                }
                if (Stop)
                    break;
                QVariantMap criteria{{QStringLiteral("list"), QStringLiteral("passed")},
                                     {QStringLiteral("name"), QStringLiteral("job1")}};
                call(QStringLiteral("FindJobs"), {QVariant::fromValue(criteria)});
                if (Hold && inProcess != 0 && !Stop) {
                    const QVariant ids = QVariant::fromValue(QList<uint>{inProcess});
                    call(QStringLiteral("HoldJobs"), {ids});
                    call(QStringLiteral("ReleaseJobs"), {ids});
                }
            }
        }
        QDBusConnection::disconnectFromBus(name);
    }

private:
    QString Address;
    QString Module;
    int Number;
    bool Hold;
};

struct TResult {
    bool Ok = false;
    double Rate = 0;
    std::vector<double> GetValueMs;
    int ClientCalls = 0;
    int ClientErrors = 0;
    std::vector<double> ListMs;
};

TResult Run(int clients, int seconds, int documents, bool hold) {
    TResult result;
    QTemporaryDir root;
    QDir dir(root.path());
    const QString program = MakeTwfFolder(dir, QStringLiteral(RADUVUZ_PROGRAM));
    if (program.isEmpty())
        return result;
    const QByteArray page(65536, '\x55');
    if (!WritePages(dir, documents, page))
        return result;
    const QString ini = QStringLiteral("[workflow]\nname = Load\nbus = private\ntimeout = 3600\n"
                                       "expect = %3\nmodule-program = %1\nstore-program = %2\n"
                                       "[module 3]\nname = Queue\nconfig-key = Load\nflow = 12: "
                                       "Device=1\nvalue = 52: 1\n"
                                       "[sink 12]\nname = Printer\nfolder = out\n"
                                       "[terminator 1]\nname = Printer\nkey = PRN\n"
                                       "[input]\nto = 3\nfolder = pages\n")
                            .arg(program, QStringLiteral(MEMORYMAN_PATH))
                            .arg(documents);
    const QString workflow = dir.filePath(QStringLiteral("load.ini"));
    const QString log = dir.filePath(QStringLiteral("load.log"));
    const QString out = dir.filePath(QStringLiteral("out"));
    if (!WriteFile(workflow, ini.toUtf8()))
        return result;

    QProcess twf;
    if (!StartTwf(twf, QStringLiteral(TWF_PATH), dir, log, workflow))
        return result;

    // The stream flows once a few documents have arrived.
    QElapsedTimer clock;
    clock.start();
    while (CountOutputs(out) < 5 && clock.elapsed() < 120000 && twf.state() == QProcess::Running)
        QThread::msleep(100);
    const QString address = AfterInLog(log, QStringLiteral("private bus at "));
    // "created as NAME/ModuleControl": the bus name is what comes before the path.
    const QString module =
        AfterInLog(log, QStringLiteral("created as ")).section(QLatin1Char('/'), 0, 0);
    if (CountOutputs(out) < 5 || address.isEmpty() || module.isEmpty()) {
        std::fprintf(stderr, "bench_jobcontrol_load: no documents arrived (see %s)\n",
                     qPrintable(log));
        root.setAutoRemove(false);
        return result;
    }

    // The clients' process reads the answers of their calls in a bus thread of its own, not in
    // the probe's.
    QProcess load;
    if (clients > 0) {
        load.setStandardErrorFile(QProcess::nullDevice());
        load.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        load.start(QCoreApplication::applicationFilePath(),
                   {QStringLiteral("--clients"), address, module, QString::number(clients),
                    hold ? QStringLiteral("hold") : QStringLiteral("nohold"),
                    QString::number((seconds + 1) * 1000)});
        if (!load.waitForStarted(10000))
            return result;
    }
    const QString probeName = QStringLiteral("probe");
    bool failed = false;
    {
        QDBusConnection probe = QDBusConnection::connectToBus(address, probeName);
        // A second for the clients to get going.
        QThread::sleep(1);
        const int before = CountOutputs(out);
        QElapsedTimer wall;
        wall.start();
        int arrived = before;
        qint64 lastArrival = 0;
        while (wall.elapsed() < seconds * 1000LL) {
            QDBusMessage message = QDBusMessage::createMethodCall(module, kPath, kModuleControl,
                                                                  QStringLiteral("GetValue"));
            message.setArguments({52});
            QElapsedTimer call;
            call.start();
            const QDBusMessage reply = probe.call(message, QDBus::Block, 60000);
            if (reply.type() != QDBusMessage::ReplyMessage) {
                std::fprintf(stderr, "bench_jobcontrol_load: GetValue failed: %s\n",
                             qPrintable(reply.errorMessage()));
                failed = true;
                break;
            }
            result.GetValueMs.push_back(static_cast<double>(call.nsecsElapsed()) / 1e6);
            const int now = CountOutputs(out);
            if (now != arrived) {
                arrived = now;
                lastArrival = wall.elapsed();
            }
            if (arrived >= documents)
                break;
            QThread::msleep(20);
        }
        // A stream that ran dry before the end is measured up to its last document.
        const qint64 span = arrived >= documents ? lastArrival : wall.elapsed();
        if (arrived >= documents)
            std::fprintf(stderr, "bench_jobcontrol_load: every document arrived before the end; "
                                 "give more documents\n");
        result.Rate = span > 0 ? 1000.0 * (arrived - before) / static_cast<double>(span) : 0;
    }
    QDBusConnection::disconnectFromBus(probeName);
    if (clients > 0) {
        load.waitForFinished(60000);
        // "calls errors" on the first line, then the ListJobs round trips in ms.
        const QList<QByteArray> words = load.readAllStandardOutput().simplified().split(' ');
        if (words.size() >= 2) {
            result.ClientCalls = words[0].toInt();
            result.ClientErrors = words[1].toInt();
            for (qsizetype i = 2; i < words.size(); ++i)
                result.ListMs.push_back(words[i].toDouble());
        }
    }
    ::kill(static_cast<pid_t>(twf.processId()), SIGTERM);
    if (!twf.waitForFinished(30000))
        twf.kill();
    result.Ok = !failed;
    return result;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    std::string five;
    in >> one >> five;
    return one + " " + five;
}

} // namespace

// The clients' process: --clients ADDRESS MODULE COUNT hold|nohold MILLISECONDS.
int RunClients(char** argv) {
    const QString address = QString::fromLocal8Bit(argv[2]);
    const QString module = QString::fromLocal8Bit(argv[3]);
    const int count = std::max(1, std::atoi(argv[4]));
    const bool hold = std::string(argv[5]) == "hold";
    std::vector<std::unique_ptr<TLoadClient>> load;
    for (int i = 0; i < count; ++i) {
        load.push_back(std::make_unique<TLoadClient>(address, module, i, hold));
        load.back()->start();
    }
    QThread::msleep(static_cast<unsigned long>(std::max(0, std::atoi(argv[6]))));
    for (auto& client : load)
        client->Stop = true;
    int calls = 0;
    int errors = 0;
    std::vector<double> listMs;
    for (auto& client : load) {
        client->wait();
        calls += client->Calls;
        errors += client->Errors;
        listMs.insert(listMs.end(), client->ListMs.begin(), client->ListMs.end());
    }
    std::printf("%d %d\n", calls, errors);
    for (const double ms : listMs)
        std::printf("%.3f\n", ms);
    return 0;
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 7 && std::string(argv[1]) == "--clients")
        return RunClients(argv);
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int clients = argc > 3 ? std::max(1, std::atoi(argv[3])) : 4;
    const int documents = argc > 4 ? std::max(10, std::atoi(argv[4])) : 2000;
    const bool hold = argc <= 5 || std::string(argv[5]) != "nohold";
    std::printf("Documents delivered per second by a spool-mode module and its GetValue round "
                "trip, with and without %d job-control clients (ListJobs, FindJobs, "
                "HoldJobs/ReleaseJobs in a loop); %d s per run, %d runs; real programs on a "
                "private bus; load average at the start %s\n",
                clients, seconds, runs, LoadAverage().c_str());
    std::fflush(stdout);
    // A reference run and a loaded run in turn, so that a machine that slows down or speeds up
    // over the sitting weighs on both alike; each loaded run is also set against the reference
    // run just before it.
    struct TSide {
        std::vector<double> Rates;
        std::vector<double> Medians;
        std::vector<double> P99s;
        std::vector<double> Maxima;
        std::vector<double> ListMedians;
        std::vector<double> CallRates;
    };
    TSide sides[2];
    std::vector<double> pairRatios;
    for (int run = 0; run < runs; ++run) {
        for (const int side : {0, 1}) {
            const int count = side == 0 ? 0 : clients;
            const TResult result = Run(count, seconds, documents, hold);
            if (!result.Ok)
                return 1;
            TSide& to = sides[side];
            to.Rates.push_back(result.Rate);
            to.Medians.push_back(StatsOf(result.GetValueMs).Median);
            to.P99s.push_back(Percentile(result.GetValueMs, 0.99));
            to.Maxima.push_back(StatsOf(result.GetValueMs).Max);
            if (count > 0) {
                to.ListMedians.push_back(StatsOf(result.ListMs).Median);
                to.CallRates.push_back(static_cast<double>(result.ClientCalls) / seconds);
                if (result.ClientErrors > 0)
                    std::fprintf(stderr, "bench_jobcontrol_load: %d client calls failed\n",
                                 result.ClientErrors);
                if (sides[0].Rates.back() > 0)
                    pairRatios.push_back(result.Rate / sides[0].Rates.back());
            }
        }
    }
    for (const int side : {0, 1}) {
        const TSide& from = sides[side];
        if (side == 0)
            std::printf("  no client (the reference)\n");
        else
            std::printf("  %d clients: %s calls/s answered, ListJobs %s\n", clients,
                        Figures(StatsOf(from.CallRates), "", 0).c_str(),
                        Figures(StatsOf(from.ListMedians), "ms (medians)", 1).c_str());
        std::printf("    delivered         %s\n",
                    Figures(StatsOf(from.Rates), "documents/s", 2).c_str());
        std::printf("    GetValue median   %s\n", Figures(StatsOf(from.Medians), "ms", 2).c_str());
        std::printf("    GetValue p99      %s\n", Figures(StatsOf(from.P99s), "ms", 2).c_str());
        std::printf("    GetValue max      %s\n", Figures(StatsOf(from.Maxima), "ms", 2).c_str());
    }
    const double unloadedRate = StatsOf(sides[0].Rates).Median;
    const double unloadedP99 = StatsOf(sides[0].P99s).Median;
    if (unloadedRate > 0)
        std::printf(
            "    loaded/unloaded   delivery %.2f (median rates), each loaded run against the "
            "reference before it %s; GetValue p99 %.1f x (goals: delivery >= 0.80, p99 < "
            "10 ms)\n",
            StatsOf(sides[1].Rates).Median / unloadedRate,
            Figures(StatsOf(pairRatios), "", 2).c_str(),
            unloadedP99 > 0 ? StatsOf(sides[1].P99s).Median / unloadedP99 : 0.0);
    std::fflush(stdout);
    std::printf("load average at the end %s (a shared machine: other work runs meanwhile)\n",
                LoadAverage().c_str());
    return 0;
}
