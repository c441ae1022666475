// Helpers of the Windows test programs, which run under Wine against the
// real morvantis.dll and the simulated VCAND32.DLL: loading the library
// afresh, a working directory of the test's own, the driver's call log,
// and message boxes captured instead of shown. The programs are GoogleTest
// programs; main() (main.cpp) comes with this library.
#pragma once

#include <windows.h>

#include "sim_control.h"

#include <string>
#include <vector>

namespace fixture {

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
// replaces the library's MessageBoxA import. The captured list is emptied
// before each test.
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

} // namespace fixture
