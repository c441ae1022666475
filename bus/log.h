// --log FILE: every frame of every bus as a candump -L line. Lines gather
// in a buffer that goes to the file at the end of each batch of work, so
// that a crash loses at most the batch in hand. A failed write (a full
// disk, say) loses those lines, never the bus: the first failure is
// reported on standard error, and the summary counts the lines lost.
#pragma once

#include "bus.h"

#include <cstdint>
#include <string>
#include <vector>

namespace bus {

class Log {
public:
    // Opens (appends to) the file; throws std::system_error.
    explicit Log(const std::string& path);
    ~Log();
    Log(const Log&) = delete;
    Log& operator=(const Log&) = delete;

    void add(const Record& record, const std::string& bus);
    void flush();
    // For the summary: the lines lost and why; empty if none.
    std::string trouble() const;

private:
    int fd_;
    std::string path_;
    std::vector<char> buffer_;
    std::size_t used_ = 0;
    std::uint64_t lost_ = 0;
    int error_ = 0; // the first write error
};

} // namespace bus
