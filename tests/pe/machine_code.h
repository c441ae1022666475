// The machine code of a 32-bit DLL, disassembled by objdump, and what a
// function's code does on return: from the entry, every path is followed
// through conditional and direct jumps (tail calls included) to the
// returns it can reach, and each return's argument bytes are collected. A
// path that runs on into the next function ends there: only a call that
// never returns (a throw, an abort) leads there, and the compiler puts
// nothing after such a call.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace pe {

struct Instruction {
    std::string mnemonic; // without rep/bnd/notrack prefixes
    std::string operands;
};

class MachineCode {
public:
    // Disassembles the .text section of `dll` with `objdump`.
    MachineCode(const std::string& objdump, const std::string& dll);

    const std::string& error() const { return error_; }
    std::size_t size() const { return instructions_.size(); }

    struct Returns {
        std::set<int> bytesRemoved; // the operand of each `ret` reached
        std::string problem;        // a path that could not be followed
    };
    Returns returnsFrom(std::uint32_t entry) const;

private:
    std::map<std::uint32_t, Instruction> instructions_;
    std::set<std::uint32_t> functionStarts_; // the symbols objdump names
    std::string error_;
};

} // namespace pe
