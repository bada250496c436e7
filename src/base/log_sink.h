// The process-wide log: off unless the host switches it on, then one line per
// event to standard error or to a file. Every bs::Logger writes through it.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bs
{

// Severity threshold of the log; a record passes when its level is at least
// the threshold.
enum class LogLevel
{
    Debug = 0,
    Info = 1,
    Warning = 2,
    Error = 3,
};

// "DEBUG", "INFO", "WARNING" ("WARN"), "ERROR", any case; "RESULT" counts as
// INFO and "FATAL" as ERROR. Anything else: nullopt.
std::optional<LogLevel> parseLogLevel(std::string_view text) noexcept;

// Names the host uses to ask for the log: Java system properties, and the
// environment variables read when a property is not set.
inline constexpr const char* LOG_PROPERTY = "ormid.signer.log";
inline constexpr const char* LOG_LEVEL_PROPERTY = "ormid.signer.log.level";
inline constexpr const char* LOG_VARIABLE = "ORMID_SIGNER_LOG";
inline constexpr const char* LOG_LEVEL_VARIABLE = "ORMID_SIGNER_LOG_LEVEL";

// Where the log goes and from which level.
struct LogSettings
{
    std::string destination; // "" off, "stderr", or a file path
    std::string level;       // "" for the default, INFO
};

// Each setting from its property when the property is set (an empty property
// switches the log off even if the variable asks for it), else from the
// environment variable, else empty.
LogSettings resolveLogSettings(const std::optional<std::string>& propertyDestination,
                               const std::optional<std::string>& propertyLevel,
                               const std::optional<std::string>& variableDestination,
                               const std::optional<std::string>& variableLevel);

// The value of an environment variable, nullopt when it is not set.
std::optional<std::string> environmentValue(const char* name);

namespace log_sink
{

// Opens the log as `settings` say, replacing any earlier one. A file is
// appended to and created with mode 0600; a symbolic link, a file that is
// not a regular one, one owned by another user or one others may write to
// is refused. Never throws and never fails the caller: a file that cannot be
// opened or is refused leaves the log off and costs one line on standard
// error; an unknown level keeps INFO and says so in the log.
void configure(const LogSettings& settings) noexcept;

// Switches the log off and closes its file.
void close() noexcept;

// True when a record of `level` would be written: one atomic load, so a
// caller may test it before building a message.
bool enabled(LogLevel level) noexcept;

// Writes one record as one whole line (several threads never mix their
// lines). `levelText` is the level as printed ("RESULT", "DEBUG", ...).
void write(LogLevel level, std::string_view levelText, std::string_view name,
           std::string_view message) noexcept;

// The line of one record: UTC time with milliseconds, thread id, level,
// logger name and message, ended by '\n'. Control characters of the name and
// message are escaped as \n, \r, \t or \xNN, so a record stays one line.
std::string formatLine(std::chrono::system_clock::time_point time, std::uint64_t threadId,
                       std::string_view levelText, std::string_view name, std::string_view message);

} // namespace log_sink

} // namespace bs
