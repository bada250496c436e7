// A content handed out in pieces: ranges, piece sizes and comparison.
#include "cryptoprovider/core/content_source.h"

#include <gtest/gtest.h>

#include <limits>
#include <stdexcept>

namespace
{

ContentSource counting(std::size_t size)
{
    return ContentSource(size, [](std::size_t offset, std::span<std::uint8_t> into) {
        for (std::size_t i = 0; i < into.size(); ++i) {
            into[i] = static_cast<std::uint8_t>((offset + i) % 251);
        }
    });
}

TEST(ContentSource, PiecesCoverTheContentInOrder)
{
    constexpr std::size_t piece = ContentSource::PIECE_SIZE;
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, piece, piece + 1, 3 * piece - 1}) {
        SCOPED_TRACE(size);
        const ContentSource source = counting(size);
        const bytes whole = source.materialise();
        ASSERT_EQ(whole.size(), size);
        bytes joined;
        std::size_t pieces = 0;
        source.forEachPiece([&](const bytes& part) {
            EXPECT_LE(part.size(), piece);
            EXPECT_FALSE(part.empty());
            joined.insert(joined.end(), part.begin(), part.end());
            ++pieces;
        });
        EXPECT_EQ(pieces, (size + piece - 1) / piece);
        EXPECT_EQ(joined, whole);
        for (std::size_t i = 0; i < size; i += 4093) {
            ASSERT_EQ(whole[i], i % 251);
        }
        EXPECT_TRUE(source.equals(whole));
        if (size > 0) {
            bytes other = whole;
            other.back() ^= 1; // in the last piece
            EXPECT_FALSE(source.equals(other));
        }
        bytes longer = whole;
        longer.push_back(0);
        EXPECT_FALSE(source.equals(longer));
    }
}

TEST(ContentSource, ReadsPastTheEndRefused)
{
    const ContentSource source = counting(10);
    bytes into(4);
    EXPECT_NO_THROW(source.read(6, into));
    EXPECT_EQ(into, (bytes{6, 7, 8, 9}));
    EXPECT_NO_THROW(source.read(10, std::span<std::uint8_t>()));
    EXPECT_THROW(source.read(7, into), std::out_of_range);
    EXPECT_THROW(source.read(11, std::span<std::uint8_t>()), std::out_of_range);
    // An offset near the top of the range must not wrap around.
    EXPECT_THROW(source.read(std::numeric_limits<std::size_t>::max() - 1, into), std::out_of_range);
}

TEST(ContentSource, ReaderErrorReachesTheCaller)
{
    const ContentSource source(
        5, [](std::size_t, std::span<std::uint8_t>) { throw std::runtime_error("gone"); });
    EXPECT_THROW(source.materialise(), std::runtime_error);
    EXPECT_THROW(source.forEachPiece([](const bytes&) {}), std::runtime_error);
}

} // namespace
