#pragma once
// When the add-on keeps its own copy of a page: the page forbids caching or varies by
// request. And the content hash that names a kept copy.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace qv::browser {

// True when, in the raw headers (lines "Name: value", CR LF or LF ended, a status line
// first), the response or request Cache-Control holds "no-cache" or "no-store", Pragma holds
// "no-cache", or either side has a Vary header. Names are compared whole and without case,
// so "X-Cache-Control" is not Cache-Control.
bool PageForbidsCaching(std::string_view requestHeaders, std::string_view responseHeaders);

// The content hash carried on from `hash` over `bytes`: for each byte b,
// h = h XOR ((h * 32) + (h / 4) + b), unsigned 32-bit; a page starts from 0.
std::uint32_t ContinueContentHash(std::uint32_t hash, std::span<const std::uint8_t> bytes);

// The filter's buffer for a first read of `requested` bytes.
std::size_t ReadBufferSize(std::size_t requested);

}  // namespace qv::browser
