#include "support/private_cups.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "support/run_process.h"

namespace a5merge::testing {

namespace {

constexpr const char* kCupsd = "/usr/sbin/cupsd";
constexpr const char* kLpadmin = "/usr/sbin/lpadmin";
constexpr const char* kLpstat = "/usr/bin/lpstat";

}  // namespace

PrivateCups::PrivateCups() {
    if (::geteuid() != 0) {
        Unavailable("needs root: cupsd runs its filters as the user lp");
        return;
    }
    for (const char* program : {kCupsd, kLpadmin, kLpstat}) {
        if (::access(program, X_OK) != 0) {
            {
                Unavailable(std::string(program) + " is missing (packages cups, cups-client)");
                return;
            }
        }
    }
    const passwd* lp = ::getpwnam("lp");
    if (lp == nullptr) {
        Fail("no user lp");
        return;
    }

    char pattern[] = "/tmp/a5merge-cups-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) {
        Fail("no folder for cupsd");
        return;
    }
    folder_ = pattern;
    ::chmod(folder_.c_str(), 0755);
    for (const char* sub : {"spool", "spool/tmp", "cache", "state", "log"}) {
        std::filesystem::create_directories(folder_ + "/" + sub);
    }
    for (const char* sub : {"spool", "spool/tmp"}) {
        (void)!::chown((folder_ + "/" + sub).c_str(), lp->pw_uid, lp->pw_gid);
    }

    // The printer: a socket on loopback that keeps what it is sent.
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        {
            Fail("no loopback socket for the printer");
            return;
        }
    }
    port_ = ntohs(address.sin_port);
    listening_ = std::thread([this] { Listen(); });

    std::ofstream(folder_ + "/cupsd.conf")
        << "LogLevel info\nListen " << folder_ << "/sock\nBrowsing Off\nDefaultAuthType None\n"
        << "WebInterface No\n<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
        << "<Location /admin>\n  Order allow,deny\n  Allow all\n</Location>\n"
        << "<Policy default>\n  <Limit All>\n    Order deny,allow\n  </Limit>\n</Policy>\n";
    std::ofstream(folder_ + "/cups-files.conf")
        << "ServerRoot " << folder_ << "\nRequestRoot " << folder_ << "/spool\nTempDir " << folder_
        << "/spool/tmp\nCacheDir " << folder_ << "/cache\nStateDir " << folder_
        << "/state\nServerBin /usr/lib/cups\nDataDir /usr/share/cups\nAccessLog " << folder_
        << "/log/access_log\nErrorLog " << folder_ << "/log/error_log\nPageLog " << folder_
        << "/log/page_log\nUser lp\nGroup lp\nSystemGroup root\n";

    cupsd_ = ::fork();
    if (cupsd_ == 0) {
        const int log = ::open((folder_ + "/log/stdout").c_str(), O_WRONLY | O_CREAT, 0644);
        ::dup2(log, 1);
        ::dup2(log, 2);
        ::execl(kCupsd, kCupsd, "-f", "-c", (folder_ + "/cupsd.conf").c_str(), "-s",
                (folder_ + "/cups-files.conf").c_str(), nullptr);
        std::_Exit(127);
    }
    if (cupsd_ < 0) {
        Fail("cannot start cupsd");
        return;
    }
    ::setenv("CUPS_SERVER", (folder_ + "/sock").c_str(), 1);

    bool up = false;
    for (int i = 0; i < 300 && !up; ++i) {
        up = Accepts();
        if (!up) ::usleep(100'000);
    }
    if (!up) {
        Fail("cupsd did not start; see " + folder_ + "/log");
        return;
    }
    const std::string device = "socket://127.0.0.1:" + std::to_string(port_);
    ProcessResult added;
    for (int attempt = 0; attempt < 20; ++attempt) {
        added = RunProcess(
            {kLpadmin, "-p", kQueue, "-E", "-v", device, "-m", "drv:///sample.drv/generic.ppd"});
        if (added.status == 0) break;
        ::usleep(200'000);
    }
    if (added.status != 0) {
        Fail("lpadmin could not add the queue: " + added.err);
        return;
    }
    if (RunProcess({kLpadmin, "-d", kQueue}).status != 0) {
        Fail("no default queue");
        return;
    }
}

PrivateCups::~PrivateCups() {
    if (cupsd_ > 0) {
        ::kill(cupsd_, SIGTERM);
        ::waitpid(cupsd_, nullptr, 0);
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    if (listening_.joinable()) listening_.join();
    if (listener_ >= 0) ::close(listener_);
    ::unsetenv("CUPS_SERVER");
    if (!folder_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
}

// Whether cupsd takes connections on its socket yet.
bool PrivateCups::Accepts() const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = folder_ + "/sock";
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const bool accepts =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) ::close(fd);
    return accepts;
}

void PrivateCups::Listen() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
        }
        pollfd wait{listener_, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0) continue;
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0) continue;
        std::string job;
        char buf[65536];
        for (;;) {
            pollfd in{client, POLLIN, 0};
            if (::poll(&in, 1, 15'000) <= 0) break;
            const ssize_t n = ::read(client, buf, sizeof buf);
            if (n <= 0) break;
            job.append(buf, static_cast<std::size_t>(n));
        }
        ::close(client);
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
}

std::optional<std::string> PrivateCups::WaitForJob(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        {
            std::lock_guard lock(mutex_);
            if (!jobs_.empty()) return jobs_.front();
        }
        ::usleep(100'000);
    }
    return std::nullopt;
}

}  // namespace a5merge::testing
