// The floor of a command's start-up: a plain C++ program that reads a file
// whole and prints its size, as `voicelib info` reads a library.

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::cout << bytes.size() << "\n";
    return in.bad() ? 1 : 0;
}
