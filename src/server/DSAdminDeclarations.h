#pragma once

// What the administrative classes' method tables (DSAdmin.cpp and the
// channel methods in DBXServerComponent.cpp) declare alike: the unit they
// belong to, the declared type names as the listings show them, and the
// parameter declarations of each direction. Internal to the server library.

#include "server/DSReflect.h"

namespace kds::AdminDeclarations {

inline constexpr const char16_t* AdminUnit = u"DSCommonServer";

inline constexpr const char16_t* String = u"string";
inline constexpr const char16_t* Boolean = u"Boolean";
inline constexpr const char16_t* Integer = u"Integer";
inline constexpr const char16_t* Reader = u"TDBXReader";
inline constexpr const char16_t* Json = u"TJSONValue";
inline constexpr const char16_t* JsonArray = u"TJSONArray";
inline constexpr const char16_t* JsonObject = u"TJSONObject";
inline constexpr const char16_t* Callback = u"TDBXCallback";
inline constexpr const char16_t* Connection = u"TDBXConnection";
inline constexpr const char16_t* Object = u"TObject";

inline TDSParameterDecl In(const char16_t* Name, const char16_t* Type) {
    return {Name, Type, TDSParamFlag::In};
}
inline TDSParameterDecl Out(const char16_t* Name, const char16_t* Type) {
    return {Name, Type, TDSParamFlag::Out};
}

} // namespace kds::AdminDeclarations
