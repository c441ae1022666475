#include "tools.h"

#include "client.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>

namespace bus::tools {
namespace {

constexpr int kFailed = 1;
constexpr int kBadNotation = 2;

constexpr std::size_t kDumpBuffer = 256 * 1024;
// An error frame's line without the bus name: "(SECS.USECS) " with up to
// 20 digits of seconds, or candump's "ERRORFRAME" form, either shorter.
constexpr std::size_t kMaxErrorLine = 2 + 20 + 1 + 6 + 2 + 1 + 8 + 2 + 1;

using Clock = std::chrono::steady_clock;

int failed(const std::exception& error)
{
    std::fprintf(stderr, "morvantis-bus: %s\n", error.what());
    return kFailed;
}

} // namespace

int dump(const std::string& connect, const std::string& bus, bool logLines, std::uint64_t count)
{
    try {
        asio::io_context io;
        Client client(io, connect, bus);
        std::uint64_t seen = 0;
        // The lines of each read gather here and go out in one write.
        std::vector<char> out(kDumpBuffer);
        std::size_t used = 0;
        const std::size_t longest =
            std::max({notation::maxCandumpLine(bus.size(), 0) + 1, notation::maxLogLine(bus.size()),
                      kMaxErrorLine + bus.size()});
        const auto writeOut = [&] {
            std::fwrite(out.data(), 1, used, stdout);
            std::fflush(stdout);
            used = 0;
        };
        while (count == 0 || seen < count) {
            const bool open = client.read([&](const ServerMessage& message) {
                if (count != 0 && seen == count) {
                    return;
                }
                if (out.size() - used < longest) {
                    writeOut();
                }
                char* const line = out.data() + used;
                if (message.kind == ServerMessage::Kind::Frame) {
                    ++seen;
                    if (logLines) {
                        used += notation::logLine(line, message.micros, bus, message.frame);
                    } else {
                        used += notation::candumpLine(line, bus, "", message.frame);
                        out[used++] = '\n';
                    }
                } else if (message.kind == ServerMessage::Kind::ErrorFrame) {
                    // As candump shows an error frame: the class with the
                    // error flag; the message carries no data.
                    const unsigned id = 0x20000000u | message.errorClass;
                    const int n =
                        logLines ? std::snprintf(line, longest, "(%lld.%06lld) %s %08X#\n",
                                                 static_cast<long long>(message.micros / 1000000),
                                                 static_cast<long long>(message.micros % 1000000),
                                                 bus.c_str(), id)
                                 : std::snprintf(line, longest, "  %s  %08X   [0]   ERRORFRAME\n",
                                                 bus.c_str(), id);
                    used += static_cast<std::size_t>(n);
                }
            });
            writeOut();
            if (!open) {
                break;
            }
        }
        return 0;
    } catch (const std::exception& error) {
        return failed(error);
    }
}

int send(const std::string& connect, const std::string& bus, const std::vector<std::string>& frames)
{
    std::vector<Frame> parsed;
    for (const std::string& text : frames) {
        std::string error;
        const std::optional<Frame> frame = notation::parseFrame(text, error);
        if (!frame) {
            std::fprintf(stderr, "morvantis-bus: bad frame \"%s\": %s; nothing sent\n",
                         text.c_str(), error.c_str());
            return kBadNotation;
        }
        parsed.push_back(*frame);
    }
    try {
        asio::io_context io;
        Client client(io, connect, bus);
        for (const Frame& frame : parsed) {
            client.send(frame);
        }
        client.flush();
        return 0;
    } catch (const std::exception& error) {
        return failed(error);
    }
}

int play(const std::string& connect, const std::string& file, bool fast, const std::string& bus)
{
    // The whole log is read first: a bad line sends nothing.
    std::ifstream in(file);
    if (!in) {
        std::fprintf(stderr, "morvantis-bus: cannot read %s\n", file.c_str());
        return kFailed;
    }
    struct Entry {
        std::int64_t micros;
        std::string bus;
        Frame frame;
    };
    std::vector<Entry> entries;
    std::string line;
    for (std::size_t number = 1; std::getline(in, line); ++number) {
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        std::string error;
        const std::optional<notation::LogLine> parsed = notation::parseLogLine(line, error);
        if (!parsed) {
            std::fprintf(stderr, "morvantis-bus: %s line %zu: %s; nothing sent\n", file.c_str(),
                         number, error.c_str());
            return kBadNotation;
        }
        if (bus.empty() && parsed->channel.size() > kMaxBusName) {
            std::fprintf(stderr,
                         "morvantis-bus: %s line %zu: bus name longer than %zu; nothing sent\n",
                         file.c_str(), number, kMaxBusName);
            return kBadNotation;
        }
        entries.push_back(
            {parsed->micros, bus.empty() ? std::string(parsed->channel) : bus, parsed->frame});
    }
    try {
        asio::io_context io;
        std::map<std::string, std::unique_ptr<Client>> clients;
        for (const Entry& entry : entries) {
            if (!clients.count(entry.bus)) {
                clients[entry.bus] = std::make_unique<Client>(io, connect, entry.bus);
            }
        }
        const Clock::time_point start = Clock::now();
        for (const Entry& entry : entries) {
            Client& client = *clients[entry.bus];
            if (!fast) {
                const auto due =
                    start + std::chrono::microseconds(entry.micros - entries[0].micros);
                if (due > Clock::now()) {
                    for (auto& [name, other] : clients) {
                        other->flush();
                    }
                    std::this_thread::sleep_until(due);
                }
            }
            client.send(entry.frame);
        }
        for (auto& [name, client] : clients) {
            client->flush();
        }
        return 0;
    } catch (const std::exception& error) {
        return failed(error);
    }
}

int gen(const std::string& connect, const std::string& bus, const Load& load)
{
    try {
        asio::io_context io;
        Client client(io, connect, bus);
        Frame frame;
        frame.extended = load.extended;
        frame.length = static_cast<std::uint8_t>(load.length);
        const Clock::time_point start = Clock::now();
        for (std::uint64_t i = 0; load.count == 0 || i < load.count; ++i) {
            // Identifier and data count up, so that a receiver can check
            // the order: the data hold the frame's number, lowest byte
            // first.
            frame.id = static_cast<std::uint32_t>(i) &
                       (load.extended ? notation::kExtendedIdMask : notation::kStandardIdMask);
            for (int b = 0; b < load.length; ++b) {
                frame.data[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(i >> (8 * b));
            }
            if (load.rate > 0) {
                const auto due =
                    start + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(static_cast<double>(i) / load.rate));
                if (due > Clock::now()) {
                    client.flush();
                    std::this_thread::sleep_until(due);
                }
            }
            client.send(frame);
        }
        client.flush();
        return 0;
    } catch (const std::exception& error) {
        return failed(error);
    }
}

} // namespace bus::tools
