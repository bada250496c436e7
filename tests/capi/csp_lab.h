// A test on the lab's simulated CSP: the library loads it from the build's
// lab/csp folder, each test keeps the CSP state in a folder of its own, and
// every test ends with no CSP handle left open.
#pragma once

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>

#include "support/gost_soft.h"

namespace csplab
{

// Handles (providers, keys, hashes, stores, certificates) the lab's CSP
// holds open in this process now.
inline int openHandles()
{
    // The library loaded this file already: dlopen finds that copy.
    void* library = ::dlopen(LAB_CSP_DIR "/libcapi10.so", RTLD_NOW | RTLD_NOLOAD);
    if (library == nullptr)
        return 0; // the CSP was never loaded: nothing can be open
    using Count = int (*)();
    auto count = reinterpret_cast<Count>(::dlsym(library, "ormid_lab_csp_open_handles"));
    const int open = count != nullptr ? count() : -1;
    ::dlclose(library);
    return open;
}

class CspLab : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ::setenv("ORMID_CSP_DIR", LAB_CSP_DIR, 1);
        ::setenv("ORMID_LAB_DIR", m_state.path().c_str(), 1);
    }
    void TearDown() override { EXPECT_EQ(openHandles(), 0) << "CSP handles left open"; }

    // Replaces the CSP's fault rules ("<function> nth <N> <error>" lines).
    void faults(std::string_view rules) { write("faults", rules); }
    // Replaces the CSP's settings ("key=value" lines; see lab/README.md).
    void settings(std::string_view lines) { write("settings", lines); }

  private:
    void write(const std::string& file, std::string_view text)
    {
        std::filesystem::create_directories(m_state.path() / "csp");
        std::ofstream(m_state.path() / "csp" / file) << text;
    }

    gostsoft::TempDir m_state;
};

} // namespace csplab
