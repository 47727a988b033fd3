#pragma once

#include <stdexcept>
#include <string>

namespace kds {

// The error of the XML document object model: raised by every DOM operation
// that fails (a parse error, a node that cannot take a value, a removal of a
// node that is not a child, a refused element name, a file that cannot be read
// or written). The message is the whole report; there is no code.
class EXmlDomError : public std::runtime_error {
public:
    explicit EXmlDomError(const std::string& Message) : std::runtime_error(Message) {}
};

// The error of a text that should be an integer and is not, as in a path index
// ("item[x]"). Its message is "''x'' is not a valid integer value": the text
// between doubled single quotes.
class EConvertError : public std::runtime_error {
public:
    explicit EConvertError(const std::string& Message) : std::runtime_error(Message) {}
};

// Reads Text as a 32-bit integer the way the path indexes are written: an
// optional sign and decimal digits, or a hexadecimal number written "$1F" or
// "0x1F". Anything else, or a value out of range, raises EConvertError with
// the message above.
int StrToInt(const std::string& Text);

} // namespace kds
