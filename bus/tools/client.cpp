#include "client.h"

#include <stdexcept>

namespace bus::tools {
namespace {

constexpr std::size_t kBatch = 64 * 1024;

asio::ip::tcp::endpoint resolve(asio::io_context& io, const std::string& hostPort)
{
    const std::size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) {
        throw std::runtime_error("--connect takes HOST:PORT, not \"" + hostPort + "\"");
    }
    std::string host = hostPort.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
        host = host.substr(1, host.size() - 2);
    }
    asio::ip::tcp::resolver resolver(io);
    std::error_code error;
    const auto results = resolver.resolve(host, hostPort.substr(colon + 1), error);
    if (error || results.empty()) {
        throw std::runtime_error("cannot resolve " + hostPort + ": " + error.message());
    }
    return *results.begin();
}

} // namespace

Client::Client(asio::io_context& io, const std::string& hostPort, const std::string& bus)
    : socket_(io), out_(kBatch + kMaxFormatted)
{
    std::error_code error;
    socket_.connect(resolve(io, hostPort), error);
    if (error) {
        throw std::runtime_error("cannot connect to " + hostPort + ": " + error.message());
    }
    socket_.set_option(asio::ip::tcp::no_delay(true));
    const auto expect = [this](ServerMessage::Kind kind, const std::string& step) {
        const std::string body = readOne();
        const ServerMessage message = parseServerMessage(body);
        if (message.kind != kind) {
            throw std::runtime_error(step + ": the server answered \"< " + body + " >\"");
        }
    };
    expect(ServerMessage::Kind::Hi, "greeting");
    const std::string open = "< open " + bus + " >";
    asio::write(socket_, asio::buffer(open));
    expect(ServerMessage::Kind::Ok, "open " + bus);
    asio::write(socket_, asio::buffer(std::string_view("< rawmode >")));
    expect(ServerMessage::Kind::Ok, "rawmode");
}

std::string Client::readOne()
{
    // One byte at a time, so that nothing after the message is taken.
    std::string body;
    bool inside = false;
    char c = 0;
    while (body.size() < Splitter::kLargestLimit) {
        std::error_code error;
        if (asio::read(socket_, asio::buffer(&c, 1), error) != 1) {
            throw std::runtime_error("the server closed the connection");
        }
        if (!inside) {
            inside = c == '<';
        } else if (c == '>') {
            return body;
        } else {
            body += c;
        }
    }
    throw std::runtime_error("the server sent an over-long message");
}

void Client::send(const Frame& frame)
{
    used_ += formatSend(out_.data() + used_, frame);
    if (used_ >= kBatch) {
        flush();
    }
}

void Client::flush()
{
    if (used_ != 0) {
        asio::write(socket_, asio::buffer(out_.data(), used_));
        used_ = 0;
    }
}

void Client::shutdown()
{
    std::error_code ignored;
    socket_.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
}

} // namespace bus::tools
