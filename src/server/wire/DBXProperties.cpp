#include "server/wire/DBXProperties.h"

#include "base/AsciiText.h"

namespace kds {

int32_t TDBXProperties::IndexOf(const std::u16string& Name) const {
    for (size_t I = 0; I < FPairs.size(); ++I)
        if (SameTextAscii(std::u16string_view(FPairs[I].first), std::u16string_view(Name)))
            return static_cast<int32_t>(I);
    return -1;
}

void TDBXProperties::SetValue(const std::u16string& Name, const std::u16string& Value) {
    const int32_t At = IndexOf(Name);
    if (At >= 0)
        FPairs[static_cast<size_t>(At)].second = Value;
    else
        FPairs.emplace_back(Name, Value);
}

const std::u16string& TDBXProperties::GetValue(const std::u16string& Name) const {
    static const std::u16string Empty;
    const int32_t At = IndexOf(Name);
    return At >= 0 ? FPairs[static_cast<size_t>(At)].second : Empty;
}

bool TDBXProperties::HasName(const std::u16string& Name) const {
    return IndexOf(Name) >= 0;
}

} // namespace kds
