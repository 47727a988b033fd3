#pragma once

// The program's own server methods, published by DSServerClass1 with life
// cycle "Session": one instance per client connection, made at its first
// call and freed with the connection.
//
//   TServerMethods1.EchoString(Value: string): string     Value unchanged
//   TServerMethods1.ReverseString(Value: string): string  UTF-16 code units
//                                                         in reverse order (a
//                                                         surrogate pair comes
//                                                         out swapped)
//
// Threads: an instance is used by its connection's thread only.

#include <string>

#include "data/DBXCallback.h"

namespace kds {

class TDSClass;

class TServerMethods1 : public TObject {
public:
    static const TDSClass& ClassInfo();

    std::u16string EchoString(const std::u16string& Value) const { return Value; }
    std::u16string ReverseString(const std::u16string& Value) const {
        return std::u16string(Value.rbegin(), Value.rend());
    }
};

} // namespace kds
