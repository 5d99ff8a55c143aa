// SPDX-License-Identifier: GPL-3.0-or-later
// Runs a program of the project as a child process, as a user or a script
// would, for the tests that drive the real binaries.
#pragma once

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

struct ProgramResult
{
    int status = -1;   // the exit status, or 1000 + the signal that ended it
    std::string out;
    std::string err;
};

// Runs program with args, in cwd (unless empty), with env added; its standard
// output and error go to the files out and err and are read back.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& cwd,
                                const std::vector<std::pair<std::string, std::string>>& env,
                                const std::string& out, const std::string& err)
{
    const pid_t pid = fork();
    if (pid == 0) {
        for (const auto& [name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        const int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (o < 0 || e < 0 || dup2(o, 1) < 0 || dup2(e, 2) < 0 || (!cwd.empty() && chdir(cwd.c_str()) != 0))
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    ProgramResult result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    result.out = read(out);
    result.err = read(err);
    return result;
}
