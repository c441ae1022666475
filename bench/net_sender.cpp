// The sending side of the network benchmark: a plain application of the
// library. It brings the channel up with CAN_Init (the driver joins the bus
// that MORVANTIS_BUS names), sends numbered frames with CAN_Send_Msg and
// takes the channel down. A send refused with -1 (the driver's bounded send
// queue is full: its network thread has not caught up) is tried again and
// counted. Built for Windows (run under Wine) and natively.
//
//   net-sender flood COUNT        as fast as the queue takes them
//   net-sender paced COUNT RATE   RATE frames a second, each stamped with
//                                 its send time for the receiver's latency
//   net-sender cost COUNT         batches of kBatch frames with a pause
//                                 after each, at a rate the network thread
//                                 keeps up with; times the calls (COUNT at
//                                 least two batches)
//
// Each frame is 123#, eight bytes: the sequence number (from 0) and the
// low 32 bits of the send time in microseconds since the Unix epoch (0 when
// not stamped), both little-endian. Calls are timed one by one (in cost
// mode every other batch; the batches between are timed whole), refused
// ones included. One result line on standard output:
//   sent N retries R seconds S call_ns p50 A p99 B p999 C max D
//   [batch_ns M: cost, the median over the whole batches of ns per call]
#include "morvantis.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Nanos(Clock::duration duration)
{
    return std::chrono::duration<double, std::nano>(duration).count();
}

constexpr int kBatch = 100;
constexpr auto kPause = std::chrono::milliseconds(1); // after each batch: 100 frames/ms at most
// What the network thread gets to write out the last frames before the
// channel goes off the bus, which drops what is still queued.
constexpr auto kDrain = std::chrono::milliseconds(500);

// The wall clock in microseconds since the Unix epoch, the clock the
// receiver shares: Wine maps the precise system time to the host's.
std::uint64_t WallMicros()
{
#ifdef _WIN32
    FILETIME time;
    GetSystemTimePreciseAsFileTime(&time);
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    constexpr std::uint64_t kEpochTicks = 116444736000000000ULL; // 1601 to 1970 in 100 ns
    return (ticks - kEpochTicks) / 10;
#else
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000u +
           static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
#endif
}

void Put32(std::uint8_t* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i) {
        out[i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

struct Sender {
    CanMsg msg{};
    std::uint64_t retries = 0;

    Sender()
    {
        msg.id = 0x123;
        msg.length = 8;
    }

    void number(std::uint32_t sequence, std::uint32_t stamp)
    {
        Put32(msg.data, sequence);
        Put32(msg.data + 4, stamp);
    }

    // Sends until the queue takes the frame; with `calls`, times each call.
    void send(std::vector<double>* calls)
    {
        for (;;) {
            const Clock::time_point before = calls ? Clock::now() : Clock::time_point();
            const bool taken = CAN_Send_Msg(&msg) == 0;
            if (calls) {
                calls->push_back(Nanos(Clock::now() - before));
            }
            if (taken) {
                return;
            }
            ++retries;
            std::this_thread::yield();
        }
    }
};

double Percentile(std::vector<double>& values, double fraction)
{
    if (values.empty()) {
        return 0;
    }
    const std::size_t at =
        std::min(values.size() - 1, static_cast<std::size_t>(fraction * double(values.size())));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(at),
                     values.end());
    return values[at];
}

int Usage()
{
    std::fputs("usage: net-sender flood COUNT | paced COUNT RATE | cost COUNT\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return Usage();
    }
    const std::string mode = argv[1];
    const unsigned long count = std::strtoul(argv[2], nullptr, 10);
    const unsigned long rate = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 0;
    if (count == 0 || count > 0xFFFFFFFFu || (mode == "paced") != (argc == 4) ||
        (mode == "paced" && rate == 0) || (mode == "cost" && count < 2 * kBatch) ||
        (mode != "flood" && mode != "paced" && mode != "cost")) {
        return Usage();
    }
    if (CAN_Init() != 0) {
        std::fputs("net-sender: CAN_Init failed\n", stderr);
        return 1;
    }
    Sender sender;
    std::vector<double> batchPerCall; // cost: ns per call of whole batches
    std::vector<double> calls;        // ns of each call timed one by one
    calls.reserve(mode == "flood" ? 2 * count : count);
    const Clock::time_point start = Clock::now();
    if (mode == "flood") {
        for (std::uint32_t sequence = 0; sequence < count; ++sequence) {
            sender.number(sequence, 0);
            sender.send(&calls);
        }
    } else if (mode == "paced") {
        const auto period = std::chrono::duration<double>(1.0 / double(rate));
        for (std::uint32_t sequence = 0; sequence < count; ++sequence) {
            const auto due = start + std::chrono::duration_cast<Clock::duration>(period * sequence);
            std::this_thread::sleep_until(due);
            sender.number(sequence, static_cast<std::uint32_t>(WallMicros()));
            sender.send(&calls);
        }
    } else {
        // Batches timed whole and batches timed call by call take turns.
        std::uint32_t sequence = 0;
        for (bool whole = true; sequence < count; whole = !whole) {
            const std::uint32_t end =
                static_cast<std::uint32_t>(std::min<unsigned long>(count, sequence + kBatch));
            const std::uint32_t first = sequence;
            const Clock::time_point batchStart = Clock::now();
            for (; sequence < end; ++sequence) {
                sender.number(sequence, 0);
                sender.send(whole ? nullptr : &calls);
            }
            if (whole) {
                batchPerCall.push_back(Nanos(Clock::now() - batchStart) / (end - first));
            }
            std::this_thread::sleep_for(kPause);
        }
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::this_thread::sleep_for(kDrain);
    CAN_Exit();
    std::printf("sent %lu retries %llu seconds %.6f", count,
                static_cast<unsigned long long>(sender.retries), seconds);
    const double worst = *std::max_element(calls.begin(), calls.end());
    std::printf(" call_ns p50 %.0f p99 %.0f p999 %.0f max %.0f", Percentile(calls, 0.5),
                Percentile(calls, 0.99), Percentile(calls, 0.999), worst);
    if (mode == "cost") {
        std::printf(" batch_ns %.1f", Percentile(batchPerCall, 0.5));
    }
    std::printf("\n");
    return 0;
}
