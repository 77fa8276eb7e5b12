#pragma once

#include <string>

// What one run of the command line left: its exit code and both streams.
struct Outcome
{
    int code = -1;
    std::string out;
    std::string err;
};
