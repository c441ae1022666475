#include "log.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace bus {

Log::Log(const std::string& path)
    : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)), path_(path),
      buffer_(1 << 16)
{
    if (fd_ < 0) {
        throw std::system_error(errno, std::generic_category(), path);
    }
}

Log::~Log()
{
    flush();
    ::close(fd_);
}

void Log::add(const Record& record, const std::string& bus)
{
    if (buffer_.size() - used_ < notation::maxLogLine(bus.size())) {
        flush();
    }
    used_ += notation::logLine(buffer_.data() + used_, record.micros, bus, record.frame);
}

void Log::flush()
{
    std::size_t done = 0;
    while (done < used_) {
        const ssize_t written = ::write(fd_, buffer_.data() + done, used_ - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if (error_ == 0) {
                error_ = errno;
                std::fprintf(stderr, "morvantis-bus: cannot write the log %s: %s; lines are lost\n",
                             path_.c_str(), std::strerror(error_));
            }
            // Every line not wholly written, a cut one included.
            lost_ += static_cast<std::uint64_t>(
                std::count(buffer_.data() + done, buffer_.data() + used_, '\n'));
            break;
        }
        done += static_cast<std::size_t>(written);
    }
    used_ = 0;
}

std::string Log::trouble() const
{
    if (lost_ == 0) {
        return {};
    }
    return "log " + path_ + ": " + std::to_string(lost_) + " lines lost (" + std::strerror(error_) +
           ")";
}

} // namespace bus
