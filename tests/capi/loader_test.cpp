// Loading the lab's CSP: a copy lacking an entry point, first use from many
// threads at once, and a failed first load followed by a good one.
#include <gtest/gtest.h>

#include <barrier>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "capi/functions.h"
#include "capi/wrapper.h"

namespace
{

TEST(CspLoader, ALibraryWithoutAnEntryPointIsALookupError)
{
    try {
        capi::Wrapper wrapper(LAB_CSP_BROKEN_DIR "/");
        ADD_FAILURE() << "loaded";
    } catch (const LoadLibraryError& e) {
        ADD_FAILURE() << e.what();
    } catch (const std::runtime_error& e) {
        // The lab's broken copy lacks this one.
        EXPECT_EQ(e.what(), bs::message(bs::localization, "BS-0003", "CertAddEncodedCertificateToStore"));
    }
}

TEST(CspLoader, AllEntryPointsResolve)
{
    const capi::Wrapper wrapper(LAB_CSP_DIR "/");
    EXPECT_NE(wrapper.CryptAcquireContextA, nullptr);
    EXPECT_NE(wrapper.CertAddEncodedCertificateToStore, nullptr);
    EXPECT_NE(wrapper.GetLastError, nullptr);
}

// In a child process, so that the singleton is still unmade.
TEST(CspLoaderDeathTest, ThreadsArrivingTogetherShareOneLoad)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("ORMID_CSP_DIR", LAB_CSP_DIR, 1);
            constexpr int THREADS = 8;
            std::barrier start(THREADS);
            std::vector<const capi::Wrapper*> seen(THREADS);
            std::vector<std::thread> threads;
            for (int i = 0; i < THREADS; ++i)
                threads.emplace_back([&, i] {
                    start.arrive_and_wait();
                    seen[i] = capi::Wrapper::instance().get();
                });
            for (std::thread& t : threads)
                t.join();
            std::exit(std::set<const capi::Wrapper*>(seen.begin(), seen.end()).size() == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(CspLoaderDeathTest, AFailedFirstLoadIsTriedAgain)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ::setenv("ORMID_CSP_DIR", LAB_CSP_BROKEN_DIR, 1);
            bool failed = false;
            try {
                capi::Wrapper::instance();
            } catch (const std::runtime_error&) {
                failed = true;
            }
            ::setenv("ORMID_CSP_DIR", LAB_CSP_DIR, 1);
            std::exit(failed && capi::Wrapper::instance()->directory() == LAB_CSP_DIR "/" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
