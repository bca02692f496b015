#pragma once

// A workflow (twf, memoryman and the module program on twf's private bus) with raduvuz-web on
// that bus at a free port, accounts of the test's own, and a small HTTPS client (libcurl) that
// trusts the gateway's self-signed certificate and nothing else.

#include "cycle_e2e/WorkflowFixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <curl/curl.h>

#include <atomic>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace raduvuz::test {

// libcurl before the first HTTPS call, once for the program.
inline void EnsureCurl() {
    static const CURLcode ready = curl_global_init(CURL_GLOBAL_DEFAULT);
    (void)ready;
}

struct TReply {
    // 0 when no HTTP answer came (Error says why).
    long Status = 0;
    std::string Body;
    std::string Headers;
    std::string Error;

    QJsonDocument Json() const { return QJsonDocument::fromJson(QByteArray::fromStdString(Body)); }
    QJsonObject Object() const { return Json().object(); }
    std::string ErrorName() const { return Object().value("error").toString().toStdString(); }
    // The first value of a header, any case.
    std::string Header(const std::string& name) const {
        std::smatch found;
        const std::regex line("(^|\n)" + name + ": *([^\r\n]*)", std::regex::icase);
        return std::regex_search(Headers, found, line) ? found[2].str() : "";
    }
};

inline std::ostream& operator<<(std::ostream& out, const TReply& reply) {
    return out << "HTTP " << reply.Status << " " << reply.Error << "\n" << reply.Body;
}

struct TCall {
    std::string Method = "GET";
    std::string Path{};
    std::string Body{};
    std::vector<std::string> Headers{};
    // HTTP Basic when not empty.
    std::string User{};
    std::string Password{};
    // The raduvuz_session cookie.
    std::string Cookie{};
    bool PathAsIs = false;
    // The body sent chunked, without a length.
    bool Chunked = false;
    long TlsVersion = CURL_SSLVERSION_DEFAULT;
};

inline size_t AppendTo(char* data, size_t size, size_t count, void* text) {
    static_cast<std::string*>(text)->append(data, size * count);
    return size * count;
}

// The body of a request that is read as it comes, until Stop.
struct TStream {
    mutable std::mutex Lock;
    std::string Received;
    std::atomic<bool> Stop{false};

    static size_t Take(char* data, size_t size, size_t count, void* self) {
        auto* stream = static_cast<TStream*>(self);
        const std::lock_guard<std::mutex> hold(stream->Lock);
        stream->Received.append(data, size * count);
        return size * count;
    }
    static int Stopped(void* self, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
        return static_cast<TStream*>(self)->Stop ? 1 : 0;
    }
};

// One request; the certificate must be the gateway's and name the host. With a stream, the body
// goes there and the request has no time limit.
inline TReply Https(const std::string& base, const std::string& certificate, const TCall& call,
                    TStream* stream = nullptr) {
    TReply reply;
    CURL* curl = curl_easy_init();
    const std::string url = base + call.Path;
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_CAINFO, certificate.c_str());
    curl_easy_setopt(curl, CURLOPT_SSLVERSION, call.TlsVersion);
    curl_easy_setopt(curl, CURLOPT_CUSTOMREQUEST, call.Method.c_str());
    curl_easy_setopt(curl, CURLOPT_TIMEOUT, stream ? 0L : 30L);
    curl_easy_setopt(curl, CURLOPT_PATH_AS_IS, call.PathAsIs ? 1L : 0L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, stream ? &TStream::Take : &AppendTo);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, stream ? static_cast<void*>(stream) : &reply.Body);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, stream ? 0L : 1L);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &TStream::Stopped);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, stream);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &AppendTo);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &reply.Headers);
    curl_slist* headers = nullptr;
    for (const std::string& header : call.Headers)
        headers = curl_slist_append(headers, header.c_str());
    if (call.Method == "POST") {
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, call.Body.c_str());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(call.Body.size()));
        if (call.Chunked)
            headers = curl_slist_append(headers, "Transfer-Encoding: chunked");
        headers = curl_slist_append(headers, "Content-Type: application/json");
    }
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    if (!call.User.empty()) {
        curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
        curl_easy_setopt(curl, CURLOPT_USERNAME, call.User.c_str());
        curl_easy_setopt(curl, CURLOPT_PASSWORD, call.Password.c_str());
    }
    const std::string cookie = "raduvuz_session=" + call.Cookie;
    if (!call.Cookie.empty())
        curl_easy_setopt(curl, CURLOPT_COOKIE, cookie.c_str());
    const CURLcode result = curl_easy_perform(curl);
    if (result == CURLE_OK)
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &reply.Status);
    else
        reply.Error = curl_easy_strerror(result);
    curl_slist_free_all(headers);
    curl_easy_cleanup(curl);
    return reply;
}

// An open GET /api/v1/events, read on a thread of its own.
class TEventReader {
public:
    TEventReader(const std::string& base, const std::string& certificate, const std::string& cookie)
        : Thread([=, this] {
              Https(base, certificate, {.Path = "api/v1/events", .Cookie = cookie}, &Stream);
          }) {}
    ~TEventReader() {
        Stream.Stop = true;
        Thread.join();
    }
    std::string Text() const {
        const std::lock_guard<std::mutex> hold(Stream.Lock);
        return Stream.Received;
    }
    // Waits until what came holds text after position from; its position, or npos.
    size_t WaitFor(const std::string& text, size_t from = 0, int ms = 15000) const {
        WaitUntil([&] { return Text().find(text, from) != std::string::npos; }, ms, 10);
        return Text().find(text, from);
    }

private:
    TStream Stream;
    std::thread Thread;
};

// A workflow whose modules stay up until the test ends, and the gateway on its bus.
class WebTest : public WorkflowTest {
protected:
    static constexpr const char* kOperator = "op";
    static constexpr const char* kOperatorPassword = "press-room 7";
    static constexpr const char* kViewer = "view";
    static constexpr const char* kViewerPassword = "just looking";

    void SetUp() override {
        WorkflowTest::SetUp();
        EnsureCurl();
    }
    void TearDown() override {
        if (Gateway)
            StopProcess(*Gateway);
        std::ofstream(Root / "stop").close();
        if (Twf && !Twf->waitForFinished(20000))
            StopProcess(*Twf, 0);
        WorkflowTest::TearDown();
    }

    // Cyan goes to a held printer (1) and to one that takes it (2); yellow only to that one; black
    // to a paused printer (3), where it waits. The run waits until the test ends; the accounts,
    // and the gateway on the run's bus.
    void StartHeldPassedAndWaitingJobs() {
        MakePages("both", 10, "C", "*", 512);
        MakePages("solo", 10, "Y");
        MakePages("late", 30, "K");
        WriteConfig("WorkMode=1;HoldList=PRN_A");
        StartTwf({.Module =
                      "flow = 12: Color=Cyan;Device=1\nflow = 15: Color=Cyan,Yellow;Device=2\n"
                      "flow = 17: Color=Black;Device=3\n",
                  .Workflow = "expect = 2\ntimeout = 120\nbefore-close = while [ ! -e stop ]; do "
                              "sleep 0.1; done\n",
                  .Extra = std::string(Terminators) + PausedPrinterC});
        ASSERT_TRUE(WaitForLog("module 3 (Queuer): created as ")) << Log();
        ModuleNumber = ModulePid();
        Address = Q(AfterInLog(Log(), "private bus at "));
        AddUsers();
        StartGateway();
    }

    QProcessEnvironment Environment() const override {
        QProcessEnvironment env = WorkflowTest::Environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), Q((Root / "config").string()));
        // Before the workflow is up, no bus at all (never the session's own).
        return OnBus(env, Address.isEmpty() ? QStringLiteral("unix:path=/nonexistent") : Address);
    }

    // raduvuz-web with arguments and standard input, to its end.
    TRunResult RunWeb(const QStringList& args, const std::string& input = "") {
        return RunToEnd(QStringLiteral(WEB_PATH), args, Environment(), input, {}, 30000);
    }

    void AddUsers() {
        for (const auto& [user, role, password] :
             {std::tuple{kOperator, "operator", kOperatorPassword},
              std::tuple{kViewer, "viewer", kViewerPassword}})
            ASSERT_EQ(
                RunWeb({"user", "add", user, "--role", role}, std::string(password) + "\n").Code,
                0);
    }

    // The gateway on the workflow's bus at a free port of the loopback address.
    void StartGateway() {
        Gateway = std::make_unique<QProcess>();
        Gateway->setProcessEnvironment(Environment());
        Gateway->setStandardErrorFile(QString::fromStdString((Root / "web.err").string()));
        Gateway->start(QStringLiteral(WEB_PATH), {"--listen", "127.0.0.1:0"});
        ASSERT_TRUE(Gateway->waitForStarted(10000));
        std::string out;
        WaitUntil(
            [&] {
                out += Gateway->readAllStandardOutput().toStdString();
                return out.find("fingerprint") != std::string::npos ||
                       Gateway->state() != QProcess::Running;
            },
            20000, 50);
        const std::string url = AfterInLog(out, "raduvuz-web: serving ");
        ASSERT_EQ(url.rfind("https://127.0.0.1:", 0), 0u) << out << GatewayLog();
        Base = url;
        Certificate = (Root / "config" / "raduvuz" / "web" / "cert.pem").string();
    }
    // The gateway's system log lines (its standard error where the machine has no logger).
    std::string GatewayLog() const {
        return ReadTextFile(Root / "web.err") + (Gateway ? SystemLogOf(Gateway->processId()) : "");
    }

    TReply Call(TCall call) { return Https(Base, Certificate, call); }
    TReply Get(const std::string& path, const std::string& cookie) {
        return Call({.Path = path, .Cookie = cookie});
    }
    // A POST with the session's CSRF token when it has one.
    static TCall PostCall(const std::string& path, const std::string& body,
                          const std::string& cookie, const std::string& csrf) {
        TCall call{.Method = "POST", .Path = path, .Body = body, .Cookie = cookie};
        if (!csrf.empty())
            call.Headers.push_back("X-CSRF-Token: " + csrf);
        return call;
    }
    TReply Post(const std::string& path, const std::string& body, const std::string& cookie,
                const std::string& csrf) {
        return Call(PostCall(path, body, cookie, csrf));
    }

    struct TSignedIn {
        std::string Cookie;
        std::string Csrf;
        TReply Reply;
    };
    TSignedIn SignIn(const std::string& user, const std::string& password) {
        TSignedIn session;
        session.Reply = Post(
            "api/v1/login", R"({"user":")" + user + R"(","password":")" + password + "\"}", "", "");
        const std::string cookie = session.Reply.Header("Set-Cookie");
        const size_t equals = cookie.find('=');
        session.Cookie = cookie.substr(equals + 1, cookie.find(';') - equals - 1);
        session.Csrf = session.Reply.Object().value("csrf").toString().toStdString();
        return session;
    }

    std::string Jobs() const { return "api/v1/modules/" + std::to_string(ModuleNumber) + "/jobs"; }
    std::string ModulePath(const std::string& rest) const {
        return "api/v1/modules/" + std::to_string(ModuleNumber) + "/" + rest;
    }

    std::vector<uint> WaitForRows(const std::string& cookie, const TMatch& match, size_t count) {
        return WorkflowTest::WaitForRows(
            [&] { return Get(Jobs(), cookie).Object().value("jobs").toArray(); }, match, count);
    }

    std::unique_ptr<QProcess> Gateway;
    int64_t ModuleNumber = 0;
    std::string Base;
    std::string Certificate;
};

} // namespace raduvuz::test
