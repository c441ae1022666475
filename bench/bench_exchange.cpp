// The cost of the library's main job: each read and send function against
// the same simulated driver operation called directly with the port and
// channel mask the library uses, and a send-receive round trip (the library
// sends on its port, a peer reads on another). Calls are timed in batches
// of kBatch with the batch's setup (filling a receive queue) outside the
// time; each benchmark reports ns_per_call, and a summary with the
// library's overhead ratio follows the benchmark table.
#include "bench_ports.h"
#include "driver/vcand32.h"
#include "morvantis.h"
#include "sim_control.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <time.h>
#include <vector>

namespace {

using morvantis::DriverEvent;

constexpr int kBatch = 1000; // fits the library's receive queue of 1024
constexpr int kIterations = 1000;
constexpr int kRepetitions = 5;
constexpr std::int32_t kPeerQueue = 1024;

bench::Connection library; // as CAN_Init left it
bench::Connection peer;

// ns per call of every repetition, by benchmark name.
std::map<std::string, std::vector<double>> results;

DriverEvent transmitEvent(std::uint32_t id)
{
    return bench::FrameEvent(morvantis::kEventTransmit, id);
}

DriverEvent receivedEvent(std::uint32_t id)
{
    return bench::FrameEvent(morvantis::kEventReceived, id);
}

// The calling thread's processor time: other processes on the machine do
// not count, as they would in wall-clock time.
double threadSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Runs `call` kBatch times per iteration, `prepare` untimed before each
// batch. `call` returns 0 on success, as the library's functions do.
// Templates, so that the calls are made directly in the timed loop.
template <typename Prepare, typename Call>
void batches(benchmark::State& state, const std::string& name, Prepare prepare, Call call)
{
    double totalSeconds = 0;
    std::int64_t calls = 0;
    for (auto _ : state) {
        prepare();
        std::int32_t failures = 0;
        const double start = threadSeconds();
        for (int i = 0; i < kBatch; ++i) {
            failures += call() != 0 ? 1 : 0;
        }
        const double seconds = threadSeconds() - start;
        state.SetIterationTime(seconds);
        if (failures != 0) {
            state.SkipWithError("a call failed");
            return;
        }
        totalSeconds += seconds;
        calls += kBatch;
    }
    const double nsPerCall = totalSeconds * 1e9 / static_cast<double>(calls);
    state.counters["ns_per_call"] = nsPerCall;
    results[name].push_back(nsPerCall);
}

void nothing()
{
}

// Library and driver side of one operation, registered as
// "<operation>/library" and "<operation>/driver".
template <typename Prepare, typename Call>
void registerOne(const std::string& name, Prepare prepare, Call call)
{
    benchmark::RegisterBenchmark(
        name.c_str(),
        [name, prepare, call](benchmark::State& state) { batches(state, name, prepare, call); })
        ->UseManualTime()
        ->Iterations(kIterations)
        ->Repetitions(kRepetitions)
        ->DisplayAggregatesOnly();
}

template <typename Prepare, typename LibraryCall, typename DriverCall>
void registerPair(const std::string& operation, Prepare prepare, LibraryCall libraryCall,
                  DriverCall driverCall)
{
    registerOne(operation + "/library", prepare, libraryCall);
    registerOne(operation + "/driver", prepare, driverCall);
}

void registerAll()
{
    static CanMsg standard{0x123, 8, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
    static CanExtMsg extended{
        0x80000000u | 0x12345678u, 8, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
    static DriverEvent standardEvent = transmitEvent(0x123);
    static DriverEvent extendedEvent = transmitEvent(0x80000000u | 0x12345678u);
    static CanMsg standardRead{};
    static CanExtMsg extendedRead{};
    static DriverEvent* received = nullptr;

    const auto fill = [](std::uint32_t id) {
        return [id] {
            bench::Drain(library.port);
            const DriverEvent event = receivedEvent(id);
            for (int i = 0; i < kBatch; ++i) {
                simInjectEvent(library.port, &event);
            }
        };
    };
    const auto receiveDirect = [] { return std::int32_t{ncdReceive1(library.port, &received)}; };

    registerPair(
        "send_standard", nothing, [] { return CAN_Send_Msg(&standard); },
        [] { return std::int32_t{ncdTransmit(library.port, library.mask, &standardEvent)}; });
    registerPair(
        "send_extended", nothing, [] { return CAN_Send_extMsg(&extended); },
        [] { return std::int32_t{ncdTransmit(library.port, library.mask, &extendedEvent)}; });
    registerPair(
        "read_standard", fill(0x123), [] { return CAN_Read_Msg(&standardRead); }, receiveDirect);
    registerPair(
        "read_extended", fill(0x80000000u | 0x12345678u),
        [] { return CAN_Read_extMsg(&extendedRead); }, receiveDirect);
    // The peer's queue is empty before and after each send and read.
    registerPair(
        "round_trip", [] { bench::Drain(peer.port); },
        [] { return CAN_Send_Msg(&standard) | std::int32_t{ncdReceive1(peer.port, &received)}; },
        [] {
            return std::int32_t{ncdTransmit(library.port, library.mask, &standardEvent)} |
                   std::int32_t{ncdReceive1(peer.port, &received)};
        });
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void printSummary()
{
    std::printf("\nns per call, median of the repetitions (library over the same driver "
                "call made directly):\n");
    std::printf("  %-15s %10s %10s %10s %8s\n", "operation", "library", "driver", "overhead",
                "ratio");
    for (const char* operation :
         {"send_standard", "send_extended", "read_standard", "read_extended", "round_trip"}) {
        const auto lib = results.find(std::string(operation) + "/library");
        const auto drv = results.find(std::string(operation) + "/driver");
        if (lib == results.end() || drv == results.end()) {
            continue; // filtered out
        }
        const double l = median(lib->second);
        const double d = median(drv->second);
        std::printf("  %-15s %10.2f %10.2f %10.2f %8.3f\n", operation, l, d, l - d, l / d);
    }
    std::printf("targets: ratio at most 1.10; round trip (library send, peer read) under "
                "100 ns\n");
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv) ||
        !bench::OpenPorts(library, peer, kPeerQueue)) {
        return 1;
    }
    registerAll();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSummary();
    CAN_Exit();
    return 0;
}
