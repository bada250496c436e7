// Runs the openssl command line tool on DER produced by the code under test.
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace testtool
{

struct TempFile {
    explicit TempFile(const std::vector<unsigned char>& content)
    {
        std::random_device rd;
        path = std::filesystem::temp_directory_path() /
               ("ormid-der-" + std::to_string(rd()) + std::to_string(rd()) + ".bin");
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()),
                  static_cast<std::streamsize>(content.size()));
    }
    ~TempFile() { std::filesystem::remove(path); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    std::filesystem::path path;
};

// A fresh directory, removed with everything in it.
struct TempDir {
    TempDir()
    {
        std::random_device rd;
        path = std::filesystem::temp_directory_path() /
               ("ormid-asn1-" + std::to_string(rd()) + std::to_string(rd()));
        std::filesystem::create_directories(path);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::filesystem::path path;
};

// Standard output of a shell command; `status` receives the exit status.
inline std::string run(const std::string& command, int* status = nullptr)
{
    std::string output;
    FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        if (status) {
            *status = -1;
        }
        return output;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, n);
    }
    const int rc = pclose(pipe);
    if (status) {
        *status = rc;
    }
    return output;
}

inline bool haveOpenssl()
{
    int status = 0;
    run("openssl version", &status);
    return status == 0;
}

// `openssl asn1parse` of DER bytes; empty output when openssl rejects them.
inline std::string asn1parse(const std::vector<unsigned char>& der, const std::string& options = "")
{
    TempFile file(der);
    int status = 0;
    std::string out = run("openssl asn1parse -inform DER " + options + " -in " + file.path.string(), &status);
    return status == 0 ? out : std::string();
}

} // namespace testtool
