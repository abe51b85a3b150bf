// Runs a command-line program of this project as a person would, keeping
// its exit status and what it printed (native tests only).
#ifndef QUORVANEL_TESTS_NATIVE_PROGRAM_RUN_H
#define QUORVANEL_TESTS_NATIVE_PROGRAM_RUN_H

#include <stdlib.h>
#include <sys/wait.h>

#include <string>

#include "support/archive_builder.h"

namespace qvtest {

struct Outcome {
    int status = -1;
    std::string out, err;
};

inline std::string ReadText(const std::string& path) {
    Bytes b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

// Runs commandLine through the shell with no input; its output streams go
// through files in scratch.
inline Outcome RunProgram(const std::string& commandLine, const std::string& scratch) {
    Outcome r;
    std::string out = scratch + "/stdout.txt", err = scratch + "/stderr.txt";
    std::string cmd = commandLine + " >'" + out + "' 2>'" + err + "' </dev/null";
    int raw = system(cmd.c_str());
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadText(out);
    r.err = ReadText(err);
    return r;
}

}  // namespace qvtest

#endif
