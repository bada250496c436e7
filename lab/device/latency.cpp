#include "device/latency.h"

#include <cctype>
#include <cmath>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include "cryptoprovider/pkcs11/pkcs11_types.h"
#include "device/device.h"

namespace labdev
{
namespace fs = std::filesystem;
using std::chrono::microseconds;

namespace
{

constexpr microseconds LONGEST{60'000'000};

const std::set<std::string, std::less<>>& functionNames()
{
#define ORMID_LAB_FUNCTION_NAME(name, args) #name,
    static const std::set<std::string, std::less<>> names{
        ORMID_PKCS11_FUNCTIONS(ORMID_LAB_FUNCTION_NAME) "C_EX_GetTokenInfoExtended"};
#undef ORMID_LAB_FUNCTION_NAME
    return names;
}

[[noreturn]] void refuse(std::string_view item, std::string_view why)
{
    throw std::invalid_argument("latency item '" + std::string(item) + "': " + std::string(why) +
                                " (expected <function|*>=<number><us|ms|s>, e.g. C_Sign=150ms)");
}

microseconds parseDelay(std::string_view item, std::string_view text)
{
    std::size_t digits = 0;
    bool point = false;
    while (digits < text.size() &&
           (std::isdigit(static_cast<unsigned char>(text[digits])) || (text[digits] == '.' && !point))) {
        point = point || text[digits] == '.';
        ++digits;
    }
    const std::string_view number = text.substr(0, digits);
    const std::string_view unit = text.substr(digits);
    if (number.empty() || number == ".")
        refuse(item, "the delay is not a number");
    double scale = 0;
    if (unit == "us")
        scale = 1;
    else if (unit == "ms")
        scale = 1e3;
    else if (unit == "s")
        scale = 1e6;
    else
        refuse(item, "the delay needs a unit, us, ms or s");
    const double value = std::stod(std::string(number)) * scale;
    if (!(value <= static_cast<double>(LONGEST.count())))
        refuse(item, "a delay is at most 60 s");
    return microseconds(static_cast<long long>(std::llround(value)));
}

} // namespace

microseconds Latency::delayOf(std::string_view function) const
{
    const auto it = perFunction.find(function);
    if (it != perFunction.end())
        return it->second;
    return fallback.value_or(microseconds{0});
}

Latency parseLatency(std::string_view modelText)
{
    Latency latency;
    std::istringstream lines{std::string(modelText)};
    std::string line;
    while (std::getline(lines, line)) {
        line = line.substr(0, line.find('#'));
        for (char& c : line)
            if (c == ',' || c == '\t' || c == '\r')
                c = ' ';
        std::istringstream items(line);
        std::string item;
        while (items >> item) {
            const std::size_t eq = item.find('=');
            if (eq == std::string::npos)
                refuse(item, "no '='");
            const std::string function = item.substr(0, eq);
            const microseconds delay = parseDelay(item, std::string_view(item).substr(eq + 1));
            if (function == "*") {
                if (latency.fallback)
                    refuse(item, "'*' is given twice");
                latency.fallback = delay;
            } else if (!functionNames().contains(function)) {
                refuse(item, "no PKCS#11 function of that name");
            } else if (!latency.perFunction.emplace(function, delay).second) {
                refuse(item, "the function is given twice");
            }
        }
    }
    return latency;
}

std::string formatLatency(const Latency& latency)
{
    std::string out;
    for (const auto& [function, delay] : latency.perFunction)
        out += function + "=" + std::to_string(delay.count()) + "us\n";
    if (latency.fallback)
        out += "*=" + std::to_string(latency.fallback->count()) + "us\n";
    return out;
}

std::optional<Latency> readLatency(const fs::path& dir)
{
    std::ifstream in(dir / LATENCY_FILE, std::ios::binary);
    if (!in)
        return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    try {
        return parseLatency(text.str());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void writeLatency(const fs::path& dir, const Latency& latency)
{
    if (latency.empty()) {
        std::error_code ignored;
        fs::remove(dir / LATENCY_FILE, ignored);
        return;
    }
    writeFileAtomically(dir / LATENCY_FILE, formatLatency(latency));
}

} // namespace labdev
