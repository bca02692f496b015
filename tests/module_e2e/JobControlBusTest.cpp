#include "module_e2e/BusFixture.h"

#include "control/JobControlLimits.h"
#include "dbus/DBusBus.h"
#include "dbus/TDBusObject.h"
#include "jobs/SpoolFile.h"
#include "platform/TFileStream.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusPendingCall>
#include <QFile>

#include <filesystem>
#include <map>
#include <utility>

namespace raduvuz::test {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A module over the bus whose job folder holds passed jobs before the server completes the
// terminators, so that they come back as passed rows.
class JobControlBusTest : public OneModuleTest {
protected:
    void SetUp() override {
        OneModuleTest::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        qDBusRegisterMetaType<QList<QVariantMap>>();
        Init();
        Module->Call("LoadConfig", {std::string("Q")}, "s");
    }

    std::string JobFolder() const { return Work + "/bin/Storage/Q"; }
    void WriteJob(const std::string& name, const std::string& dds) {
        TFileStream file;
        ASSERT_TRUE(file.Open(JobFolder() + "/" + name, TFileStream::TMode::CreateExclusive));
        ASSERT_TRUE(WriteSpoolHeader(file, dds, {}, 45292.5));
        const std::vector<uint8_t> block(64, 1);
        ASSERT_TRUE(WriteSpoolBlock(file, block, 1));
    }

    QDBusMessage Message(const char* method, const QVariantList& args,
                         const char* interface = "RAduvuz.IJobControl") const {
        QDBusMessage call =
            QDBusMessage::createMethodCall(Name, "/ModuleControl", interface, method);
        call.setArguments(args);
        return call;
    }
    QDBusMessage Call(const char* method, const QVariantList& args,
                      const char* interface = "RAduvuz.IJobControl") {
        return RaduvuzBus().call(Message(method, args, interface), QDBus::BlockWithGui, 20000);
    }
    std::vector<uint32_t> Done(const char* method, const QVariantList& args) {
        const QDBusMessage reply = Call(method, args);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        const QList<uint> ids = qdbus_cast<QList<uint>>(reply.arguments().value(0));
        return std::vector<uint32_t>(ids.begin(), ids.end());
    }
    QList<QVariantMap> Rows() {
        const QDBusMessage reply = Call("ListJobs", {});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.signature(), QStringLiteral("aa{sv}"));
        return qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0));
    }
    static QVariant Ids(std::initializer_list<uint> ids) {
        return QVariant::fromValue(QList<uint>(ids));
    }
    // Passes the written jobs; the id of each passed row by its job number.
    std::map<int, uint> PassedIds() {
        Module->Call("CompletedSendTerminators", {});
        std::map<int, uint> ids;
        for (const QVariantMap& row : Rows())
            ids[row.value("job").toInt()] = row.value("id").toUInt();
        return ids;
    }
};

// The live introspection against both contracts.
TEST_F(JobControlBusTest, IntrospectionShowsBothInterfacesAsTheirContractsSay) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        Name, QStringLiteral("/ModuleControl"),
        QStringLiteral("org.freedesktop.DBus.Introspectable"), QStringLiteral("Introspect"));
    const QDBusMessage reply = RaduvuzBus().call(call, QDBus::BlockWithGui, 20000);
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    const QString live = reply.arguments().value(0).toString();
    const auto contractOf = [](const char* path, const char* interface) {
        QFile file(QString::fromLatin1(path));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path;
        return MethodsOf(QString::fromUtf8(file.readAll()), QString::fromLatin1(interface));
    };
    const auto module = contractOf(RADUVUZ_INTERFACE_XML, "RAduvuz.IModuleControl");
    EXPECT_EQ(module.size(), 33u);
    EXPECT_EQ(MethodsOf(live, QStringLiteral("RAduvuz.IModuleControl")), module);
    EXPECT_EQ(module.at("Init"), "iss -> ");
    EXPECT_EQ(module.at("GetValue"), "i -> v");
    EXPECT_EQ(module.at("ImportConfig"), "ssi -> i");
    const auto contract = contractOf(RADUVUZ_JOB_CONTROL_XML, "RAduvuz.IJobControl");
    EXPECT_EQ(contract.size(), 16u);
    EXPECT_EQ(MethodsOf(live, QStringLiteral("RAduvuz.IJobControl")), contract);
    EXPECT_EQ(contract.at("ListJobs"), " -> aa{sv}");
    EXPECT_EQ(contract.at("RedirectJobs"), "auai -> au");
    EXPECT_EQ(contract.at("FindJobs"), "a{sv} -> au");
    EXPECT_EQ(contract.at("ListJobsSince"), "t -> taa{sv}au");
    EXPECT_EQ(contract.at("AllowedActions"), "au -> as");
    EXPECT_EQ(contract.at("RedirectChoices"), "au -> aa{sv}");
    EXPECT_EQ(contract.at("ListDamaged"), " -> aa{sv}");
    EXPECT_EQ(contract.at("signal JobsChanged"), " -> ");
}

TEST_F(JobControlBusTest, PassedJobsAreFoundListedChangedAndRefusedByIdOverTheBus) {
    WriteJob("5_50", "Name=First proof;Page=1;Color=Cyan;File=rst;Size=2048");
    WriteJob("6_60", "Name=Second;Color=Black;File=tif;Size=64");
    std::map<int, uint> ids = PassedIds();
    ASSERT_EQ(ids.size(), 2u);
    const uint id = ids[5];
    const uint second = ids[6];
    const auto find = [this](QVariantMap criteria) { return Done("FindJobs", {criteria}); };
    EXPECT_THAT(find({{"name", "PROOF"}}), ElementsAre(id));
    EXPECT_THAT(find({{"name", "=second"}, {"color", "black"}}), ElementsAre(second));
    EXPECT_THAT(find({{"name", "=secon"}}), IsEmpty());
    EXPECT_THAT(find({{"type", "TIF"}}), ElementsAre(second));
    EXPECT_THAT(find({{"sizeKb", ">1"}}), ElementsAre(id));
    EXPECT_THAT(find({{"sizeKb", "<= 0.064"}}), ElementsAre(second));
    EXPECT_THAT(find({{"date", "=2024-01-01"}, {"job", "6"}}), ElementsAre(second));
    EXPECT_THAT(find({{"date", ">2024-01-01"}}), IsEmpty());
    EXPECT_EQ(find({}).size(), 2u);
    EXPECT_THAT(find({{"list", "process"}}), IsEmpty());

    // Ids that name nothing, even beyond a signed int, are passed over; an empty list is no error.
    EXPECT_THAT(Done("DeleteJobs", {Ids({})}), IsEmpty());
    EXPECT_THAT(Done("ReprocessJobs", {Ids({0, 4000000000u})}), IsEmpty());

    const std::pair<QVariantMap, const char*> malformed[] = {
        {{{"sizeKb", "abc"}}, "Malformed criterion \"sizeKb\": \"abc\" is not OP NUMBER"},
        {{{"sizeKb", "> -3"}}, "Malformed criterion \"sizeKb\""},
        {{{"date", "2024-01-01"}}, "Malformed criterion \"date\""},
        {{{"date", "=2024-02-30"}}, "Malformed criterion \"date\": \"=2024-02-30\""},
        {{{"job", "five"}}, "Malformed criterion \"job\""},
        {{{"list", "held"}}, "Malformed criterion \"list\""},
        {{{"colour", "Cyan"}}, "Unknown criterion \"colour\""},
        {{{"name", 5}}, "Malformed criterion \"name\": not a text (s)"},
        {{{"name", QString(2 * 1024 * 1024, QLatin1Char('n'))}}, "criterion name: "},
    };
    for (const auto& [criteria, message] : malformed) {
        const QDBusMessage reply = Call("FindJobs", {criteria});
        EXPECT_EQ(reply.errorName(), QStringLiteral("RAduvuz.Error.InvalidArgs")) << message;
        EXPECT_THAT(reply.errorMessage().toStdString(), HasSubstr(message));
    }

    QList<QVariantMap> rows = Rows();
    const QVariantMap first = rows[0].value("job").toInt() == 5 ? rows[0] : rows[1];
    EXPECT_EQ(first.value("list").toString(), "passed");
    EXPECT_EQ(first.value("doc").toInt(), 50);
    EXPECT_EQ(first.value("name").toString(), "First proof");
    EXPECT_EQ(first.value("type").toString(), "RST");
    EXPECT_EQ(first.value("size").metaType(), QMetaType::fromType<qlonglong>());
    EXPECT_EQ(first.value("size").toLongLong(), 2048);
    EXPECT_EQ(first.value("created").toString(), QStringLiteral("2024-01-01T12:00:00"));
    EXPECT_EQ(first.value("state").toString(), "passed");
    EXPECT_EQ(first.value("id").metaType(), QMetaType::fromType<uint>());
    EXPECT_FALSE(first.contains("done"));

    // Which ids each action takes is the job actions' own test; here that the answer travels.
    EXPECT_THAT(Done("RenameJobs", {Ids({second, 999999}), QStringLiteral("Renamed")}),
                ElementsAre(second));
    const std::string copies = Work + "/copies/deep";
    EXPECT_THAT(Done("CopyJobs", {Ids({second}), QString::fromStdString(copies)}),
                ElementsAre(second));
    EXPECT_TRUE(std::filesystem::exists(copies + "/6_60"));
    EXPECT_THAT(Done("DeleteJobs", {Ids({id, 999999})}), ElementsAre(id));
    EXPECT_FALSE(std::filesystem::exists(JobFolder() + "/5_50"));
    rows = Rows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].value("name").toString(), "Renamed");

    // Bad input is an error reply, and the module goes on serving.
    const QDBusMessage relative =
        Call("CopyJobs", {Ids({second}), QStringLiteral("../../elsewhere")});
    EXPECT_EQ(relative.errorName(), QStringLiteral("RAduvuz.Error.InvalidArgs"));
    EXPECT_EQ(relative.errorMessage(),
              QStringLiteral("folder: \"../../elsewhere\" is not an absolute path"));
    EXPECT_FALSE(std::filesystem::exists(WorkingFolder() + "/../../elsewhere"));
    const QDBusMessage wrongTypes =
        Call("HoldJobs", {QVariant::fromValue(QStringList{QStringLiteral("x")})});
    EXPECT_EQ(wrongTypes.type(), QDBusMessage::ErrorMessage);
    const QDBusMessage blocked =
        Call("CopyJobs", {Ids({second}), QString::fromStdString(JobFolder() + "/6_60/x")});
    EXPECT_EQ(blocked.errorName(), QStringLiteral("RAduvuz.Error.Unexpected"));
    EXPECT_THAT(blocked.errorMessage().toStdString(), HasSubstr("Cannot create the folder"));
    EXPECT_EQ(Rows().size(), 1);
}

// Each method applies the bounds of the job commands to each of its arguments (the bounds
// themselves are the job actions' test): beyond one, the call is refused naming the argument
// before any job is touched.
TEST_F(JobControlBusTest, EachMethodRefusesAnArgumentBeyondItsBoundBeforeTouchingAJob) {
    WriteJob("5_50", "Name=Kept");
    const uint id = PassedIds()[5];
    const std::string spool = ReadTextFile(JobFolder() + "/5_50");
    const QVariant one = Ids({id});
    const QVariant tooMany = QVariant::fromValue(QList<uint>(kMaxJobIdsPerCall + 1, id));
    const QVariant device = QVariant::fromValue(QList<int>{1});
    const QString name(static_cast<qsizetype>(SpoolMaxNameLength) + 1, QLatin1Char('n'));
    const QString folder = QLatin1Char('/') + QString(kMaxFolderBytes, QLatin1Char('f'));
    struct TCase {
        const char* Method;
        QVariantList Args;
        const char* Argument;
    };
    const TCase cases[] = {
        {"HoldJobs", {tooMany}, "ids: "},
        {"ReleaseJobs", {tooMany}, "ids: "},
        {"AbortJobs", {tooMany}, "ids: "},
        {"DeleteJobs", {tooMany}, "ids: "},
        {"ReprocessJobs", {tooMany}, "ids: "},
        {"AllowedActions", {tooMany}, "ids: "},
        {"RedirectChoices", {tooMany}, "ids: "},
        {"SetPriority", {tooMany, 1}, "ids: "},
        {"SetPriority", {one, kMaxJobPriority + 1}, "priority: "},
        {"RedirectJobs", {tooMany, device}, "ids: "},
        {"RedirectJobs",
         {one, QVariant::fromValue(QList<int>(kMaxJobIdsPerCall + 1, 1))},
         "devices: "},
        {"RenameJobs", {tooMany, QStringLiteral("x")}, "ids: "},
        {"RenameJobs", {one, name}, "name: "},
        {"CopyJobs", {tooMany, QStringLiteral("/x")}, "ids: "},
        {"CopyJobs", {one, folder}, "folder: "},
    };
    for (const TCase& c : cases) {
        const QDBusMessage reply = Call(c.Method, c.Args);
        EXPECT_EQ(reply.errorName(), QStringLiteral("RAduvuz.Error.InvalidArgs")) << c.Method;
        EXPECT_TRUE(reply.errorMessage().startsWith(QLatin1String(c.Argument)))
            << c.Method << ": " << reply.errorMessage().toStdString();
    }
    // A flow entry's destination is a module number.
    for (const int dest : {0, -1}) {
        const QDBusMessage reply =
            Call("AddFlowEntry", {dest, QStringLiteral("Device=1")}, "RAduvuz.IModuleControl");
        EXPECT_EQ(reply.errorName(), QStringLiteral("RAduvuz.Error.InvalidArgs")) << dest;
        EXPECT_TRUE(reply.errorMessage().startsWith(QLatin1String("Dest: "))) << dest;
    }
    const QList<QVariantMap> rows = Rows();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].value("name").toString(), "Kept");
    EXPECT_EQ(ReadTextFile(JobFolder() + "/5_50"), spool);
}

// A watcher asks what changed since the serial it was given last, and what it may do; which
// rows change when is the job actions' own test, here only how the answers travel.
TEST_F(JobControlBusTest, ListJobsSinceAndAllowedActionsOverTheBus) {
    WriteJob("5_50", "Name=\"First proof\";Color=Cyan");
    WriteJob("6_60", "Name=Second");
    // Enough rows that a listing of every row is made into its reply away from the loop.
    constexpr int kMore = 70;
    for (int job = 100; job < 100 + kMore; ++job)
        WriteJob(std::to_string(job) + "_1", "Name=More");
    Module->Call("CompletedSendTerminators", {});
    const auto since = [this](qulonglong serial, std::map<int, QVariantMap>& rows) {
        const QDBusMessage reply = Call("ListJobsSince", {QVariant::fromValue(serial)});
        EXPECT_EQ(reply.signature(), QStringLiteral("taa{sv}au"))
            << reply.errorMessage().toStdString();
        rows.clear();
        for (const QVariantMap& row : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(1)))
            rows[row.value("job").toInt()] = row;
        return std::make_pair(reply.arguments().value(0).toULongLong(),
                              qdbus_cast<QList<uint>>(reply.arguments().value(2)));
    };
    std::map<int, QVariantMap> rows;
    const auto [serial, removed] = since(0, rows);
    ASSERT_EQ(rows.size(), 2u + kMore);
    EXPECT_TRUE(removed.isEmpty());
    // The plain name, without the quotes a parameter list keeps around a name with blanks.
    EXPECT_EQ(rows.at(5).value("name").toString(), "First proof");
    const uint id6 = rows.at(6).value("id").toUInt();
    // A listing asked before a rename has the rows of its turn, though its reply is made after.
    const auto rowName = [](const QDBusMessage& reply, uint id) {
        for (const QVariantMap& row : qdbus_cast<QList<QVariantMap>>(reply.arguments().value(0)))
            if (row.value("id").toUInt() == id)
                return row.value("name").toString();
        return QString();
    };
    QDBusPendingCall listing = RaduvuzBus().asyncCall(Message("ListJobs", {}));
    QDBusPendingCall rename =
        RaduvuzBus().asyncCall(Message("RenameJobs", {Ids({id6}), QStringLiteral("Sixth")}));
    rename.waitForFinished();
    listing.waitForFinished();
    ASSERT_EQ(listing.reply().type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(rowName(listing.reply(), id6), QStringLiteral("Second"));
    EXPECT_EQ(rowName(Call("ListJobs", {}), id6), QStringLiteral("Sixth"));
    const qulonglong renamed = since(serial, rows).first;
    EXPECT_EQ(rows.size(), 1u);
    Done("DeleteJobs", {Ids({id6})});
    EXPECT_EQ(since(renamed, rows).second, QList<uint>{id6});
    EXPECT_TRUE(rows.empty());
    EXPECT_EQ(since(renamed + 100, rows).second, QList<uint>{0});

    const uint id5 = rows.at(5).value("id").toUInt();
    const QDBusMessage allowed = Call("AllowedActions", {Ids({id5, 999999})});
    ASSERT_EQ(allowed.signature(), QStringLiteral("as")) << allowed.errorMessage().toStdString();
    EXPECT_EQ(allowed.arguments().value(0).toStringList(),
              QStringList({"delete", "reprocess", "redirect", "rename", "copy"}));
}

} // namespace
} // namespace raduvuz::test
