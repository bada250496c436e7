// A read-only document of known size that hands out its bytes in pieces, so
// a large document is digested and put into a message without a native copy
// of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>

#include "asn1/bytes.h"

class ContentSource
{
  public:
    // Fills `into` with the bytes at `offset`; the range always lies within
    // the size. May throw: the error reaches the caller of the operation.
    using Reader = std::function<void(std::size_t offset, std::span<std::uint8_t> into)>;

    // Largest piece handed to forEachPiece.
    static constexpr std::size_t PIECE_SIZE = std::size_t{1} << 20;

    ContentSource(std::size_t size, Reader reader);
    ContentSource(const ContentSource&) = delete;
    ContentSource& operator=(const ContentSource&) = delete;

    std::size_t size() const noexcept { return m_size; }

    // The bytes at `offset`; std::out_of_range when the range passes the end.
    void read(std::size_t offset, std::span<std::uint8_t> into) const;

    // Hands the whole content to `use` in order, in pieces of at most
    // PIECE_SIZE held in one reused buffer (nothing for an empty content).
    void forEachPiece(const std::function<void(const bytes& piece)>& use) const;

    // Whether the content equals `other`, read piece by piece.
    bool equals(const bytes& other) const;

    // The whole content as one block (for a digest or a small value).
    bytes materialise() const;

  private:
    std::size_t m_size;
    Reader m_reader;
};

// The content of `original` read at most once, byte by byte, into a buffer
// that keeps `headroom` free bytes before it; every read through source()
// is served from that buffer. What a digest read is then exactly what the
// message gets, even when the original changes meanwhile (a live Java array).
class ContentCapture
{
  public:
    ContentCapture(const ContentSource& original, std::size_t headroom);
    ContentCapture(const ContentCapture&) = delete;
    ContentCapture& operator=(const ContentCapture&) = delete;

    const ContentSource& source() const noexcept { return m_source; }
    std::size_t headroom() const noexcept { return m_headroom; }
    // The buffer: the headroom, then the whole content (what no read reached
    // yet is read now). The caller may build the message in it.
    bytes& buffer();

  private:
    // Reads the original up to `end` (an offset in the content).
    void fill(std::size_t end);

    const ContentSource& m_original;
    std::size_t m_headroom;
    bytes m_buffer;
    std::size_t m_filled = 0;
    ContentSource m_source;
};
