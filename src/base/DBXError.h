#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace kds {

// Error codes of the remote method server. Codes that the table below names
// have a text of their own; every other code reads "Error Code:  <n>".
namespace TDBXErrorCodes {
inline constexpr int32_t None = 0;
inline constexpr int32_t Warning = 1;
inline constexpr int32_t NoMemory = 2;
inline constexpr int32_t UnsupportedFieldType = 3;
inline constexpr int32_t InvalidHandle = 4;
inline constexpr int32_t NotSupported = 5;
inline constexpr int32_t InvalidTime = 6;
inline constexpr int32_t InvalidType = 7;
inline constexpr int32_t InvalidOrdinal = 8;
inline constexpr int32_t InvalidParameter = 9;
inline constexpr int32_t EOF_ = 10;
inline constexpr int32_t ParameterNotSet = 11;
inline constexpr int32_t InvalidUserOrPassword = 12;
inline constexpr int32_t InvalidPrecision = 13;
inline constexpr int32_t InvalidLength = 14;
inline constexpr int32_t InvalidIsolationLevel = 15;
inline constexpr int32_t InvalidTransactionId = 16;
inline constexpr int32_t DuplicateTransactionId = 17;
inline constexpr int32_t DriverRestricted = 18;
inline constexpr int32_t TransactionActive = 19;
inline constexpr int32_t MultipleTransactionNotEnabled = 20;
inline constexpr int32_t ConnectionFailed = 21;
inline constexpr int32_t DriverInitFailed = 22;
inline constexpr int32_t OptimisticLockFailed = 23;
inline constexpr int32_t InvalidReference = 24;
inline constexpr int32_t NoTable = 25;
inline constexpr int32_t MissingParameterMarker = 26;
inline constexpr int32_t NotImplemented = 27;
inline constexpr int32_t DriverIncompatible = 28;
inline constexpr int32_t InvalidArgument = 29;
// 30 has no text of its own; it reports a failure while rows are streamed.
inline constexpr int32_t StreamingFailed = 30;
inline constexpr int32_t UnrecognizedCommandType = 31;
inline constexpr int32_t SchemaNameUnspecified = 33;
inline constexpr int32_t DatabaseUnspecified = 34;
inline constexpr int32_t LibraryNameUnspecified = 35;
inline constexpr int32_t GetDriverFuncUnspecified = 36;
inline constexpr int32_t VendorLibUnspecified = 37;
inline constexpr int32_t NoData = 100;
inline constexpr int32_t VendorError = 101;
} // namespace TDBXErrorCodes

// The text of an error code: the fixed text of a known code, else
// "Error Code:  " and the code in decimal (two blanks after the colon).
std::string ErrorCodeText(int32_t ErrorCode);

// The one exception class of the remote method server. Immutable once made;
// any thread may create, copy and read it.
class TDBXError : public std::exception {
public:
    // An empty ErrorMessage gives "DBX Error:  " followed by the code's text.
    TDBXError(int32_t ErrorCode, const std::string& ErrorMessage);
    // The inner exception is accepted for the caller's convenience and not kept.
    TDBXError(int32_t ErrorCode, const std::string& ErrorMessage, const std::exception& Inner);

    int32_t ErrorCode() const noexcept { return FErrorCode; }
    const std::string& Message() const noexcept { return FErrorMessage; }
    const char* what() const noexcept override { return FErrorMessage.c_str(); }

private:
    int32_t FErrorCode;
    std::string FErrorMessage;
};

} // namespace kds
