#include "bench/support/HeldJobs.h"

#include "common/DateTime.h"
#include "jobs/SpoolFile.h"
#include "platform/TFileStream.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

namespace raduvuz::bench {

namespace {

const TTaggedList kTermKeys{{"TERM1", 1}};

std::string SpoolName(int i) {
    return std::to_string(5000 + i) + "_" + std::to_string(i + 1);
}

} // namespace

bool MakeHeldJobs(const TBenchWorld& world, const QString& configKey, int jobs) {
    const QString folder =
        QDir(world.ProgramFolder()).filePath(QStringLiteral("Storage/") + configKey);
    QDir().mkpath(folder);
    const TDateTime created = Now();
    std::string hold;
    for (int i = 0; i < jobs; ++i) {
        TFileStream file;
        const std::string name = SpoolName(i);
        const std::string dds = "Name=job" + std::to_string(i) + ";FileName=job" +
                                std::to_string(i) + ".rst;File=RST;Device=1;Priority=5";
        // A whole spool file: the reload sets aside one without its last block.
        const uint8_t block[] = {1, 2, 3};
        if (!file.Open(folder.toStdString() + "/" + name, TFileStream::TMode::CreateExclusive) ||
            !WriteSpoolHeader(file, dds, kTermKeys, created) || !WriteSpoolBlock(file, block, 1))
            return false;
        hold += name + "\n";
    }
    QFile holdFile(QDir(world.DataFolder())
                       .filePath(QStringLiteral("Config/") + configKey + QStringLiteral(".hld")));
    return holdFile.open(QIODevice::WriteOnly) &&
           holdFile.write(hold.data(), static_cast<qint64>(hold.size())) ==
               static_cast<qint64>(hold.size());
}

double ReadHeldJobHeaders(const TBenchWorld& world, const QString& configKey, int jobs) {
    const std::string folder =
        world.ProgramFolder().toStdString() + "/Storage/" + configKey.toStdString() + "/";
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < jobs; ++i) {
        TFileStream file;
        std::string dds;
        TDateTime created = 0;
        if (file.Open(folder + SpoolName(i), TFileStream::TMode::ReadDenyWrite))
            ReadSpoolHeader(file, kTermKeys, dds, created);
    }
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace raduvuz::bench
