// A virtual CAN bus: the nodes on it and the frames they send. Every frame
// goes into one ring in the order the bus carries it, so all nodes see one
// order; each node reads the ring from its own cursor, so a node's queue is
// the part of the ring it has not read yet, at most the ring's size. A node
// that falls further behind loses its oldest frames, counted, and is told
// once before its next frame. Its own frames, which it never receives, are
// never its losses.
//
// With a bitrate, frames first wait in their sender's queue; the bus carries
// one at a time, for as long as its bits take, choosing among the waiting
// senders' first frames the one that wins arbitration.
#pragma once

#include "frame.h"
#include "wire.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bus {

// The time frames are stamped with: nanoseconds since the Unix epoch.
inline std::int64_t nowNanos()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

using notation::Frame;

struct Record {
    Frame frame;
    std::uint32_t sender = 0; // the sending node's number
    std::uint32_t slot = 0;   // and its place on the bus
    std::int64_t micros = 0;  // when the bus carried it (wall clock)
    // The frame as every receiving node gets it, "< frame ... >\n":
    // formatted once when the bus carries it.
    std::uint8_t textSize = 0;
    std::array<char, kMaxFormattedFrame + 1> text{};

    std::string_view wire() const { return {text.data(), textSize}; }
};

class Node {
public:
    virtual ~Node() = default;
    // The bus has frames for this node.
    virtual void wake() = 0;
    // Room again in this node's send queue (timed buses).
    virtual void resume() = 0;

    std::uint32_t number = 0;
    bool receiving = false;    // raw mode: frames reach it
    std::uint64_t cursor = 0;  // next ring position to read
    std::uint64_t dropped = 0; // frames lost to overflow
    bool overflowed = false;   // an overflow not reported yet
    // Own frames overwritten in the ring before this node read past them:
    // not losses.
    std::uint64_t ownOverwritten = 0;
    std::uint32_t slot = 0; // place on its bus
    bool waitingForRoom = false;

    // Frames waiting to go on a timed bus, with their arrival times.
    static constexpr std::size_t kSendQueue = 64;
    std::array<Frame, kSendQueue> sendQueue{};
    std::array<std::int64_t, kSendQueue> arrivals{};
    std::size_t sendHead = 0;
    std::size_t sendCount = 0;
};

// The length in bits of a classic CAN frame on the wire, stuff bits
// included, from its start of frame to the end of the intermission.
unsigned frameBits(const Frame& frame);

// Arbitration order: the smaller key wins the bus.
std::uint32_t arbitrationKey(const Frame& frame);

class Bus {
public:
    // `queue`: each node's queue, in frames; `bitrate` 0 for no timing.
    Bus(std::string name, std::size_t queue, std::uint32_t bitrate);

    const std::string& name() const { return name_; }
    std::uint64_t frames() const { return head_; }
    const std::vector<Node*>& nodes() const { return nodes_; }
    bool timed() const { return bitrate_ != 0; }

    void join(Node& node);
    void leave(Node& node);
    // Starts or stops delivering frames to the node.
    void setReceiving(Node& node, bool receiving);

    // Untimed: the frame goes on the bus at once.
    void publish(const Frame& frame, const Node& sender, std::int64_t micros);
    // Timed: queues the frame with its sender, whose queue has room.
    void offer(Node& node, const Frame& frame, std::int64_t nanos);
    // Timed: carries what is due by `nanos`; when the bus next needs a step.
    std::optional<std::int64_t> step(std::int64_t nanos);

    // Wakes every receiving node that has frames to read.
    void wakeReaders();

    // Hands the node its next frames, at most `max`, skipping its own; an
    // overflow first reports itself through onOverflow(). Returns the
    // number of ring positions read.
    template <class OnRecord, class OnOverflow>
    std::size_t drain(Node& node, std::size_t max, OnRecord&& onRecord, OnOverflow&& onOverflow);

    // What the node has lost so far, counting frames it has not yet been
    // told of.
    std::uint64_t dropsOf(const Node& node) const
    {
        const std::uint64_t behind = head_ - node.cursor;
        return node.dropped + (node.receiving && behind > mask_ + 1
                                   ? behind - mask_ - 1 - node.ownOverwritten
                                   : 0);
    }

    bool hasFramesFor(const Node& node) const { return node.receiving && node.cursor != head_; }

    // Called with every frame as the bus carries it.
    void watch(std::function<void(const Record&)> watcher) { watcher_ = std::move(watcher); }

private:
    void put(const Frame& frame, std::uint32_t sender, std::uint32_t slot, std::int64_t micros);

    std::string name_;
    std::vector<Record> ring_;
    std::uint64_t mask_;
    std::uint64_t head_ = 0;
    std::vector<Node*> nodes_;
    std::vector<Node*> slots_; // by Node::slot; nullptr where a node left
    std::uint32_t bitrate_;
    // Timed: the frame on the wire, if any.
    std::optional<Record> sending_;
    std::int64_t sendingEnds_ = 0;
    std::int64_t freeAt_ = 0;
    std::function<void(const Record&)> watcher_;
};

template <class OnRecord, class OnOverflow>
std::size_t Bus::drain(Node& node, std::size_t max, OnRecord&& onRecord, OnOverflow&& onOverflow)
{
    if (!node.receiving) {
        return 0;
    }
    const std::uint64_t size = mask_ + 1;
    if (head_ - node.cursor > size) {
        const std::uint64_t lost = head_ - size - node.cursor - node.ownOverwritten;
        node.dropped += lost;
        node.cursor = head_ - size;
        node.ownOverwritten = 0;
        node.overflowed = node.overflowed || lost != 0;
    }
    if (node.overflowed) {
        node.overflowed = false;
        onOverflow();
    }
    std::size_t read = 0;
    while (node.cursor != head_ && read < max) {
        const Record& record = ring_[node.cursor & mask_];
        ++node.cursor;
        ++read;
        if (record.sender != node.number) {
            onRecord(record);
        }
    }
    return read;
}

} // namespace bus
