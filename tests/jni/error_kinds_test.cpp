#include "jni/error_kinds.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jni/errors.h"

namespace
{

using ormid_signer::allCatalogues;
using ormid_signer::errorKindTable;
using ormid_signer::kindName;
using ormid_signer::kindOf;

std::set<std::string> codesIn(const Localization& catalogue, Language language)
{
    std::set<std::string> codes;
    for (const auto& [code, text] : catalogue.catalogue().at(language))
        codes.insert(code);
    return codes;
}

std::string joined(const std::vector<std::string>& items)
{
    std::string out;
    for (const std::string& item : items)
        out += item + " ";
    return out;
}

TEST(ErrorKinds, EveryCatalogueCodeHasExactlyOneKindAndEveryRowACode)
{
    std::map<std::string, int> rows;
    for (const auto& row : errorKindTable())
        ++rows[row.code];
    std::vector<std::string> missing;
    std::vector<std::string> twice;
    std::set<std::string> all;
    for (const Localization* catalogue : allCatalogues()) {
        const std::set<std::string> codes = codesIn(*catalogue, RUSSIAN);
        EXPECT_EQ(codes, codesIn(*catalogue, ENGLISH));
        for (const std::string& code : codes) {
            all.insert(code);
            if (rows[code] == 0)
                missing.push_back(code);
            else if (rows[code] > 1)
                twice.push_back(code);
        }
    }
    EXPECT_TRUE(missing.empty()) << "codes without a kind (add a row in src/jni/error_kinds.cpp): "
                                 << joined(missing);
    EXPECT_TRUE(twice.empty()) << "codes with more than one kind: " << joined(twice);
    std::vector<std::string> stray;
    for (const auto& [code, count] : rows)
        if (count > 0 && all.count(code) == 0)
            stray.push_back(code);
    EXPECT_TRUE(stray.empty()) << "kinds of codes no catalogue has: " << joined(stray);
}

TEST(ErrorKinds, InternalErrorCodeIsACatalogueTextOfTheInternalKind)
{
    EXPECT_STREQ(ormid_signer::localization.get(ENGLISH, ormid_signer::INTERNAL_ERROR_CODE),
                 "Internal error");
    EXPECT_EQ(kindOf(ormid_signer::INTERNAL_ERROR_CODE), ormid_signer::ErrorKind::INTERNAL);
    EXPECT_FALSE(kindOf("CP-999999").has_value());
}

// The Java side's table and Kind enum, read from the SignerException.java
// the build generated.
TEST(ErrorKinds, JavaTableAndKindsAgreeWithTheCatalogue)
{
#ifndef ORMID_SIGNER_EXCEPTION_JAVA
    GTEST_SKIP() << "built without the Java API";
#else
    std::ifstream in(ORMID_SIGNER_EXCEPTION_JAVA);
    ASSERT_TRUE(in) << ORMID_SIGNER_EXCEPTION_JAVA;
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();

    std::map<std::string, std::string> java;
    const std::regex row(R"re(kind\("([^"]+)", Kind\.([A-Z_]+)\);)re");
    for (auto it = std::sregex_iterator(source.begin(), source.end(), row); it != std::sregex_iterator();
         ++it) {
        EXPECT_TRUE(java.emplace((*it)[1], (*it)[2]).second) << "twice in the Java table: " << (*it)[1];
    }
    std::map<std::string, std::string> expected;
    for (const Localization* catalogue : allCatalogues())
        for (const std::string& code : codesIn(*catalogue, RUSSIAN))
            expected[code] = kindOf(code) ? kindName(*kindOf(code)) : "(none)";
    EXPECT_EQ(java, expected);

    const std::size_t begin = source.find("public enum Kind {");
    ASSERT_NE(begin, std::string::npos);
    std::istringstream body(source.substr(begin, source.find("\n    }", begin) - begin));
    std::vector<std::string> javaKinds;
    const std::regex constant(R"(\s+([A-Z_]+),?)");
    std::smatch match;
    for (std::string line; std::getline(body, line);)
        if (std::regex_match(line, match, constant))
            javaKinds.push_back(match[1]);
    std::vector<std::string> kinds;
    for (ormid_signer::ErrorKind kind : ormid_signer::allErrorKinds())
        kinds.push_back(kindName(kind));
    EXPECT_EQ(javaKinds, kinds);
#endif
}

} // namespace
