#pragma once

#include "base/NumberFormat.h"

namespace kds::test {

// Sets the process-wide decimal separator for the life of the object and puts
// the previous one back when it goes, also when the test fails or throws.
class TDecimalSeparatorScope {
public:
    explicit TDecimalSeparatorScope(char16_t Separator)
        : FSaved(TNumberFormat::DecimalSeparator()) {
        TNumberFormat::SetDecimalSeparator(Separator);
    }
    ~TDecimalSeparatorScope() { TNumberFormat::SetDecimalSeparator(FSaved); }
    TDecimalSeparatorScope(const TDecimalSeparatorScope&) = delete;
    TDecimalSeparatorScope& operator=(const TDecimalSeparatorScope&) = delete;

private:
    char16_t FSaved;
};

} // namespace kds::test
