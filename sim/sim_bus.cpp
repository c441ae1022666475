#include "sim_bus.h"

#include "driver/channel_catalogue.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace sim {
namespace {

constexpr const char* kBusVariable = "MORVANTIS_BUS";

using morvantis::kEventReceived;
using morvantis::kEventTransmit;
using morvantis::kFlagError;
using morvantis::kFlagOverrun;
using morvantis::kFlagRemote;

constexpr std::int32_t kMaxBitrate = 1000000;

// An argument as the call log holds it.
std::uint32_t arg(std::int32_t value)
{
    return static_cast<std::uint32_t>(value);
}

bool passes(const AcceptanceFilter& filter, std::uint32_t id)
{
    return ((id ^ filter.code) & filter.mask) == 0;
}

} // namespace

SimBus& TheBus()
{
    static SimBus instance;
    return instance;
}

SimBus::SimBus()
{
    [[maybe_unused]] const auto none = resetLocked();
}

// At the end of the process, with the driver left open (an application
// may end without closing it, and a failed bring-up leaves it open).
// Natively the network thread still runs and is ended. On Windows the
// process's other threads are gone by the time a DLL's statics are
// destroyed, and joining one that was cut off may never return: the link is
// left to the system, which reclaims the process.
SimBus::~SimBus()
{
    std::unique_ptr<NetworkLink> network;
    {
        const Lock lock(mutex_);
        network = std::move(network_);
    }
#if defined(_WIN32)
    [[maybe_unused]] NetworkLink* const leftToTheSystem = network.release();
#endif
}

void SimBus::reset()
{
    std::unique_ptr<NetworkLink> network;
    const Lock lock(mutex_);
    network = resetLocked();
}

std::unique_ptr<NetworkLink> SimBus::resetLocked()
{
    // One channel per catalogue entry, in catalogue order.
    channelCount_ = 0;
    for (const morvantis::ChannelEntry& entry : morvantis::kChannelCatalogue) {
        channels_[channelCount_] = Channel{entry.hardwareType,
                                           entry.hardwareIndex,
                                           entry.hardwareChannel,
                                           1u << channelCount_,
                                           0,
                                           -1};
        ++channelCount_;
    }
    for (Port& p : ports_) {
        p = Port{};
    }
    scripted_.fill(0);
    scriptDelay_.fill(0);
    openScript_ = OpenPortScript{};
    receiveNothing_ = false;
    driverOpen_ = 0;
    logging_ = true;
    callCount_ = 0;
    for (std::uint32_t& epoch : epochs_) {
        ++epoch;
    }
    return std::move(network_);
}

void SimBus::clearOpenPortScript()
{
    const Lock lock(mutex_);
    openScript_.active = false;
}

void SimBus::setReceiveNothing(bool on)
{
    const Lock lock(mutex_);
    receiveNothing_ = on;
}

void SimBus::setLogging(bool on)
{
    const Lock lock(mutex_);
    logging_ = on;
}

std::int32_t SimBus::callCount() const
{
    const Lock lock(mutex_);
    return callCount_;
}

void SimBus::clearCalls()
{
    const Lock lock(mutex_);
    callCount_ = 0;
}

std::int32_t SimBus::driverOpenCount() const
{
    const Lock lock(mutex_);
    return driverOpen_;
}

SimCall* SimBus::log(SimOp op, std::initializer_list<std::uint32_t> args)
{
    if (!logging_ || callCount_ >= kMaxLog) {
        return nullptr;
    }
    SimCall& entry = log_[static_cast<std::size_t>(callCount_++)];
    entry = SimCall{};
    entry.op = op;
    std::copy_n(args.begin(), std::min(args.size(), std::size(entry.arg)), entry.arg);
    return &entry;
}

Status SimBus::done(SimCall* entry, Status status)
{
    if (entry != nullptr) {
        entry->result = status;
    }
    return status;
}

Status SimBus::checkChannels(SimOp op, std::int32_t handle, std::uint32_t mask,
                             std::uint32_t Port::*allowed, Port*& p)
{
    const Status status = scripted(op);
    p = port(handle);
    if (status != NCD_SUCCESS) {
        return status;
    }
    if (p == nullptr) {
        return NCD_INVALID_PORT;
    }
    if (mask == 0) {
        return NCD_WRONG_PARAMETER;
    }
    return (mask & ~(p->*allowed)) != 0 ? NCD_INVALID_ACCESS : NCD_SUCCESS;
}

bool SimBus::call(std::int32_t index, SimCall& out) const
{
    const Lock lock(mutex_);
    if (index < 0 || index >= callCount_) {
        return false;
    }
    out = log_[static_cast<std::size_t>(index)];
    return true;
}

SimBus::Port* SimBus::port(std::int32_t handle)
{
    if (handle < 0 || handle >= kMaxPorts || !ports_[static_cast<std::size_t>(handle)].open) {
        return nullptr;
    }
    return &ports_[static_cast<std::size_t>(handle)];
}

const SimBus::Port* SimBus::port(std::int32_t handle) const
{
    return const_cast<SimBus*>(this)->port(handle);
}

std::uint32_t SimBus::allChannels() const
{
    std::uint32_t mask = 0;
    for (int i = 0; i < channelCount_; ++i) {
        mask |= channels_[static_cast<std::size_t>(i)].mask;
    }
    return mask;
}

Status SimBus::openDriver()
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_OPEN_DRIVER);
    Status status = scripted(SIM_OPEN_DRIVER);
    if (status == NCD_SUCCESS && driverOpen_ == 0) {
        // The bus to use is chosen when the driver is opened; a bus that
        // cannot be named is never replaced by the in-process one.
        if (const char* value = std::getenv(kBusVariable)) {
            std::string error;
            if (const std::optional<BusAddress> address = ParseBusAddress(value, error)) {
                network_ = std::make_unique<NetworkLink>(*address, *this);
            } else {
                std::fprintf(stderr, "VCAND32.DLL: %s=\"%s\": %s\n", kBusVariable, value,
                             error.c_str());
                status = NCD_CANNOT_OPEN_DRIVER;
            }
        }
    }
    if (status == NCD_SUCCESS) {
        ++driverOpen_;
    }
    return done(entry, status);
}

Status SimBus::closeDriver()
{
    std::unique_ptr<NetworkLink> network; // ended after the lock is given up
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_CLOSE_DRIVER);
    const Status status = scripted(SIM_CLOSE_DRIVER);
    if (status == NCD_SUCCESS && driverOpen_ > 0 && --driverOpen_ == 0) {
        // The last user is gone: the driver closes what is left open.
        for (std::int32_t handle = 0; handle < kMaxPorts; ++handle) {
            releasePort(handle);
        }
        network = std::move(network_);
    }
    return done(entry, status);
}

std::uint32_t SimBus::getChannelMask(std::int32_t type, std::int32_t index, std::int32_t channel)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_GET_CHANNEL_MASK, {arg(type), arg(index), arg(channel)});
    std::uint32_t mask = 0;
    for (int i = 0; i < channelCount_; ++i) {
        const Channel& c = channels_[static_cast<std::size_t>(i)];
        if (c.type == type && c.index == index && c.channel == channel) {
            mask = c.mask;
            break;
        }
    }
    if (entry != nullptr) {
        entry->result = mask;
    }
    return mask;
}

std::uint32_t SimBus::createPort(std::int32_t handle, std::uint32_t access, std::uint32_t init,
                                 std::int32_t queueSize)
{
    Port& p = ports_[static_cast<std::size_t>(handle)];
    p = Port{};
    p.open = true;
    p.access = access;
    p.queue.resize(static_cast<std::size_t>(queueSize));
    // Init access on each wanted channel that no other port holds it on.
    for (int i = 0; i < channelCount_; ++i) {
        Channel& c = channels_[static_cast<std::size_t>(i)];
        if ((c.mask & init & access) != 0 && c.initOwner < 0) {
            c.initOwner = handle;
            p.init |= c.mask;
        }
    }
    return p.init;
}

Status SimBus::openPort(std::int32_t* handle, const char* name, std::uint32_t access,
                        std::uint32_t init, std::uint32_t* permission, std::int32_t queueSize)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_OPEN_PORT, {0, access, init, 0, arg(queueSize)});
    Status status = scripted(SIM_OPEN_PORT);
    std::int32_t given = -1;
    std::uint32_t granted = 0;
    if (openScript_.active) {
        status = openScript_.status;
        given = openScript_.handle;
        granted = openScript_.permission;
        if (given >= 0 && given < kMaxPorts) {
            releasePort(given);
            createPort(given, access, granted, std::clamp(queueSize, 1, kMaxQueue));
            ports_[static_cast<std::size_t>(given)].init = granted;
        }
    } else if (status != NCD_SUCCESS) {
        // Scripted refusal: nothing opened.
    } else if (handle == nullptr || permission == nullptr || name == nullptr || queueSize <= 0 ||
               queueSize > kMaxQueue || access == 0) {
        status = NCD_WRONG_PARAMETER;
    } else if ((access & ~allChannels()) != 0) {
        status = NCD_INVALID_CHAN_INDEX;
    } else {
        status = NCD_PORT_NOT_OPENED;
        for (std::int32_t h = 0; h < kMaxPorts; ++h) {
            if (!ports_[static_cast<std::size_t>(h)].open) {
                granted = createPort(h, access, init, queueSize);
                status = NCD_SUCCESS;
                given = h;
                break;
            }
        }
    }
    if (handle != nullptr) {
        *handle = given;
    }
    if (permission != nullptr) {
        *permission = granted;
    }
    if (entry != nullptr) {
        entry->arg[0] = arg(given);
        entry->arg[3] = granted;
        // The name is a string; a caller need not pass a whole 36-byte array.
        for (std::size_t i = 0; name != nullptr && name[i] != '\0' && i + 1 < sizeof entry->name;
             ++i) {
            entry->name[i] = name[i];
        }
    }
    return done(entry, status);
}

Status SimBus::closePort(std::int32_t handle)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_CLOSE_PORT, {arg(handle)});
    Status status = scripted(SIM_CLOSE_PORT);
    if (status == NCD_SUCCESS && port(handle) == nullptr) {
        status = NCD_INVALID_PORT;
    }
    if (status == NCD_SUCCESS) {
        releasePort(handle);
    }
    return done(entry, status);
}

void SimBus::releasePort(std::int32_t handle)
{
    Port& p = ports_[static_cast<std::size_t>(handle)];
    for (const int node : p.nodes) {
        if (node >= 0 && network_) {
            network_->leave(node);
        }
    }
    ++epochs_[static_cast<std::size_t>(handle)];
    for (int i = 0; i < channelCount_; ++i) {
        Channel& c = channels_[static_cast<std::size_t>(i)];
        if (c.initOwner == handle) {
            c.initOwner = -1;
        }
    }
    ports_[static_cast<std::size_t>(handle)] = Port{};
}

Status SimBus::setBitrate(std::int32_t handle, std::uint32_t mask, std::int32_t bitrate)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_SET_BITRATE, {arg(handle), mask, arg(bitrate)});
    Port* p = nullptr;
    Status status = checkChannels(SIM_SET_BITRATE, handle, mask, &Port::init, p);
    if (status == NCD_SUCCESS && (bitrate <= 0 || bitrate > kMaxBitrate)) {
        status = NCD_WRONG_PARAMETER;
    }
    if (status == NCD_SUCCESS) {
        for (int i = 0; i < channelCount_; ++i) {
            Channel& c = channels_[static_cast<std::size_t>(i)];
            if ((c.mask & mask) != 0) {
                c.bitrate = bitrate;
            }
        }
    }
    return done(entry, status);
}

Status SimBus::setOutput(std::int32_t handle, std::uint32_t mask, std::int32_t mode)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_SET_OUTPUT, {arg(handle), mask, arg(mode)});
    Port* p = nullptr;
    Status status = checkChannels(SIM_SET_OUTPUT, handle, mask, &Port::init, p);
    if (status == NCD_SUCCESS && (mode < 0 || mode > 1)) { // silent or normal
        status = NCD_WRONG_PARAMETER;
    }
    return done(entry, status);
}

Status SimBus::setAcceptance(std::int32_t handle, std::uint32_t mask,
                             const AcceptanceFilter* filter)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_SET_ACCEPTANCE,
                         {arg(handle), mask, filter ? filter->code : 0, filter ? filter->mask : 0});
    Port* p = nullptr;
    Status status = checkChannels(SIM_SET_ACCEPTANCE, handle, mask, &Port::access, p);
    if (status == NCD_SUCCESS &&
        (filter == nullptr || ((filter->code ^ filter->mask) & NCD_EXTENDED_ID) != 0)) {
        status = NCD_WRONG_PARAMETER; // code and mask disagree on the kind
    }
    if (status == NCD_SUCCESS) {
        ((filter->mask & NCD_EXTENDED_ID) != 0 ? p->extended : p->standard) = *filter;
    }
    return done(entry, status);
}

Status SimBus::setMode(std::int32_t handle, std::uint32_t mask, std::int32_t tx, std::int32_t txrq)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_SET_MODE, {arg(handle), mask, arg(tx), arg(txrq)});
    Port* p = nullptr;
    return done(entry, checkChannels(SIM_SET_MODE, handle, mask, &Port::access, p));
}

Status SimBus::activate(std::int32_t handle, std::uint32_t mask)
{
    std::unique_lock lock(mutex_);
    SimCall* entry = log(SIM_ACTIVATE, {arg(handle), mask});
    Port* p = nullptr;
    Status status = checkChannels(SIM_ACTIVATE, handle, mask, &Port::access, p);
    if (status == NCD_SUCCESS && network_) {
        status = joinNodes(lock, handle, mask & ~p->active);
    }
    if (status == NCD_SUCCESS) {
        p->active |= mask;
    }
    return done(entry, status);
}

Status SimBus::joinNodes(std::unique_lock<std::mutex>& lock, std::int32_t handle,
                         std::uint32_t mask)
{
    const std::uint64_t tag = tagOf(handle);
    std::array<int, kMaxChannels> joined = kNoNodes;
    bool all = true;
    NetworkLink& network = *network_; // kept until the driver is closed
    lock.unlock();
    for (int bit = 0; bit < kMaxChannels && all; ++bit) {
        if ((mask & (1u << bit)) != 0) {
            joined[static_cast<std::size_t>(bit)] = network.join(tag);
            all = joined[static_cast<std::size_t>(bit)] >= 0;
        }
    }
    lock.lock();
    Port* p = taggedPort(tag);
    for (std::size_t bit = 0; bit < joined.size(); ++bit) {
        if (joined[bit] < 0) {
            continue;
        }
        if (all && p != nullptr) {
            p->nodes[bit] = joined[bit];
        } else {
            network.leave(joined[bit]);
        }
    }
    return all && p != nullptr ? NCD_SUCCESS : NCD_PORT_IS_OFFLINE;
}

std::uint64_t SimBus::tagOf(std::int32_t handle) const
{
    return (std::uint64_t{epochs_[static_cast<std::size_t>(handle)]} << 32) |
           static_cast<std::uint32_t>(handle);
}

SimBus::Port* SimBus::taggedPort(std::uint64_t tag)
{
    const auto handle = static_cast<std::int32_t>(tag & 0xFFFFFFFFu);
    Port* p = port(handle);
    return p != nullptr && tagOf(handle) == tag ? p : nullptr;
}

void SimBus::received(std::uint64_t tag, const DriverEvent& event)
{
    const Lock lock(mutex_);
    Port* p = taggedPort(tag);
    if (p == nullptr) {
        return; // the port has left the bus meanwhile
    }
    const bool extended = (event.id & NCD_EXTENDED_ID) != 0;
    if ((event.flags & kFlagError) != 0 || passes(extended ? p->extended : p->standard, event.id)) {
        enqueue(*p, event);
    }
}

void SimBus::lostFrames(std::uint64_t tag)
{
    const Lock lock(mutex_);
    if (Port* p = taggedPort(tag)) {
        p->overrun = true;
    }
}

void SimBus::enqueue(Port& p, const DriverEvent& event)
{
    if (p.count == p.queue.size()) {
        p.overrun = true;
        return;
    }
    p.queue[(p.head + p.count) % p.queue.size()] = event;
    ++p.count;
}

Status SimBus::receive(std::int32_t handle, DriverEvent** event)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_RECEIVE, {arg(handle)});
    Status status = scripted(SIM_RECEIVE);
    Port* p = port(handle);
    if (status != NCD_SUCCESS) {
    } else if (receiveNothing_) {
        if (event != nullptr) {
            *event = nullptr;
        }
    } else if (p == nullptr) {
        status = NCD_INVALID_PORT;
    } else if (event == nullptr) {
        status = NCD_WRONG_PARAMETER;
    } else if (p->count == 0) {
        status = NCD_QUEUE_IS_EMPTY;
    } else {
        p->delivered = p->queue[p->head];
        p->head = (p->head + 1) % p->queue.size();
        --p->count;
        if (p->overrun) {
            p->delivered.flags |= kFlagOverrun;
            p->overrun = false;
        }
        *event = &p->delivered;
        if (entry != nullptr) {
            std::memcpy(entry->event, &p->delivered, sizeof entry->event);
        }
    }
    return done(entry, status);
}

Status SimBus::transmit(std::int32_t handle, std::uint32_t mask, const DriverEvent* event)
{
    const Lock lock(mutex_);
    SimCall* entry = log(SIM_TRANSMIT, {arg(handle), mask});
    if (entry != nullptr && event != nullptr) {
        std::memcpy(entry->event, event, sizeof entry->event);
    }
    Port* sender = nullptr;
    Status status = checkChannels(SIM_TRANSMIT, handle, mask, &Port::access, sender);
    if (status == NCD_SUCCESS &&
        (event == nullptr || event->tag != kEventTransmit || event->length > 8)) {
        status = NCD_WRONG_PARAMETER;
    }
    if (status == NCD_SUCCESS && (mask & ~sender->active) != 0) {
        status = NCD_PORT_IS_OFFLINE;
    }
    if (status == NCD_SUCCESS && network_) {
        for (std::size_t bit = 0; bit < sender->nodes.size() && status == NCD_SUCCESS; ++bit) {
            if ((mask & (1u << bit)) != 0) {
                status = network_->send(sender->nodes[bit], *event);
            }
        }
    } else if (status == NCD_SUCCESS) {
        DriverEvent frame{};
        frame.tag = kEventReceived;
        frame.id = event->id;
        frame.flags = event->flags & kFlagRemote;
        frame.length = event->length;
        std::memcpy(frame.data, event->data, sizeof frame.data);
        const bool extended = (frame.id & NCD_EXTENDED_ID) != 0;
        for (Port& receiver : ports_) {
            if (&receiver == sender || !receiver.open || receiver.active == 0) {
                continue;
            }
            if (passes(extended ? receiver.extended : receiver.standard, frame.id)) {
                enqueue(receiver, frame);
            }
        }
    }
    return done(entry, status);
}

void SimBus::setStatus(std::int32_t op, Status status, std::int32_t after)
{
    const Lock lock(mutex_);
    if (op >= 0 && op < SIM_OP_COUNT) {
        scripted_[static_cast<std::size_t>(op)] = status;
        scriptDelay_[static_cast<std::size_t>(op)] = std::max(after, 0);
    }
}

Status SimBus::scripted(SimOp op)
{
    std::int32_t& delay = scriptDelay_[static_cast<std::size_t>(op)];
    if (delay > 0) {
        --delay;
        return NCD_SUCCESS;
    }
    return scripted_[static_cast<std::size_t>(op)];
}

void SimBus::setChannelMask(std::int32_t type, std::int32_t index, std::int32_t channel,
                            std::uint32_t mask)
{
    const Lock lock(mutex_);
    for (int i = 0; i < channelCount_; ++i) {
        Channel& c = channels_[static_cast<std::size_t>(i)];
        if (c.type == type && c.index == index && c.channel == channel) {
            c.mask = mask;
            return;
        }
    }
    if (channelCount_ < kMaxChannels) {
        channels_[static_cast<std::size_t>(channelCount_++)] =
            Channel{type, index, channel, mask, 0, -1};
    }
}

void SimBus::scriptOpenPort(Status status, std::int32_t handle, std::uint32_t permission)
{
    const Lock lock(mutex_);
    openScript_ = OpenPortScript{true, status, handle, permission};
}

Status SimBus::inject(std::int32_t handle, const DriverEvent& event)
{
    const Lock lock(mutex_);
    Port* p = port(handle);
    if (p == nullptr) {
        return NCD_INVALID_PORT;
    }
    enqueue(*p, event);
    return NCD_SUCCESS;
}

std::int32_t SimBus::openPortCount() const
{
    const Lock lock(mutex_);
    return static_cast<std::int32_t>(
        std::count_if(ports_.begin(), ports_.end(), [](const Port& p) { return p.open; }));
}

std::int32_t SimBus::queuedEvents(std::int32_t handle) const
{
    const Lock lock(mutex_);
    const Port* p = port(handle);
    return p != nullptr ? static_cast<std::int32_t>(p->count) : -1;
}

std::uint32_t SimBus::activeChannels(std::int32_t handle) const
{
    const Lock lock(mutex_);
    const Port* p = port(handle);
    return p != nullptr ? p->active : 0;
}

std::int32_t SimBus::channelBitrate(std::uint32_t mask) const
{
    const Lock lock(mutex_);
    for (int i = 0; i < channelCount_; ++i) {
        if (channels_[static_cast<std::size_t>(i)].mask == mask) {
            return channels_[static_cast<std::size_t>(i)].bitrate;
        }
    }
    return 0;
}

} // namespace sim
