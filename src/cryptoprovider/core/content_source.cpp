#include "cryptoprovider/core/content_source.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

ContentSource::ContentSource(std::size_t size, Reader reader) : m_size(size), m_reader(std::move(reader)) {}

void ContentSource::read(std::size_t offset, std::span<std::uint8_t> into) const
{
    if (offset > m_size || into.size() > m_size - offset) {
        throw std::out_of_range("read past the end of the content");
    }
    if (!into.empty()) {
        m_reader(offset, into);
    }
}

void ContentSource::forEachPiece(const std::function<void(const bytes& piece)>& use) const
{
    bytes piece;
    for (std::size_t offset = 0; offset < m_size; offset += piece.size()) {
        piece.resize(std::min(PIECE_SIZE, m_size - offset));
        read(offset, piece);
        use(piece);
    }
}

bool ContentSource::equals(const bytes& other) const
{
    if (other.size() != m_size) {
        return false;
    }
    bool same = true;
    std::size_t offset = 0;
    forEachPiece([&](const bytes& piece) {
        same = same &&
               std::equal(piece.begin(), piece.end(), other.begin() + static_cast<std::ptrdiff_t>(offset));
        offset += piece.size();
    });
    return same;
}

bytes ContentSource::materialise() const
{
    bytes whole(m_size);
    read(0, whole);
    return whole;
}
