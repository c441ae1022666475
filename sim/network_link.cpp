#include "network_link.h"

#include "protocol.h"

#include <asio.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

namespace sim {
namespace {

using namespace std::chrono_literals;
using morvantis::DriverEvent;

constexpr auto kJoinTimeout = 3s; // resolve, connect, greeting, open, raw mode
constexpr auto kFirstRetry = 50ms;
constexpr auto kLongestRetry = 1000ms;
constexpr auto kLeaveTimeout = 1000ms;             // for what a leaving node still has to send
constexpr std::size_t kSendQueueBytes = 64 * 1024; // about 1500 frames
constexpr std::size_t kReadBytes = 64 * 1024;
constexpr std::size_t kMaxMessage = 256;

bool validChar(char c)
{
    return c > ' ' && c < 0x7F && c != '<' && c != '>';
}

} // namespace

std::optional<BusAddress> ParseBusAddress(std::string_view text, std::string& error)
{
    const std::size_t slash = text.rfind('/');
    if (slash == std::string_view::npos) {
        error = "no bus name: expected HOST:PORT/BUS";
        return std::nullopt;
    }
    BusAddress address;
    const std::string_view bus = text.substr(slash + 1);
    if (!socketcand::isBusName(bus)) {
        error = "bad bus name \"" + std::string(bus) +
                "\": 1 to 16 characters, no spaces or angle brackets";
        return std::nullopt;
    }
    address.bus = bus;
    std::string_view hostPort = text.substr(0, slash);
    std::string_view host;
    std::string_view port;
    if (!hostPort.empty() && hostPort.front() == '[') {
        const std::size_t close = hostPort.find(']');
        if (close == std::string_view::npos || close + 1 >= hostPort.size() ||
            hostPort[close + 1] != ':') {
            error = "bad address \"" + std::string(hostPort) + "\": expected [IPV6]:PORT";
            return std::nullopt;
        }
        host = hostPort.substr(1, close - 1);
        port = hostPort.substr(close + 2);
    } else {
        const std::size_t colon = hostPort.rfind(':');
        if (colon == std::string_view::npos) {
            error = "no port: expected HOST:PORT/BUS";
            return std::nullopt;
        }
        host = hostPort.substr(0, colon);
        port = hostPort.substr(colon + 1);
    }
    if (host.empty() || !std::all_of(host.begin(), host.end(), validChar)) {
        error = "bad host \"" + std::string(host) + "\"";
        return std::nullopt;
    }
    unsigned long value = 0;
    const bool digits =
        !port.empty() && port.size() <= 5 &&
        std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
        value = std::stoul(std::string(port));
    }
    if (!digits || value == 0 || value > 65535) {
        error = "bad port \"" + std::string(port) + "\": expected 1 to 65535";
        return std::nullopt;
    }
    address.host = host;
    address.port = port;
    return address;
}

class NetworkLink::Impl {
public:
    Impl(BusAddress address, NodeOwner& owner)
        : address_(std::move(address)), owner_(owner), work_(asio::make_work_guard(io_)),
          resolver_(io_), thread_([this] { io_.run(); })
    {
    }

    ~Impl()
    {
        asio::post(io_, [this] {
            resolver_.cancel();
            for (int node = 0; node < kMaxNodes; ++node) {
                depart(node);
            }
        });
        // Once every node has sent what it had and closed its connection,
        // the thread runs out of work and ends.
        work_.reset();
        thread_.join();
    }

    int join(std::uint64_t tag);
    void leave(int node);
    Status send(int node, const DriverEvent& event);

private:
    enum class Phase { Idle, Connecting, Greeting, Opening, RawMode, Up };

    struct Node {
        explicit Node(asio::io_context& io) : socket(io), deadline(io), retry(io) {}

        // Two send buffers: the application's threads fill one while the
        // network thread writes the other, and a flush swaps them, so that
        // the lock is held for a few instructions, never for a copy.
        std::array<std::array<char, kSendQueueBytes>, 2> buffers;

        // Shared with the application's threads, under `mutex`.
        std::mutex mutex;
        bool up = false;         // frames may be queued
        bool writing = false;    // a flush is under way or posted
        std::size_t filling = 0; // the buffer frames are queued in
        std::size_t pendingSize = 0;

        // The network thread's own.
        bool inUse = false;
        bool joined = false;  // its first handshake succeeded: reconnect when lost
        bool leaving = false; // sending what it still has, then closing
        std::uint64_t tag = 0;
        std::uint64_t generation = 0; // changes with every connection, for stale handlers
        Phase phase = Phase::Idle;
        asio::ip::tcp::socket socket;
        asio::steady_timer deadline;
        asio::steady_timer retry;
        std::chrono::milliseconds backoff = kFirstRetry;
        socketcand::Splitter splitter{kMaxMessage};
        std::array<char, kReadBytes> readBuffer;
        char handshake[socketcand::kMaxBusName + 16];
    };

    // The answer to one join, handed from the network thread.
    struct JoinResult {
        std::mutex mutex;
        std::condition_variable ready;
        bool done = false;
        int node = -1;
    };

    void connect(int index);
    void onConnected(int index, std::uint64_t generation);
    void read(int index, std::uint64_t generation);
    bool onMessage(int index, std::string_view body);
    void writeHandshake(int index, std::string_view text);
    void handshakeDone(int index);
    void fail(int index);
    void close(int index);
    void flush(int index);
    void finishJoin(int index, bool joined);
    // Calls `then(index)` on the network thread once `delay` has passed on
    // `timer`, unless the node's connection has changed meanwhile.
    template <typename Then>
    void after(asio::steady_timer& timer, std::chrono::milliseconds delay, int index, Then then)
    {
        timer.expires_after(delay);
        timer.async_wait(
            [this, index, generation = nodes_[index]->generation, then](std::error_code error) {
                if (!error && nodes_[index]->generation == generation) {
                    then(index);
                }
            });
    }
    void depart(int index);
    void release(int index);

    BusAddress address_;
    NodeOwner& owner_;
    asio::io_context io_;
    asio::executor_work_guard<asio::io_context::executor_type> work_;
    asio::ip::tcp::resolver resolver_;
    std::array<std::unique_ptr<Node>, kMaxNodes> nodes_;
    JoinResult* pendingJoin_ = nullptr; // the join under way, network thread only
    std::mutex joinMutex_;              // one join at a time
    std::thread thread_;
};

int NetworkLink::Impl::join(std::uint64_t tag)
{
    const std::lock_guard one(joinMutex_);
    JoinResult result;
    asio::post(io_, [this, tag, &result] {
        int index = 0;
        while (index < kMaxNodes && nodes_[index] && nodes_[index]->inUse) {
            ++index;
        }
        if (index == kMaxNodes) {
            const std::lock_guard lock(result.mutex);
            result.done = true;
            result.ready.notify_one();
            return;
        }
        if (!nodes_[index]) {
            nodes_[index] = std::make_unique<Node>(io_);
        }
        Node& node = *nodes_[index];
        node.inUse = true;
        node.joined = false;
        node.tag = tag;
        node.backoff = kFirstRetry;
        pendingJoin_ = &result;
        connect(index);
    });
    // The network thread answers by the deadline of the handshake at the
    // latest.
    std::unique_lock lock(result.mutex);
    result.ready.wait(lock, [&] { return result.done; });
    return result.node;
}

void NetworkLink::Impl::finishJoin(int index, bool joined)
{
    JoinResult* result = pendingJoin_;
    pendingJoin_ = nullptr;
    const std::lock_guard lock(result->mutex);
    result->node = joined ? index : -1;
    result->done = true;
    result->ready.notify_one();
}

void NetworkLink::Impl::connect(int index)
{
    Node& node = *nodes_[index];
    const std::uint64_t generation = ++node.generation;
    node.phase = Phase::Connecting;
    node.splitter = socketcand::Splitter(kMaxMessage);
    after(node.deadline, kJoinTimeout, index, [this](int i) {
        if (nodes_[i]->phase != Phase::Up) {
            fail(i);
        }
    });
    resolver_.async_resolve(
        address_.host, address_.port,
        [this, index, generation](std::error_code error,
                                  asio::ip::tcp::resolver::results_type endpoints) {
            Node& n = *nodes_[index];
            if (n.generation != generation) {
                return;
            }
            if (error) {
                fail(index);
                return;
            }
            asio::async_connect(n.socket, endpoints,
                                [this, index, generation](std::error_code e, const auto&) {
                                    if (nodes_[index]->generation != generation) {
                                        return;
                                    }
                                    if (e) {
                                        fail(index);
                                    } else {
                                        onConnected(index, generation);
                                    }
                                });
        });
}

void NetworkLink::Impl::onConnected(int index, std::uint64_t generation)
{
    Node& node = *nodes_[index];
    std::error_code ignored;
    node.socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    node.phase = Phase::Greeting;
    read(index, generation);
}

void NetworkLink::Impl::read(int index, std::uint64_t generation)
{
    Node& node = *nodes_[index];
    node.socket.async_read_some(
        asio::buffer(node.readBuffer),
        [this, index, generation](std::error_code error, std::size_t size) {
            Node& n = *nodes_[index];
            if (n.generation != generation) {
                return;
            }
            if (error) {
                fail(index);
                return;
            }
            bool goOn = true;
            n.splitter.feed(
                std::string_view(n.readBuffer.data(), size),
                [&](std::string_view body) { return goOn = onMessage(index, body); },
                [](const char*) { return true; });
            if (goOn && n.generation == generation) {
                read(index, generation);
            }
        });
}

// One message from the server; false when the connection has ended.
bool NetworkLink::Impl::onMessage(int index, std::string_view body)
{
    Node& node = *nodes_[index];
    const socketcand::ServerMessage message = socketcand::parseServerMessage(body);
    switch (node.phase) {
    case Phase::Greeting:
        if (message.kind != socketcand::ServerMessage::Kind::Hi) {
            fail(index);
            return false;
        }
        node.phase = Phase::Opening;
        writeHandshake(index, "open");
        return true;
    case Phase::Opening:
    case Phase::RawMode:
        if (message.kind != socketcand::ServerMessage::Kind::Ok) {
            fail(index);
            return false;
        }
        if (node.phase == Phase::Opening) {
            node.phase = Phase::RawMode;
            writeHandshake(index, "rawmode");
        } else {
            handshakeDone(index);
        }
        return true;
    case Phase::Up:
        break;
    default:
        return true;
    }
    DriverEvent event{};
    event.tag = morvantis::kEventReceived;
    if (message.kind == socketcand::ServerMessage::Kind::Frame) {
        const notation::Frame& frame = message.frame;
        event.id = frame.extended ? (frame.id | NCD_EXTENDED_ID) : frame.id;
        event.flags = frame.remote ? morvantis::kFlagRemote : 0;
        event.length = frame.length;
        std::memcpy(event.data, frame.data.data(), sizeof event.data);
    } else if (message.kind == socketcand::ServerMessage::Kind::ErrorFrame) {
        // A controller error from the server (it lost frames for this
        // node) is an overrun as well.
        event.id = message.errorClass;
        event.flags = morvantis::kFlagError;
        if ((message.errorClass & socketcand::kErrorClassController) != 0) {
            event.flags |= morvantis::kFlagOverrun;
        }
    } else {
        return true; // echo, or an answer to nothing this node asked
    }
    owner_.received(node.tag, event);
    return true;
}

void NetworkLink::Impl::writeHandshake(int index, std::string_view word)
{
    Node& node = *nodes_[index];
    const int size = word == "open"
                         ? std::snprintf(node.handshake, sizeof node.handshake, "< open %s >",
                                         address_.bus.c_str())
                         : std::snprintf(node.handshake, sizeof node.handshake, "< %.*s >",
                                         static_cast<int>(word.size()), word.data());
    const std::uint64_t generation = node.generation;
    asio::async_write(node.socket, asio::buffer(node.handshake, static_cast<std::size_t>(size)),
                      [this, index, generation](std::error_code error, std::size_t) {
                          if (error && nodes_[index]->generation == generation) {
                              fail(index);
                          }
                      });
}

void NetworkLink::Impl::handshakeDone(int index)
{
    Node& node = *nodes_[index];
    node.phase = Phase::Up;
    node.deadline.cancel();
    node.backoff = kFirstRetry;
    bool flushNow = false;
    {
        const std::lock_guard lock(node.mutex);
        node.up = true;
        if (node.pendingSize != 0 && !node.writing) {
            node.writing = true;
            flushNow = true;
        }
    }
    if (node.joined) {
        owner_.lostFrames(node.tag);
    } else {
        node.joined = true;
        finishJoin(index, true);
    }
    if (flushNow) {
        flush(index);
    }
}

// The connection failed or was lost: a join under way fails; a node that
// was on the bus tries again after a growing delay.
void NetworkLink::Impl::fail(int index)
{
    Node& node = *nodes_[index];
    if (node.leaving) {
        release(index);
        return;
    }
    close(index);
    if (!node.joined) {
        node.inUse = false;
        finishJoin(index, false);
        return;
    }
    after(node.retry, node.backoff, index, [this](int i) { connect(i); });
    node.backoff = std::min(node.backoff * 2, kLongestRetry);
}

// Ends the node's connection; the handlers still under way find a new
// generation and do nothing.
void NetworkLink::Impl::close(int index)
{
    Node& node = *nodes_[index];
    ++node.generation;
    node.phase = Phase::Idle;
    std::error_code ignored;
    node.socket.close(ignored);
    node.deadline.cancel();
    node.retry.cancel();
    const std::lock_guard lock(node.mutex);
    node.up = false;
    node.writing = false;
}

void NetworkLink::Impl::leave(int index)
{
    if (index < 0 || index >= kMaxNodes) {
        return;
    }
    asio::post(io_, [this, index] { depart(index); });
}

// The network thread's part of leaving. Frames the node accepted still go
// out: while it is writing, it goes on until its queue is empty, then ends
// its side of the connection and waits for the server to end the other
// (closing with frames from the server unread would reset the connection
// and drop what the server has not yet read). kLeaveTimeout bounds this.
void NetworkLink::Impl::depart(int index)
{
    if (!nodes_[index] || !nodes_[index]->inUse || nodes_[index]->leaving) {
        return;
    }
    Node& node = *nodes_[index];
    node.joined = false; // no reconnecting
    bool writing = false;
    {
        const std::lock_guard lock(node.mutex);
        node.up = false; // nothing more is queued
        writing = node.writing;
    }
    if (!writing) {
        release(index);
        return;
    }
    node.leaving = true;
    after(node.deadline, kLeaveTimeout, index, [this](int i) { release(i); });
}

// The connection ends and the node is free again.
void NetworkLink::Impl::release(int index)
{
    Node& node = *nodes_[index];
    close(index);
    node.inUse = false;
    node.joined = false;
    node.leaving = false;
    const std::lock_guard lock(node.mutex);
    node.pendingSize = 0;
}

Status NetworkLink::Impl::send(int index, const DriverEvent& event)
{
    if (index < 0 || index >= kMaxNodes || !nodes_[index]) {
        return NCD_INVALID_PORT;
    }
    notation::Frame frame;
    frame.extended = (event.id & NCD_EXTENDED_ID) != 0;
    frame.id = event.id & ~NCD_EXTENDED_ID;
    frame.remote = (event.flags & morvantis::kFlagRemote) != 0;
    frame.length = event.length;
    if (frame.id > (frame.extended ? notation::kExtendedIdMask : notation::kStandardIdMask) ||
        frame.length > 8) {
        return NCD_WRONG_PARAMETER;
    }
    std::memcpy(frame.data.data(), event.data, frame.remote ? 0 : frame.length);
    char text[socketcand::kMaxFormatted];
    const std::size_t size = socketcand::formatSend(text, frame);

    Node& node = *nodes_[index];
    bool wake = false;
    {
        const std::lock_guard lock(node.mutex);
        if (!node.up) {
            return NCD_PORT_IS_OFFLINE;
        }
        if (node.pendingSize + size > kSendQueueBytes) {
            return NCD_QUEUE_IS_FULL;
        }
        std::memcpy(node.buffers[node.filling].data() + node.pendingSize, text, size);
        node.pendingSize += size;
        wake = !node.writing;
        node.writing = true;
    }
    if (wake) {
        asio::post(io_, [this, index] { flush(index); });
    }
    return NCD_SUCCESS;
}

// Writes what is queued, then again whatever came meanwhile, until the
// queue is empty; a leaving node then ends its side of the connection.
void NetworkLink::Impl::flush(int index)
{
    Node& node = *nodes_[index];
    std::size_t size = 0;
    std::size_t written = 0;
    {
        const std::lock_guard lock(node.mutex);
        if ((!node.up && !node.leaving) || node.pendingSize == 0) {
            node.writing = false;
            if (node.leaving) {
                std::error_code ignored;
                node.socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
            }
            return;
        }
        size = node.pendingSize;
        written = node.filling;
        node.filling ^= 1;
        node.pendingSize = 0;
    }
    const std::uint64_t generation = node.generation;
    asio::async_write(node.socket, asio::buffer(node.buffers[written].data(), size),
                      [this, index, generation](std::error_code error, std::size_t) {
                          if (nodes_[index]->generation != generation) {
                              return;
                          }
                          if (error) {
                              fail(index);
                          } else {
                              flush(index);
                          }
                      });
}

NetworkLink::NetworkLink(BusAddress address, NodeOwner& owner)
    : impl_(std::make_unique<Impl>(std::move(address), owner))
{
}

NetworkLink::~NetworkLink() = default;

int NetworkLink::join(std::uint64_t tag)
{
    return impl_->join(tag);
}

void NetworkLink::leave(int node)
{
    impl_->leave(node);
}

Status NetworkLink::send(int node, const DriverEvent& event)
{
    return impl_->send(node, event);
}

} // namespace sim
