#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/date.h"
#include "base/dynamic_library.h"
#include "base/errors.h"
#include "base/logger.h"
#include "base/random.h"
#include "base/system.h"

namespace
{

template <class Exception, class F> std::string errorText(F&& call)
{
    try {
        call();
    } catch (const Exception& e) {
        return e.what();
    }
    return "<nothing thrown>";
}

std::string commandOutput(const char* command)
{
    std::string output;
    if (FILE* pipe = ::popen(command, "r")) {
        char buffer[256];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof(buffer), pipe)) > 0) {
            output.append(buffer, n);
        }
        ::pclose(pipe);
    }
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) {
        output.pop_back();
    }
    return output;
}

} // namespace

TEST(DynamicLibrary, LoadsResolvesAndLocatesARealLibrary)
{
    const auto library = std::make_shared<DynamicLibrary>("libm.so.6");
    EXPECT_NE(library->get(), nullptr);
    EXPECT_EQ(library->path(), "libm.so.6");
    const auto cosine = library->function<double (*)(double)>("cos");
    EXPECT_DOUBLE_EQ(cosine(0.0), 1.0);
    const std::string path = library->getPath("cos");
    EXPECT_EQ(path.front(), '/');
    EXPECT_NE(path.find("libm"), std::string::npos) << path;
    EXPECT_EQ(::access(path.c_str(), R_OK), 0) << path;

    EXPECT_EQ(errorText<std::runtime_error>([&] { library->getFunction("no_such_function"); }),
              bs::replace(bs::localization.get("BS-0003"), "no_such_function"));
    const std::string truncated("cos\0tan", 7);
    EXPECT_EQ(errorText<std::runtime_error>([&] { library->getFunction(truncated); }),
              bs::replace(bs::localization.get("BS-0003"), truncated).c_str()); // what() ends at the NUL
    EXPECT_EQ(errorText<std::invalid_argument>([&] { library->getPath(""); }), "Function name is empty");
    EXPECT_EQ(errorText<std::runtime_error>([&] { library->getPath("no_such_function"); }),
              bs::replace(bs::localization.get("BS-0003"), "no_such_function"));
}

TEST(DynamicLibrary, MissingLibraryNamesThePath)
{
    const std::string missing = "/nonexistent/librtpkcs11ecp.so";
    EXPECT_EQ(errorText<LoadLibraryError>([&] { DynamicLibrary library(missing); }),
              bs::replace(bs::localization.get("BS-0009"), missing));
    // An empty name is refused rather than opening the main program.
    EXPECT_EQ(errorText<LoadLibraryError>([] { DynamicLibrary library(""); }),
              bs::replace(bs::localization.get("BS-0009"), ""));
    const std::string embedded("libm.so.6\0.evil", 15);
    EXPECT_EQ(errorText<LoadLibraryError>([&] { DynamicLibrary library(embedded); }),
              bs::replace(bs::localization.get("BS-0009"), embedded).c_str());
    EXPECT_EQ(dll::makeLibraryName("rtpkcs11ecp"), "librtpkcs11ecp.so");
}

TEST(DynamicLibrary, ARelativePathIsRefusedEvenWhenTheLibraryIsThere)
{
    // A copy of a real library in "mods" under the working directory: a
    // relative path would load it from there.
    const std::string real = DynamicLibrary("libm.so.6").getPath("cos");
    char pattern[] = "/tmp/ormid-relative-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    const std::string dir = pattern;
    ASSERT_EQ(::mkdir((dir + "/mods").c_str(), 0700), 0);
    ASSERT_EQ(::symlink(real.c_str(), (dir + "/mods/libm.so.6").c_str()), 0);
    char previous[4096];
    ASSERT_NE(::getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    const std::vector<std::string> relative = {"mods/libm.so.6", "./mods/libm.so.6",
                                               "../" + dir.substr(5) + "/mods/libm.so.6"};
    for (const std::string& path : relative) {
        EXPECT_EQ(errorText<bs::RelativePath>([&] { DynamicLibrary library(path); }),
                  bs::replace(bs::localization.get("BS-0018"), path));
    }
    EXPECT_NO_THROW(DynamicLibrary(dir + "/mods/libm.so.6"));
    EXPECT_EQ(::chdir(previous), 0);
    std::remove((dir + "/mods/libm.so.6").c_str());
    ::rmdir((dir + "/mods").c_str());
    ::rmdir(dir.c_str());
}

TEST(Date, Validation)
{
    struct Case {
        int day, month, year;
        const char* error; // nullptr: valid
    };
    const Case cases[] = {
        {29, 2, 2000, nullptr},
        {29, 2, 2024, nullptr},
        {31, 12, 2099, nullptr},
        {1, 1, 1901, nullptr},
        {30, 4, 2020, nullptr},
        {29, 2, 1900, "Incorrect year"},
        {1, 1, 2100, "Incorrect year"},
        {31, 12, 1900, "Incorrect year"},
        {29, 2, 2023, "Incorrect february day in leap year"},
        {30, 2, 2024, "Incorrect february day in leap year"},
        {31, 4, 2020, "Incorrect day in 30 day month"},
        {31, 11, 2020, "Incorrect day in 30 day month"},
        {0, 1, 2020, "Incorrect day"},
        {32, 1, 2020, "Incorrect day"},
        {-1, 1, 2020, "Incorrect day"},
        {1, 0, 2020, "Incorrect month"},
        {1, 13, 2020, "Incorrect month"},
        {32, 13, 3000, "Incorrect day"}, // day is checked first
    };
    for (const auto& c : cases) {
        const std::string text = errorText<std::runtime_error>([&] { Date(c.day, c.month, c.year); });
        EXPECT_EQ(text, c.error ? c.error : "<nothing thrown>") << c.day << "." << c.month << "." << c.year;
    }
}

TEST(Date, TextFormDaysAndOrder)
{
    EXPECT_EQ(Date(5, 3, 2021).dump(), "2021-03-05");
    EXPECT_EQ(Date::fromDump("2021-03-05"), Date(5, 3, 2021));
    EXPECT_EQ(Date::fromDump("2021/3/5"), Date(5, 3, 2021));
    EXPECT_EQ(errorText<std::runtime_error>([] { Date::fromDump("2023-02-29"); }),
              "Incorrect february day in leap year");
    EXPECT_EQ(errorText<std::runtime_error>([] { Date::fromDump("not a date"); }), "Incorrect day");
    EXPECT_EQ(errorText<std::runtime_error>([] { Date::fromDump("2021-03-99999999999999999999"); }),
              "Incorrect day");
    EXPECT_EQ(errorText<std::runtime_error>([] { Date::fromDump(""); }), "Incorrect day");

    EXPECT_EQ(Date(1, 3, 2024).toDays() - Date(28, 2, 2024).toDays(), 2);
    EXPECT_EQ(Date(1, 3, 2023).toDays() - Date(28, 2, 2023).toDays(), 1);
    EXPECT_EQ(Date(1, 1, 2021).toDays() - Date(31, 12, 2020).toDays(), 1);
    EXPECT_EQ(Date(1, 1, 2001).toDays() - Date(1, 1, 2000).toDays(), 366);
    // One day at a time across the whole range, against the C library's calendar.
    std::tm tm{};
    tm.tm_year = 1901 - 1900;
    tm.tm_mday = 1;
    tm.tm_hour = 12;
    std::time_t t = ::timegm(&tm);
    std::int64_t previous = Date(1, 1, 1901).toDays() - 1;
    for (;; t += 86400) {
        ::gmtime_r(&t, &tm);
        if (tm.tm_year + 1900 > 2099) {
            break;
        }
        const Date date(tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
        ASSERT_EQ(date.toDays(), previous + 1) << date.dump();
        previous = date.toDays();
    }

    EXPECT_TRUE(Date(28, 2, 2024) < Date(1, 3, 2024));
    EXPECT_TRUE(Date(1, 3, 2024) >= Date(1, 3, 2024));
    EXPECT_TRUE(Date(1, 3, 2024) <= Date(1, 3, 2024));
    EXPECT_TRUE(Date(2, 1, 2024) > Date(31, 12, 2023));
    EXPECT_NE(Date(1, 3, 2024), Date(2, 3, 2024));
    EXPECT_TRUE(Date(1, 3, 2024).isLeapYear());
    EXPECT_FALSE(Date(1, 3, 2023).isLeapYear());
    EXPECT_TRUE(Date(1, 9, 2024).is30dayMonth());
    EXPECT_FALSE(Date(1, 8, 2024).is30dayMonth());
}

TEST(Date, TodayAndFileDate)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    const Date today;
    // Around midnight the two readings may straddle the change of date.
    EXPECT_LE(std::abs(today.toDays() - Date(local.tm_mday, local.tm_mon + 1, local.tm_year + 1900).toDays()),
              1);

    char path[] = "/tmp/base-date-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::tm utc{};
    const std::time_t created = std::time(nullptr);
    ::gmtime_r(&created, &utc);
    const Date fileDate(path);
    ::unlink(path);
    EXPECT_LE(std::abs(fileDate.toDays() - Date(utc.tm_mday, utc.tm_mon + 1, utc.tm_year + 1900).toDays()),
              1);
    EXPECT_EQ(errorText<std::runtime_error>([&] { Date missing{std::string(path)}; }),
              "Error getting file creation date");
    // A name cut short at a NUL would date some other file.
    EXPECT_EQ(errorText<std::runtime_error>([] { Date named{std::string_view("/tmp\0/x", 7)}; }),
              "Error getting file creation date");
}

TEST(System, CurrentTimeAndUserName)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    EXPECT_EQ(std::stoi(bs::currentTime("%Y")), local.tm_year + 1900);
    EXPECT_EQ(bs::currentTime(""), "");
    const std::string pattern(200, 'x');
    EXPECT_EQ(bs::currentTime(pattern + "%Y" + pattern),
              pattern + std::to_string(local.tm_year + 1900) + pattern);

    EXPECT_EQ(bs::userName(), commandOutput("id -un"));
}

TEST(Random, SizesAndFreshness)
{
    EXPECT_TRUE(bs::getRandomBytes(0).empty());
    EXPECT_EQ(bs::getRandomBytes(1).size(), 1u);
    const auto first = bs::getRandomBytes(64);
    const auto second = bs::getRandomBytes(64);
    EXPECT_EQ(first.size(), 64u);
    EXPECT_NE(first, second);
    const auto large = bs::getRandomBytes(8u << 20);
    ASSERT_EQ(large.size(), 8u << 20);
    // A buffer left as allocated would be all zeros; real randomness uses
    // every byte value many times over.
    std::size_t counts[256] = {};
    for (const unsigned char b : large) {
        ++counts[b];
    }
    for (const std::size_t count : counts) {
        EXPECT_GT(count, (large.size() / 256) * 9 / 10);
    }
}

TEST(Logger, HasNoBackEndAndKeepsNoPath)
{
    bs::Logger::setLogPath("/tmp/never-written.log");
    EXPECT_EQ(bs::Logger::logPath(), "");
    const bs::Logger log("KeyRecord::check()");
    EXPECT_EQ(log.name(), "KeyRecord::check()");
    log.error("failure text");
    log.fatal("");
    EXPECT_NE(::access("/tmp/never-written.log", F_OK), 0);
}
