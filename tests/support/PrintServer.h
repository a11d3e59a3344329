#pragma once

// A print service of a test's own: the system's cupsd started in a temporary folder with a
// configuration of its own, listening only on a socket in that folder (no network port),
// with queues whose device is a file there. The queue "labels" is the default; "stopped" is
// a stopped printer. Stop() ends the service mid-test; the destructor ends it and removes
// the folder. Plain C++ and the system's calls.

#include "support/Tools.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pwd.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>

// In a gtest: skips the test where no print service can be started, or fails it when the
// run must have one (tools/test.sh sets BW_REQUIRE_POSTGRES, having installed everything).
#define BW_SKIP_WITHOUT_CUPSD()                                                                    \
    do {                                                                                           \
        if (const auto why_ = ::bwtest::PrintServer::Unavailable()) {                              \
            if (std::getenv("BW_REQUIRE_POSTGRES")) FAIL() << *why_;                               \
            GTEST_SKIP() << *why_;                                                                 \
        }                                                                                          \
    } while (false)

namespace bwtest {

class PrintServer {
public:
    static constexpr const char* Daemon = "/usr/sbin/cupsd";
    // A queue that passes a PDF through to its device unchanged: the one filter copies.
    static constexpr const char* CopyFilter = "/usr/lib/cups/filter/gziptoany";

    PrintServer() = default;
    PrintServer(const PrintServer&) = delete;
    PrintServer& operator=(const PrintServer&) = delete;
    ~PrintServer() {
        Stop();
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    static std::optional<std::string> Unavailable() {
        for (const char* tool : {Daemon, CopyFilter})
            if (access(tool, X_OK) != 0)
                return std::string("the print service is not installed (no ") + tool + ")";
        if (geteuid() == 0 && !getpwnam("lp")) return std::string("no user \"lp\"");
        return std::nullopt;
    }

    // Writes the configuration, starts cupsd and waits until its socket answers.
    bool Start(std::string& error) {
        if (const auto why = Unavailable()) return Fail(*why, error);
        char pattern[] = "/tmp/bw-cups-XXXXXX";
        if (!mkdtemp(pattern)) return Fail("mkdtemp: " + std::string(strerror(errno)), error);
        folder_ = pattern;
        chmod(folder_.c_str(), 0755);
        for (const char* sub : {"spool", "cache", "state", "tmp", "log", "ppd", "ssl", "out"})
            std::filesystem::create_directories(folder_ / sub);
        const std::string f = folder_.string();
        // cupsd will not run its jobs as root; as anyone else it runs them as itself.
        const passwd* self = getpwuid(geteuid());
        const std::string user = geteuid() == 0 ? "lp" : (self ? self->pw_name : "nobody");
        std::ofstream(folder_ / "cupsd.conf")
            << "Listen " << Socket() << "\n"
            << "Browsing No\nBrowseLocalProtocols none\nDefaultAuthType None\nWebInterface No\n"
               "LogLevel info\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
               "<Policy default>\n  <Limit All>\n    Order deny,allow\n    Allow all\n"
               "  </Limit>\n</Policy>\n";
        std::ofstream(folder_ / "cups-files.conf")
            << "FileDevice Yes\nServerRoot " << f << "\nRequestRoot " << f << "/spool\nCacheDir "
            << f << "/cache\nStateDir " << f << "/state\nTempDir " << f << "/tmp\nErrorLog " << f
            << "/log/error_log\nAccessLog " << f << "/log/access_log\nPageLog " << f
            << "/log/page_log\nPrintcap " << f << "/printcap\nServerKeychain " << f << "/ssl\nUser "
            << user << "\n";
        std::ofstream(folder_ / "printers.conf")
            << "<DefaultPrinter labels>\nDeviceURI file://" << Output("labels")
            << "\nState Idle\nAccepting Yes\nShared No\n</DefaultPrinter>\n"
            << "<Printer stopped>\nDeviceURI file://" << Output("stopped")
            << "\nState Stopped\nAccepting Yes\nShared No\n</Printer>\n";
        for (const char* queue : {"labels", "stopped"})
            std::ofstream(folder_ / "ppd" / (std::string(queue) + ".ppd")) << Ppd;

        pid_ = fork();
        if (pid_ < 0) return Fail("fork: " + std::string(strerror(errno)), error);
        if (pid_ == 0) {
            const std::string log = f + "/log/cupsd.out";
            const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (out < 0 || null < 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
                _exit(126);
            const std::string conf = f + "/cupsd.conf";
            const std::string files = f + "/cups-files.conf";
            execl(Daemon, Daemon, "-f", "-c", conf.c_str(), "-s", files.c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (Answers()) return true;
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return Fail("cupsd ended: " + ReadFile(f + "/log/cupsd.out") +
                                ReadFile(f + "/log/error_log"),
                            error);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return Fail("cupsd did not answer: " + ReadFile(f + "/log/error_log"), error);
    }

    // Ends the service, as an administrator stopping it would.
    void Stop() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

    std::string Socket() const { return (folder_ / "cups.sock").string(); }
    // The file a queue's device writes.
    std::string Output(const std::string& queue) const {
        return (folder_ / "out" / (queue + ".prn")).string();
    }

    // What the queue's device holds once it holds `expected` (each job replaces the file),
    // or what it held when the wait ran out.
    std::string WaitForOutput(const std::string& queue, const std::string& expected) const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::string out;
        while (std::chrono::steady_clock::now() < deadline) {
            out = ReadFile(Output(queue));
            if (out == expected) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return out;
    }

private:
    static constexpr const char* Ppd =
        "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.0\"\n*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n*PCFileName: \"LABELS.PPD\"\n"
        "*Manufacturer: \"Test\"\n*Product: \"(Label file)\"\n"
        "*ModelName: \"Label file\"\n*ShortNickName: \"Label file\"\n"
        "*NickName: \"Label file\"\n*PSVersion: \"(3010.000) 0\"\n"
        "*LanguageLevel: \"3\"\n*ColorDevice: False\n"
        "*DefaultColorSpace: Gray\n*FileSystem: False\n"
        "*Throughput: \"1\"\n*TTRasterizer: Type42\n"
        "*cupsFilter: \"application/pdf 0 gziptoany\"\n"
        "*OpenUI *PageSize: PickOne\n*DefaultPageSize: Label\n"
        "*PageSize Label/Label: \"\"\n*CloseUI: *PageSize\n"
        "*DefaultImageableArea: Label\n"
        "*ImageableArea Label: \"0 0 142 71\"\n"
        "*DefaultPaperDimension: Label\n"
        "*PaperDimension Label: \"142 71\"\n";

    bool Answers() const {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, Socket().c_str(), sizeof address.sun_path - 1);
        const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return ok;
    }

    static bool Fail(const std::string& message, std::string& error) {
        error = message;
        return false;
    }

    std::filesystem::path folder_;
    pid_t pid_ = -1;
};

} // namespace bwtest
