// A plain socketcand client for the tools: connects, opens a bus in raw
// mode, sends frames and reads the server's messages.
#pragma once

#include "wire.h"

#include <asio.hpp>

#include <string>
#include <vector>

namespace bus::tools {

class Client {
public:
    // Connects to HOST:PORT and opens `bus` in raw mode; throws
    // std::runtime_error naming what failed.
    Client(asio::io_context& io, const std::string& hostPort, const std::string& bus);

    // Queues a frame; sent with the next flush or when the batch is full.
    void send(const Frame& frame);
    void flush();
    // Shuts the connection down; a read under way returns false.
    void shutdown();

    // Calls onMessage(ServerMessage) for each message of the next read;
    // false at the end of the stream.
    template <class OnMessage> bool read(OnMessage&& onMessage);

private:
    std::string readOne(); // one message body, during the opening

    asio::ip::tcp::socket socket_;
    Splitter splitter_{Splitter::kLargestLimit};
    std::vector<char> out_;
    std::size_t used_ = 0;
    std::array<char, 64 * 1024> in_{};
};

template <class OnMessage> bool Client::read(OnMessage&& onMessage)
{
    std::error_code error;
    const std::size_t n = socket_.read_some(asio::buffer(in_), error);
    if (error) {
        return false;
    }
    splitter_.feed(
        std::string_view(in_.data(), n),
        [&](std::string_view body) {
            onMessage(parseServerMessage(body));
            return true;
        },
        [](const char*) { return true; });
    return true;
}

} // namespace bus::tools
