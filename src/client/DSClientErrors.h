#pragma once

// What the client library raises.
//
//   TDSRemoteError      the server answered with an error reply: its code,
//                       its message ("Remote error: ...") and its class name;
//                       the connection goes on
//   TDSConnectionError  the server cannot be reached, the connection ended,
//                       or a reply did not come within the reply time limit
//   TDSProtocolError    the server's bytes do not read as the reply expected;
//                       the connection cannot be used any more
//
// A value that cannot be encoded or decoded raises the data layer's
// TDBXError as it comes.

#include <cstdint>
#include <stdexcept>
#include <string>

#include "base/DBXError.h"

namespace kds {

class TDSClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TDSConnectionError : public TDSClientError {
public:
    using TDSClientError::TDSClientError;
};

class TDSProtocolError : public TDSClientError {
public:
    using TDSClientError::TDSClientError;
};

class TDSRemoteError : public TDBXError {
public:
    TDSRemoteError(int32_t Code, const std::string& Message, std::string ClassName)
        : TDBXError(Code, Message), FClassName(std::move(ClassName)) {}

    const std::string& ClassName() const { return FClassName; }

private:
    std::string FClassName;
};

} // namespace kds
