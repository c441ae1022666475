#include "bus.h"

#include <algorithm>
#include <bit>

namespace bus {
namespace {

// Bits of a frame, most significant first, for the CRC and stuffing.
class Bits {
public:
    void add(std::uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            bits_[size_++] = static_cast<std::uint8_t>((value >> i) & 1);
        }
    }
    std::size_t size() const { return size_; }
    std::uint8_t operator[](std::size_t i) const { return bits_[i]; }

private:
    std::array<std::uint8_t, 160> bits_{};
    std::size_t size_ = 0;
};

std::uint32_t crc15(const Bits& bits)
{
    std::uint32_t crc = 0;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        const std::uint32_t next = bits[i] ^ ((crc >> 14) & 1);
        crc = (crc << 1) & 0x7FFF;
        if (next != 0) {
            crc ^= 0x4599;
        }
    }
    return crc;
}

} // namespace

unsigned frameBits(const Frame& frame)
{
    Bits bits;
    bits.add(0, 1); // start of frame
    const std::uint32_t rtr = frame.remote ? 1 : 0;
    if (frame.extended) {
        bits.add(frame.id >> 18, 11);
        bits.add(1, 1); // substitute remote request
        bits.add(1, 1); // identifier extension
        bits.add(frame.id & 0x3FFFF, 18);
        bits.add(rtr, 1);
        bits.add(0, 2); // r1, r0
    } else {
        bits.add(frame.id, 11);
        bits.add(rtr, 1);
        bits.add(0, 1); // identifier extension
        bits.add(0, 1); // r0
    }
    bits.add(frame.length, 4);
    if (!frame.remote) {
        for (std::size_t i = 0; i < std::min<std::size_t>(frame.length, 8); ++i) {
            bits.add(frame.data[i], 8);
        }
    }
    bits.add(crc15(bits), 15);
    // After five equal bits the sender puts in one of the other value,
    // which counts towards the next run.
    unsigned stuffed = 0;
    unsigned run = 0;
    std::uint8_t last = 2;
    for (std::size_t i = 0; i < bits.size(); ++i) {
        if (bits[i] == last) {
            ++run;
        } else {
            last = bits[i];
            run = 1;
        }
        if (run == 5) {
            ++stuffed;
            last = static_cast<std::uint8_t>(last ^ 1);
            run = 1;
        }
    }
    // CRC delimiter, acknowledge slot and delimiter, end of frame,
    // intermission.
    return static_cast<unsigned>(bits.size()) + stuffed + 1 + 2 + 7 + 3;
}

std::uint32_t arbitrationKey(const Frame& frame)
{
    // The arbitration field as it goes on the wire, 0 dominant: the top 11
    // identifier bits, then RTR (standard) or SRR (extended, recessive),
    // then IDE, then the extended frame's 18 low bits and its RTR.
    const std::uint32_t rtr = frame.remote ? 1 : 0;
    if (frame.extended) {
        return (frame.id >> 18) << 21 | 1u << 20 | 1u << 19 | (frame.id & 0x3FFFF) << 1 | rtr;
    }
    return frame.id << 21 | rtr << 20;
}

Bus::Bus(std::string name, std::size_t queue, std::uint32_t bitrate)
    : name_(std::move(name)), ring_(std::bit_ceil(std::max<std::size_t>(queue, 2))),
      mask_(ring_.size() - 1), bitrate_(bitrate)
{
}

void Bus::join(Node& node)
{
    nodes_.push_back(&node);
    const auto free = std::find(slots_.begin(), slots_.end(), nullptr);
    node.slot = static_cast<std::uint32_t>(free - slots_.begin());
    if (free == slots_.end()) {
        slots_.push_back(&node);
    } else {
        *free = &node;
    }
}

void Bus::leave(Node& node)
{
    nodes_.erase(std::remove(nodes_.begin(), nodes_.end(), &node), nodes_.end());
    slots_[node.slot] = nullptr;
}

void Bus::setReceiving(Node& node, bool receiving)
{
    if (receiving && !node.receiving) {
        node.cursor = head_;
        node.ownOverwritten = 0;
    }
    node.receiving = receiving;
}

void Bus::publish(const Frame& frame, const Node& sender, std::int64_t micros)
{
    put(frame, sender.number, sender.slot, micros);
}

void Bus::put(const Frame& frame, std::uint32_t sender, std::uint32_t slot, std::int64_t micros)
{
    Record& record = ring_[head_ & mask_];
    if (head_ > mask_) {
        // Overwrites the frame at head_ - size: if its sender has not read
        // past it, that is one of the sender's own frames gone, which it
        // would have skipped anyway.
        // (A node that took a leaver's slot joined after all of the
        // leaver's frames, so its cursor is past them.)
        Node* const owner = slots_[record.slot];
        if (owner != nullptr && owner->cursor <= head_ - mask_ - 1) {
            ++owner->ownOverwritten;
        }
    }
    record.frame = frame;
    record.sender = sender;
    record.slot = slot;
    record.micros = micros;
    const std::size_t size = formatFrame(record.text.data(), frame, micros);
    record.text[size] = '\n';
    record.textSize = static_cast<std::uint8_t>(size + 1);
    ++head_;
    if (watcher_) {
        watcher_(record);
    }
}

void Bus::offer(Node& node, const Frame& frame, std::int64_t nanos)
{
    const std::size_t at = (node.sendHead + node.sendCount) % Node::kSendQueue;
    node.sendQueue[at] = frame;
    node.arrivals[at] = nanos;
    ++node.sendCount;
}

std::optional<std::int64_t> Bus::step(std::int64_t nanos)
{
    for (;;) {
        if (sending_) {
            if (sendingEnds_ > nanos) {
                return sendingEnds_;
            }
            sending_->micros = sendingEnds_ / 1000;
            put(sending_->frame, sending_->sender, sending_->slot, sending_->micros);
            freeAt_ = sendingEnds_;
            sending_.reset();
        }
        Node* winner = nullptr;
        for (Node* node : nodes_) {
            if (node->sendCount != 0 &&
                (winner == nullptr || arbitrationKey(node->sendQueue[node->sendHead]) <
                                          arbitrationKey(winner->sendQueue[winner->sendHead]))) {
                winner = node;
            }
        }
        if (winner == nullptr) {
            return std::nullopt;
        }
        const Frame& frame = winner->sendQueue[winner->sendHead];
        const std::int64_t start = std::max(freeAt_, winner->arrivals[winner->sendHead]);
        sending_ = Record{frame, winner->number, winner->slot, 0};
        sendingEnds_ = start + static_cast<std::int64_t>(frameBits(frame)) * 1000000000 / bitrate_;
        winner->sendHead = (winner->sendHead + 1) % Node::kSendQueue;
        --winner->sendCount;
        if (winner->waitingForRoom) {
            winner->waitingForRoom = false;
            winner->resume();
        }
    }
}

void Bus::wakeReaders()
{
    for (Node* node : nodes_) {
        if (hasFramesFor(*node)) {
            node->wake();
        }
    }
}

} // namespace bus
