#include "base/DBXError.h"

namespace kds {

std::string ErrorCodeText(int32_t ErrorCode) {
    switch (ErrorCode) {
    case TDBXErrorCodes::None:
        return "None";
    case TDBXErrorCodes::Warning:
        return "Warning";
    case TDBXErrorCodes::NoMemory:
        return "Insufficient memory to complete the operation";
    case TDBXErrorCodes::UnsupportedFieldType:
        return "Unsupported field type";
    case TDBXErrorCodes::InvalidHandle:
        return "Unexpected internal error. DBX Object such as a connection, command, or reader "
               "may already be closed.";
    case TDBXErrorCodes::NotSupported:
        return "Not supported";
    case TDBXErrorCodes::InvalidTime:
        return "Invalid time";
    case TDBXErrorCodes::InvalidType:
        return "Invalid type";
    case TDBXErrorCodes::InvalidOrdinal:
        return "Invalid ordinal";
    case TDBXErrorCodes::InvalidParameter:
        return "Invalid parameter";
    case TDBXErrorCodes::EOF_:
        return "No more rows";
    case TDBXErrorCodes::ParameterNotSet:
        return "Parameter not set";
    case TDBXErrorCodes::InvalidUserOrPassword:
        return "Invalid username or password";
    case TDBXErrorCodes::InvalidPrecision:
        return "Invalid precision";
    case TDBXErrorCodes::InvalidLength:
        return "Invalid length";
    case TDBXErrorCodes::InvalidIsolationLevel:
        return "Invalid isolation level";
    case TDBXErrorCodes::InvalidTransactionId:
        return "Invalid transaction id";
    case TDBXErrorCodes::DuplicateTransactionId:
        return "Duplicate transaction id";
    case TDBXErrorCodes::DriverRestricted:
        return "Driver restricted";
    case TDBXErrorCodes::TransactionActive:
        return "Transaction active";
    case TDBXErrorCodes::MultipleTransactionNotEnabled:
        return "Multiple transaction not enabled";
    case TDBXErrorCodes::ConnectionFailed:
        return "Connection failed";
    case TDBXErrorCodes::DriverInitFailed:
        return "Driver could not be properly initialized.  Client library may be missing, not "
               "installed properly, of the wrong version, or the driver may be missing from the "
               "system path.";
    case TDBXErrorCodes::OptimisticLockFailed:
        return "Optimistic lock failed";
    case TDBXErrorCodes::InvalidReference:
        return "Invalid reference";
    case TDBXErrorCodes::NoTable:
        return "No table";
    case TDBXErrorCodes::MissingParameterMarker:
        return "Missing parameter marker";
    case TDBXErrorCodes::NotImplemented:
        return "Not implemented";
    case TDBXErrorCodes::DriverIncompatible:
        return "Driver incompatible";
    case TDBXErrorCodes::InvalidArgument:
        return "Invalid argument";
    case TDBXErrorCodes::UnrecognizedCommandType:
        return "Unrecognized command type.";
    case TDBXErrorCodes::SchemaNameUnspecified:
        return "Schema or user name separated by a '.' must be specified.";
    case TDBXErrorCodes::DatabaseUnspecified:
        return "Database must be specified.";
    case TDBXErrorCodes::LibraryNameUnspecified:
        return "LibraryName must be specified.";
    case TDBXErrorCodes::GetDriverFuncUnspecified:
        return "GetDriverFunc must be specified.";
    case TDBXErrorCodes::VendorLibUnspecified:
        return "VendorLib must be specified";
    case TDBXErrorCodes::NoData:
        return "No data";
    case TDBXErrorCodes::VendorError:
        return "Vendor error";
    default:
        return "Error Code:  " + std::to_string(ErrorCode);
    }
}

static std::string MessageFor(int32_t ErrorCode, const std::string& ErrorMessage) {
    if (!ErrorMessage.empty())
        return ErrorMessage;
    return "DBX Error:  " + ErrorCodeText(ErrorCode);
}

TDBXError::TDBXError(int32_t ErrorCode, const std::string& ErrorMessage)
    : FErrorCode(ErrorCode), FErrorMessage(MessageFor(ErrorCode, ErrorMessage)) {}

TDBXError::TDBXError(int32_t ErrorCode, const std::string& ErrorMessage, const std::exception&)
    : TDBXError(ErrorCode, ErrorMessage) {}

} // namespace kds
