#include "web/WebFixture.h"

#include <sys/stat.h>

namespace raduvuz::test {
namespace {

// The largest body the gateway takes.
constexpr size_t kMaxBody = 1 << 20;

std::string IdsBody(const std::vector<uint>& ids, const std::string& extra = "") {
    std::string body = "{\"ids\":[";
    for (size_t i = 0; i < ids.size(); ++i)
        body += (i ? "," : "") + std::to_string(ids[i]);
    return body + "]" + extra + "}";
}

std::vector<uint> DoneOf(const TReply& reply) {
    std::vector<uint> done;
    for (const QJsonValue& id : reply.Object().value("done").toArray())
        done.push_back(static_cast<uint>(id.toInteger()));
    return done;
}

class WebApiTest : public WebTest {};

// Every endpoint serves the module's jobs and actions live; accounts, roles, CSRF, limits and
// paths are enforced.
TEST_F(WebApiTest, EveryEndpointServesTheModuleLiveToTheRolesAndWithinTheLimits) {
    StartHeldPassedAndWaitingJobs();
    TSignedIn op = SignIn(kOperator, kOperatorPassword);
    ASSERT_EQ(op.Reply.Status, 200) << op.Reply;
    EXPECT_EQ(op.Reply.Object().value("role").toString(), "operator");
    EXPECT_EQ(op.Reply.Object().value("user").toString(), kOperator);
    const std::string cookie = op.Reply.Header("Set-Cookie");
    for (const char* part : {"HttpOnly", "Secure", "SameSite=Strict", "Path=/"})
        EXPECT_NE(cookie.find(part), std::string::npos) << cookie;
    EXPECT_GE(op.Cookie.size(), 22u) << "at least 128 random bits";
    EXPECT_EQ(Get("api/v1/session", op.Cookie).Object().value("csrf").toString().toStdString(),
              op.Csrf);

    const std::vector<uint> held = WaitForRows(op.Cookie, Where("state", "held"), 1);
    const std::vector<uint> waiting = WaitForRows(op.Cookie, Where("state", "waiting"), 1);
    const std::vector<uint> passed = WaitForRows(op.Cookie, Where("list", "passed"), 2);
    ASSERT_EQ(held.size(), 1u) << Log();
    ASSERT_EQ(waiting.size(), 1u) << Log();
    ASSERT_EQ(passed.size(), 2u) << Log();

    // The module at a glance: its number is the process number of its bus name.
    const QJsonArray modules = Get("api/v1/modules", op.Cookie).Json().array();
    ASSERT_EQ(modules.size(), 1);
    const QJsonObject module = modules[0].toObject();
    EXPECT_EQ(module.value("module").toInteger(), ModuleNumber);
    EXPECT_EQ(module.value("busName").toString().toStdString(),
              "RAduvuz.ModuleControl.p" + std::to_string(ModuleNumber));
    EXPECT_EQ(module.value("description").toString(), "Queuer");
    EXPECT_FALSE(module.value("paused").toBool());
    EXPECT_EQ(module.value("counts").toObject(),
              (QJsonObject{{"inProcess", 2}, {"held", 1}, {"passed", 2}}));

    // Rows with ListJobs' keys; FindJobs' criteria as the query, decoded (a search by name in
    // the page and the redirect dialog's devices are the browser test's).
    const QJsonArray rows = Get(Jobs(), op.Cookie).Object().value("jobs").toArray();
    ASSERT_EQ(rows.size(), 4);
    for (const char* key : {"id", "list", "job", "doc", "name", "page", "color", "type", "size",
                            "sizeText", "created", "destination", "devices", "priority", "state"})
        EXPECT_TRUE(rows[0].toObject().contains(key)) << key;
    const QJsonArray black =
        Get(Jobs() + "?list=process&color=%3Dblack", op.Cookie).Object().value("jobs").toArray();
    ASSERT_EQ(black.size(), 1);
    EXPECT_EQ(static_cast<uint>(black[0].toObject().value("id").toInteger()), waiting[0]);

    // The buttons follow the module's rules.
    const QJsonArray allowed = Post(ModulePath("allowed"), IdsBody(held), op.Cookie, op.Csrf)
                                   .Object()
                                   .value("actions")
                                   .toArray();
    EXPECT_TRUE(allowed.contains("release")) << QJsonDocument(allowed).toJson().toStdString();
    EXPECT_FALSE(allowed.contains("delete")) << QJsonDocument(allowed).toJson().toStdString();

    // A change reaches an open event stream, and the page then fetches only the changed row.
    const uint64_t serial =
        static_cast<uint64_t>(Get(Jobs(), op.Cookie).Object().value("serial").toInteger());
    TEventReader events(Base, Certificate, op.Cookie);
    ASSERT_NE(events.WaitFor(": connected"), std::string::npos) << events.Text();
    const TReply priority =
        Post(ModulePath("jobs/priority"), IdsBody(held, ",\"priority\":3"), op.Cookie, op.Csrf);
    ASSERT_EQ(priority.Status, 200) << priority;
    EXPECT_EQ(DoneOf(priority), held);
    const std::string jobsEvent =
        "event: jobs\ndata: {\"module\":" + std::to_string(ModuleNumber) + ",";
    ASSERT_NE(events.WaitFor(jobsEvent), std::string::npos) << events.Text();
    const QJsonObject delta = Get(Jobs() + "?since=" + std::to_string(serial), op.Cookie).Object();
    EXPECT_FALSE(delta.value("full").toBool());
    ASSERT_EQ(delta.value("jobs").toArray().size(), 1) << delta.value("jobs").toArray().size();
    EXPECT_EQ(delta.value("jobs").toArray()[0].toObject().value("priority").toInt(), 3);

    // Every action the way the console does it; an unknown id is not done.
    const auto act = [&](const std::string& action, const std::vector<uint>& ids,
                         const std::string& extra = "") {
        return Post(ModulePath("jobs/" + action), IdsBody(ids, extra), op.Cookie, op.Csrf);
    };
    const fs::path copies = Root / "copies" / "deep";
    const TReply copied = act("copy", passed, ",\"folder\":\"" + copies.string() + "\"");
    EXPECT_EQ(DoneOf(copied).size(), 2u) << copied;
    EXPECT_EQ(std::distance(fs::directory_iterator(copies), fs::directory_iterator{}), 2);
    EXPECT_EQ(act("copy", passed, ",\"folder\":\"relative\"").ErrorName(), "InvalidArgs");
    const TReply renamed = act("rename", {passed[0]}, ",\"name\":\"Second round\"");
    EXPECT_EQ(DoneOf(renamed), std::vector<uint>{passed[0]}) << renamed;
    EXPECT_EQ(act("hold", waiting).Status, 200);
    EXPECT_EQ(DoneOf(act("reprocess", {passed[1], 999999})), std::vector<uint>{passed[1]});
    EXPECT_EQ(DoneOf(act("redirect", {passed[0]}, ",\"devices\":[2]")),
              std::vector<uint>{passed[0]});
    EXPECT_EQ(DoneOf(act("abort", waiting)), waiting);
    EXPECT_EQ(DoneOf(act("release", held)), held);

    // Pause and resume, each announced as a change of the modules.
    const size_t beforePause = events.Text().size();
    const TReply paused = Post(ModulePath("pause"), "", op.Cookie, op.Csrf);
    EXPECT_EQ(paused.Object().value("paused").toBool(), true) << paused;
    EXPECT_NE(events.WaitFor("event: modules", beforePause), std::string::npos)
        << "events after the pause:\n"
        << events.Text().substr(beforePause) << "\ngateway:\n"
        << GatewayLog() << "\nworkflow:\n"
        << Log();
    EXPECT_EQ(Post(ModulePath("resume"), "", op.Cookie, op.Csrf).Object().value("paused"),
              QJsonValue(false));

    // Every action is in the system log with the user, the module and the ids.
    const std::string log = GatewayLog();
    EXPECT_NE(log.find("user op (operator, 127.0.0.1): module " + std::to_string(ModuleNumber) +
                       " (Queuer): release " + std::to_string(held[0])),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("): pause"), std::string::npos) << log;

    // Signed out, the cookie is worth nothing and the stream ends.
    const TReply out = Post("api/v1/logout", "", op.Cookie, op.Csrf);
    EXPECT_EQ(out.Status, 200);
    EXPECT_NE(out.Header("Set-Cookie").find("Max-Age=0"), std::string::npos);
    EXPECT_EQ(Get("api/v1/modules", op.Cookie).Status, 401);

    // Accounts, roles, CSRF, limits and paths, on a new session.
    op = SignIn(kOperator, kOperatorPassword);
    ASSERT_EQ(op.Reply.Status, 200) << op.Reply;
    const std::string release = ModulePath("jobs/release");
    const std::string body = IdsBody(held);

    struct TCase {
        const char* What;
        TCall Call;
        long Status;
        const char* Error;
    };
    const auto basic = [](const char* user, const char* password, TCall call) {
        call.User = user;
        call.Password = password;
        return call;
    };
    const auto get = [](const std::string& path) { return TCall{.Path = path}; };
    const auto post = [&](const std::string& path, const std::string& data,
                          const std::string& csrf) {
        return PostCall(path, data, op.Cookie, csrf);
    };
    const TCall pathAsIs{.Path = "../../../etc/passwd", .PathAsIs = true};
    TCall chunked = post(release, std::string(kMaxBody + 10, ' ') + body, op.Csrf);
    chunked.Chunked = true;
    const std::vector<TCase> cases = {
        {"no credentials", get("api/v1/modules"), 401, "Unauthorized"},
        {"wrong password", basic(kOperator, "wrong", get("api/v1/modules")), 401, "Unauthorized"},
        {"HTTP Basic", basic(kViewer, kViewerPassword, get("api/v1/modules")), 200, ""},
        {"a viewer lists", basic(kViewer, kViewerPassword, get(Jobs())), 200, ""},
        {"a viewer acts", basic(kViewer, kViewerPassword, post(release, body, "")), 403,
         "Forbidden"},
        {"a viewer pauses", basic(kViewer, kViewerPassword, post(ModulePath("pause"), "", "")), 403,
         "Forbidden"},
        {"cookie without CSRF", post(release, body, ""), 403, "Forbidden"},
        {"cookie with a wrong CSRF", post(release, body, "x" + op.Csrf), 403, "Forbidden"},
        {"malformed JSON", post(release, "{\"ids\": [1,", op.Csrf), 400, "InvalidArgs"},
        {"ids not a list", post(release, "{\"ids\": 5}", op.Csrf), 400, "InvalidArgs"},
        {"a priority not a number", post(ModulePath("jobs/priority"), body, op.Csrf), 400,
         "InvalidArgs"},
        {"a body over 1 MiB", post(release, std::string(kMaxBody + 1, ' '), op.Csrf), 413,
         "PayloadTooLarge"},
        {"a chunked body over 1 MiB", chunked, 413, "PayloadTooLarge"},
        {"a malformed criterion", basic(kViewer, kViewerPassword, get(Jobs() + "?date=2026-02-30")),
         400, "InvalidArgs"},
        {"no such module", basic(kViewer, kViewerPassword, get("api/v1/modules/999999/jobs")), 404,
         "NotFound"},
        {"no such action", post(ModulePath("jobs/explode"), body, op.Csrf), 404, "NotFound"},
        {"GET of an action", basic(kViewer, kViewerPassword, get(release)), 405,
         "MethodNotAllowed"},
        {"../ left as it is", pathAsIs, 404, "NotFound"},
        {"%2e%2e", get("%2e%2e/%2e%2e/etc/passwd"), 404, "NotFound"},
        {"encoded slashes", get("..%2f..%2fetc%2fpasswd"), 404, "NotFound"},
        {"a built-in file and beyond", get("app.js/../../etc/passwd"), 404, "NotFound"},
        {"an API path and beyond", get("api/v1/%2e%2e/%2e%2e/etc/passwd"), 404, "NotFound"},
        {"the right CSRF", post(release, body, op.Csrf), 200, ""},
    };
    for (const TCase& test : cases) {
        const TReply reply = Call(test.Call);
        EXPECT_EQ(reply.Status, test.Status) << test.What << "\n" << reply;
        EXPECT_EQ(reply.ErrorName(), test.Error) << test.What << "\n" << reply;
        EXPECT_EQ(reply.Body.find("root:"), std::string::npos) << test.What;
    }
    // The page itself, and nothing over plain HTTP or an old TLS.
    const TReply page = Call(get(""));
    EXPECT_EQ(page.Status, 200);
    EXPECT_NE(page.Body.find("/app.js"), std::string::npos);
    EXPECT_EQ(Https("http" + Base.substr(5), Certificate, {}).Status, 0);
    const TCall oldTls{.TlsVersion =
                           long{CURL_SSLVERSION_TLSv1_0} | long{CURL_SSLVERSION_MAX_TLSv1_1}};
    EXPECT_EQ(Call(oldTls).Status, 0) << Call(oldTls);

    // A new password ends the user's sessions.
    const TSignedIn viewer = SignIn(kViewer, kViewerPassword);
    ASSERT_EQ(Get("api/v1/modules", viewer.Cookie).Status, 200);
    ASSERT_EQ(RunWeb({"user", "passwd", kViewer}, "another one\n").Code, 0);
    EXPECT_EQ(Get("api/v1/modules", viewer.Cookie).Status, 401);
    const TRunResult list = RunWeb({"user", "list"});
    EXPECT_EQ(list.Out, "op operator\nview viewer\n") << list.Err;
    EXPECT_EQ(RunWeb({"user", "add", kViewer, "--role", "viewer"}, "x\n").Code, 1);
    EXPECT_EQ(RunWeb({"user", "add", "x", "--role", "boss"}, "x\n").Code, 2);

    // Five failed sign-ins within a minute (the wrong password above is the first): the address
    // gets 429, even with the right password, while a session signed in before goes on.
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(SignIn(kOperator, "guess").Reply.Status, 401);
    const TSignedIn refused = SignIn(kOperator, kOperatorPassword);
    EXPECT_EQ(refused.Reply.Status, 429) << refused.Reply;
    EXPECT_EQ(refused.Reply.ErrorName(), "TooManyRequests");
    EXPECT_FALSE(refused.Reply.Header("Retry-After").empty());
    EXPECT_EQ(Call(basic(kOperator, kOperatorPassword, get("api/v1/modules"))).Status, 429);
    EXPECT_EQ(Get("api/v1/modules", op.Cookie).Status, 200);
    EXPECT_NE(GatewayLog().find("5 failed sign-ins from 127.0.0.1"), std::string::npos);
}

TEST_F(WebApiTest, RefusesToStartWhileOthersMayReadItsFiles) {
    AddUsers();
    const fs::path folder = Root / "config" / "raduvuz" / "web";
    // The first start makes the certificate and key; it fails later, for want of a bus.
    RunWeb({"--listen", "127.0.0.1:0"});
    ASSERT_TRUE(fs::exists(folder / "key.pem"));
    struct TCase {
        fs::path Path;
        mode_t Mode;
        const char* Said;
    };
    const std::vector<TCase> cases = {{folder, 0750, "has mode 0750"},
                                      {folder / "users", 0644, "has mode 0644"},
                                      {folder / "key.pem", 0604, "has mode 0604"}};
    for (const TCase& test : cases) {
        ::chmod(test.Path.c_str(), test.Mode);
        const TRunResult run = RunWeb({"--listen", "127.0.0.1:0"});
        EXPECT_EQ(run.Code, 1) << test.Path;
        EXPECT_NE(run.Err.find(test.Path.string() + " " + test.Said), std::string::npos) << run.Err;
        EXPECT_NE(run.Err.find("refusing to start"), std::string::npos) << run.Err;
        ::chmod(test.Path.c_str(), fs::is_directory(test.Path) ? 0700 : 0600);
    }
}

} // namespace
} // namespace raduvuz::test
