#include "tools/web/WebCommandLine.h"

namespace raduvuz::web {

TWebRequest ParseWebCommandLine(const std::vector<std::string>& args) {
    TWebRequest request;
    if (!args.empty() && args[0] == "user") {
        if (args.size() < 2)
            throw TWebUsageError("\"user\" needs add, passwd, del or list");
        const std::string& what = args[1];
        if (what == "list") {
            if (args.size() != 2)
                throw TWebUsageError("\"user list\" takes no arguments");
            request.Command = "user-list";
            return request;
        }
        if (what != "add" && what != "passwd" && what != "del")
            throw TWebUsageError("unknown user command \"" + what + "\": add, passwd, del or list");
        request.Command = "user-" + what;
        for (size_t i = 2; i < args.size(); ++i) {
            if (args[i] == "--role" && what == "add") {
                if (++i == args.size())
                    throw TWebUsageError("--role needs viewer or operator");
                request.Role = args[i];
                if (request.Role != "viewer" && request.Role != "operator")
                    throw TWebUsageError("--role is viewer or operator, not \"" + request.Role +
                                         "\"");
            } else if (request.User.empty() && !args[i].empty() && args[i][0] != '-') {
                request.User = args[i];
            } else {
                throw TWebUsageError("unexpected argument \"" + args[i] + "\"");
            }
        }
        if (request.User.empty())
            throw TWebUsageError("\"user " + what + "\" needs a user name");
        if (what == "add" && request.Role.empty())
            throw TWebUsageError("\"user add\" needs --role viewer or --role operator");
        return request;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&](const char* option) {
            if (i + 1 == args.size())
                throw TWebUsageError(std::string(option) + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            request.Command = "help";
            return request;
        }
        if (arg == "--version") {
            request.Command = "version";
            return request;
        }
        if (arg == "--listen")
            request.Listen.push_back(value("--listen"));
        else if (arg == "--cert")
            request.CertFile = value("--cert");
        else if (arg == "--key")
            request.KeyFile = value("--key");
        else
            throw TWebUsageError("unknown argument \"" + arg + "\"");
    }
    if (request.CertFile.empty() != request.KeyFile.empty())
        throw TWebUsageError("--cert and --key go together");
    if (request.Listen.empty())
        request.Listen.push_back(kDefaultListen);
    return request;
}

std::string WebHelpText() {
    return "usage: raduvuz-web [--listen ADDRESS:PORT]... [--cert FILE --key FILE]\n"
           "       raduvuz-web user add NAME --role viewer|operator\n"
           "       raduvuz-web user passwd NAME\n"
           "       raduvuz-web user del NAME\n"
           "       raduvuz-web user list\n"
           "       raduvuz-web --help | --version\n"
           "\n"
           "Serves the job control of the queuer modules on the session bus to browsers and\n"
           "scripts, over HTTPS only (TLS 1.2 or later).\n"
           "\n"
           "  --listen ADDRESS:PORT  where to listen (repeatable; default 127.0.0.1:8632;\n"
           "                         0.0.0.0:8632 for every IPv4 address, [::]:8632 for IPv6)\n"
           "  --cert FILE --key FILE the certificate and key to serve with (PEM); without them\n"
           "                         a self-signed certificate for this computer's names is made\n"
           "                         at the first start and kept in the web folder\n"
           "\n"
           "Accounts: a viewer sees the modules and their jobs, an operator also acts. A new\n"
           "password is asked twice on a terminal, else read as one line from standard input.\n"
           "\n"
           "Files: $XDG_CONFIG_HOME/raduvuz/web/ (else ~/.config/raduvuz/web/): users, cert.pem,\n"
           "key.pem. raduvuz-web refuses to start while others may read them.\n"
           "Exit codes: 0 done, 1 failed, 2 wrong usage. See man raduvuz-web.\n";
}

} // namespace raduvuz::web
