#pragma once

// A pointer to an object that its holder may or may not own: a caller either
// hands the object over (Owns true: the holder frees it when it is replaced,
// cleared or destroyed) or only lends it (Owns false: the holder never frees
// it). Move-only. Not thread-safe: it belongs to whoever holds it.

#include <utility>

namespace kds {

template <typename T> class TMaybeOwned {
public:
    TMaybeOwned() = default;
    TMaybeOwned(T* Ptr, bool Owns) : FPtr(Ptr), FOwns(Owns) {}
    TMaybeOwned(const TMaybeOwned&) = delete;
    TMaybeOwned& operator=(const TMaybeOwned&) = delete;
    TMaybeOwned(TMaybeOwned&& Other) noexcept
        : FPtr(std::exchange(Other.FPtr, nullptr)), FOwns(std::exchange(Other.FOwns, false)) {}
    TMaybeOwned& operator=(TMaybeOwned&& Other) noexcept {
        if (this != &Other) {
            Reset(Other.FPtr, Other.FOwns);
            Other.FPtr = nullptr;
            Other.FOwns = false;
        }
        return *this;
    }
    ~TMaybeOwned() { Reset(); }

    // Holds Ptr from now on. The object held so far is freed when it was
    // owned and is not Ptr itself (setting the same object again only
    // changes whether it is owned).
    void Reset(T* Ptr = nullptr, bool Owns = false) {
        static_assert(sizeof(T) > 0, "the object's type must be complete where it may be freed");
        T* Old = FOwns && FPtr != Ptr ? FPtr : nullptr;
        FPtr = Ptr;
        FOwns = Owns;
        delete Old;
    }
    // Whether the holder frees the object; the object itself stays held.
    void SetOwns(bool Owns) { FOwns = Owns; }

    T* Get() const { return FPtr; }
    bool Owns() const { return FOwns; }
    T* operator->() const { return FPtr; }
    T& operator*() const { return *FPtr; }
    explicit operator bool() const { return FPtr != nullptr; }

private:
    T* FPtr = nullptr;
    bool FOwns = false;
};

} // namespace kds
