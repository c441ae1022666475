// Fuzzes the daemon's handling of one client's byte stream: the real
// conversation (splitter, messages, bus) without the socket, fed in chunks
// of varying size while its answers are taken in pieces of varying room.
//
// Input: byte 0 chooses the bus (bit 0: timed) and how often a second,
// passive node on the client's bus reads (bits 1-3); byte 1 seeds the chunk
// and room sizes; the rest is what the client sends. The target checks that
// - the conversation always makes progress: it takes bytes, gives bytes or
//   ends;
// - it writes only within the room it is given;
// - every bad message is answered by exactly one "< error ... >", and only
//   bad messages are;
// - the client, the only sender, gets none of its own frames back and no
//   overflow report (its own frames are never its losses);
// - the passive node gets or is told of every frame: what it read plus what
//   it lost is what the bus carried, and a loss is reported before the next
//   frame;
// - the answers are the same whether the stream comes in one piece or in
//   chunks.
// Memory is bounded by construction (fixed buffers, a small queue); the
// replay runs under -rss_limit_mb.
#include "conversation.h"

#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace bus;

void check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "property violated: %s\n", what);
        std::abort();
    }
}

constexpr std::size_t kQueue = 8;

// Reads the bus now and then.
struct Passive : Node {
    void wake() override {}
    void resume() override {}

    void read(Bus& bus, std::size_t max)
    {
        const std::uint64_t before = dropped;
        bool told = false;
        bus.drain(
            *this, max, [&](const Record&) { ++received; },
            [&] {
                check(!told, "one overflow report at a time");
                told = true;
            });
        check(told == (dropped != before), "a loss is reported before the next frame");
    }

    std::uint64_t received = 0;
};

struct Client : Conversation {
    using Conversation::Conversation;
    void wake() override {}
    void resume() override {}
};

struct FuzzHost : Host {
    explicit FuzzHost(bool timedBus) : timed(timedBus) { passive.number = 1000; }

    Bus* openBus(std::string_view name) override
    {
        check(bus == nullptr, "one client opens one bus");
        bus = std::make_unique<Bus>(std::string(name), kQueue, timed ? 500000 : 0);
        bus->join(passive);
        bus->setReceiving(passive, true);
        return bus.get();
    }
    void carried(Bus& carrier) override
    {
        // Time runs fast here: everything queued goes on the bus at once.
        if (carrier.timed()) {
            check(!carrier.step(std::numeric_limits<std::int64_t>::max() / 2),
                  "a timed bus carries all that is due");
        }
    }
    void countBad() override { ++bad; }

    bool timed;
    std::unique_ptr<Bus> bus;
    Passive passive;
    std::size_t bad = 0;
};

// Small deterministic sizes from the seed byte.
struct Sizes {
    std::uint32_t state;
    std::size_t next(std::size_t low, std::size_t high)
    {
        state = state * 1103515245u + 12345u;
        return low + (state >> 8) % (high - low + 1);
    }
};

struct Outcome {
    std::string answers; // everything given to the client
};

Outcome converse(std::string_view stream, bool timed, unsigned pace, std::uint8_t seed,
                 bool oneChunk)
{
    FuzzHost host(timed);
    Client client(host, 1, 256);
    Sizes sizes{seed};
    Outcome outcome;
    std::vector<char> out;
    const auto give = [&] {
        const std::size_t room =
            oneChunk ? std::size_t{1} << 20 : Conversation::kMinOutput + sizes.next(0, 4096);
        out.assign(room, '\0');
        const std::size_t n = client.give(out.data(), out.size());
        check(n <= room, "writes within its room");
        outcome.answers.append(out.data(), n);
        return n;
    };
    client.greet();
    std::size_t at = 0;
    for (unsigned turn = 0; at < stream.size() && !client.closing(); ++turn) {
        const std::size_t size = oneChunk ? stream.size() - at : sizes.next(1, 300);
        const std::size_t taken = client.take(stream.substr(at, size));
        at += taken;
        const std::size_t given = give();
        check(taken != 0 || given != 0 || client.closing(), "makes progress");
        if (host.bus && pace != 0 && turn % pace == 0) {
            host.passive.read(*host.bus, sizes.next(1, 2 * kQueue));
        }
    }
    while (give() != 0) {
    }
    if (host.bus) {
        host.passive.read(*host.bus, std::numeric_limits<std::size_t>::max());
        check(host.passive.received + host.passive.dropped == host.bus->frames(),
              "the passive node gets or is told of every frame");
    }

    // The answers: greeting, then ok, echo or error, one per message.
    std::size_t errors = 0;
    bool greeted = false;
    Splitter splitter(Splitter::kLargestLimit);
    splitter.feed(
        outcome.answers,
        [&](std::string_view body) {
            const ServerMessage message = parseServerMessage(body);
            using Kind = ServerMessage::Kind;
            check(message.kind != Kind::Frame && message.kind != Kind::ErrorFrame,
                  "the only sender gets neither its own frames nor an overflow report");
            check(greeted == (message.kind != Kind::Hi), "the greeting comes first, once");
            greeted = true;
            errors += message.kind == Kind::Error ? 1 : 0;
            return true;
        },
        [](const char*) {
            check(false, "the answers are well formed");
            return true;
        });
    check(errors == host.bad, "every bad message, and only a bad one, gets an error");
    client.leave();
    return outcome;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2) {
        return 0;
    }
    const bool timed = (data[0] & 1) != 0;
    const unsigned pace = (data[0] >> 1) & 7;
    const std::string_view stream(reinterpret_cast<const char*>(data + 2), size - 2);
    const Outcome chunked = converse(stream, timed, pace, data[1], false);
    const Outcome whole = converse(stream, timed, pace, data[1], true);
    check(chunked.answers == whole.answers, "the same answers, in chunks or in one piece");
    return 0;
}
