#include "server.h"

#include "log.h"
#include "wire.h"

#include <chrono>
#include <cstring>

namespace bus {
namespace {

constexpr std::size_t kReadSize = 16 * 1024;
constexpr std::size_t kWriteSize = 64 * 1024;
static_assert(kWriteSize >= Conversation::kMinOutput);

} // namespace

// A conversation on a socket: reads what the client sends, hands it to the
// conversation as far as it takes it, and writes what it gives back, one
// write at a time.
class Session : public Conversation, public std::enable_shared_from_this<Session> {
public:
    Session(Server& server, asio::ip::tcp::socket socket)
        : Conversation(server, server.nextNodeNumber(), server.limits().maxMessage),
          server_(server), socket_(std::move(socket))
    {
        out_.resize(kWriteSize);
        socket_.set_option(asio::ip::tcp::no_delay(true));
    }

    void start()
    {
        greet();
        flush();
        read();
    }

    // Past the connection limit.
    void turnAway()
    {
        refuse();
        flush();
    }

    void wake() override { flush(); }
    void resume() override
    {
        asio::post(socket_.get_executor(), [self = shared_from_this()] { self->process(); });
    }

    void close()
    {
        if (!ended_) {
            ended_ = true;
            server_.ended(*this);
        }
        leave();
        std::error_code ignored;
        socket_.close(ignored);
    }

private:
    void read()
    {
        if (reading_ || closing()) {
            return;
        }
        reading_ = true;
        socket_.async_read_some(asio::buffer(in_),
                                [self = shared_from_this()](std::error_code error, std::size_t n) {
                                    self->reading_ = false;
                                    if (error) {
                                        self->close();
                                        return;
                                    }
                                    self->inStart_ = 0;
                                    self->inEnd_ = n;
                                    self->process();
                                });
    }

    // Handles what has been read, as far as the conversation takes it;
    // reads on when all is taken.
    void process()
    {
        if (!socket_.is_open()) {
            return;
        }
        inStart_ += take(std::string_view(in_.data() + inStart_, inEnd_ - inStart_));
        flush();
        if (inStart_ == inEnd_) {
            read();
        }
    }

    void flush()
    {
        if (writing_ || !socket_.is_open()) {
            return;
        }
        const std::size_t used = give(out_.data(), out_.size());
        if (used == 0) {
            if (closing()) {
                close();
            }
            return;
        }
        writing_ = true;
        asio::async_write(socket_, asio::buffer(out_.data(), used),
                          [self = shared_from_this()](std::error_code error, std::size_t) {
                              self->writing_ = false;
                              if (error) {
                                  self->close();
                                  return;
                              }
                              if (self->inStart_ != self->inEnd_ && !self->reading_) {
                                  self->process();
                              }
                              self->flush();
                          });
    }

    Server& server_;
    asio::ip::tcp::socket socket_;
    std::array<char, kReadSize> in_{};
    std::size_t inStart_ = 0;
    std::size_t inEnd_ = 0;
    std::vector<char> out_;
    bool reading_ = false;
    bool writing_ = false;
    bool ended_ = false;
};

Server::Server(asio::io_context& io, const asio::ip::tcp::endpoint& endpoint, const Limits& limits,
               std::uint32_t bitrate, Log* log)
    : io_(io), acceptor_(io, endpoint), limits_(limits), bitrate_(bitrate), log_(log)
{
    if (limits_.maxMessage > Splitter::kLargestLimit) {
        limits_.maxMessage = Splitter::kLargestLimit;
    }
    accept();
}

Server::~Server() = default;

void Server::accept()
{
    acceptor_.async_accept([this](std::error_code error, asio::ip::tcp::socket socket) {
        if (error) {
            if (error != asio::error::operation_aborted) {
                accept();
            }
            return;
        }
        auto session = std::make_shared<Session>(*this, std::move(socket));
        if (sessions_.size() >= limits_.maxConnections) {
            session->turnAway();
        } else {
            sessions_.emplace(session.get(), session);
            session->start();
        }
        accept();
    });
}

Bus* Server::openBus(std::string_view name)
{
    const auto found = lines_.find(name);
    if (found != lines_.end()) {
        return found->second.get();
    }
    if (lines_.size() >= limits_.maxBuses) {
        return nullptr;
    }
    auto line = std::make_unique<Line>(io_, std::string(name), limits_.queue, bitrate_);
    if (log_ != nullptr) {
        Bus& bus = *line;
        bus.watch([log = log_, &bus](const Record& record) { log->add(record, bus.name()); });
    }
    return lines_.emplace(std::string(name), std::move(line)).first->second.get();
}

void Server::carried(Bus& bus)
{
    if (bus.timed()) {
        step(static_cast<Line&>(bus)); // every bus here is a line
        return;
    }
    bus.wakeReaders();
    if (log_ != nullptr) {
        log_->flush();
    }
}

void Server::step(Line& line)
{
    const std::uint64_t before = line.frames();
    const std::optional<std::int64_t> due = line.step(nowNanos());
    if (line.frames() != before) {
        line.wakeReaders();
        if (log_ != nullptr) {
            log_->flush();
        }
    }
    if (due) {
        line.timer.expires_at(std::chrono::system_clock::time_point(
            std::chrono::duration_cast<std::chrono::system_clock::duration>(
                std::chrono::nanoseconds(*due))));
        line.timer.async_wait([this, &line](std::error_code error) {
            if (!error) {
                step(line);
            }
        });
    }
}

void Server::ended(Session& session)
{
    if (Bus* bus = session.bus(); bus != nullptr) {
        static_cast<Line*>(bus)->pastDrops += bus->dropsOf(session);
    }
    // The server holds each session: one that waits for room on a timed
    // bus has no read or write under way to hold it. Let go of it once the
    // work in hand, which may be the session's own, is done.
    if (const auto found = sessions_.find(&session); found != sessions_.end()) {
        asio::post(io_, [held = std::move(found->second)] {});
        sessions_.erase(found);
    }
}

void Server::stop()
{
    std::error_code ignored;
    acceptor_.close(ignored);
    // Closing a session takes it out of the list.
    std::vector<std::shared_ptr<Session>> open;
    for (const auto& [raw, session] : sessions_) {
        open.push_back(session);
    }
    for (const auto& session : open) {
        session->close();
    }
    for (auto& [name, line] : lines_) {
        line->timer.cancel();
    }
}

std::string Server::summary() const
{
    std::string text = "morvantis-bus summary\n";
    for (const auto& [name, line] : lines_) {
        const std::size_t nodes = line->nodes().size();
        text += "  bus " + name + ": " + std::to_string(line->frames()) + " frames, " +
                std::to_string(nodes) + (nodes == 1 ? " node" : " nodes");
        if (line->pastDrops != 0) {
            text += ", " + std::to_string(line->pastDrops) + " dropped by nodes that left";
        }
        text += "\n";
        for (const Node* node : line->nodes()) {
            if (const std::uint64_t drops = line->dropsOf(*node); drops != 0) {
                text += "    node " + std::to_string(node->number) + ": " + std::to_string(drops) +
                        " frames dropped\n";
            }
        }
    }
    text += "  bad messages: " + std::to_string(badMessages_) + "\n";
    if (log_ != nullptr) {
        if (const std::string trouble = log_->trouble(); !trouble.empty()) {
            text += "  " + trouble + "\n";
        }
    }
    return text;
}

} // namespace bus
