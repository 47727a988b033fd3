#pragma once

// Reading what the server sends for a table, the way a terminal does: the
// data objects of row batches ({"data":[count,rows]}, {"data":[0]}) and the
// rows inside them (the row field encoding of data/TDBXRowBuffer.h).
//
//   size_t At = test::Find(Reply, "]}]}") + 4;          // after the result
//   test::TBatch First = test::ReadBatch(Reply, At);   // At moves past it
//   test::TDecodedRows Rows = test::DecodeRows(First.Rows, "TTTT");
//
// The helpers fail the running test (and answer empty) on bytes that are not
// what they expect. Used by one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/MemoryChannel.h"

namespace kds::test {

// The offset of Needle in Bytes from From on, or npos.
size_t Find(const TBytes& Bytes, std::string_view Needle, size_t From = 0);

struct TBatch {
    int32_t Count = 0;
    TBytes Rows;
};
// The data object at At (a count padded with blanks is read too); At moves
// past its closing brace.
TBatch ReadBatch(const TBytes& Bytes, size_t& At);

// Rows of text, integer and Boolean fields (what the listings carry), one
// kind letter per column in Kinds ('T' text, 'I' integer, 'B' Boolean), each
// field as text: "null", the text, the number, "true"/"false"; RowBytes is
// each row's encoded length.
struct TDecodedRows {
    std::vector<std::vector<std::string>> Rows;
    std::vector<int32_t> RowBytes;
};
TDecodedRows DecodeRows(const TBytes& Rows, std::string_view Kinds);

// The bytes of one text field as the row encoding writes it (ASCII text).
TBytes TextField(std::string_view Text);

} // namespace kds::test
