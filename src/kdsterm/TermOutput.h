#pragma once

// How kdsterm shows what the server answered, and how it turns its command
// line arguments into parameter values.
//
// Values (ValueText): null as "null"; a JSON value as its JSON text; a
// Boolean as true/false; a callback as "callback"; bytes as hex pairs; every
// other value as its text form. Text is printed as UTF-8.
//
// Tables (PrintTable): a header line of column names, then one line per
// row, every batch fetched; columns are left-aligned to their widest cell
// (counted in characters) and two blanks apart; line feeds and tabs inside a
// cell are shown as \n and \t so that a row stays one line.
//
// Arguments (SetArgument): by the parameter's data type: text as it is
// (UTF-8), integers in decimal within their type's range, true/false,
// floating-point numbers, and JSON text for a JSON parameter.
// TDSArgumentError for anything else (a value that does not parse, or a
// type kdsterm cannot send).
//
// Threads: the caller's.

#include <ostream>
#include <stdexcept>
#include <string>

namespace kds {

class TDBXParameter;
class TDBXReader;
class TDBXValue;

class TDSArgumentError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string ValueText(TDBXValue& Value);
// Walks Reader to its end; answers the number of rows.
int64_t PrintTable(TDBXReader& Reader, std::ostream& Out);
void SetArgument(TDBXParameter& Parameter, const std::string& Text);

} // namespace kds
