// The socketcand protocol's messages: "< open vcan0 >", "< send 123 2 11 22 >",
// "< frame 123 23.424242 1122 >" and their kin. Splitter finds messages in a
// byte stream, holding at most one bounded partial message; the parse
// functions read one message's body, the format functions write one.
#pragma once

#include "frame.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace socketcand {

using notation::Frame;

inline constexpr std::size_t kMaxBusName = 16;

// A bus name as "< open NAME >" carries it: 1 to kMaxBusName printable
// characters, no spaces and no angle brackets.
bool isBusName(std::string_view name);
// Room for the longest message a format function below writes.
inline constexpr std::size_t kMaxFormatted = 80;
// The longest message formatFrame writes: "< frame ", an 8-digit
// identifier, a time of at most 13 + 1 + 6 characters, 16 data digits, the
// spaces and " >".
inline constexpr std::size_t kMaxFormattedFrame = 56;

// Finds "< ... >" messages in a stream fed in pieces of any size. A message
// longer than the limit, a message cut short by a new '<', and bytes
// outside messages are each reported once, as one bad message.
class Splitter {
public:
    explicit Splitter(std::size_t maxMessage) : max_(maxMessage < 2 ? 0 : maxMessage - 2) {}

    // Calls onMessage(body) for each complete message (the text between the
    // brackets; valid during the call) and onBad(reason) for each bad one.
    // Either returns false to stop there; feed returns the number of bytes
    // it took, the whole chunk unless stopped.
    template <class OnMessage, class OnBad>
    std::size_t feed(std::string_view chunk, OnMessage&& onMessage, OnBad&& onBad);

private:
    enum class State { Outside, Garbage, Inside, Overlong };
    bool keep(std::string_view piece);

    std::size_t max_;
    State state_ = State::Outside;
    char partial_[1024];
    std::size_t partialSize_ = 0;

public:
    static constexpr std::size_t kLargestLimit = sizeof(partial_) + 2;
};

struct ClientMessage {
    enum class Kind { Open, RawMode, BcmMode, Send, Echo, Bad };
    Kind kind = Kind::Bad;
    Frame frame;                 // Send
    std::string_view name;       // Open
    const char* error = nullptr; // Bad: what is wrong
};

// A client's message: open, rawmode, bcmmode, send, sendrtr, echo. Accepts
// the daemon's spelling and python-can's (lower case, no leading zeros).
ClientMessage parseClientMessage(std::string_view body);

struct ServerMessage {
    enum class Kind { Hi, Ok, Echo, Frame, ErrorFrame, Error, Other };
    Kind kind = Kind::Other;
    Frame frame;                  // Frame
    std::int64_t micros = 0;      // Frame, ErrorFrame
    std::uint32_t errorClass = 0; // ErrorFrame
    std::string_view text;        // Error: the words after "error"
};

// A server's message, as the daemon and this one write them.
ServerMessage parseServerMessage(std::string_view body);

// Server to client. Each writes at most kMaxFormatted characters to `out`
// and returns the number written.
std::size_t formatFrame(char* out, const Frame& frame, std::int64_t micros);
std::size_t formatErrorFrame(char* out, std::uint32_t errorClass, std::int64_t micros);
// Client to server: "< send ID LEN B0 ... >" or "< sendrtr ID LEN >".
std::size_t formatSend(char* out, const Frame& frame);

inline constexpr std::string_view kHi = "< hi >";
inline constexpr std::string_view kOk = "< ok >";
inline constexpr std::string_view kEcho = "< echo >";

// SocketCAN's controller error class and its receive overflow bit (data[1]).
inline constexpr std::uint32_t kErrorClassController = 0x4;
inline constexpr std::uint8_t kControllerRxOverflow = 0x01;

template <class OnMessage, class OnBad>
std::size_t Splitter::feed(std::string_view chunk, OnMessage&& onMessage, OnBad&& onBad)
{
    std::size_t i = 0;
    const std::size_t n = chunk.size();
    while (i < n) {
        switch (state_) {
        case State::Outside:
        case State::Garbage: {
            const char c = chunk[i++];
            if (c == '<') {
                state_ = State::Inside;
                partialSize_ = 0;
            } else if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
                state_ = State::Outside;
            } else if (state_ == State::Outside) {
                state_ = State::Garbage;
                if (!onBad("bytes outside a message")) {
                    return i;
                }
            }
            break;
        }
        case State::Inside:
        case State::Overlong: {
            std::size_t j = i;
            while (j < n && chunk[j] != '>' && chunk[j] != '<') {
                ++j;
            }
            const std::string_view piece = chunk.substr(i, j - i);
            bool goOn = true;
            // A message that starts and ends in this chunk is read where it
            // is; one cut across chunks is gathered in partial_.
            std::string_view body = piece;
            const bool whole = j < n && partialSize_ == 0;
            if (state_ == State::Inside && (whole ? piece.size() > max_ : !keep(piece))) {
                state_ = State::Overlong;
                goOn = onBad("message too long");
            }
            if (j == n) {
                return n; // the message goes on in the next piece
            }
            if (!goOn) {
                return j; // the '<' or '>' is read again
            }
            if (state_ == State::Inside) {
                if (!whole) {
                    body = std::string_view(partial_, partialSize_);
                }
                goOn = chunk[j] == '>' ? onMessage(body) : onBad("message cut short by a new one");
            }
            partialSize_ = 0;
            state_ = chunk[j] == '<' ? State::Inside : State::Outside;
            i = j + 1;
            if (!goOn) {
                return i;
            }
            break;
        }
        }
    }
    return n;
}

inline bool Splitter::keep(std::string_view piece)
{
    if (partialSize_ + piece.size() > max_) {
        partialSize_ = 0;
        return false;
    }
    std::memcpy(partial_ + partialSize_, piece.data(), piece.size());
    partialSize_ += piece.size();
    return true;
}

} // namespace socketcand
