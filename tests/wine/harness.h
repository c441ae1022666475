// A small test harness for the Windows test programs, which run under Wine
// against the real morvantis.dll and the simulated VCAND32.DLL: test
// registration, checks, and the closing line "N passed, N failed".
#pragma once

#include <windows.h>

#include "sim_control.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace harness {

struct TestCase {
    const char* name;
    void (*run)();
};

std::vector<TestCase>& registry();
bool registerTest(const char* name, void (*run)());
// Records a failed check of the running test.
void fail(const char* file, int line, const std::string& what);

// Names the case a table-driven test is checking: while the object lives,
// failed checks are reported with its text.
class Context {
public:
    explicit Context(std::string text);
    ~Context();
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;
};

// Runs every registered test (or those whose name contains argv[1]) and
// prints one line per test and the summary. Exit code 0 when all passed.
int runAll(int argc, char** argv);

template <typename A, typename B>
std::string mismatch(const char* a, const char* b, const A& va, const B& vb)
{
    return std::string(a) + " == " + b + " (" + std::to_string(va) + " vs " + std::to_string(vb) +
           ")";
}

// The library, loaded afresh: LoadLibrary runs its entry point, so each
// load reads the settings file of the current directory again. Only a
// program that does not import from morvantis.dll itself gets a fresh load
// each time; fresh() tells whether this load was one.
class Library {
public:
    Library();
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    HMODULE module() const { return module_; }
    bool fresh() const { return fresh_; }
    FARPROC byName(const char* name) const { return GetProcAddress(module_, name); }
    FARPROC byOrdinal(int ordinal) const
    {
        return GetProcAddress(module_, MAKEINTRESOURCEA(ordinal));
    }
    template <typename F> F get(const char* name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(byName(name)));
    }

private:
    bool fresh_;
    HMODULE module_;
};

// A new empty directory, the current one while the object lives, so that
// the library reads and writes its settings file there and nowhere else.
// Removed, with the files in it, at the end.
class WorkingDirectory {
public:
    WorkingDirectory();
    ~WorkingDirectory();
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

    void writeFile(const char* name, const std::string& text) const;
    bool holds(const char* name) const;

private:
    std::string path_;
    std::string previous_;
};

// The simulated driver's log since the last simClearCalls(): every call,
// or the calls of one operation.
std::vector<SimCall> driverCalls();
std::vector<SimCall> driverCalls(SimOp op);

// Message boxes the library shows, captured instead of shown: the test
// replaces the library's MessageBoxA import.
struct Box {
    HWND owner;
    std::string text;
    std::string caption;
    UINT type;
};
// Points `module`'s import of user32!MessageBoxA at a recorder. Returns
// false when the import is not found.
bool captureMessageBoxes(HMODULE module);
std::vector<Box>& capturedBoxes();

} // namespace harness

#define TEST(name)                                                                                 \
    static void test_##name();                                                                     \
    static const bool registered_##name = harness::registerTest(#name, test_##name);               \
    static void test_##name()

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            harness::fail(__FILE__, __LINE__, #cond);                                              \
        }                                                                                          \
    } while (0)

#define CHECK_EQ(a, b)                                                                             \
    do {                                                                                           \
        const auto va_ = (a);                                                                      \
        const auto vb_ = (b);                                                                      \
        if (!(va_ == vb_)) {                                                                       \
            harness::fail(__FILE__, __LINE__, harness::mismatch(#a, #b, va_, vb_));                \
        }                                                                                          \
    } while (0)

#define CHECK_STR(a, b)                                                                            \
    do {                                                                                           \
        const std::string va_ = (a);                                                               \
        const std::string vb_ = (b);                                                               \
        if (va_ != vb_) {                                                                          \
            harness::fail(__FILE__, __LINE__,                                                      \
                          std::string(#a) + " == " + #b + " (\"" + va_ + "\" vs \"" + vb_ +        \
                              "\")");                                                              \
        }                                                                                          \
    } while (0)
