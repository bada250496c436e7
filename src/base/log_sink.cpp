#include "base/log_sink.h"

#include "base/never_destroyed.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

namespace bs
{

namespace
{

// Threshold of a log that is off: above every level.
constexpr int OFF = static_cast<int>(LogLevel::Error) + 1;

struct Sink
{
    std::atomic<int> threshold{OFF};
    std::mutex mutex;
    int fd = -1;
    bool ownsFd = false;
};

Sink& sink() noexcept
{
    // Never destroyed: threads may still log while the process exits.
    static NeverDestroyed<Sink> instance;
    return *instance;
}

char upper(char c) noexcept
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool equalsUpper(std::string_view text, std::string_view upperName) noexcept
{
    if (text.size() != upperName.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (upper(text[i]) != upperName[i]) {
            return false;
        }
    }
    return true;
}

void writeAll(int fd, std::string_view text) noexcept
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(written));
    }
}

void appendEscaped(std::string& out, std::string_view text)
{
    static const char HEX[] = "0123456789ABCDEF";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x";
            out += HEX[byte >> 4];
            out += HEX[byte & 0x0F];
        } else {
            out += c;
        }
    }
}

std::uint64_t currentThreadId() noexcept
{
    // The kernel's id: the "nid" a Java thread dump shows.
    return static_cast<std::uint64_t>(::syscall(SYS_gettid));
}

// Closes the current destination; the caller holds the mutex.
void closeLocked(Sink& s) noexcept
{
    s.threshold.store(OFF, std::memory_order_release);
    if (s.ownsFd && s.fd >= 0) {
        ::close(s.fd);
    }
    s.fd = -1;
    s.ownsFd = false;
}

void refuseLogFile(const std::string& path, const char* reason)
{
    writeAll(STDERR_FILENO, "libORMIDSignerJni: the log file " + path + " cannot be opened (" + reason +
                                "); logging stays off\n");
}

// The log file, appended to and created owner-only. A symbolic link, a file
// that is not a regular one, one owned by another user or one others may
// write to is refused: another user could otherwise have the library write
// into a file of theirs or read and forge its lines. -1 after one line on
// stderr.
int openLogFile(const std::string& path)
{
    // O_NONBLOCK: a FIFO put in the file's place must not hold the opening thread.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) {
        const int error = errno;
        refuseLogFile(path, error == ELOOP ? "it is a symbolic link" : std::strerror(error));
        return -1;
    }
    struct stat info {
    };
    const char* reason = nullptr;
    if (::fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        reason = "it is not a regular file";
    } else if (info.st_uid != ::geteuid()) {
        reason = "it belongs to another user";
    } else if ((info.st_mode & S_IWOTH) != 0) {
        reason = "others may write to it";
    } else if (::fcntl(fd, F_SETFL, O_APPEND) != 0) {
        reason = std::strerror(errno);
    }
    if (reason != nullptr) {
        ::close(fd);
        refuseLogFile(path, reason);
        return -1;
    }
    return fd;
}

} // namespace

std::optional<LogLevel> parseLogLevel(std::string_view text) noexcept
{
    if (equalsUpper(text, "DEBUG")) {
        return LogLevel::Debug;
    }
    if (equalsUpper(text, "INFO") || equalsUpper(text, "RESULT")) {
        return LogLevel::Info;
    }
    if (equalsUpper(text, "WARNING") || equalsUpper(text, "WARN")) {
        return LogLevel::Warning;
    }
    if (equalsUpper(text, "ERROR") || equalsUpper(text, "FATAL")) {
        return LogLevel::Error;
    }
    return std::nullopt;
}

LogSettings resolveLogSettings(const std::optional<std::string>& propertyDestination,
                               const std::optional<std::string>& propertyLevel,
                               const std::optional<std::string>& variableDestination,
                               const std::optional<std::string>& variableLevel)
{
    const auto pick = [](const std::optional<std::string>& property, const std::optional<std::string>& variable) {
        return property ? *property : variable.value_or(std::string());
    };
    return {pick(propertyDestination, variableDestination), pick(propertyLevel, variableLevel)};
}

std::optional<std::string> environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr) {
        return std::nullopt;
    }
    return std::string(value);
}

namespace log_sink
{

void configure(const LogSettings& settings) noexcept
{
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    closeLocked(s);
    if (settings.destination.empty()) {
        return;
    }
    if (settings.destination == "stderr") {
        s.fd = STDERR_FILENO;
    } else {
        const int fd = openLogFile(settings.destination);
        if (fd < 0) {
            return;
        }
        s.fd = fd;
        s.ownsFd = true;
    }
    const std::optional<LogLevel> level =
        settings.level.empty() ? std::optional<LogLevel>(LogLevel::Info) : parseLogLevel(settings.level);
    s.threshold.store(static_cast<int>(level.value_or(LogLevel::Info)), std::memory_order_release);
    if (!level) {
        std::string text = "unknown log level \"";
        appendEscaped(text, settings.level);
        text += "\": INFO is used";
        writeAll(s.fd, formatLine(std::chrono::system_clock::now(), currentThreadId(), "WARNING", "log", text));
    }
}

void close() noexcept
{
    Sink& s = sink();
    std::lock_guard lock(s.mutex);
    closeLocked(s);
}

bool enabled(LogLevel level) noexcept
{
    return static_cast<int>(level) >= sink().threshold.load(std::memory_order_acquire);
}

void write(LogLevel level, std::string_view levelText, std::string_view name, std::string_view message) noexcept
{
    if (!enabled(level)) {
        return;
    }
    try {
        const std::string line =
            formatLine(std::chrono::system_clock::now(), currentThreadId(), levelText, name, message);
        Sink& s = sink();
        std::lock_guard lock(s.mutex);
        if (s.fd >= 0 && enabled(level)) {
            writeAll(s.fd, line);
        }
    } catch (...) {
        // Logging never fails its caller (no memory for the line: it is lost).
    }
}

std::string formatLine(std::chrono::system_clock::time_point time, std::uint64_t threadId,
                       std::string_view levelText, std::string_view name, std::string_view message)
{
    const auto sinceEpoch = time.time_since_epoch();
    const auto seconds = std::chrono::floor<std::chrono::seconds>(sinceEpoch);
    const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch - seconds).count();
    const std::time_t clock = static_cast<std::time_t>(seconds.count());
    std::tm parts{};
    ::gmtime_r(&clock, &parts);
    char stamp[40];
    const std::size_t length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", &parts);
    std::string line(stamp, length);
    char tail[48];
    std::snprintf(tail, sizeof tail, ".%03dZ %llu ", static_cast<int>(millis),
                  static_cast<unsigned long long>(threadId));
    line += tail;
    line += levelText;
    line += ' ';
    appendEscaped(line, name.empty() ? std::string_view("-") : name);
    line += ": ";
    appendEscaped(line, message);
    line += '\n';
    return line;
}

} // namespace log_sink

} // namespace bs
