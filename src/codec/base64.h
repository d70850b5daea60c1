// Base64 (RFC 2045) without line breaks, decoding one line at a time.
#pragma once

#include <cstddef>

namespace zel {

// Characters base64Encode writes for `length` bytes (the NUL not counted).
constexpr std::size_t base64EncodedSize(std::size_t length) { return (length + 2) / 3 * 4; }

// Bytes base64DecodeLine may write for `length` characters.
constexpr std::size_t base64DecodedBound(std::size_t length) { return (length + 3) / 4 * 3; }

// base64Encode: encodes `length` bytes of `data` into `text`.
//   text  at least base64EncodedSize(length) + 1 bytes
// Returns the number of characters written; a NUL follows them.
std::size_t base64Encode(const void* data, std::size_t length, char* text);

// base64DecodeLine: decodes one line of `length` characters (no line end).
//   Groups of four characters give three bytes each; a character outside the
//   alphabet (the "=" pad included) counts as "A"; a last partial group is
//   completed with "A". A final "=" and a "=" before it each drop one byte
//   (only when `length` >= 4).
//   data  at least base64DecodedBound(length) bytes
// Returns the number of bytes written.
std::size_t base64DecodeLine(const char* text, std::size_t length, void* data);

// base64DecodeGroups: decodes leading groups of a line read in pieces:
// three bytes per group of four characters, no pad handling. Decoding all
// but the last four to seven characters of a line of four or more this way
// and those with base64DecodeLine gives the bytes of base64DecodeLine over
// the whole line.
//   length  a multiple of 4
//   data    at least length / 4 * 3 bytes
// Returns the number of bytes written (length / 4 * 3).
std::size_t base64DecodeGroups(const char* text, std::size_t length, void* data);

}  // namespace zel
