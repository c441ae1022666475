// morvantis-bus serving on a free loopback port, for the tests of the
// simulated driver's network mode: started as a process of its own, ended
// with SIGTERM.
#pragma once

#include <string>
#include <sys/types.h>

namespace morvantis::testing {

class BusDaemon {
public:
    // Starts the daemon on `port` (0: a free one) and waits for its first
    // line, which names the port.
    explicit BusDaemon(int port = 0);
    ~BusDaemon();
    BusDaemon(const BusDaemon&) = delete;
    BusDaemon& operator=(const BusDaemon&) = delete;

    bool running() const { return pid_ > 0; }
    int port() const { return port_; }
    // "127.0.0.1:PORT/BUS", as MORVANTIS_BUS takes it.
    std::string address(const std::string& bus = "vcan0") const;

    // The summary the running daemon prints when asked (SIGUSR1).
    std::string summary();

    // Ends the daemon; what it wrote to standard error (its summary).
    std::string stop();

private:
    pid_t pid_ = -1;
    int port_ = 0;
    int errors_ = -1; // a temporary file with the daemon's standard error
    std::string errorsFrom(off_t offset) const;
};

} // namespace morvantis::testing
