// Scoped logger: every operation of note declares one named after itself
// ("CryptoProviderRU::setKey") and hands it failure texts before throwing.
// Records go to the process-wide log (base/log_sink.h), which is off unless
// the host switches it on; while it is off an output call costs one atomic
// load and neither allocates nor writes.
#pragma once

#include <string>
#include <string_view>

#include "base/log_sink.h"

namespace bs
{

// Messages must never carry a PIN, a password, a session token or key bytes:
// log sizes, handles and masked forms instead.
class Logger
{
  public:
    Logger() = default;
    // A name that outlives the logger (a literal, or text of the caller's
    // scope) is referred to, not copied.
    Logger(const char* name) : m_name(name) {}
    explicit Logger(std::string_view name) : m_name(name) {}
    // A name built for this logger is kept by it.
    explicit Logger(std::string&& name) : m_owned(std::move(name)), m_name(m_owned) {}
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    std::string_view name() const noexcept { return m_name; }

    // True when a record of `level` would be written: test it before building
    // a costly message.
    static bool enabled(LogLevel level) noexcept { return log_sink::enabled(level); }

    void result(std::string_view message) const noexcept { write(LogLevel::Info, "RESULT", message); }
    void debug(std::string_view message) const noexcept { write(LogLevel::Debug, "DEBUG", message); }
    void info(std::string_view message) const noexcept { write(LogLevel::Info, "INFO", message); }
    void warning(std::string_view message) const noexcept { write(LogLevel::Warning, "WARNING", message); }
    void error(std::string_view message) const noexcept { write(LogLevel::Error, "ERROR", message); }
    void fatal(std::string_view message) const noexcept { write(LogLevel::Error, "FATAL", message); }

    // The log's destination is chosen by the host when the library loads, not
    // here: the path is ignored and reads back empty.
    static void setLogPath(std::string_view) noexcept {}
    static std::string logPath() { return {}; }

  private:
    void write(LogLevel level, std::string_view levelText, std::string_view message) const noexcept
    {
        if (log_sink::enabled(level)) {
            log_sink::write(level, levelText, m_name, message);
        }
    }

    std::string m_owned;
    std::string_view m_name;
};

} // namespace bs
