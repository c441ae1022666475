// The receiving side of the network benchmark: a native node on the bus
// daemon that takes the sender's numbered frames (see net_sender.cpp) and
// checks that none is lost and all come in order; with --stamped it also
// measures each frame's one-way latency from the send time in its data to
// its arrival, both on the host's wall clock.
//
//   net-receiver HOST:PORT BUS COUNT [--stamped]
//
// Prints "ready" once it is on the bus, then, after COUNT frames or when
// none came for kIdle (kFirstWait for the first), one result line:
//   received N lost L disorder D errors E seconds S rate R
//   [latency_us p50 A p99 B max C]
// `lost` counts the numbers never seen, `disorder` frames that came after a
// later number, `errors` the daemon's error frames (it reports frames it had
// to drop for this node); rate is frames a second from the first frame to
// the last. The first gaps in the numbers go to standard error. Exits 1
// when the bus cannot be reached.
#include "protocol.h"

#include <asio.hpp>
#include <poll.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using socketcand::ServerMessage;

constexpr int kFirstWait = 60000; // ms: a Wine sender may take long to start
constexpr int kIdle = 2000;       // ms
constexpr int kGapsShown = 10;    // on standard error

std::uint64_t WallMicros()
{
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

std::uint32_t Get32(const std::uint8_t* in)
{
    return std::uint32_t{in[0]} | std::uint32_t{in[1]} << 8 | std::uint32_t{in[2]} << 16 |
           std::uint32_t{in[3]} << 24;
}

struct Tally {
    std::uint64_t received = 0;
    std::uint64_t lost = 0;
    std::uint64_t disorder = 0;
    std::uint64_t errors = 0;
    std::uint32_t next = 0; // the number expected next
    int gaps = 0;
    Clock::time_point first;
    Clock::time_point last;
    std::vector<std::int64_t> latencies; // microseconds

    void frame(const socketcand::Frame& frame, Clock::time_point arrival, std::uint64_t wall,
               bool stamped)
    {
        if (received++ == 0) {
            first = arrival;
        }
        last = arrival;
        const std::uint32_t sequence = Get32(frame.data.data());
        if (sequence < next) {
            ++disorder;
        } else {
            if (sequence != next && gaps++ < kGapsShown) {
                std::fprintf(stderr, "net-receiver: frames %u to %u missing\n", next, sequence - 1);
            }
            lost += sequence - next;
            next = sequence + 1;
        }
        if (stamped) {
            // The low 32 bits of the send time: the difference modulo 2^32
            // is right for any latency under an hour.
            const std::uint32_t sent = Get32(frame.data.data() + 4);
            latencies.push_back(static_cast<std::int32_t>(static_cast<std::uint32_t>(wall) - sent));
        }
    }
};

std::int64_t Percentile(std::vector<std::int64_t>& values, double fraction)
{
    const std::size_t at =
        std::min(values.size() - 1, static_cast<std::size_t>(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    return values[at];
}

} // namespace

int main(int argc, char** argv)
{
    const bool stamped = argc == 5 && std::strcmp(argv[4], "--stamped") == 0;
    const std::string address = argc > 1 ? argv[1] : "";
    const std::size_t colon = address.rfind(':');
    const unsigned long long count = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
    if ((argc != 4 && !stamped) || colon == std::string::npos || count == 0) {
        std::fputs("usage: net-receiver HOST:PORT BUS COUNT [--stamped]\n", stderr);
        return 2;
    }
    const std::string busName = argv[2];

    asio::io_context io;
    asio::ip::tcp::socket socket(io);
    std::error_code error;
    asio::ip::tcp::resolver resolver(io);
    const auto endpoints =
        resolver.resolve(address.substr(0, colon), address.substr(colon + 1), error);
    if (!error) {
        asio::connect(socket, endpoints, error);
    }
    if (error) {
        std::fprintf(stderr, "net-receiver: cannot connect to %s: %s\n", address.c_str(),
                     error.message().c_str());
        return 1;
    }

    // The opening (greeting, open, raw mode), then the frames, all read
    // through one splitter.
    enum class Step { Greeting, Open, RawMode, Frames } step = Step::Greeting;
    bool failed = false;
    Tally tally;
    tally.latencies.reserve(stamped ? count : 0);
    socketcand::Splitter splitter(socketcand::Splitter::kLargestLimit);
    std::array<char, 256 * 1024> buffer;
    const int fd = socket.native_handle();
    while (!failed && tally.received < count) {
        pollfd wait{fd, POLLIN, 0};
        if (poll(&wait, 1, tally.received == 0 ? kFirstWait : kIdle) <= 0) {
            break;
        }
        const std::size_t size = socket.read_some(asio::buffer(buffer), error);
        if (error) {
            break;
        }
        const Clock::time_point arrival = Clock::now();
        const std::uint64_t wall = WallMicros();
        splitter.feed(
            std::string_view(buffer.data(), size),
            [&](std::string_view body) {
                const ServerMessage message = socketcand::parseServerMessage(body);
                switch (step) {
                case Step::Greeting:
                    failed = message.kind != ServerMessage::Kind::Hi;
                    asio::write(socket, asio::buffer("< open " + busName + " >"), error);
                    step = Step::Open;
                    break;
                case Step::Open:
                    failed = message.kind != ServerMessage::Kind::Ok;
                    asio::write(socket, asio::buffer(std::string_view("< rawmode >")), error);
                    step = Step::RawMode;
                    break;
                case Step::RawMode:
                    failed = message.kind != ServerMessage::Kind::Ok;
                    std::puts("ready");
                    std::fflush(stdout);
                    step = Step::Frames;
                    break;
                case Step::Frames:
                    if (message.kind == ServerMessage::Kind::Frame) {
                        tally.frame(message.frame, arrival, wall, stamped);
                    } else if (message.kind == ServerMessage::Kind::ErrorFrame) {
                        ++tally.errors;
                    }
                    break;
                }
                return !failed && !error;
            },
            [](const char*) { return true; });
        failed = failed || error;
    }
    if (step != Step::Frames) {
        std::fprintf(stderr, "net-receiver: could not open bus %s on %s\n", busName.c_str(),
                     address.c_str());
        return 1;
    }
    if (tally.next < count) {
        tally.lost += count - tally.next; // the last ones never came
    }
    const double seconds = std::chrono::duration<double>(tally.last - tally.first).count();
    std::printf("received %llu lost %llu disorder %llu errors %llu seconds %.6f rate %.0f",
                static_cast<unsigned long long>(tally.received),
                static_cast<unsigned long long>(tally.lost),
                static_cast<unsigned long long>(tally.disorder),
                static_cast<unsigned long long>(tally.errors), seconds,
                seconds > 0 ? double(tally.received - 1) / seconds : 0.0);
    if (!tally.latencies.empty()) {
        const std::int64_t worst =
            *std::max_element(tally.latencies.begin(), tally.latencies.end());
        std::printf(" latency_us p50 %lld p99 %lld max %lld",
                    static_cast<long long>(Percentile(tally.latencies, 0.5)),
                    static_cast<long long>(Percentile(tally.latencies, 0.99)),
                    static_cast<long long>(worst));
    }
    std::printf("\n");
    return 0;
}
