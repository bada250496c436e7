#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/log_sink.h"
#include "base/logger.h"

namespace
{

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> lines(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        result.push_back(line);
    }
    return result;
}

// A log file of its own in a fresh folder; the log is switched off again
// after each test.
class LogFile : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/ormid-log-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_dir = pattern;
        m_path = m_dir + "/signer.log";
    }
    void TearDown() override
    {
        bs::log_sink::close();
        std::remove(m_path.c_str());
        ::rmdir(m_dir.c_str());
    }

    void open(const std::string& level) { bs::log_sink::configure({m_path, level}); }

    std::string m_dir;
    std::string m_path;
};

// Logs one record of each kind under "Test::op".
void logEveryLevel()
{
    const bs::Logger log("Test::op");
    log.debug("d");
    log.info("i");
    log.result("r");
    log.warning("w");
    log.error("e");
    log.fatal("f");
}

// "<level> <message>" of each line of the file; every line must have the form
// "<time> <thread id> <level> Test::op: <message>".
std::vector<std::string> levelsAndMessages(const std::string& path)
{
    static const std::regex HEAD(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \d+ [A-Z]+ Test::op: )");
    std::vector<std::string> result;
    for (const std::string& line : lines(readFile(path))) {
        const std::size_t level = line.find(' ', line.find(' ') + 1) + 1;
        const std::size_t name = line.find(' ', level) + 1;
        const std::size_t message = line.find(' ', name) + 1;
        if (level == 0 || name == 0 || message == 0 ||
            !std::regex_match(line.substr(0, message), HEAD)) {
            ADD_FAILURE() << line.substr(0, 80);
            continue;
        }
        result.push_back(line.substr(level, name - level) + line.substr(message));
    }
    return result;
}

} // namespace

TEST(LogSettings, LevelNamesAndWhereTheSettingsComeFrom)
{
    using bs::LogLevel;
    const std::vector<std::pair<std::string, std::optional<LogLevel>>> levels = {
        {"DEBUG", LogLevel::Debug},   {"debug", LogLevel::Debug},  {"INFO", LogLevel::Info},
        {"Result", LogLevel::Info},   {"WARNING", LogLevel::Warning}, {"warn", LogLevel::Warning},
        {"ERROR", LogLevel::Error},   {"FATAL", LogLevel::Error},  {"", std::nullopt},
        {"TRACE", std::nullopt},      {"INFO ", std::nullopt},
    };
    for (const auto& [text, level] : levels) {
        EXPECT_EQ(bs::parseLogLevel(text), level) << text;
    }

    const std::optional<std::string> unset;
    const auto settings = [](auto... values) {
        const bs::LogSettings s = bs::resolveLogSettings(values...);
        return s.destination + "|" + s.level;
    };
    EXPECT_EQ(settings(unset, unset, unset, unset), "|");
    EXPECT_EQ(settings(unset, unset, std::optional<std::string>("stderr"), std::optional<std::string>("DEBUG")),
              "stderr|DEBUG");
    // Each property wins over its variable, an empty property too.
    EXPECT_EQ(settings(std::optional<std::string>("/tmp/a.log"), unset, std::optional<std::string>("stderr"),
                       std::optional<std::string>("ERROR")),
              "/tmp/a.log|ERROR");
    EXPECT_EQ(settings(std::optional<std::string>(""), std::optional<std::string>("DEBUG"),
                       std::optional<std::string>("stderr"), std::optional<std::string>("ERROR")),
              "|DEBUG");
}

TEST(LogSink, LineFormEscapesWhatWouldBreakTheLine)
{
    using namespace std::chrono;
    const system_clock::time_point time =
        system_clock::time_point(seconds(1781254805)) + milliseconds(7); // 2026-06-12T09:00:05.007Z
    EXPECT_EQ(bs::log_sink::formatLine(time, 4242, "INFO", "Pkcs11::openSession", "session: 5"),
              "2026-06-12T09:00:05.007Z 4242 INFO Pkcs11::openSession: session: 5\n");
    EXPECT_EQ(bs::log_sink::formatLine(time, 1, "ERROR", "", "two\nlines\r\tand\x01 \x7f"),
              "2026-06-12T09:00:05.007Z 1 ERROR -: two\\nlines\\r\\tand\\x01 \\x7F\n");
}

TEST_F(LogFile, LevelsFilterAndTheFileIsPrivateAndAppended)
{
    {
        std::ofstream(m_path) << "kept\n";
        ::chmod(m_path.c_str(), 0600);
    }
    open("WARNING");
    EXPECT_FALSE(bs::Logger::enabled(bs::LogLevel::Info));
    EXPECT_TRUE(bs::Logger::enabled(bs::LogLevel::Warning));
    logEveryLevel();
    bs::log_sink::close();
    EXPECT_EQ(readFile(m_path).substr(0, 5), "kept\n");
    std::remove(m_path.c_str());

    const mode_t previous = ::umask(0);
    open("DEBUG");
    ::umask(previous);
    struct stat status{};
    ASSERT_EQ(::stat(m_path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    logEveryLevel();
    EXPECT_EQ(levelsAndMessages(m_path),
              (std::vector<std::string>{"DEBUG d", "INFO i", "RESULT r", "WARNING w", "ERROR e", "FATAL f"}));

    std::remove(m_path.c_str());
    open("");
    logEveryLevel();
    EXPECT_EQ(levelsAndMessages(m_path),
              (std::vector<std::string>{"INFO i", "RESULT r", "WARNING w", "ERROR e", "FATAL f"}));
}

TEST_F(LogFile, AnUnknownLevelKeepsInfoAndSaysSo)
{
    open("LOUD");
    bs::Logger("Test::op").debug("hidden");
    bs::Logger("Test::op").info("shown");
    const std::vector<std::string> written = lines(readFile(m_path));
    ASSERT_EQ(written.size(), 2u);
    EXPECT_NE(written[0].find(" WARNING log: unknown log level \"LOUD\": INFO is used"), std::string::npos);
    EXPECT_NE(written[1].find(" INFO Test::op: shown"), std::string::npos);
}

TEST_F(LogFile, OffWritesNothing)
{
    open("DEBUG");
    bs::log_sink::close();
    for (const auto level : {bs::LogLevel::Debug, bs::LogLevel::Info, bs::LogLevel::Warning, bs::LogLevel::Error}) {
        EXPECT_FALSE(bs::Logger::enabled(level));
    }
    logEveryLevel();
    EXPECT_EQ(readFile(m_path), "");

    // A file that cannot be opened leaves the log off, with one line on stderr.
    ::testing::internal::CaptureStderr();
    bs::log_sink::configure({m_dir + "/missing/signer.log", "DEBUG"});
    logEveryLevel();
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(lines(err).size(), 1u) << err;
    EXPECT_NE(err.find(m_dir + "/missing/signer.log"), std::string::npos) << err;
    EXPECT_FALSE(bs::Logger::enabled(bs::LogLevel::Error));
}

TEST_F(LogFile, RefusesLinksAndFilesOthersControl)
{
    const std::string target = m_dir + "/target";
    const auto emptyFile = [](const std::string& path, mode_t mode) {
        std::ofstream(path) << "";
        return ::chmod(path.c_str(), mode) == 0;
    };
    struct Case {
        const char* what;
        // False when the case cannot be set up here.
        std::function<bool()> prepare;
        // Where nothing may be written (never the FIFO itself: reading it would wait).
        std::string untouched;
    };
    const Case cases[] = {
        {"a symbolic link to nothing", [&] { return ::symlink(target.c_str(), m_path.c_str()) == 0; },
         target},
        {"a link to a file of the user's",
         [&] { return emptyFile(target, 0600) && ::symlink(target.c_str(), m_path.c_str()) == 0; }, target},
        {"a file others may write to", [&] { return emptyFile(m_path, 0666); }, m_path},
        {"a FIFO", [&] { return ::mkfifo(m_path.c_str(), 0600) == 0; }, target},
        // Only root can hand a file to another user.
        {"a file of another user",
         [&] { return emptyFile(m_path, 0600) && ::chown(m_path.c_str(), 65534, 65534) == 0; }, m_path},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.prepare()) {
            ::testing::internal::CaptureStderr();
            open("DEBUG");
            logEveryLevel();
            const std::string err = ::testing::internal::GetCapturedStderr();
            EXPECT_EQ(lines(err).size(), 1u) << err;
            EXPECT_NE(err.find(m_path), std::string::npos) << err;
            EXPECT_FALSE(bs::Logger::enabled(bs::LogLevel::Error));
            EXPECT_EQ(readFile(c.untouched), "");
        } else {
            EXPECT_NE(::geteuid(), 0u) << "cannot set up the case as root";
        }
        bs::log_sink::close();
        std::remove(m_path.c_str());
        std::remove(target.c_str());
    }
}

TEST_F(LogFile, ThreadsWriteWholeLines)
{
    open("DEBUG");
    constexpr int THREADS = 8;
    constexpr int RECORDS = 300;
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([t] {
            // Longer than a pipe buffer's atomic write, so only the lock keeps lines apart.
            const std::string body(8000, static_cast<char>('a' + t));
            const bs::Logger log("Test::op");
            for (int i = 0; i < RECORDS; ++i) {
                log.info(std::to_string(t) + ":" + std::to_string(i) + ":" + body);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::vector<int> seen(THREADS, 0);
    const std::vector<std::string> messages = levelsAndMessages(m_path);
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(THREADS * RECORDS));
    for (const std::string& message : messages) {
        const int t = message[5] - '0'; // "INFO <t>:<i>:<body>"
        ASSERT_TRUE(t >= 0 && t < THREADS) << message.substr(0, 40);
        const std::string body = message.substr(message.rfind(':') + 1);
        ASSERT_EQ(body, std::string(8000, static_cast<char>('a' + t))) << message.substr(0, 40);
        ++seen[t];
    }
    EXPECT_EQ(seen, std::vector<int>(THREADS, RECORDS));
}
