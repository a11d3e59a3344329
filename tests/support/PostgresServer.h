#pragma once

// A PostgreSQL server of a test's own: a fresh cluster in a temporary folder, listening on
// 127.0.0.1 at a free port and on a socket in that folder, with one database ready for
// use. With Tls, it also has a certificate of its own for "localhost" and 127.0.0.1 (made
// with openssl) and a user PasswordUser who must log in over TLS with PasswordOf. The server runs
// as the calling user, or as "nobody" when that is root (the server refuses to run as root). Stop()
// ends it mid-test; the destructor ends it and removes the folder. Plain C++ and the system's
// calls, so that any test or benchmark can use it.

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <netinet/in.h>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

// In a gtest: skips the test where no server can be started, or fails it when the run
// must have one (tools/test.sh sets BW_REQUIRE_POSTGRES, having installed the server).
#define BW_SKIP_WITHOUT_POSTGRES()                                                                 \
    do {                                                                                           \
        if (const auto why_ = ::bwtest::PostgresServer::Unavailable()) {                           \
            if (std::getenv("BW_REQUIRE_POSTGRES")) FAIL() << *why_;                               \
            GTEST_SKIP() << *why_;                                                                 \
        }                                                                                          \
    } while (false)

namespace bwtest {

// `text` for a part of a URI: '/' and everything but letters, digits and "-._~" as %XX.
inline std::string PercentEncoded(const std::string& text) {
    static constexpr char Hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += Hex[byte >> 4];
            out += Hex[byte & 0xF];
        }
    }
    return out;
}

class PostgresServer {
public:
    static constexpr const char* BinFolder = "/usr/lib/postgresql/15/bin";
    static constexpr const char* User = "burnwise";
    static constexpr const char* Database = "production";
    static constexpr const char* PasswordUser = "line";
    static constexpr const char* PasswordOf = "s3cret+pw";

    struct Options {
        // Off: the server skips flushing to disk, which only a crash of the machine could
        // notice (a commit still reaches the system before it is answered, so a server
        // stopped at once and started again keeps it). On: a real server's settings, for
        // measuring.
        bool Durable = false;
        bool Tls = false;
    };

    PostgresServer() = default;
    explicit PostgresServer(Options options) : options_(options) {}
    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;
    ~PostgresServer() {
        Stop();
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    // Why no server can be started here, if it cannot: for a test to skip with.
    static std::optional<std::string> Unavailable() {
        for (const char* tool : {"initdb", "pg_ctl", "postgres", "createdb", "psql"})
            if (access((std::string(BinFolder) + "/" + tool).c_str(), X_OK) != 0)
                return std::string("PostgreSQL 15 is not installed (no ") + BinFolder + "/" + tool +
                       ")";
        if (geteuid() == 0 && !getpwnam("nobody")) return std::string("no user \"nobody\"");
        return std::nullopt;
    }

    // Makes the cluster, starts the server and creates the database. False with `error`
    // set (and the server's log in it) on failure.
    bool Start(std::string& error) {
        if (const auto why = Unavailable()) return Fail(*why, error);
        if (!MakeFolder(error)) return false;
        if (Run({"initdb", "-D", Data(), "-U", User, "--auth=trust", "--no-sync", "-E", "UTF8",
                 "--locale=C", "--no-instructions"},
                "initdb.log") != 0)
            return Fail("initdb failed: " + Log("initdb.log"), error);
        if (options_.Tls && !MakeCertificate(error)) return false;
        // A port found free may be taken before the server binds it: try a few.
        for (int attempt = 0; attempt < 5 && !running_; ++attempt) {
            port_ = FreePort();
            running_ = Launch();
        }
        if (!running_)
            return Fail("the server did not start: " + Log("pg_ctl.log") + Log("server.log"),
                        error);
        if (Run({"createdb", "-h", "127.0.0.1", "-p", std::to_string(port_), "-U", User, Database},
                "createdb.log") != 0)
            return Fail("createdb failed: " + Log("createdb.log"), error);
        if (options_.Tls) {
            if (!Sql(std::string("CREATE ROLE ") + PasswordUser + " LOGIN PASSWORD '" + PasswordOf +
                         "'; ALTER DATABASE " + Database + " OWNER TO " + PasswordUser,
                     error))
                return false;
            // The password user comes in over TLS only; the test's own user as before.
            std::ofstream(Data() + "/pg_hba.conf")
                << "local all all trust\n"
                << "hostssl all " << PasswordUser << " 127.0.0.1/32 scram-sha-256\n"
                << "hostssl all " << PasswordUser << " ::1/128 scram-sha-256\n"
                << "host all " << User << " 127.0.0.1/32 trust\n";
            if (!Sql("SELECT pg_reload_conf()", error)) return false;
        }
        return true;
    }

    // The certificate a client checks the server's against (sslrootcert).
    std::string Certificate() const { return (folder_ / "server.crt").string(); }
    // The folder of the server's socket, for host=FOLDER.
    std::string SocketFolder() const { return folder_.string(); }

    // Ends the server at once, as a crash or a pulled cable would for its clients.
    void Stop() {
        if (!running_) return;
        Run({"pg_ctl", "-D", Data(), "-m", "immediate", "-w", "-t", "60", "stop"}, "stop.log");
        running_ = false;
    }

    // Starts the server Stop ended again, on the same port with the same data: a restart
    // as its clients see it.
    bool Restart(std::string& error) {
        if (running_) return true;
        running_ = Launch();
        return running_ || Fail("the server did not start again: " + Log("pg_ctl.log"), error);
    }

    // Stops (or continues) the server's processes where they are, as a hung disk or a
    // stopped machine would: connections stay open and nothing answers. By process id: the
    // server's own, from its pid file, and its children's.
    void Pause(bool paused) {
        std::ifstream pidFile(Data() + "/postmaster.pid");
        pid_t server = 0;
        if (!(pidFile >> server) || server <= 0) return;
        std::vector<pid_t> pids{server};
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            // pid (name) state ppid ...: the name may hold blanks, so read after its ')'.
            std::istringstream rest(line.substr(line.rfind(')') + 1));
            char state = 0;
            pid_t parent = 0;
            if (rest >> state >> parent && parent == server)
                pids.push_back(static_cast<pid_t>(std::stoi(entry.path().filename().string())));
        }
        for (const pid_t pid : pids)
            ::kill(pid, paused ? SIGSTOP : SIGCONT);
    }

    bool Running() const { return running_; }
    int Port() const { return port_; }
    std::string Url() const {
        return std::string("postgresql://") + User + "@127.0.0.1:" + std::to_string(port_) + "/" +
               Database;
    }

    // Runs SQL in the database through psql; false with `error` set to its output.
    bool Sql(const std::string& sql, std::string& error) {
        if (Run({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1", "-p",
                 std::to_string(port_), "-U", User, "-d", Database, "-c", sql},
                "psql.log") == 0)
            return true;
        return Fail("psql failed: " + Log("psql.log"), error);
    }

private:
    std::string Data() const { return (folder_ / "data").string(); }

    bool Fail(const std::string& message, std::string& error) const {
        error = message;
        return false;
    }

    bool MakeFolder(std::string& error) {
        std::string pattern = (std::filesystem::temp_directory_path() / "bw-pg-XXXXXX").string();
        if (!mkdtemp(pattern.data()))
            return Fail("mkdtemp: " + std::string(strerror(errno)), error);
        folder_ = pattern;
        if (geteuid() == 0) {
            const passwd* nobody = getpwnam("nobody");
            uid_ = nobody->pw_uid;
            gid_ = nobody->pw_gid;
            if (chown(folder_.c_str(), uid_, gid_) != 0)
                return Fail("chown: " + std::string(strerror(errno)), error);
        } else {
            uid_ = geteuid();
            gid_ = getegid();
        }
        return true;
    }

    // A self-signed certificate for localhost and 127.0.0.1, its key readable by the server
    // alone.
    bool MakeCertificate(std::string& error) {
        if (Run({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                 "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2", "-subj", "/CN=localhost",
                 "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1", "-keyout",
                 (folder_ / "server.key").string(), "-out", (folder_ / "server.crt").string()},
                "openssl.log") != 0 ||
            chmod((folder_ / "server.key").c_str(), 0600) != 0)
            return Fail("openssl failed: " + Log("openssl.log"), error);
        return true;
    }

    static int FreePort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        int port = 0;
        if (fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
            port = ntohs(address.sin_port);
        if (fd >= 0) close(fd);
        return port;
    }

    // Runs one of the server's tools as the server's user, its output in `logName` in the
    // folder; its exit status, or -1.
    int Run(std::vector<std::string> arguments, const std::string& logName) const {
        // The tools find each other beside the path they were started by.
        const std::string program = arguments[0].starts_with("/")
                                        ? arguments[0]
                                        : std::string(BinFolder) + "/" + arguments[0];
        arguments[0] = program;
        const std::string logPath = (folder_ / logName).string();
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        std::vector<std::string> environment = {"PATH=/usr/bin:/bin", "LC_ALL=C", "TZ=UTC",
                                                "HOME=" + folder_.string(), "PGCONNECT_TIMEOUT=10"};
        std::vector<char*> envp;
        for (auto& variable : environment)
            envp.push_back(variable.data());
        envp.push_back(nullptr);
        const bool dropPrivileges = geteuid() == 0;
        // Only async-signal-safe calls between fork and exec: the test may have threads.
        const pid_t child = fork();
        if (child < 0) return -1;
        if (child == 0) {
            if (dropPrivileges &&
                (setgroups(0, nullptr) != 0 || setgid(gid_) != 0 || setuid(uid_) != 0))
                _exit(126);
            const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
            const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
            if (log < 0 || null < 0 || dup2(null, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0 ||
                chdir(folder_.c_str()) != 0)
                _exit(126);
            execve(program.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0)
            if (errno != EINTR) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string Log(const std::string& name) const {
        std::ifstream file(folder_ / name);
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }

    Options options_;
    std::filesystem::path folder_;
    uid_t uid_ = 0;
    gid_t gid_ = 0;
    int port_ = 0;

    bool Launch() {
        std::string settings = "-c listen_addresses=127.0.0.1 -p " + std::to_string(port_) +
                               " -k " + folder_.string() +
                               " -c max_connections=40 -c shared_buffers=16MB";
        if (!options_.Durable) settings += " -c fsync=off -c full_page_writes=off";
        if (options_.Tls)
            settings += " -c ssl=on -c ssl_cert_file=" + (folder_ / "server.crt").string() +
                        " -c ssl_key_file=" + (folder_ / "server.key").string();
        return Run({"pg_ctl", "-D", Data(), "-l", (folder_ / "server.log").string(), "-w", "-t",
                    "60", "-o", settings, "start"},
                   "pg_ctl.log") == 0;
    }
    bool running_ = false;
};

} // namespace bwtest
