// Scoped logger: every operation of note declares one named after itself
// ("CryptoProviderRU::setKey") and hands it failure texts before throwing.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace bs
{

// Destination of log records. The library attaches none, so the logger's
// output calls have no visible effect.
class LogBackend
{
  public:
    virtual ~LogBackend() = default;
    virtual void write(std::string_view level, std::string_view name, std::string_view message) = 0;
};

class Logger
{
  public:
    Logger() = default;
    explicit Logger(std::string_view name) : m_name(name) {}
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

    const std::string& name() const noexcept { return m_name; }

    void result(std::string_view message) const { write("RESULT", message); }
    void debug(std::string_view message) const { write("DEBUG", message); }
    void info(std::string_view message) const { write("INFO", message); }
    void warning(std::string_view message) const { write("WARNING", message); }
    void error(std::string_view message) const { write("ERROR", message); }
    void fatal(std::string_view message) const { write("FATAL", message); }

    // No log file is kept: the path is ignored and reads back empty.
    static void setLogPath(std::string_view) noexcept {}
    static std::string logPath() { return {}; }

  private:
    void write(std::string_view level, std::string_view message) const
    {
        if (m_backend) {
            m_backend->write(level, m_name, message);
        }
    }

    std::string m_name;
    std::unique_ptr<LogBackend> m_backend; // never attached in this library
};

} // namespace bs
