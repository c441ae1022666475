// morvantis-bus: a virtual CAN bus daemon speaking the socketcand protocol,
// and can-utils style client tools for it (or for a real socketcand).
#include "log.h"
#include "server.h"
#include "tools/tools.h"
#include "wire.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <memory>

namespace {

constexpr char kDefaultAddress[] = "127.0.0.1:29536";

asio::ip::tcp::endpoint parseListen(const std::string& text)
{
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        throw CLI::ValidationError("--listen", "takes ADDR:PORT");
    }
    std::string address = text.substr(0, colon);
    if (address.size() >= 2 && address.front() == '[' && address.back() == ']') {
        address = address.substr(1, address.size() - 2);
    }
    std::error_code error;
    const asio::ip::address ip = asio::ip::make_address(address, error);
    unsigned long port = 0;
    try {
        std::size_t used = 0;
        port = std::stoul(text.substr(colon + 1), &used);
        if (used != text.size() - colon - 1) {
            port = 65536;
        }
    } catch (const std::exception&) {
        port = 65536;
    }
    if (error || port > 65535) {
        throw CLI::ValidationError("--listen", "\"" + text + "\" is not ADDR:PORT");
    }
    return {ip, static_cast<unsigned short>(port)};
}

struct ServeOptions {
    std::string listen = kDefaultAddress;
    std::string log;
    std::uint32_t bitrate = 0;
    bus::Limits limits;
};

int serve(const ServeOptions& options)
{
    asio::io_context io(1);
    std::unique_ptr<bus::Log> log;
    if (!options.log.empty()) {
        log = std::make_unique<bus::Log>(options.log);
    }
    bus::Server server(io, parseListen(options.listen), options.limits, options.bitrate, log.get());
    const asio::ip::tcp::endpoint endpoint = server.endpoint();
    const std::string address = endpoint.address().to_string();
    std::printf("listening on %s:%u\n",
                endpoint.address().is_v6() ? ("[" + address + "]").c_str() : address.c_str(),
                static_cast<unsigned>(endpoint.port()));
    std::fflush(stdout);

    asio::signal_set signals(io, SIGINT, SIGTERM, SIGUSR1);
    std::function<void(std::error_code, int)> onSignal = [&](std::error_code error, int number) {
        if (error) {
            return;
        }
        if (number == SIGUSR1) {
            std::fputs(server.summary().c_str(), stderr);
            signals.async_wait(onSignal);
            return;
        }
        server.stop();
        io.stop();
    };
    signals.async_wait(onSignal);
    std::signal(SIGPIPE, SIG_IGN);
    io.run();
    std::fputs(server.summary().c_str(), stderr);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"morvantis-bus: virtual CAN buses over the socketcand protocol, and tools"};
    app.require_subcommand(1);

    ServeOptions serveOptions;
    CLI::App* serveCommand = app.add_subcommand("serve", "run the bus daemon");
    serveCommand
        ->add_option("--listen", serveOptions.listen,
                     "ADDR:PORT to listen on; port 0 takes a free one")
        ->capture_default_str();
    serveCommand
        ->add_option("--bitrate", serveOptions.bitrate,
                     "carry frames no faster than a real bus at BPS bit/s")
        ->check(CLI::Range(1u, 10000000u));
    serveCommand->add_option("--log", serveOptions.log, "write every frame as candump -L lines");
    serveCommand
        ->add_option("--max-line", serveOptions.limits.maxMessage,
                     "longest client message, in bytes")
        ->check(CLI::Range(16, 1024))
        ->capture_default_str();
    serveCommand
        ->add_option("--max-connections", serveOptions.limits.maxConnections, "connections at once")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();
    serveCommand->add_option("--queue", serveOptions.limits.queue, "each node's queue, in frames")
        ->check(CLI::Range(2, 1 << 24))
        ->capture_default_str();
    serveCommand->add_option("--max-buses", serveOptions.limits.maxBuses, "buses at most")
        ->check(CLI::Range(1, 100000))
        ->capture_default_str();

    std::string connect = kDefaultAddress;
    std::string busName;
    const auto addConnect = [&](CLI::App* command) {
        command->add_option("--connect", connect, "HOST:PORT of the daemon or a socketcand")
            ->capture_default_str();
    };
    const auto addBus = [&](CLI::App* command) {
        command->add_option("BUS", busName, "bus name")
            ->required()
            ->check(CLI::Validator(
                [](std::string& name) {
                    return name.empty() || name.size() > bus::kMaxBusName
                               ? std::string("a bus name has 1 to 16 characters")
                               : std::string();
                },
                "NAME"));
    };

    bool logLines = false;
    std::uint64_t count = 0;
    CLI::App* dumpCommand = app.add_subcommand("dump", "print the frames of a bus, as candump");
    addBus(dumpCommand);
    addConnect(dumpCommand);
    dumpCommand->add_flag("-L", logLines, "candump -L log lines");
    dumpCommand->add_option("-n", count, "stop after COUNT frames");

    std::vector<std::string> frames;
    CLI::App* sendCommand = app.add_subcommand("send", "send frames in cansend notation");
    addBus(sendCommand);
    sendCommand->add_option("FRAME", frames, "ID#DATA, ID#R, ID#R3")->required();
    addConnect(sendCommand);

    std::string file;
    bool fast = false;
    CLI::App* playCommand = app.add_subcommand("play", "replay a candump -L log");
    playCommand->add_option("FILE", file, "the log")->required();
    playCommand->add_flag("--fast", fast, "as fast as possible, not in the log's timing");
    playCommand->add_option("--bus", busName, "send every frame to this bus");
    addConnect(playCommand);

    bus::tools::Load load;
    CLI::App* genCommand = app.add_subcommand("gen", "generate load, as cangen");
    addBus(genCommand);
    genCommand->add_option("--count", load.count, "frames to send (default: without end)");
    genCommand->add_option("--rate", load.rate, "frames per second (default: as fast as possible)")
        ->check(CLI::NonNegativeNumber);
    genCommand->add_option("--length", load.length, "data bytes")
        ->check(CLI::Range(0, 8))
        ->capture_default_str();
    genCommand->add_flag("--extended", load.extended, "29-bit identifiers");
    addConnect(genCommand);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? 0 : 2;
    }
    try {
        if (serveCommand->parsed()) {
            return serve(serveOptions);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "morvantis-bus: %s\n", error.what());
        return 1;
    }
    if (dumpCommand->parsed()) {
        return bus::tools::dump(connect, busName, logLines, count);
    }
    if (sendCommand->parsed()) {
        return bus::tools::send(connect, busName, frames);
    }
    if (playCommand->parsed()) {
        return bus::tools::play(connect, file, fast, busName);
    }
    return bus::tools::gen(connect, busName, load);
}
