#pragma once
// The shell's one-byte URL hash: a Pearson hash over the text's UTF-16 code units (low byte,
// then high byte), with a fixed permutation table of this system's own. Mail shortcut buckets
// are named by it, so it must never change once shortcuts exist.
#include <cstdint>
#include <string_view>

namespace qv::mail::addin {

std::uint8_t UrlHashByte(std::string_view utf8);

}  // namespace qv::mail::addin
