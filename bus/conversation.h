// One client's side of the daemon, without the socket: takes the bytes the
// client sent, handles its messages and gives back the bytes to write to
// it (answers, an overflow report, the bus's frames). The daemon's session
// wraps it around an Asio socket; the fuzz target drives it directly.
#pragma once

#include "bus.h"
#include "wire.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace bus {

// What a conversation needs from the daemon.
class Host {
public:
    virtual ~Host() = default;
    // The bus of that name, made on first use; nullptr past the limit.
    virtual Bus* openBus(std::string_view name) = 0;
    // After frames went on the bus or into their senders' queues.
    virtual void carried(Bus& bus) = 0;
    virtual void countBad() = 0;
};

class Conversation : public Node {
public:
    // Room give() needs at the least.
    static constexpr std::size_t kMinOutput = 8 * 1024;

    Conversation(Host& host, std::uint32_t nodeNumber, std::size_t maxMessage);

    // The greeting.
    void greet() { reply(kHi); }
    // Refuses the client (past the connection limit): one error, then
    // closing.
    void refuse();

    // Handles bytes the client sent; returns how many it took. It takes
    // fewer when the answers wait to be written (give) or, on a timed bus,
    // the client's send queue is full (resume); the rest is offered again
    // then.
    std::size_t take(std::string_view chunk);

    // Writes the answers, then a pending overflow report and the waiting
    // frames, to `out` (at least kMinOutput bytes); returns the number of
    // bytes written.
    std::size_t give(char* out, std::size_t room);

    // The client is to be disconnected once give() returns nothing.
    bool closing() const { return closing_; }
    // Leaves the bus, if on one.
    void leave();
    Bus* bus() const { return bus_; }

private:
    bool handle(std::string_view body);
    bool bad(const char* reason);
    bool roomToGoOn();
    void reply(std::string_view text);
    void replyError(const char* reason);

    static constexpr std::size_t kReplySize = 4 * 1024;
    static constexpr std::size_t kMaxReply = 96;

    Host& host_;
    Splitter splitter_;
    Bus* bus_ = nullptr;
    std::array<char, kReplySize> replies_{};
    std::size_t replySize_ = 0;
    bool closing_ = false;
    bool carried_ = false;
    std::int64_t now_ = 0;
};

} // namespace bus
