// Round trip through the daemon, for the benchmark: one node sends frames
// at a steady rate, a peer node echoes each one back, and the sender times
// every round trip. Prints "p50 US p99 US max US lost N".
//   morvantis-bus-rtt HOST:PORT RATE COUNT
#include "client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kPing = 0x100;
constexpr std::uint32_t kPong = 0x101;

std::uint64_t numberOf(const bus::Frame& frame)
{
    std::uint64_t n = 0;
    for (int b = 7; b >= 0; --b) {
        n = n << 8 | frame.data[static_cast<std::size_t>(b)];
    }
    return n;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: morvantis-bus-rtt HOST:PORT RATE COUNT\n");
        return 2;
    }
    const std::string address = argv[1];
    const double rate = std::atof(argv[2]);
    const std::uint64_t count = std::strtoull(argv[3], nullptr, 10);
    try {
        asio::io_context io;
        bus::tools::Client pinger(io, address, "rtt");
        bus::tools::Client echo(io, address, "rtt");

        std::thread peer([&] {
            std::uint64_t echoed = 0;
            while (echoed < count) {
                const bool open = echo.read([&](const bus::ServerMessage& message) {
                    if (message.kind == bus::ServerMessage::Kind::Frame &&
                        message.frame.id == kPing) {
                        bus::Frame back = message.frame;
                        back.id = kPong;
                        echo.send(back);
                        ++echoed;
                    }
                });
                echo.flush();
                if (!open) {
                    return;
                }
            }
        });

        std::vector<Clock::time_point> sent(count);
        std::vector<double> trips;
        trips.reserve(count);
        std::thread sender([&] {
            bus::Frame frame;
            frame.id = kPing;
            frame.length = 8;
            const Clock::time_point start = Clock::now();
            for (std::uint64_t i = 0; i < count; ++i) {
                std::this_thread::sleep_until(
                    start + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(static_cast<double>(i) / rate)));
                for (int b = 0; b < 8; ++b) {
                    frame.data[static_cast<std::size_t>(b)] =
                        static_cast<std::uint8_t>(i >> (8 * b));
                }
                sent[i] = Clock::now();
                pinger.send(frame);
                pinger.flush();
            }
        });

        const Clock::time_point deadline =
            Clock::now() + std::chrono::seconds(5) +
            std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(count) / rate));
        while (trips.size() < count && Clock::now() < deadline) {
            const bool open = pinger.read([&](const bus::ServerMessage& message) {
                if (message.kind == bus::ServerMessage::Kind::Frame && message.frame.id == kPong) {
                    const std::uint64_t n = numberOf(message.frame);
                    if (n < count) {
                        trips.push_back(
                            std::chrono::duration<double, std::micro>(Clock::now() - sent[n])
                                .count());
                    }
                }
            });
            if (!open) {
                break;
            }
        }
        sender.join();
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
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvantis-bus-rtt: %s\n", error.what());
        return 1;
    }
}
