// Driving the lab a test runs in: ctest starts such a test inside a lab
// fixture and hands it the lab script and the lab's folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace labscript
{

// Runs "<lab script> VERB '<this test's lab>'ARGUMENTS"; `arguments` starts
// with its own separating space.
inline void run(const std::string& verb, const std::string& arguments)
{
    const char* script = std::getenv("ORMID_LAB_SCRIPT");
    const char* dir = std::getenv("ORMID_LAB_DIR");
    ASSERT_TRUE(script && dir && *dir) << "run under ctest (lab fixture)";
    const std::string command = std::string(script) + " " + verb + " '" + dir + "'" + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

} // namespace labscript
