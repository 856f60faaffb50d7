// What the benchmarks share: where the build they belong to lies.
#pragma once

#include <unistd.h>

#include <string>

// The build directory: the directory above the one of the running program
// (bench/).
inline std::string buildDir()
{
    char exe[4096];
    ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
    if (n <= 0)
        return ".";
    std::string path(exe, static_cast<size_t>(n));
    path = path.substr(0, path.rfind('/')); // .../bench
    return path.substr(0, path.rfind('/'));
}
