// The cost of the exchange exports as a Windows application sees them:
// each read and send export of morvantis.dll against an application that
// calls the simulated VCAND32.DLL directly by the same steps (builds the
// driver's event from its record, or takes the event and fills its record,
// with the port and channel mask the library uses), and against the bare
// driver operation. All calls go through the application's import address
// table, as any application's do.
//
// Google Benchmark is not built for Windows here, so the timing is a plain
// loop: batches of kBatch calls timed with the performance counter, the
// library's and the driver's batches taking turns so that anything else on
// the machine weighs on both alike, and the median batch reported.
#include "bench_ports.h"
#include "driver/vcand32.h"
#include "morvantis.h"
#include "sim_control.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

using morvantis::DriverEvent;

constexpr int kBatch = 1000; // fits the library's receive queue of 1024
constexpr int kBatches = 401;
constexpr std::int32_t kPeerQueue = 1024;
constexpr double kGoal = 1.2;

bench::Connection library; // as CAN_Init left it
bench::Connection peer;

// What an application that calls the driver itself would write: the
// library's steps, without the library.
template <typename Record> std::int32_t sendDirectly(const Record& msg)
{
    DriverEvent event{};
    event.tag = morvantis::kEventTransmit;
    event.id = msg.id;
    event.length = msg.length;
    std::memcpy(event.data, msg.data, sizeof event.data);
    return ncdTransmit(library.port, library.mask, &event) == NCD_SUCCESS ? 0 : -1;
}

template <typename Record> std::int32_t readDirectly(Record& msg)
{
    DriverEvent* event = nullptr;
    if (ncdReceive1(library.port, &event) != NCD_SUCCESS || event == nullptr ||
        event->tag != morvantis::kEventReceived) {
        return -1;
    }
    msg.overrun = (event->flags & morvantis::kFlagOverrun) != 0 ? 1 : 0;
    if ((event->flags & (morvantis::kFlagError | morvantis::kFlagOverrun)) != 0 ||
        event->length > 8) {
        return -1;
    }
    msg.id = static_cast<decltype(msg.id)>(event->id);
    msg.length = event->length;
    std::memcpy(msg.data, event->data, event->length);
    return 0;
}

double ticksPerNanosecond()
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(frequency.QuadPart) * 1e-9;
}

// ns per call of one batch: `prepare` untimed, then kBatch calls of `call`,
// each of which must return 0. A negative result means a call failed.
template <typename Prepare, typename Call> double batch(Prepare prepare, Call call)
{
    static const double perNs = ticksPerNanosecond();
    prepare();
    int failures = 0;
    LARGE_INTEGER start;
    LARGE_INTEGER end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < kBatch; ++i) {
        failures += call() != 0 ? 1 : 0;
    }
    QueryPerformanceCounter(&end);
    if (failures != 0) {
        return -1;
    }
    return static_cast<double>(end.QuadPart - start.QuadPart) / perNs / kBatch;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Result {
    double library;
    double direct; // the same steps in the application
    double bare;   // the driver operation alone
};

// The three kinds of batch in turns; the medians, or false when a call
// failed.
template <typename Prepare, typename LibraryCall, typename DirectCall, typename BareCall>
bool measure(Prepare prepare, LibraryCall libraryCall, DirectCall directCall, BareCall bareCall,
             Result& result)
{
    std::vector<double> times[3];
    for (int i = 0; i < kBatches; ++i) {
        times[0].push_back(batch(prepare, libraryCall));
        times[1].push_back(batch(prepare, directCall));
        times[2].push_back(batch(prepare, bareCall));
        if (times[0].back() < 0 || times[1].back() < 0 || times[2].back() < 0) {
            return false;
        }
    }
    result = {median(times[0]), median(times[1]), median(times[2])};
    return true;
}

} // namespace

int main()
{
    if (!bench::OpenPorts(library, peer, kPeerQueue)) {
        return 1;
    }
    constexpr std::uint32_t kExtended = NCD_EXTENDED_ID | 0x12345678u;
    static CanMsg standard{0x123, 8, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
    static CanExtMsg extended{kExtended, 8, 0, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88}};
    static DriverEvent standardEvent = bench::FrameEvent(morvantis::kEventTransmit, 0x123);
    static DriverEvent extendedEvent = bench::FrameEvent(morvantis::kEventTransmit, kExtended);
    static CanMsg standardRead{};
    static CanExtMsg extendedRead{};
    static DriverEvent* received = nullptr;

    // The peer's queue is emptied before each batch of sends, so that every
    // send stores its frame there.
    const auto emptyPeer = [] { bench::Drain(peer.port); };
    const auto fill = [](std::uint32_t id) {
        return [id] {
            bench::Drain(library.port);
            const DriverEvent event = bench::FrameEvent(morvantis::kEventReceived, id);
            for (int i = 0; i < kBatch; ++i) {
                simInjectEvent(library.port, &event);
            }
        };
    };
    const auto receive = [] { return std::int32_t{ncdReceive1(library.port, &received)}; };

    struct Row {
        const char* operation;
        Result result;
        bool ok;
    };
    Row rows[4] = {{"CAN_Send_Msg / ncdTransmit", {}, false},
                   {"CAN_Send_extMsg / ncdTransmit", {}, false},
                   {"CAN_Read_Msg / ncdReceive1", {}, false},
                   {"CAN_Read_extMsg / ncdReceive1", {}, false}};
    rows[0].ok = measure(
        emptyPeer, [] { return CAN_Send_Msg(&standard); }, [] { return sendDirectly(standard); },
        [] { return std::int32_t{ncdTransmit(library.port, library.mask, &standardEvent)}; },
        rows[0].result);
    rows[1].ok = measure(
        emptyPeer, [] { return CAN_Send_extMsg(&extended); }, [] { return sendDirectly(extended); },
        [] { return std::int32_t{ncdTransmit(library.port, library.mask, &extendedEvent)}; },
        rows[1].result);
    rows[2].ok = measure(
        fill(0x123), [] { return CAN_Read_Msg(&standardRead); },
        [] { return readDirectly(standardRead); }, receive, rows[2].result);
    rows[3].ok = measure(
        fill(kExtended), [] { return CAN_Read_extMsg(&extendedRead); },
        [] { return readDirectly(extendedRead); }, receive, rows[3].result);
    CAN_Exit();

    std::printf("ns per call under Wine (%d-bit), median of %d batches of %d calls.\n"
                "direct: the application calls the driver by the same steps; bare: the driver "
                "operation alone\n",
                static_cast<int>(sizeof(void*) * 8), kBatches, kBatch);
    std::printf("  %-32s %8s %8s %8s %8s %8s\n", "export / driver operation", "library", "direct",
                "bare", "ratio", "to bare");
    bool allMet = true;
    for (const Row& row : rows) {
        if (!row.ok) {
            std::printf("  %-32s a call failed\n", row.operation);
            allMet = false;
            continue;
        }
        const double ratio = row.result.library / row.result.direct;
        allMet = allMet && ratio <= kGoal;
        std::printf("  %-32s %8.2f %8.2f %8.2f %8.3f %8.3f\n", row.operation, row.result.library,
                    row.result.direct, row.result.bare, ratio,
                    row.result.library / row.result.bare);
    }
    std::printf("goal: ratio (library over direct) at most %.1f for every export: %s\n", kGoal,
                allMet ? "met" : "not met");
    return 0;
}
