// The device-latency model of the lab token modules: a delay for each
// PKCS#11 function, slept before the call runs, as a real token's round trip
// through its module and reader would take. Off unless DIR/latency exists.
//
// A model text lists `<function>=<delay>` items separated by commas,
// spaces or line ends; `#` starts a comment that runs to the end of its line
// (so a profile file with notes is a model text too). The function is a
// PKCS#11 function name (C_Sign, C_Login, ..., the vendor's
// C_EX_GetTokenInfoExtended) or `*`, the delay of every function not named.
// A delay is a number (decimal fraction allowed) and a unit, `us`, `ms` or
// `s`, at most 60 s: `C_Sign=150ms,C_Login=80ms,*=2ms`.
#pragma once

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace labdev
{

// The file of the lab state directory that holds the model in force.
inline constexpr const char* LATENCY_FILE = "latency";

struct Latency {
    std::map<std::string, std::chrono::microseconds, std::less<>> perFunction;
    std::optional<std::chrono::microseconds> fallback; // the `*` item

    // The delay of one call of `function` (zero when nothing applies).
    std::chrono::microseconds delayOf(std::string_view function) const;
    bool empty() const { return perFunction.empty() && !fallback; }
};

// Throws std::invalid_argument naming the item at fault: an item without
// `=`, an unknown function, a function given twice, a delay without a known
// unit, one that is not a number or beyond 60 s.
Latency parseLatency(std::string_view modelText);
// The canonical form: the named functions in order, then `*`, one item a
// line, delays in microseconds (`C_Sign=150000us`). parseLatency reads it back.
std::string formatLatency(const Latency& latency);

// The model of state directory `dir`: nullopt when it has no latency file or
// one that does not parse (the modules then delay nothing).
std::optional<Latency> readLatency(const std::filesystem::path& dir);
// Writes the model into `dir` (atomically); an empty one removes the file.
void writeLatency(const std::filesystem::path& dir, const Latency& latency);

} // namespace labdev
