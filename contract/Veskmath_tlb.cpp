// The tables of the VeskMath type library.
#include "contract/Veskmath_tlb.h"

#include "contract/VeskMathTypes.h"

namespace veskmath::server {

namespace {

using win::PARAMFLAG_FIN;
using win::PARAMFLAG_FOUT;
using win::PARAMFLAG_FRETVAL;
using win::TInvokeKind;

constexpr win::TParamDesc kValueOut[] = {
    {"Value", win::VT_BSTR, PARAMFLAG_FOUT | PARAMFLAG_FRETVAL}};
constexpr win::TParamDesc kValueIn[] = {{"", win::VT_BSTR, PARAMFLAG_FIN}};
constexpr win::TParamDesc kStartParams[] = {{"hWnd", win::VT_I4, PARAMFLAG_FIN}};

// Slots in interface order, after the seven of the dispatch interface.
constexpr win::TFuncDesc kFuncs[] = {
    {"VeskYomi", DISPID_VeskYomi, TInvokeKind::PropertyGet, kValueOut, ""},
    {"VeskYomi", DISPID_VeskYomi, TInvokeKind::PropertyPut, kValueIn, ""},
    {"VeskHyoki", DISPID_VeskHyoki, TInvokeKind::PropertyGet, kValueOut, ""},
    {"VeskHyoki", DISPID_VeskHyoki, TInvokeKind::PropertyPut, kValueIn, ""},
    {"VeskStart", DISPID_VeskStart, TInvokeKind::Method, kStartParams, ""},
    {"VeskResult", DISPID_VeskResult, TInvokeKind::PropertyGet, kValueOut, ""},
};

}  // namespace

constinit const win::TInterfaceDesc kIFuVeskMathDesc{
    IID_IFuVeskMath, "IFuVeskMath", true, "FuVeskDate オブジェクト のディスパッチ インターフェース",
    kFuncs};

namespace {

constexpr const win::TInterfaceDesc* kInterfaces[] = {&kIFuVeskMathDesc};
constexpr win::TCoClassDesc kCoClasses[] = {
    {CLSID_FuVeskMath, "FuVeskMath", "FuVesk Math Parser オブジェクト", &kIFuVeskMathDesc}};

}  // namespace

const win::TCoClassDesc& kFuVeskMathDesc = kCoClasses[0];

constinit const win::TTypeLibDesc kVeskMathLibrary{
    LIBID_VeskMath,  "VeskMath",         kVeskMathMajorVersion, kVeskMathMinorVersion,
    kVeskMathLocale, "Vesk Math Parser", kInterfaces,           kCoClasses};

}  // namespace veskmath::server
