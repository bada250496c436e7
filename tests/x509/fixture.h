// Certificate fixtures made by OpenSSL (fixtures/make.sh) and the answers
// OpenSSL printed for them.
#pragma once

#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace fixture
{

inline std::string path(const std::string& name)
{
    return std::string(ORMID_X509_FIXTURES) + "/" + name;
}

inline std::vector<unsigned char> read(const std::string& name)
{
    std::ifstream in(path(name), std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// key=value lines of <name>.txt
inline std::map<std::string, std::string> answers(const std::string& name)
{
    std::map<std::string, std::string> out;
    std::ifstream in(path(name + ".txt"));
    std::string line;
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            out[line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return out;
}

} // namespace fixture
