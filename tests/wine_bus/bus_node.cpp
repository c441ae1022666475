// bus_node: a Windows application on morvantis.dll, driven line by line by
// a test script. Each command on standard input is answered with one line
// on standard output (readmany also writes "progress N" lines while it
// reads, so that its sender can keep within the receive queue). Message
// boxes of the library are recorded instead of shown, so that nothing
// waits for a click.
//
//   init                      CAN_Init: RESULT MS [BOX...] (tab-separated,
//                             a box's line breaks written as \n)
//   exit                      CAN_Exit: RESULT
//   send KIND ID LEN HEX      one frame, KIND std|ext|rtr|extrtr, ID without
//                             bit 31, HEX all 8 data bytes: RESULT
//   read std|ext MS           polls until a frame or an overrun is read:
//                             RESULT OVERRUN ID LEN HEX (the record as the
//                             read left it; it was filled with a pattern)
//   drain MS                  reads until nothing came for MS: COUNT OVERRUNS
//   sendmany FIRST N MS       sends frames FIRST.. of the test sequence,
//                             again after each refusal: SENT REFUSALS
//   readmany FIRST N MS STEP  reads N frames and compares each with the
//                             test sequence: RECEIVED MISMATCHES OVERRUNS
//                             [FIRST MISMATCH]
//   untilrefused MS           sends until a send fails: RESULT MS
//   untilaccepted MS          sends until a send succeeds: RESULT MS
//   memory                    WORKING_SET_BYTES PRIVATE_BYTES
//   quit                      ends the program
#include <windows.h>

#include <psapi.h>

#include "fixture.h"
#include "morvantis.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

namespace {

constexpr std::uint8_t kPattern[8] = {0xE0, 0xE1, 0xE2, 0xE3, 0xE4, 0xE5, 0xE6, 0xE7};

// Frame `i` of the sequence the test sends both ways; the test script
// computes the same (sequence_frame there). Every third identifier is
// extended, all lengths occur, the data carry the number.
CanExtMsg SequenceFrame(std::uint32_t i)
{
    CanExtMsg msg{};
    const bool extended = i % 3 == 1;
    msg.id = extended ? (MORVANTIS_EXTENDED_ID | 0x10000000u | ((i * 0x9E3779B1u) & 0x0FFFFFFFu))
                      : ((i * 0x2Du) & 0x7FFu);
    msg.length = static_cast<std::uint8_t>(i % 9);
    for (std::uint32_t k = 0; k < msg.length; ++k) {
        msg.data[k] = static_cast<std::uint8_t>((i >> (8 * (k % 4))) ^ (0xA5u + 0x3Bu * k));
    }
    return msg;
}

std::int32_t Send(const CanExtMsg& msg, bool remote)
{
    if ((msg.id & MORVANTIS_EXTENDED_ID) != 0) {
        return remote ? CAN_Send_extRTR(&msg) : CAN_Send_extMsg(&msg);
    }
    CanMsg standard{};
    standard.id = static_cast<std::uint16_t>(msg.id);
    standard.length = msg.length;
    std::memcpy(standard.data, msg.data, sizeof standard.data);
    return remote ? CAN_Send_RTR(&standard) : CAN_Send_Msg(&standard);
}

std::string Hex(const std::uint8_t (&data)[8])
{
    char text[17];
    for (int i = 0; i < 8; ++i) {
        std::snprintf(text + 2 * i, 3, "%02X", data[i]);
    }
    return text;
}

bool ParseHex(const std::string& text, std::uint8_t (&data)[8])
{
    if (text.size() != 16) {
        return false;
    }
    for (std::size_t i = 0; i < 8; ++i) {
        unsigned value = 0;
        if (std::sscanf(text.c_str() + 2 * i, "%2x", &value) != 1) {
            return false;
        }
        data[i] = static_cast<std::uint8_t>(value);
    }
    return true;
}

std::string Escaped(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out;
}

// A record read with the pattern in every byte that the read may leave
// alone, until a frame is read, the read reports an overrun, or time is up.
template <typename Record>
std::string ReadOne(std::int32_t(MORVANTIS_CALL* readFunction)(Record*), DWORD milliseconds)
{
    Record msg{};
    std::memset(&msg, 0xEE, sizeof msg);
    std::memcpy(msg.data, kPattern, sizeof msg.data);
    const DWORD start = GetTickCount();
    std::int32_t result = -1;
    while ((result = readFunction(&msg)) != 0 && msg.overrun == 0xEE &&
           GetTickCount() - start < milliseconds) {
        Sleep(1);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d %02X %X %02X %s", static_cast<int>(result), msg.overrun,
                  static_cast<unsigned>(msg.id), msg.length, Hex(msg.data).c_str());
    return text;
}

// Reads until nothing has come for `milliseconds`.
std::string Drain(DWORD milliseconds)
{
    unsigned frames = 0;
    unsigned overruns = 0;
    DWORD last = GetTickCount();
    while (GetTickCount() - last < milliseconds) {
        CanExtMsg msg{};
        if (CAN_Read_extMsg(&msg) == 0) {
            ++frames;
        } else if (msg.overrun != 0) {
            ++overruns;
        } else {
            Sleep(1);
            continue;
        }
        last = GetTickCount();
    }
    return std::to_string(frames) + " " + std::to_string(overruns);
}

std::string SendMany(std::uint32_t first, std::uint32_t count, DWORD milliseconds)
{
    std::uint32_t sent = 0;
    unsigned refusals = 0;
    const DWORD start = GetTickCount();
    while (sent < count && GetTickCount() - start < milliseconds) {
        if (Send(SequenceFrame(first + sent), false) == 0) {
            ++sent;
        } else {
            ++refusals; // the send queue is full: the network thread empties it
            Sleep(1);
        }
    }
    return std::to_string(sent) + " " + std::to_string(refusals);
}

std::string ReadMany(std::uint32_t first, std::uint32_t count, DWORD milliseconds,
                     std::uint32_t step)
{
    std::uint32_t received = 0;
    unsigned mismatches = 0;
    unsigned overruns = 0;
    std::string firstMismatch;
    const DWORD start = GetTickCount();
    while (received < count && GetTickCount() - start < milliseconds) {
        CanExtMsg msg{};
        std::memcpy(msg.data, kPattern, sizeof msg.data);
        if (CAN_Read_extMsg(&msg) != 0) {
            if (msg.overrun != 0) {
                ++overruns;
            } else {
                Sleep(0);
            }
            continue;
        }
        CanExtMsg expected = SequenceFrame(first + received);
        std::memcpy(expected.data + expected.length, kPattern + expected.length,
                    8 - expected.length);
        if (std::memcmp(&msg, &expected, sizeof msg) != 0 && ++mismatches == 1) {
            char text[96];
            std::snprintf(text, sizeof text, " frame %u: %X %02X %s, expected %X %02X %s",
                          static_cast<unsigned>(first + received), static_cast<unsigned>(msg.id),
                          msg.length, Hex(msg.data).c_str(), static_cast<unsigned>(expected.id),
                          expected.length, Hex(expected.data).c_str());
            firstMismatch = text;
        }
        if (++received % step == 0) {
            std::printf("progress %u\n", static_cast<unsigned>(received));
            std::fflush(stdout);
        }
    }
    return std::to_string(received) + " " + std::to_string(mismatches) + " " +
           std::to_string(overruns) + firstMismatch;
}

// Sends one frame after another until the result is `wanted`.
std::string SendUntil(std::int32_t wanted, DWORD milliseconds)
{
    CanMsg msg{0x555, 1, 0, {0x5A}};
    const DWORD start = GetTickCount();
    std::int32_t result = 0;
    while ((result = CAN_Send_Msg(&msg)) != wanted && GetTickCount() - start < milliseconds) {
        Sleep(1);
    }
    return std::to_string(result) + " " + std::to_string(GetTickCount() - start);
}

// The working set and the commit charge (private bytes).
std::string Memory()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
        return "-1 -1";
    }
    return std::to_string(counters.WorkingSetSize) + " " + std::to_string(counters.PagefileUsage);
}

std::string Init()
{
    fixture::capturedBoxes().clear();
    const DWORD start = GetTickCount();
    const std::int32_t result = CAN_Init();
    std::string answer = std::to_string(result) + "\t" + std::to_string(GetTickCount() - start);
    for (const fixture::Box& box : fixture::capturedBoxes()) {
        answer += '\t';
        answer += Escaped(box.text);
    }
    return answer;
}

std::string Command(const std::string& line)
{
    std::istringstream in(line);
    std::string word;
    in >> word;
    if (word == "init") {
        return Init();
    }
    if (word == "exit") {
        return std::to_string(CAN_Exit());
    }
    if (word == "send") {
        std::string kind;
        std::string hex;
        unsigned id = 0;
        unsigned length = 0;
        CanExtMsg msg{};
        if (!(in >> kind >> std::hex >> id >> std::dec >> length >> hex) ||
            !ParseHex(hex, msg.data)) {
            return "bad send: " + line;
        }
        const bool extended = kind == "ext" || kind == "extrtr";
        msg.id = extended ? (id | MORVANTIS_EXTENDED_ID) : id;
        msg.length = static_cast<std::uint8_t>(length);
        return std::to_string(Send(msg, kind == "rtr" || kind == "extrtr"));
    }
    if (word == "read") {
        std::string kind;
        DWORD milliseconds = 0;
        in >> kind >> milliseconds;
        return kind == "ext" ? ReadOne(CAN_Read_extMsg, milliseconds)
                             : ReadOne(CAN_Read_Msg, milliseconds);
    }
    if (word == "drain") {
        DWORD milliseconds = 0;
        in >> milliseconds;
        return Drain(milliseconds);
    }
    if (word == "sendmany") {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
        DWORD milliseconds = 0;
        in >> first >> count >> milliseconds;
        return SendMany(first, count, milliseconds);
    }
    if (word == "readmany") {
        std::uint32_t first = 0;
        std::uint32_t count = 0;
        DWORD milliseconds = 0;
        std::uint32_t step = 0;
        if (!(in >> first >> count >> milliseconds >> step) || step == 0) {
            return "bad readmany: " + line;
        }
        return ReadMany(first, count, milliseconds, step);
    }
    if (word == "untilrefused" || word == "untilaccepted") {
        DWORD milliseconds = 0;
        in >> milliseconds;
        return SendUntil(word == "untilrefused" ? -1 : 0, milliseconds);
    }
    if (word == "memory") {
        return Memory();
    }
    return "unknown command: " + line;
}

} // namespace

int main()
{
    if (!fixture::captureMessageBoxes(GetModuleHandleA("morvantis.dll"))) {
        std::printf("cannot replace morvantis.dll's MessageBoxA import\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
            line.pop_back();
        }
        if (line == "quit") {
            break;
        }
        std::printf("%s\n", Command(line).c_str());
        std::fflush(stdout);
    }
    return 0;
}
