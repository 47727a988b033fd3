#pragma once

// Text conversions of dates, times, timestamps and decimals used by the "As"
// accessors and the text forms of typed values. The default formatter uses
// fixed ISO-like forms that do not depend on the locale, except that decimal
// text uses the process-wide decimal separator:
//   date              YYYY-MM-DD
//   time              HH:MM:SS.mmm   (".mmm" optional when parsing)
//   timestamp         YYYY-MM-DD HH:MM:SS.mmm
//   timestamp+offset  YYYY-MM-DD HH:MM:SS.mmm +HH:MM  (or -HH:MM)
// Parsing failures raise EConvertError ("'<text>' is not a valid date" and so
// on). Stateless; any thread.

#include <string>

#include "data/SQLTimeStamp.h"
#include "data/TBcd.h"

namespace kds {

class TDBXFormatter {
public:
    virtual ~TDBXFormatter() = default;

    // The formatter used when a context has none.
    static TDBXFormatter& Default();

    virtual std::string DateToString(TDBXDate Value) const;
    virtual TDBXDate StringToDate(const std::string& Text) const;
    virtual std::string TimeToString(TDBXTime Value) const;
    virtual TDBXTime StringToTime(const std::string& Text) const;
    virtual std::string TimeStampToString(const TSQLTimeStamp& Value) const;
    virtual TSQLTimeStamp StringToTimeStamp(const std::string& Text) const;
    virtual std::string TimeStampOffsetToString(const TSQLTimeStampOffset& Value) const;
    virtual TSQLTimeStampOffset StringToTimeStampOffset(const std::string& Text) const;
    // With the process-wide decimal separator.
    virtual std::string BcdToString(const TBcd& Value) const;
    virtual TBcd StringToBcd(const std::string& Text) const;
};

} // namespace kds
