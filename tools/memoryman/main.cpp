// memoryman: the reference document store. Owns RozEza.MemoryMan at /MemoryMan on the session
// bus (or the bus named by DBUS_STARTER_ADDRESS / DBUS_SESSION_BUS_ADDRESS).
#include "tools/memoryman/TMemoryManBus.h"
#include "tools/memoryman/TMemoryStore.h"
#include "version/ProgramVersion.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace {

// "512M", "2G", "65536": bytes with an optional K, M or G (powers of 1024).
bool ParseBytes(const char* text, int64_t& bytes) {
    char* end = nullptr;
    long long value = std::strtoll(text, &end, 10);
    if (end == text || value < 0)
        return false;
    int shift = 0;
    switch (*end) {
    case '\0':
        break;
    case 'k':
    case 'K':
        shift = 10;
        break;
    case 'm':
    case 'M':
        shift = 20;
        break;
    case 'g':
    case 'G':
        shift = 30;
        break;
    default:
        return false;
    }
    if (*end != '\0' && end[1] != '\0')
        return false;
    if (value > (INT64_MAX >> shift))
        return false;
    bytes = static_cast<int64_t>(value) << shift;
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace raduvuz;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("memoryman"));
    QCoreApplication::setApplicationVersion(QString::fromUtf8(ProgramVersion()));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The document store of the print workflow: owns RozEza.MemoryMan at\n"
                       "/MemoryMan on the session bus."));
    const QCommandLineOption limitOption(
        QStringLiteral("memory-limit"),
        QStringLiteral("Bytes of blocks the store holds at most, K, M or G multiplying by 1024 "
                       "each (default 512M)."),
        QStringLiteral("bytes"));
    const QCommandLineOption mainOption(
        QStringLiteral("main"),
        QStringLiteral("IsMainComputer answers true only for this computer name."),
        QStringLiteral("computer"));
    const QCommandLineOption stateOption(
        QStringLiteral("state"),
        QStringLiteral("The file that keeps document and job numbers from repeating (default "
                       "$XDG_STATE_HOME/memoryman/state, else ~/.local/state/memoryman/state)."),
        QStringLiteral("file"));
    const QCommandLineOption noSignalsOption(
        QStringLiteral("no-signals"),
        QStringLiteral("Send no signals, as a store without them (for tests)."));
    const QCommandLineOption verboseOption(
        QStringList{QStringLiteral("v"), QStringLiteral("verbose")},
        QStringLiteral("Log every document and block event to standard error."));
    const QCommandLineOption versionOption(QStringLiteral("version"),
                                           QStringLiteral("Print the version and end."));
    parser.addHelpOption();
    parser.addOptions(
        {limitOption, mainOption, stateOption, noSignalsOption, verboseOption, versionOption});
    const auto wrongUsage = [&](const std::string& what) {
        std::cerr << "memoryman: " << what << "\nTry \"memoryman --help\".\n";
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments()))
        return wrongUsage(parser.errorText().toStdString());
    if (parser.isSet(versionOption)) {
        std::printf("memoryman %s\n", ProgramVersion());
        return 0;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (!parser.positionalArguments().isEmpty())
        return wrongUsage("unknown argument " + parser.positionalArguments().front().toStdString());
    TMemoryStore::TOptions options;
    options.Prefix = "rmm." + std::to_string(::getpid());
    if (parser.isSet(limitOption)) {
        const std::string limit = parser.value(limitOption).toStdString();
        if (!ParseBytes(limit.c_str(), options.MemoryLimit))
            return wrongUsage("bad memory limit " + limit);
    }
    options.MainComputer = parser.value(mainOption).toStdString();
    const bool verbose = parser.isSet(verboseOption);
    const bool sendSignals = !parser.isSet(noSignalsOption);
    const std::string statePath = parser.isSet(stateOption)
                                      ? parser.value(stateOption).toStdString()
                                      : TNumberFile::DefaultPath();

    for (const auto& [pid, count] : TShmBlock::RemoveOrphans("rmm"))
        std::cerr << "memoryman: removed " << count
                  << " shared-memory blocks left behind by the store process " << pid
                  << ", which no longer runs\n";

    TNumberFile numbers(statePath);
    options.Numbers = &numbers;
    std::unique_ptr<TMemoryStore> store;
    try {
        store = std::make_unique<TMemoryStore>(options);
    } catch (const TStoreError& e) {
        std::cerr << "memoryman: " << e.what()
                  << "; without it numbers could repeat, so the store does not start\n";
        return 1;
    }
    store->Notice = [](const std::string& line) { std::cerr << "memoryman: " << line << "\n"; };
    if (verbose)
        store->Log = [](const std::string& line) { std::cerr << "memoryman: " << line << "\n"; };

    TMemoryManBus bus(*store, sendSignals);
    if (const std::string error = bus.Start(); !error.empty()) {
        std::cerr << "memoryman: " << error << "\n";
        return 1;
    }
    if (verbose)
        std::cerr << "memoryman: serving, memory limit " << options.MemoryLimit
                  << " bytes, block prefix " << options.Prefix << "\n";
    bus.Run(verbose);
    if (verbose)
        std::cerr << "memoryman: ended, " << store->DocumentCount() << " documents released\n";
    return 0;
}
