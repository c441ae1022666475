// Round trip through the daemon, for the benchmark: one node sends frames
// at a steady rate, a peer node echoes each one back, and the sender times
// every round trip. Prints "p50 US p99 US max US lost N".
//   morvantis-bus-rtt HOST:PORT RATE COUNT
//   morvantis-bus-rtt --plain RATE COUNT
// --plain takes the same four loopback hops through a plain relay process
// that forwards bytes and speaks no protocol: the floor that this machine's
// loopback and scheduler set for the daemon's figure.
#include "client.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/wait.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kPing = 0x100;
constexpr std::uint32_t kPong = 0x101;

// A node on the daemon's bus: pings and pongs are frames.
class BusLink {
public:
    BusLink(asio::io_context& io, const std::string& address) : client_(io, address, "rtt") {}

    void send(std::uint64_t number, bool pong)
    {
        bus::Frame frame;
        frame.id = pong ? kPong : kPing;
        frame.length = 8;
        for (std::size_t b = 0; b < 8; ++b) {
            frame.data[b] = static_cast<std::uint8_t>(number >> (8 * b));
        }
        client_.send(frame);
        client_.flush();
    }

    // Ends a read under way in another thread.
    void stop() { client_.shutdown(); }

    // Calls onTrip(number, pong) for each ping or pong of the next read.
    template <class OnTrip> bool read(OnTrip&& onTrip)
    {
        return client_.read([&](const bus::ServerMessage& message) {
            if (message.kind != bus::ServerMessage::Kind::Frame ||
                (message.frame.id != kPing && message.frame.id != kPong)) {
                return;
            }
            std::uint64_t number = 0;
            for (int b = 7; b >= 0; --b) {
                number = number << 8 | message.frame.data[static_cast<std::size_t>(b)];
            }
            onTrip(number, message.frame.id == kPong);
        });
    }

private:
    bus::tools::Client client_;
};

// A plain connection to the relay: each ping or pong is 9 bytes, a mark
// and the number.
class PlainLink {
public:
    PlainLink(asio::io_context& io, const asio::ip::tcp::endpoint& relay) : socket_(io)
    {
        socket_.connect(relay);
        socket_.set_option(asio::ip::tcp::no_delay(true));
    }

    void send(std::uint64_t number, bool pong)
    {
        std::array<char, kRecord> record{};
        record[0] = pong ? 'o' : 'i';
        std::memcpy(record.data() + 1, &number, sizeof number);
        asio::write(socket_, asio::buffer(record));
    }

    void stop()
    {
        std::error_code ignored;
        socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    }

    template <class OnTrip> bool read(OnTrip&& onTrip)
    {
        std::error_code error;
        used_ += socket_.read_some(asio::buffer(in_.data() + used_, in_.size() - used_), error);
        if (error) {
            return false;
        }
        std::size_t at = 0;
        for (; used_ - at >= kRecord; at += kRecord) {
            std::uint64_t number = 0;
            std::memcpy(&number, in_.data() + at + 1, sizeof number);
            onTrip(number, in_[at] == 'o');
        }
        std::memmove(in_.data(), in_.data() + at, used_ - at);
        used_ -= at;
        return true;
    }

private:
    static constexpr std::size_t kRecord = 9;
    asio::ip::tcp::socket socket_;
    std::array<char, 64 * kRecord> in_{};
    std::size_t used_ = 0;
};

// The relay process: takes two connections and forwards each one's bytes
// to the other until either closes.
[[noreturn]] void relay(int listener)
{
    int peers[2];
    for (int& peer : peers) {
        peer = ::accept(listener, nullptr, nullptr);
        if (peer < 0) {
            ::_exit(1);
        }
        const int one = 1;
        ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    pollfd fds[2] = {{peers[0], POLLIN, 0}, {peers[1], POLLIN, 0}};
    char buffer[4096];
    for (;;) {
        if (::poll(fds, 2, -1) < 0) {
            ::_exit(1);
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n <= 0 || ::write(fds[1 - i].fd, buffer, static_cast<std::size_t>(n)) != n) {
                ::_exit(0);
            }
        }
    }
}

// Pings at `rate` from one thread, echoes them from another, and times
// each round trip as the pinger reads the pong.
template <class Link> int measure(Link& pinger, Link& echo, double rate, std::uint64_t count)
{
    std::thread peer([&] {
        std::uint64_t echoed = 0;
        while (echoed < count) {
            const bool open = echo.read([&](std::uint64_t number, bool pong) {
                if (!pong) {
                    echo.send(number, true);
                    ++echoed;
                }
            });
            if (!open) {
                return;
            }
        }
    });

    std::vector<Clock::time_point> sent(count);
    std::vector<double> trips;
    trips.reserve(count);
    std::thread sender([&] {
        const Clock::time_point start = Clock::now();
        for (std::uint64_t i = 0; i < count; ++i) {
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(i) / rate)));
            sent[i] = Clock::now();
            pinger.send(i, false);
        }
    });

    const Clock::time_point deadline =
        Clock::now() + std::chrono::seconds(5) +
        std::chrono::duration_cast<Clock::duration>(
            std::chrono::duration<double>(static_cast<double>(count) / rate));
    while (trips.size() < count && Clock::now() < deadline) {
        const bool open = pinger.read([&](std::uint64_t number, bool pong) {
            if (pong && number < count) {
                trips.push_back(
                    std::chrono::duration<double, std::micro>(Clock::now() - sent[number]).count());
            }
        });
        if (!open) {
            break;
        }
    }
    sender.join();
    echo.stop(); // the echo may still wait for pings that were lost
    peer.join();
    if (trips.empty()) {
        std::fprintf(stderr, "morvantis-bus-rtt: no frame came back\n");
        return 1;
    }
    std::sort(trips.begin(), trips.end());
    const auto at = [&](double q) {
        return trips[static_cast<std::size_t>(q * static_cast<double>(trips.size() - 1))];
    };
    std::printf("p50 %.1f p99 %.1f max %.1f lost %llu\n", at(0.5), at(0.99), trips.back(),
                static_cast<unsigned long long>(count - trips.size()));
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: morvantis-bus-rtt HOST:PORT|--plain RATE COUNT\n");
        return 2;
    }
    const std::string address = argv[1];
    const double rate = std::atof(argv[2]);
    const std::uint64_t count = std::strtoull(argv[3], nullptr, 10);
    if (rate <= 0 || count == 0) {
        std::fprintf(stderr, "morvantis-bus-rtt: RATE and COUNT must be above 0\n");
        return 2;
    }
    try {
        asio::io_context io;
        if (address != "--plain") {
            BusLink pinger(io, address);
            BusLink echo(io, address);
            return measure(pinger, echo, rate, count);
        }
        asio::ip::tcp::acceptor listener(io, {asio::ip::address_v4::loopback(), 0});
        const pid_t child = ::fork();
        if (child < 0) {
            throw std::system_error(errno, std::generic_category(), "fork");
        }
        if (child == 0) {
            relay(listener.native_handle());
        }
        int status = 0;
        {
            PlainLink pinger(io, listener.local_endpoint());
            PlainLink echo(io, listener.local_endpoint());
            status = measure(pinger, echo, rate, count);
        } // closing the links ends the relay
        ::waitpid(child, nullptr, 0);
        return status;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvantis-bus-rtt: %s\n", error.what());
        return 1;
    }
}
