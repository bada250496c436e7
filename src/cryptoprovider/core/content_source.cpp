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

ContentCapture::ContentCapture(const ContentSource& original, std::size_t headroom)
    : m_original(original), m_headroom(headroom), m_buffer(headroom + original.size()),
      m_source(original.size(), [this](std::size_t offset, std::span<std::uint8_t> into) {
          fill(offset + into.size());
          const auto from = m_buffer.begin() + static_cast<std::ptrdiff_t>(m_headroom + offset);
          std::copy(from, from + static_cast<std::ptrdiff_t>(into.size()), into.begin());
      })
{
}

bytes& ContentCapture::buffer()
{
    fill(m_original.size());
    return m_buffer;
}

void ContentCapture::fill(std::size_t end)
{
    if (end > m_filled) {
        m_original.read(m_filled,
                        std::span<std::uint8_t>(m_buffer.data() + m_headroom + m_filled, end - m_filled));
        m_filled = end;
    }
}
