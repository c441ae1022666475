#include "server.h"

#include "log.h"
#include "protocol.h"

#include <chrono>
#include <cstring>

namespace bus {
namespace {

std::int64_t nowNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

constexpr std::size_t kReadSize = 16 * 1024;
constexpr std::size_t kWriteSize = 64 * 1024;
constexpr std::size_t kReplySize = 4 * 1024;
constexpr std::size_t kMaxReply = 96;

} // namespace

class Session : public Node, public std::enable_shared_from_this<Session> {
public:
    Session(Server& server, asio::ip::tcp::socket socket)
        : server_(server), socket_(std::move(socket)), splitter_(server.limits().maxMessage)
    {
        number = server.nextNodeNumber();
        out_.resize(kWriteSize);
        socket_.set_option(asio::ip::tcp::no_delay(true));
    }

    void start()
    {
        reply(kHi);
        flush();
        read();
    }

    // Past the connection limit: one error, then closed.
    void refuse()
    {
        reply("< error too many connections >");
        closing_ = true;
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
        if (line_ != nullptr) {
            line_->bus.leave(*this);
            line_ = nullptr;
        }
        std::error_code ignored;
        socket_.close(ignored);
    }

    Server::Line* line() const { return line_; }

private:
    void read()
    {
        if (reading_ || closing_) {
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

    // Handles what has been read, as far as there is room for the answers
    // and the bus takes the frames; reads on when all is handled.
    void process()
    {
        if (!socket_.is_open()) {
            return;
        }
        now_ = nowNanos();
        carried_ = false;
        const std::string_view chunk(in_.data() + inStart_, inEnd_ - inStart_);
        inStart_ += splitter_.feed(
            chunk, [this](std::string_view body) { return handle(body); },
            [this](const char* reason) {
                server_.countBad();
                replyError(reason);
                return roomToGoOn();
            });
        if (carried_) {
            server_.carried(*line_);
        }
        flush();
        if (inStart_ == inEnd_) {
            read();
        }
    }

    bool roomToGoOn()
    {
        if (sendCount == Node::kSendQueue) {
            waitingForRoom = true; // the bus resumes this session
            return false;
        }
        return !closing_ && replySize_ + kMaxReply <= kReplySize;
    }

    bool handle(std::string_view body)
    {
        const ClientMessage message = parseClientMessage(body);
        using Kind = ClientMessage::Kind;
        if (message.kind == Kind::Bad) {
            server_.countBad();
            replyError(message.error);
            if (line_ == nullptr && body.substr(0, 4) == "open") {
                closing_ = true; // as the daemon does on a refused open
            }
            return roomToGoOn();
        }
        if (line_ == nullptr) {
            if (message.kind != Kind::Open) {
                server_.countBad();
                replyError("no bus open");
                return roomToGoOn();
            }
            line_ = server_.openBus(message.name);
            if (line_ == nullptr) {
                replyError("too many buses");
                closing_ = true;
                return false;
            }
            line_->bus.join(*this);
            reply(kOk);
            return roomToGoOn();
        }
        Bus& bus = line_->bus;
        switch (message.kind) {
        case Kind::Open:
            server_.countBad();
            replyError("a bus is already open");
            break;
        case Kind::RawMode:
        case Kind::BcmMode:
            bus.setReceiving(*this, message.kind == Kind::RawMode);
            reply(kOk);
            break;
        case Kind::Echo:
            reply(kEcho);
            break;
        case Kind::Send:
            if (bus.timed()) {
                bus.offer(*this, message.frame, now_);
            } else {
                bus.publish(message.frame, number, now_ / 1000);
            }
            carried_ = true;
            break;
        case Kind::Bad:
            break;
        }
        return roomToGoOn();
    }

    void reply(std::string_view text)
    {
        std::memcpy(replies_.data() + replySize_, text.data(), text.size());
        replySize_ += text.size();
    }

    void replyError(const char* reason)
    {
        char text[kMaxReply];
        const int n = std::snprintf(text, sizeof text, "< error %s >", reason);
        reply(std::string_view(text, static_cast<std::size_t>(n)));
    }

    // Writes the answers, a pending overflow report and the waiting frames
    // in one write.
    void flush()
    {
        if (writing_ || !socket_.is_open()) {
            return;
        }
        std::size_t used = replySize_;
        std::memcpy(out_.data(), replies_.data(), replySize_);
        replySize_ = 0;
        if (line_ != nullptr && !closing_) {
            const std::size_t room = (kWriteSize - used) / kMaxFormatted;
            line_->bus.drain(
                *this, room,
                [&](const Record& record) {
                    used += formatFrame(out_.data() + used, record.frame, record.micros);
                    // A newline after each frame: python-can's reader drops
                    // the character after a message that ends a read.
                    out_[used++] = '\n';
                },
                [&] {
                    used +=
                        formatErrorFrame(out_.data() + used, kErrorClassController, now_ / 1000);
                    out_[used++] = '\n';
                });
        }
        if (used == 0) {
            if (closing_) {
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
    Splitter splitter_;
    Server::Line* line_ = nullptr;
    std::array<char, kReadSize> in_{};
    std::size_t inStart_ = 0;
    std::size_t inEnd_ = 0;
    std::array<char, kReplySize> replies_{};
    std::size_t replySize_ = 0;
    std::vector<char> out_;
    bool reading_ = false;
    bool writing_ = false;
    bool closing_ = false;
    bool carried_ = false;
    bool ended_ = false;
    std::int64_t now_ = 0;
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
            session->refuse();
        } else {
            sessions_.emplace(session.get(), session);
            session->start();
        }
        accept();
    });
}

Server::Line* Server::openBus(std::string_view name)
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
        Bus& bus = line->bus;
        bus.watch([log = log_, &bus](const Record& record) { log->add(record, bus.name()); });
    }
    return lines_.emplace(std::string(name), std::move(line)).first->second.get();
}

void Server::carried(Line& line)
{
    if (line.bus.timed()) {
        step(line);
        return;
    }
    line.bus.wakeReaders();
    if (log_ != nullptr) {
        log_->flush();
    }
}

void Server::step(Line& line)
{
    const std::uint64_t before = line.bus.frames();
    const std::optional<std::int64_t> due = line.bus.step(nowNanos());
    if (line.bus.frames() != before) {
        line.bus.wakeReaders();
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
    if (Line* line = session.line(); line != nullptr) {
        line->pastDrops += line->bus.dropsOf(session);
    }
    sessions_.erase(&session);
}

void Server::stop()
{
    std::error_code ignored;
    acceptor_.close(ignored);
    // Closing a session takes it out of the list.
    std::vector<std::shared_ptr<Session>> open;
    for (auto& [raw, weak] : sessions_) {
        if (auto session = weak.lock()) {
            open.push_back(std::move(session));
        }
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
        text += "  bus " + name + ": " + std::to_string(line->bus.frames()) + " frames";
        if (line->pastDrops != 0) {
            text += ", " + std::to_string(line->pastDrops) + " dropped by nodes that left";
        }
        text += "\n";
        for (const Node* node : line->bus.nodes()) {
            if (const std::uint64_t drops = line->bus.dropsOf(*node); drops != 0) {
                text += "    node " + std::to_string(node->number) + ": " + std::to_string(drops) +
                        " frames dropped\n";
            }
        }
    }
    text += "  bad messages: " + std::to_string(badMessages_) + "\n";
    return text;
}

} // namespace bus
