#include "server/KDSServerMethodsUnit.h"

#include "server/DSMethodValues.h"
#include "server/DSReflect.h"

namespace kds {

const TDSClass& TServerMethods1::ClassInfo() {
    static const TDSClass Class(
        u"TServerMethods1", u"KDSServerMethodsUnit", nullptr,
        [] { return std::unique_ptr<TObject>(new TServerMethods1()); },
        {
            {u"EchoString",
             {{u"Value", u"string"}},
             u"string",
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetText(DSSelf<TServerMethods1>(Self).EchoString(V.Arg(0).Text()));
             }},
            {u"ReverseString",
             {{u"Value", u"string"}},
             u"string",
             [](TObject& Self, TDSMethodValues& V) {
                 V.Result().SetText(DSSelf<TServerMethods1>(Self).ReverseString(V.Arg(0).Text()));
             }},
        });
    return Class;
}

} // namespace kds
