#pragma once

// Bounds on every size a peer controls. The protocol itself takes counts and
// lengths as they come; these limits stand between a peer's number and any
// allocation or loop that depends on it. Each is checked before memory is
// reserved, so a hostile peer costs at most the bound, never what it claims.
//
//   what the peer sends                     bound                 beyond the bound
//   --------------------------------------  --------------------  ---------------------------------
//   a string token (method, key, command     MaxTokenUnits         TDBXError 2 on the parse-error
//   text, property name or value)            code units            path (read buffer discarded)
//   the text of one number                   MaxNumberBytes        TDBXError 2 "Unexpected byte"
//   a byte-block count ("data", callback     MaxBlockBytes in      TDBXError 2; a negative count is
//   answer, table batch, peer blob chunk)    absolute value        an error where it cannot mean
//                                                                  "last chunk"
//   a long value the server assembles        MaxLongValueBytes     TDBXError 30
//   from a peer (more_blob, 0x08 size)
//   "parameters" count (prepare, execute)    MaxParameters         TDBXError 2
//   connect properties                       MaxConnectProperties  TDBXError 2
//   nesting while skipping objects/arrays    MaxSkipDepth          TDBXError 2
//   columns of a table a peer sends          MaxTableColumns       TDBXError 2
//   (all tables of one request together)     (and MaxBlockBytes of
//                                            first batches)
//   open commands on one connection          MaxOpenCommands       TDBXError 30 "Too many open
//                                                                  commands"
//   connections (and so threads)             MaxConnections        accepted, then closed at once
//
// The numbers are compile-time constants shared by every layer; the
// connection cap is the default of a setting the transport may change.

#include <cstdint>

namespace kds::WireLimits {

// 1 Mi UTF-16 code units: 2 MiB of text, far above any name or command.
inline constexpr int32_t MaxTokenUnits = 1 << 20;
// Long enough for every 64-bit value with its sign, short enough that a run
// of digits cannot grow a buffer.
inline constexpr int32_t MaxNumberBytes = 32;
// 16 MiB for one byte block.
inline constexpr int32_t MaxBlockBytes = 16 * 1024 * 1024;
// 64 MiB for one long value put together from a peer's chunks.
inline constexpr int64_t MaxLongValueBytes = int64_t(64) * 1024 * 1024;
inline constexpr int32_t MaxParameters = 4096;
inline constexpr int32_t MaxConnectProperties = 256;
// The same depth the JSON parser accepts.
inline constexpr int32_t MaxSkipDepth = 512;
inline constexpr int32_t MaxTableColumns = 4096;
inline constexpr int32_t MaxOpenCommands = 4096;
inline constexpr int32_t MaxConnections = 4096;

// Buffer sizes of one connection's reader and writer: the transport's
// kilobyte setting times 1024 (32 here); 0 at Open means DefaultOpenBufferSize.
inline constexpr int32_t DefaultBufferSize = 32768;
inline constexpr int32_t DefaultOpenBufferSize = 8192;
// What the writer keeps back from a row-buffer chunk for the enclosing objects.
inline constexpr int32_t RowBufferReserve = 2048;

} // namespace kds::WireLimits
