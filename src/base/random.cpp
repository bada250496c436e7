#include "base/random.h"

#include <cstdio>
#include <memory>

#include "base/errors.h"

namespace bs
{

namespace
{

struct FileCloser {
    void operator()(std::FILE* file) const noexcept { std::fclose(file); }
};

} // namespace

std::vector<unsigned char> getRandomBytes(unsigned count)
{
    std::vector<unsigned char> bytes(count, 0);
    const std::unique_ptr<std::FILE, FileCloser> device(std::fopen("/dev/urandom", "rb"));
    if (!device) {
        throw GetRandomError();
    }
    // Unbuffered: the bytes go straight into the result and no copy of them
    // is left behind in a stdio buffer.
    std::setvbuf(device.get(), nullptr, _IONBF, 0);
    if (std::fread(bytes.data(), 1, bytes.size(), device.get()) != bytes.size()) {
        throw GetRandomError();
    }
    return bytes;
}

} // namespace bs
