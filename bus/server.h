// The daemon: an Asio acceptor and one session per client, all on one
// thread. Sessions read client messages, put frames on their bus and write
// the bus's frames back in batches, one write per batch.
#pragma once

#include "bus.h"
#include "conversation.h"

#include <asio.hpp>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace bus {

struct Limits {
    std::size_t maxMessage = 256;     // bytes, brackets included
    std::size_t maxConnections = 256; // beyond: answered with an error, closed
    std::size_t queue = 65536;        // frames per node
    std::size_t maxBuses = 64;        // distinct bus names
};

class Log;
class Session;

class Server : public Host {
public:
    Server(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, const Limits& limits,
           std::uint32_t bitrate, Log* log);
    ~Server();

    asio::ip::tcp::endpoint endpoint() const { return acceptor_.local_endpoint(); }
    // Frames and nodes per bus, drops per node, bad messages: the closing summary.
    std::string summary() const;
    void stop();

    // For sessions.
    Bus* openBus(std::string_view name) override;
    void carried(Bus& bus) override;
    void countBad() override { ++badMessages_; }
    void ended(Session& session);
    const Limits& limits() const { return limits_; }
    std::uint32_t nextNodeNumber() { return ++nodeNumbers_; }

private:
    // A bus with its timer (timed buses).
    struct Line : Bus {
        asio::system_timer timer;
        std::uint64_t pastDrops = 0; // lost by nodes that have left
        Line(asio::io_context& io, std::string name, std::size_t queue, std::uint32_t bitrate)
            : Bus(std::move(name), queue, bitrate), timer(io)
        {
        }
    };
    void accept();
    void step(Line& line);

    asio::io_context& io_;
    asio::ip::tcp::acceptor acceptor_;
    Limits limits_;
    std::uint32_t bitrate_;
    Log* log_;
    std::map<std::string, std::unique_ptr<Line>, std::less<>> lines_;
    std::map<Session*, std::shared_ptr<Session>> sessions_;
    std::uint64_t badMessages_ = 0;
    std::uint32_t nodeNumbers_ = 0;
};

} // namespace bus
