#include "conversation.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace bus {

Conversation::Conversation(Host& host, std::uint32_t nodeNumber, std::size_t maxMessage)
    : host_(host), splitter_(maxMessage)
{
    number = nodeNumber;
}

void Conversation::refuse()
{
    replyError("too many connections");
    closing_ = true;
}

std::size_t Conversation::take(std::string_view chunk)
{
    if (closing_) {
        return 0;
    }
    now_ = nowNanos();
    carried_ = false;
    const std::size_t taken = splitter_.feed(
        chunk, [this](std::string_view body) { return handle(body); },
        [this](const char* reason) { return bad(reason); });
    if (carried_) {
        host_.carried(*bus_);
    }
    return taken;
}

bool Conversation::bad(const char* reason)
{
    host_.countBad();
    replyError(reason);
    return roomToGoOn();
}

bool Conversation::roomToGoOn()
{
    if (sendCount == Node::kSendQueue) {
        waitingForRoom = true; // the bus calls resume()
        return false;
    }
    return !closing_ && replySize_ + kMaxReply <= kReplySize;
}

bool Conversation::handle(std::string_view body)
{
    const ClientMessage message = parseClientMessage(body);
    using Kind = ClientMessage::Kind;
    if (message.kind == Kind::Bad) {
        if (bus_ == nullptr && body.substr(0, 4) == "open") {
            closing_ = true; // as the daemon does on a refused open
        }
        return bad(message.error);
    }
    if (bus_ == nullptr) {
        if (message.kind != Kind::Open) {
            return bad("no bus open");
        }
        bus_ = host_.openBus(message.name);
        if (bus_ == nullptr) {
            replyError("too many buses");
            closing_ = true;
            return false;
        }
        bus_->join(*this);
        reply(kOk);
        return roomToGoOn();
    }
    switch (message.kind) {
    case Kind::Open:
        return bad("a bus is already open");
    case Kind::RawMode:
    case Kind::BcmMode:
        bus_->setReceiving(*this, message.kind == Kind::RawMode);
        reply(kOk);
        break;
    case Kind::Echo:
        reply(kEcho);
        break;
    case Kind::Send:
        if (bus_->timed()) {
            bus_->offer(*this, message.frame, now_);
        } else {
            bus_->publish(message.frame, *this, now_ / 1000);
        }
        carried_ = true;
        break;
    case Kind::Bad:
        break;
    }
    return roomToGoOn();
}

void Conversation::reply(std::string_view text)
{
    std::memcpy(replies_.data() + replySize_, text.data(), text.size());
    replySize_ += text.size();
}

void Conversation::replyError(const char* reason)
{
    char text[kMaxReply];
    const int n = std::snprintf(text, sizeof text, "< error %s >", reason);
    reply(std::string_view(text, static_cast<std::size_t>(n)));
}

std::size_t Conversation::give(char* out, std::size_t room)
{
    std::size_t used = replySize_;
    std::memcpy(out, replies_.data(), replySize_);
    replySize_ = 0;
    if (bus_ != nullptr && !closing_) {
        // Each frame and the overflow report with a newline: python-can's
        // reader drops the character after a message that ends a read.
        // Room for the report first, then for as many frames as fit.
        const std::size_t fits = (room - used - (kMaxFormatted + 1)) / (kMaxFormattedFrame + 1);
        bus_->drain(
            *this, fits,
            [&](const Record& record) {
                std::memcpy(out + used, record.text.data(), record.textSize);
                used += record.textSize;
            },
            [&] {
                // Told now, so stamped now.
                used += formatErrorFrame(out + used, kErrorClassController, nowNanos() / 1000);
                out[used++] = '\n';
            });
    }
    return used;
}

void Conversation::leave()
{
    if (bus_ != nullptr) {
        bus_->leave(*this);
        bus_ = nullptr;
    }
}

} // namespace bus
