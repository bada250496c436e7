#include "jni/digest_steps.h"

#include <gtest/gtest.h>

#include <memory>

#include "cryptoprovider/core/errors.h"
#include "soft_store.h"

namespace
{

TEST(DigestSteps, RunOnTheEngineInOrder)
{
    const auto engine = std::make_shared<softstore::SoftDigestEngine>();
    const bytes data{'a', 'b', 'c', 'd', 'e'};
    jni::digestInit(engine, GOST_R_3411_2012_256, "");
    jni::digestUpdate(engine, bytes(data.begin(), data.begin() + 2));
    jni::digestUpdate(engine, bytes(data.begin() + 2, data.end()));
    EXPECT_EQ(engine->updates, 2);
    const gostsoft::Bytes expected = gostsoft::streebog(data, 256);
    EXPECT_EQ(jni::digestFinal(engine, Endian::Big), expected);

    jni::digestInit(engine, GOST_R_3411_2012_256, "");
    jni::digestUpdate(engine, data);
    EXPECT_EQ(jni::digestFinal(engine, Endian::Little), gostsoft::Bytes(expected.rbegin(), expected.rend()));
}

TEST(DigestSteps, NoDigestInProgress)
{
    const std::shared_ptr<DigestEngine> none;
    EXPECT_THROW(jni::digestInit(none, GOST_R_3411_2012_256, ""), DigestContextNotInitialized);
    EXPECT_THROW(jni::digestUpdate(none, {1}), DigestContextNotInitialized);
    EXPECT_THROW(jni::digestFinal(none, Endian::Big), DigestContextNotInitialized);
}

} // namespace
