#include "base/DBXError.h"

namespace kds {

std::string ErrorCodeText(int32_t ErrorCode) {
    switch (ErrorCode) {
    case 0:
        return "None";
    case 1:
        return "Warning";
    case 2:
        return "Insufficient memory to complete the operation";
    case 3:
        return "Unsupported field type";
    case 4:
        return "Unexpected internal error. DBX Object such as a connection, command, or reader "
               "may already be closed.";
    case 5:
        return "Not supported";
    case 6:
        return "Invalid time";
    case 7:
        return "Invalid type";
    case 8:
        return "Invalid ordinal";
    case 9:
        return "Invalid parameter";
    case 10:
        return "No more rows";
    case 11:
        return "Parameter not set";
    case 12:
        return "Invalid username or password";
    case 13:
        return "Invalid precision";
    case 14:
        return "Invalid length";
    case 15:
        return "Invalid isolation level";
    case 16:
        return "Invalid transaction id";
    case 17:
        return "Duplicate transaction id";
    case 18:
        return "Driver restricted";
    case 19:
        return "Transaction active";
    case 20:
        return "Multiple transaction not enabled";
    case 21:
        return "Connection failed";
    case 22:
        return "Driver could not be properly initialized.  Client library may be missing, not "
               "installed properly, of the wrong version, or the driver may be missing from the "
               "system path.";
    case 23:
        return "Optimistic lock failed";
    case 24:
        return "Invalid reference";
    case 25:
        return "No table";
    case 26:
        return "Missing parameter marker";
    case 27:
        return "Not implemented";
    case 28:
        return "Driver incompatible";
    case 29:
        return "Invalid argument";
    case 31:
        return "Unrecognized command type.";
    case 33:
        return "Schema or user name separated by a '.' must be specified.";
    case 34:
        return "Database must be specified.";
    case 35:
        return "LibraryName must be specified.";
    case 36:
        return "GetDriverFunc must be specified.";
    case 37:
        return "VendorLib must be specified";
    case 100:
        return "No data";
    case 101:
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
