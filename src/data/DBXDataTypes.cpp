#include "data/DBXDataTypes.h"

namespace kds {

std::string DataTypeName(int32_t DataType) {
    const char* Name = nullptr;
    switch (DataType) {
    case 0:
        Name = "UNKNOWN";
        break;
    case 1:
        Name = "ZSTRING";
        break;
    case 2:
        Name = "DATE";
        break;
    case 3:
        Name = "BLOB";
        break;
    case 4:
        Name = "BOOL";
        break;
    case 5:
        Name = "INT16";
        break;
    case 6:
        Name = "INT32";
        break;
    case 7:
        Name = "DOUBLE";
        break;
    case 8:
        Name = "BCD";
        break;
    case 9:
        Name = "BYTES";
        break;
    case 10:
        Name = "TIME";
        break;
    case 11:
        Name = "DATETIME";
        break;
    case 12:
        Name = "UINT16";
        break;
    case 13:
        Name = "UINT32";
        break;
    case 15:
        Name = "VARBYTES";
        break;
    case 17:
        Name = "CURSOR";
        break;
    case 18:
        Name = "INT64";
        break;
    case 19:
        Name = "UINT64";
        break;
    case 20:
        Name = "ADT";
        break;
    case 21:
        Name = "ARRAY_TYPE";
        break;
    case 22:
        Name = "REF";
        break;
    case 23:
        Name = "TABLE";
        break;
    case 24:
        Name = "TIMESTAMP";
        break;
    case 25:
        Name = "Currency";
        break;
    case 26:
        Name = "WideString";
        break;
    case 27:
        Name = "SINGLE";
        break;
    case 28:
        Name = "INT8";
        break;
    case 29:
        Name = "UINT8";
        break;
    case 35:
        Name = "Variant";
        break;
    case 36:
        Name = "TIMESTAMPOFFSET";
        break;
    case 37:
        Name = "JSON";
        break;
    default:
        break;
    }
    if (Name != nullptr)
        return std::string("TDBXTypes.") + Name;
    return "TDBXTypes.UNKNOWN(" + std::to_string(DataType) + ")";
}

} // namespace kds
