#pragma once

// A name-to-value list of texts: the properties a peer sends with "connect",
// and the properties of a channel. Names are matched with ASCII case folding
// (so "dsauthenticationuser" finds "DSAuthenticationUser"); setting a name
// that is already there replaces its value in place, so the list keeps the
// order in which names first came. Not thread-safe: a list belongs to the
// connection thread that filled it; copies are independent.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kds {

class TDBXProperties {
public:
    TDBXProperties() = default;

    int32_t Count() const { return static_cast<int32_t>(FPairs.size()); }
    // Adds the pair, or replaces the value of a name already there.
    void SetValue(const std::u16string& Name, const std::u16string& Value);
    // The value of the name, or empty text when it is not there.
    const std::u16string& GetValue(const std::u16string& Name) const;
    bool HasName(const std::u16string& Name) const;
    // Pairs by position, 0..Count-1 (no range check beyond the vector's).
    const std::u16string& Name(int32_t Index) const { return FPairs.at(Index).first; }
    const std::u16string& Value(int32_t Index) const { return FPairs.at(Index).second; }
    void Clear() { FPairs.clear(); }

private:
    int32_t IndexOf(const std::u16string& Name) const;

    std::vector<std::pair<std::u16string, std::u16string>> FPairs;
};

} // namespace kds
