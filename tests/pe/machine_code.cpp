#include "machine_code.h"

#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <sstream>
#include <string_view>
#include <vector>

namespace pe {
namespace {

std::string quoted(const std::string& text)
{
    std::string result = "'";
    for (const char c : text) {
        result += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return result + "'";
}

bool isPrefix(const std::string& word)
{
    return word == "rep" || word == "repz" || word == "repe" || word == "bnd" ||
           word == "notrack" || word == "data16";
}

// "  6440185f:\tret    $0x4" and the like; false for any other line.
bool parseLine(const std::string& line, std::uint32_t& address, Instruction& instruction)
{
    const std::size_t colon = line.find(":\t");
    if (colon == std::string::npos) {
        return false;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(line.c_str(), &end, 16);
    if (end != line.c_str() + colon) {
        return false;
    }
    address = static_cast<std::uint32_t>(value);
    std::istringstream words(line.substr(colon + 2));
    std::string word;
    while (words >> word && isPrefix(word)) {
    }
    instruction.mnemonic = word;
    std::getline(words >> std::ws, instruction.operands);
    return !instruction.mnemonic.empty();
}

// "6a0440a0 <_ncdGetChannelMask@12>:", the start of a function.
bool parseSymbol(const std::string& line, std::uint32_t& address)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(line.c_str(), &end, 16);
    if (end == line.c_str() || std::string_view(end).substr(0, 2) != " <" ||
        !line.ends_with(">:")) {
        return false;
    }
    address = static_cast<std::uint32_t>(value);
    return true;
}

// The target of a direct jump: "64401892 <_CAN_Read_Msg@4+0x1e>".
bool directTarget(const std::string& operands, std::uint32_t& target)
{
    char* end = nullptr;
    const unsigned long value = std::strtoul(operands.c_str(), &end, 16);
    if (end == operands.c_str() || (*end != '\0' && *end != ' ')) {
        return false;
    }
    target = static_cast<std::uint32_t>(value);
    return true;
}

std::string hex(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08x", value);
    return text;
}

} // namespace

MachineCode::MachineCode(const std::string& objdump, const std::string& dll)
{
    const std::string command =
        quoted(objdump) + " -d --no-show-raw-insn -j .text " + quoted(dll) + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        error_ = "cannot run " + command;
        return;
    }
    std::string line;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        line += buffer;
        if (line.empty() || line.back() != '\n') {
            continue; // the rest of a long line follows
        }
        line.pop_back();
        std::uint32_t address = 0;
        Instruction instruction;
        if (parseLine(line, address, instruction)) {
            instructions_[address] = instruction;
        } else if (parseSymbol(line, address)) {
            functionStarts_.insert(address);
        }
        line.clear();
    }
    const int status = pclose(pipe);
    if (status != 0 || instructions_.empty()) {
        error_ = command + " failed (status " + std::to_string(status) + ")";
    }
}

MachineCode::Returns MachineCode::returnsFrom(std::uint32_t entry) const
{
    Returns result;
    std::vector<std::uint32_t> pending{entry};
    std::set<std::uint32_t> seen;
    while (!pending.empty() && result.problem.empty()) {
        std::uint32_t address = pending.back();
        pending.pop_back();
        while (seen.insert(address).second) {
            const auto at = instructions_.find(address);
            if (at == instructions_.end()) {
                result.problem = "no instruction starts at " + hex(address);
                break;
            }
            const Instruction& instruction = at->second;
            const std::string& mnemonic = instruction.mnemonic;
            if (mnemonic == "ret" || mnemonic == "retl") {
                const std::string& operand = instruction.operands;
                result.bytesRemoved.insert(
                    operand.empty() ? 0
                                    : static_cast<int>(std::strtol(
                                          operand.c_str() + (operand[0] == '$'), nullptr, 0)));
                break;
            }
            if (mnemonic == "ud2" || mnemonic == "hlt" || mnemonic == "int3") {
                break; // this path never returns
            }
            const bool jump = mnemonic == "jmp" || mnemonic == "jmpl";
            const bool branch = !jump && (mnemonic[0] == 'j' || mnemonic.rfind("loop", 0) == 0);
            if (jump || branch) {
                std::uint32_t target = 0;
                if (!directTarget(instruction.operands, target)) {
                    result.problem = "cannot follow '" + mnemonic + " " + instruction.operands +
                                     "' at " + hex(address);
                    break;
                }
                pending.push_back(target);
                if (jump) {
                    break;
                }
            }
            const auto next = std::next(at);
            if (next == instructions_.end()) {
                result.problem = "code runs off the end of .text after " + hex(address);
                break;
            }
            if (functionStarts_.count(next->first) != 0) {
                break; // after a call that never returns
            }
            address = next->first;
        }
    }
    return result;
}

} // namespace pe
