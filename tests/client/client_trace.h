// The client tests' own trace log: each test process gives the client a user
// name of its own, so that the log lands in a file of the test's own.
#pragma once

#include <QString>

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace client_test
{

// Points the client's log at a file of this process; returns its path.
inline std::string UseOwnTraceLog()
{
    std::string user = "vok-client-test-" + std::to_string(getpid());
    setenv("USER", user.c_str(), 1);
    std::string path = "/tmp/vokrallog_" + user;
    unlink(path.c_str());
    return path;
}

// The log's lines without their time stamps ("yyyy-MM-ddTHH:mm:ss: ").
inline std::vector<std::string> TraceLines(std::string const &path, bool withTime = false)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        lines.push_back(withTime || line.size() < 21 ? line : line.substr(21));
    return lines;
}

inline bool HasLine(std::vector<std::string> const &lines, std::string const &line)
{
    for (std::string const &l : lines)
        if (l == line)
            return true;
    return false;
}

} // namespace client_test
