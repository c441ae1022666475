// The client subcommands: dump, send, play, gen. Each returns the exit
// status: 0 done, 1 failed (connection, server), 2 bad notation.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bus::tools {

int dump(const std::string& connect, const std::string& bus, bool logLines, std::uint64_t count);
int send(const std::string& connect, const std::string& bus,
         const std::vector<std::string>& frames);
int play(const std::string& connect, const std::string& file, bool fast, const std::string& bus);

struct Load {
    std::uint64_t count = 0; // 0: without end
    double rate = 0;         // frames per second, 0: as fast as possible
    int length = 8;          // data bytes, 0 to 8
    bool extended = false;
};
int gen(const std::string& connect, const std::string& bus, const Load& load);

} // namespace bus::tools
