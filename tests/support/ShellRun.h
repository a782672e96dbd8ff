#pragma once
// Runs a shell command line to its end with its output kept, for the tests of the programs.

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

// A file name of this test process's own in the test's temporary folder.
inline std::string Scratch(const std::string& name) {
    return testing::TempDir() + "torva_tools_" + std::to_string(::getpid()) + "_" + name;
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

// Runs a shell command to its end (killed after `seconds`), with its output kept.
inline Outcome RunShell(const std::string& command, int seconds = 120) {
    const std::string out = Scratch("out"), err = Scratch("err");
    const int rc = std::system(
        ("timeout -s KILL " + std::to_string(seconds) + " " + command + " >" + out + " 2>" + err)
            .c_str());
    Outcome o{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, ReadText(out), ReadText(err)};
    std::remove(out.c_str());
    std::remove(err.c_str());
    return o;
}
