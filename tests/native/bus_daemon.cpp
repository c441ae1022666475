#include "bus_daemon.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace morvantis::testing {

BusDaemon::BusDaemon(int port)
{
    char errorsName[] = "/tmp/morvantis-bus-errors-XXXXXX";
    errors_ = mkstemp(errorsName);
    unlink(errorsName);
    int out[2];
    if (errors_ < 0 || pipe(out) != 0) {
        return;
    }
    const std::string listen = "127.0.0.1:" + std::to_string(port);
    pid_ = fork();
    if (pid_ == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(errors_, STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        execl(MORVANTIS_BUS_PROGRAM, MORVANTIS_BUS_PROGRAM, "serve", "--listen", listen.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    // "listening on 127.0.0.1:PORT"
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    close(out[0]);
    const std::size_t colon = line.rfind(':');
    if (pid_ < 0 || line.rfind("listening on ", 0) != 0 || colon == std::string::npos) {
        stop();
        return;
    }
    port_ = std::atoi(line.c_str() + colon + 1);
}

BusDaemon::~BusDaemon()
{
    stop();
    if (errors_ >= 0) {
        close(errors_);
    }
}

std::string BusDaemon::address(const std::string& bus) const
{
    return "127.0.0.1:" + std::to_string(port_) + "/" + bus;
}

std::string BusDaemon::summary()
{
    const off_t before = static_cast<off_t>(errorsFrom(0).size());
    if (pid_ <= 0 || kill(pid_, SIGUSR1) != 0) {
        return {};
    }
    // The summary ends with the count of bad messages.
    for (int wait = 0; wait < 200; ++wait) {
        const std::string text = errorsFrom(before);
        if (text.find("bad messages") != std::string::npos && text.back() == '\n') {
            return text;
        }
        usleep(10000);
    }
    return {};
}

std::string BusDaemon::stop()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status = 0;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
    return errorsFrom(0);
}

std::string BusDaemon::errorsFrom(off_t offset) const
{
    std::string text;
    char buffer[4096];
    ssize_t size = 0;
    while (errors_ >= 0 && (size = pread(errors_, buffer, sizeof buffer, offset)) > 0) {
        text.append(buffer, static_cast<std::size_t>(size));
        offset += size;
    }
    return text;
}

} // namespace morvantis::testing
