// Where the CSP is looked for, and a CSP that is not there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "base/errors.h"
#include "capi/handles.h"
#include "capi/wrapper.h"
#include "support/gost_soft.h"

namespace
{

// Sets ORMID_CSP_DIR for one test and puts the old value back.
class CspDirectory
{
  public:
    explicit CspDirectory(const char* value)
    {
        if (const char* old = std::getenv(capi::CSP_DIRECTORY_VARIABLE))
            m_old = old;
        if (value != nullptr)
            ::setenv(capi::CSP_DIRECTORY_VARIABLE, value, 1);
        else
            ::unsetenv(capi::CSP_DIRECTORY_VARIABLE);
    }
    ~CspDirectory()
    {
        if (m_old)
            ::setenv(capi::CSP_DIRECTORY_VARIABLE, m_old->c_str(), 1);
        else
            ::unsetenv(capi::CSP_DIRECTORY_VARIABLE);
    }

  private:
    std::optional<std::string> m_old;
};

TEST(CspDirectory, TheVariableNamesTheDirectoryUnlessEmpty)
{
    {
        CspDirectory unset(nullptr);
        EXPECT_EQ(capi::cspDirectory(), "/opt/cprocsp/lib/");
    }
    {
        CspDirectory empty("");
        EXPECT_EQ(capi::cspDirectory(), "/opt/cprocsp/lib/");
    }
    {
        CspDirectory other("/srv/csp");
        EXPECT_EQ(capi::cspDirectory(), "/srv/csp/");
    }
    {
        CspDirectory slash("/srv/csp/");
        EXPECT_EQ(capi::cspDirectory(), "/srv/csp/");
    }
    // A relative directory would be the working directory's.
    for (const char* relative : {"csp", "./csp/", "../opt/cprocsp/lib"}) {
        CspDirectory variable(relative);
        EXPECT_THROW(capi::cspDirectory(), bs::RelativePath) << relative;
        EXPECT_THROW(capi::Wrapper::instance(), bs::RelativePath) << relative;
    }
}

TEST(CspLoader, AMissingDirectoryIsALoadErrorAtFirstUseEveryTime)
{
    const gostsoft::TempDir empty;
    CspDirectory directory(empty.path().c_str());
    EXPECT_THROW(capi::Wrapper(empty.path().string() + "/"), LoadLibraryError);
    // No instance is left behind: each use tries again, and so does each
    // handle.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            capi::Wrapper::instance();
            ADD_FAILURE() << "loaded";
        } catch (const LoadLibraryError& e) {
            EXPECT_NE(e.library().find(empty.path().string() + "/libcapi10.so"), std::string::npos)
                << e.library();
        }
    }
    EXPECT_THROW(capi::Provider::verifyContext(75), LoadLibraryError);
}

} // namespace
