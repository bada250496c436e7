#include "jni/sessions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "jni/errors.h"

namespace
{

std::string notRecognized()
{
    return ormid_signer::localization.get("BS-001001");
}

TEST(SessionsTest, OpenGivesDistinctUpperHexIds)
{
    Sessions sessions;
    const std::string a = sessions.open(false);
    const std::string b = sessions.open(true);
    EXPECT_NE(a, b);
    const std::regex hex32("[0-9A-F]{32}");
    EXPECT_TRUE(std::regex_match(a, hex32)) << a;
    EXPECT_TRUE(std::regex_match(b, hex32)) << b;
    EXPECT_FALSE(sessions.find(a)->kalvaMode);
    EXPECT_TRUE(sessions.find(b)->kalvaMode);
    EXPECT_NE(sessions.find(a)->provider, sessions.find(b)->provider);
}

TEST(SessionsTest, UnknownAndClosedIdsAreNotRecognized)
{
    Sessions sessions;
    const std::string id = sessions.open(false);
    std::string lower = id;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });

    for (const std::string& bad : {std::string(), lower, id.substr(1), id + "0"}) {
        try {
            sessions.find(bad);
            ADD_FAILURE() << "found " << bad;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(e.what(), notRecognized());
        }
    }
    sessions.close(id);
    EXPECT_EQ(sessions.size(), 0u);
    try {
        sessions.close(id);
        ADD_FAILURE() << "closed twice";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), notRecognized());
    }
}

TEST(SessionsTest, CallInFlightKeepsItsSessionAfterClose)
{
    Sessions sessions;
    const std::string id = sessions.open(false);
    const std::shared_ptr<Session> held = sessions.find(id);
    sessions.close(id);
    EXPECT_THROW(sessions.find(id), std::runtime_error);
    EXPECT_EQ(held->id, id);
    EXPECT_EQ(held->provider->getKeyStoreId(), "");
}

TEST(SessionsTest, CloseKeepsTheOrderOfOthers)
{
    Sessions sessions;
    std::vector<std::string> ids;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(sessions.open(false));
    }
    sessions.close(ids[2]);
    for (std::size_t i = 0; i < ids.size(); ++i) {
        if (i == 2) {
            EXPECT_THROW(sessions.find(ids[i]), std::runtime_error);
        } else {
            EXPECT_EQ(sessions.find(ids[i])->id, ids[i]);
        }
    }
}

TEST(SessionsTest, ConcurrentOpenUseClose)
{
    Sessions sessions;
    constexpr int THREADS = 8;
    constexpr int PER_THREAD = 500;
    std::vector<std::vector<std::string>> seen(THREADS);
    std::vector<std::thread> threads;
    for (int t = 0; t < THREADS; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < PER_THREAD; ++i) {
                const std::string id = sessions.open(i % 2 == 0);
                auto session = sessions.find(id);
                session->kalvaMode = !session->kalvaMode;
                session->provider->forgetKeyStore();
                sessions.close(id);
                seen[t].push_back(id);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::set<std::string> unique;
    for (const auto& ids : seen) {
        unique.insert(ids.begin(), ids.end());
    }
    EXPECT_EQ(unique.size(), static_cast<std::size_t>(THREADS * PER_THREAD));
    EXPECT_EQ(sessions.size(), 0u);
}

} // namespace
