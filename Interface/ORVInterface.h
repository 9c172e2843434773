// ORVInterface.h - the public contract of the ORV plug-in engine.
//
// Hosts and plug-ins include this header (and, for plug-ins, ORVPluginHelpers.h) and nothing else
// of the engine. Every object is reached through a reference-counted interface identified by a
// GUID; the operations of each interface are declared in their fixed vtable slot order.
//
// ABI rule: host, engine and plug-ins must be built with ABI-compatible toolchains sharing one C++
// runtime and one unwinder, because std::string crosses module boundaries and exceptions thrown in
// plug-in code travel through the engine to the host. With mingw-w64 every module links
// -static-libstdc++ -shared-libgcc and libgcc_s_dw2-1.dll ships beside the executable.
#ifndef ORV_INTERFACE_H
#define ORV_INTERFACE_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Calling convention and export macros
// ---------------------------------------------------------------------------------------------
#if defined(_WIN32) && !defined(_WIN64)
#define ORV_CALL __stdcall
#else
#define ORV_CALL
#endif

#if defined(_WIN32)
#define ORV_EXPORT extern "C" __declspec(dllexport)
#define ORV_IMPORT extern "C" __declspec(dllimport)
#define ORV_PUBLIC_CLASS
#else
#define ORV_EXPORT extern "C" __attribute__((visibility("default")))
#define ORV_IMPORT extern "C"
#define ORV_PUBLIC_CLASS __attribute__((visibility("default")))
#endif

// The engine's own exports are declared with ORV_ENGINE_API: exported when the engine itself is
// built (ORV_BUILDING_ENGINE), imported otherwise.
#if defined(ORV_BUILDING_ENGINE)
#define ORV_ENGINE_API ORV_EXPORT
#else
#define ORV_ENGINE_API ORV_IMPORT
#endif

namespace orv {

// ---------------------------------------------------------------------------------------------
// GUIDs and the base interface
// ---------------------------------------------------------------------------------------------

// Interface identifier with the Windows GUID layout on every platform.
struct TGUID {
    uint32_t D1;
    uint16_t D2;
    uint16_t D3;
    uint8_t D4[8];
};
static_assert(sizeof(TGUID) == 16, "TGUID must keep the 16-byte GUID layout");

constexpr bool operator==(const TGUID& A, const TGUID& B) noexcept {
    if (A.D1 != B.D1 || A.D2 != B.D2 || A.D3 != B.D3) return false;
    for (int I = 0; I < 8; ++I)
        if (A.D4[I] != B.D4[I]) return false;
    return true;
}
constexpr bool operator!=(const TGUID& A, const TGUID& B) noexcept { return !(A == B); }

constexpr int32_t S_OK_ = 0;
constexpr int32_t E_NOINTERFACE_ = static_cast<int32_t>(0x80004002u);

// The root of every interface. QueryInterface answers S_OK_ (0) and stores a counted reference in
// *Obj, or E_NOINTERFACE_ and stores nullptr. AddRef/Release return the new count (informative).
struct IInterface {
    static constexpr TGUID IID = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
    virtual int32_t ORV_CALL QueryInterface(const TGUID& IID, void** Obj) = 0;
    virtual int32_t ORV_CALL AddRef() = 0;
    virtual int32_t ORV_CALL Release() = 0;

protected:
    ~IInterface() = default;
};

// ---------------------------------------------------------------------------------------------
// Exceptions (hosts catch them; what() is the message)
// ---------------------------------------------------------------------------------------------

// Raised by the engine for broken preconditions and malformed plug-in data.
class ORV_PUBLIC_CLASS EORVException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when an internal invariant fails: "<message> (<unit>, line <n>)".
class ORV_PUBLIC_CLASS EAssertionFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Raised when an interface cast that must succeed finds no such interface.
class ORV_PUBLIC_CLASS EIntfCastError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// ---------------------------------------------------------------------------------------------
// Ref<T>: intrusive smart pointer for interfaces
//
// Reference counting rules:
//  - An object starts with a reference count of 0. The first Ref that takes it (Ref<T>(new X),
//    or Put() filled by an export) gives it its first reference; the object is destroyed when its
//    count drops back to 0. So Ref<T>(new X) is right, and Attach(new X) is wrong: Attach adopts a
//    reference that was never counted, and the object is never destroyed.
//  - Exports and factories that fill an out-parameter hand over one reference: receive it with
//    Put() (or Attach the raw pointer), never with Ref<T>(raw), which would count it twice.
//  - Identity: two interfaces lead to the same object when their Query<IInterface>() pointers are
//    equal. operator== compares the pointers as held, which is identity only for one interface.
//  - An object made by a plug-in (its plug-in object, what its factories create) runs code of the
//    plug-in's library. Holding it after the engine dropped the plug-in (UnloadPlugins, a new
//    startup, the end of a parsed registry) is the holder's error, as in COM: release such objects
//    first. The engine's own objects (registry, descriptors, points, extensions) stay safe to hold:
//    once their owner is gone, their operations raise EORVException instead.
// ---------------------------------------------------------------------------------------------
template <class T>
class Ref {
public:
    // An empty reference.
    Ref() noexcept = default;
    // An empty reference (Ref<T> R = nullptr).
    Ref(std::nullptr_t) noexcept {}
    // Takes a new reference to P (AddRef); nil stays empty.
    explicit Ref(T* P) noexcept : P_(P) {
        if (P_) P_->AddRef();
    }
    // Takes a new reference to O's object.
    Ref(const Ref& O) noexcept : Ref(O.P_) {}
    // Takes over O's reference; O is left empty.
    Ref(Ref&& O) noexcept : P_(O.P_) { O.P_ = nullptr; }
    // Takes a new reference to O's object where a U* converts to T* (an interface it derives
    // from). Anything else, a downcast included, goes through Query<T>().
    template <class U, class = std::enable_if_t<std::is_convertible<U*, T*>::value>>
    Ref(const Ref<U>& O) noexcept : P_(O.Get()) {
        if (P_) P_->AddRef();
    }
    // Releases the held reference.
    ~Ref() { Reset(); }

    // Holds O's object instead (a new reference), releasing the one held before.
    Ref& operator=(const Ref& O) noexcept {
        Ref(O).Swap(*this);
        return *this;
    }
    // Takes over O's reference instead, releasing the one held before.
    Ref& operator=(Ref&& O) noexcept {
        Ref(std::move(O)).Swap(*this);
        return *this;
    }
    // Releases the held reference.
    Ref& operator=(std::nullptr_t) noexcept {
        Reset();
        return *this;
    }

    // Adopts a reference that the caller already owns (no AddRef), releasing the one held before.
    void Attach(T* P) noexcept {
        Reset();
        P_ = P;
    }
    // Gives up the reference without releasing it; the caller now owns it.
    T* Detach() noexcept {
        T* P = P_;
        P_ = nullptr;
        return P;
    }
    // Releases the held reference and returns the address of the (now empty) pointer, for
    // out-parameters that hand over a reference, such as GetORVEngine(E.Put()).
    T** Put() noexcept {
        Reset();
        return &P_;
    }
    // Releases the held reference; the Ref is empty afterwards.
    void Reset() noexcept {
        if (P_) {
            T* P = P_;
            P_ = nullptr;
            P->Release();
        }
    }
    // Exchanges the held references.
    void Swap(Ref& O) noexcept { std::swap(P_, O.P_); }

    // The held pointer, without a reference.
    T* Get() const noexcept { return P_; }
    // Calls through the held pointer (which must not be nil).
    T* operator->() const noexcept { return P_; }
    T& operator*() const noexcept { return *P_; }
    // Whether a pointer is held.
    explicit operator bool() const noexcept { return P_ != nullptr; }

    // Asks for U::IID; an empty Ref when the object does not support U (or nothing is held).
    template <class U>
    Ref<U> Query() const {
        Ref<U> R;
        if (P_) {
            void* Obj = nullptr;
            if (P_->QueryInterface(U::IID, &Obj) == S_OK_) R.Attach(static_cast<U*>(Obj));
        }
        return R;
    }

private:
    T* P_ = nullptr;
};

// Whether the two Refs hold the same pointer (the same object only when both hold the same
// interface; see the identity rule above).
template <class T, class U>
bool operator==(const Ref<T>& A, const Ref<U>& B) noexcept {
    return static_cast<const void*>(A.Get()) == static_cast<const void*>(B.Get());
}
// Whether the Ref is empty.
template <class T>
bool operator==(const Ref<T>& A, std::nullptr_t) noexcept { return !A; }
// Whether the Ref holds a pointer.
template <class T>
bool operator!=(const Ref<T>& A, std::nullptr_t) noexcept { return static_cast<bool>(A); }

// Like Query<U>() but raises EIntfCastError when the object does not support U.
template <class U, class T>
Ref<U> Supports(const Ref<T>& R, const char* InterfaceName) {
    if (!R) return Ref<U>();
    Ref<U> Q = R.template Query<U>();
    if (!Q) throw EIntfCastError(std::string("Interface not supported: ") + InterfaceName);
    return Q;
}

// ---------------------------------------------------------------------------------------------
// Argument lists
// ---------------------------------------------------------------------------------------------
constexpr uint8_t vtInteger = 0;
constexpr uint8_t vtAnsiString = 11;

// One tagged value of an argument list: a 32-bit integer (vtInteger) or a string (vtAnsiString,
// a NUL-terminated 8-bit string that the caller keeps alive for the duration of the call).
// A list travels as (address of the first element, index of the last element), -1 for none.
struct TVarRec {
    union {
        int32_t VInteger;
        const char* VAnsiString;
    };
    uint8_t VType;
};
#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(TVarRec) == 8, "TVarRec must be 8 bytes on 32-bit Windows");
#endif

// Fills Fmt's placeholders from left to right: "%s" takes a string element, "%d" an integer
// element; "%%" stands for "%". A placeholder without a matching element, or whose element has
// the other type, is kept as written; surplus elements are ignored. Hosts use this in loggers.
inline std::string FormatArgs(const std::string& Fmt, const TVarRec* Args, int32_t ArgsHigh) {
    std::string Out;
    Out.reserve(Fmt.size() + 32);
    int32_t Next = 0;
    for (std::size_t I = 0; I < Fmt.size(); ++I) {
        char C = Fmt[I];
        if (C != '%' || I + 1 >= Fmt.size()) {
            Out += C;
            continue;
        }
        char Conversion = Fmt[I + 1];
        if (Conversion == '%') {
            Out += '%';
            ++I;
            continue;
        }
        if (Conversion != 's' && Conversion != 'd') {
            Out += C;
            continue;
        }
        const TVarRec* A = (Args && Next <= ArgsHigh) ? &Args[Next] : nullptr;
        bool Match = A && ((Conversion == 's' && A->VType == vtAnsiString) || (Conversion == 'd' && A->VType == vtInteger));
        if (!Match) {
            Out += C;
            Out += Conversion;
        } else if (Conversion == 's') {
            if (A->VAnsiString) Out += A->VAnsiString;
        } else {
            Out += std::to_string(A->VInteger);
        }
        if (A) ++Next;
        ++I;
    }
    return Out;
}

// An owning argument list built in C++ (strings are copied), e.g. TArgList{"point", 3}.
class TArgList {
public:
    struct Arg {
        Arg(const std::string& S) : IsString(true), Str(S) {}
        Arg(const char* S) : IsString(true), Str(S ? S : "") {}
        Arg(int32_t V) : IsString(false), Int(V) {}
        bool IsString;
        std::string Str;
        int32_t Int = 0;
    };
    TArgList() = default;
    TArgList(std::initializer_list<Arg> Items) { Fill(Items.begin(), Items.end()); }
    explicit TArgList(const std::vector<Arg>& Items) { Fill(Items.begin(), Items.end()); }
    TArgList(const TArgList&) = delete;
    TArgList& operator=(const TArgList&) = delete;

    const TVarRec* Data() const { return Recs_.empty() ? nullptr : Recs_.data(); }
    int32_t High() const { return static_cast<int32_t>(Recs_.size()) - 1; }

private:
    template <class It>
    void Fill(It First, It Last) {
        for (It A = First; A != Last; ++A)
            if (A->IsString) Strings_.push_back(A->Str);
        std::size_t S = 0;
        for (It A = First; A != Last; ++A) {
            TVarRec R{};
            if (A->IsString) {
                R.VType = vtAnsiString;
                R.VAnsiString = Strings_[S++].c_str();
            } else {
                R.VType = vtInteger;
                R.VInteger = A->Int;
            }
            Recs_.push_back(R);
        }
    }

    std::vector<std::string> Strings_;
    std::vector<TVarRec> Recs_;
};

// ---------------------------------------------------------------------------------------------
// XML nodes handed to plug-ins (IORVExtension::GetConfig) and used by the engine
// ---------------------------------------------------------------------------------------------
struct IXMLNode;

// One attribute of an element. An attribute the element does not have reads as the empty text
// and as false.
struct IXMLAttribute : IInterface {
    static constexpr TGUID IID = {0x3AF3CC55, 0xCA47, 0x41A9, {0xA7, 0xA7, 0xA7, 0x4F, 0x70, 0x04, 0xF0, 0x0D}};
    // The attribute's text value (empty when absent).
    virtual std::string ORV_CALL GetText() = 0;
    // "true", "yes" and "1" in any ASCII letter case are true; anything else, absent included, false.
    virtual bool ORV_CALL GetBool() = 0;
    // Whether the element has the attribute at all.
    virtual bool ORV_CALL Exists() = 0;
};

// The attribute collection of an element. Names match exactly (letter case significant).
struct IXMLAttributes : IInterface {
    static constexpr TGUID IID = {0xE6C27B47, 0x495C, 0x46A1, {0x8C, 0x76, 0xB6, 0xA4, 0x3B, 0x25, 0xD9, 0xCB}};
    // Never nil: an absent attribute yields an attribute object that reads as empty / false.
    virtual Ref<IXMLAttribute> ORV_CALL GetNamedItem(const std::string& Name) = 0;
    virtual int32_t ORV_CALL GetCount() = 0;
};

// The child elements of an element, in document order. Text, comments and processing
// instructions are not listed.
struct IXMLNodeList : IInterface {
    static constexpr TGUID IID = {0x2A7DB405, 0x9107, 0x4E8B, {0x94, 0xA5, 0x00, 0xFC, 0x79, 0x33, 0x0B, 0x89}};
    virtual int32_t ORV_CALL GetCount() = 0;
    // The element at Index (0-based); raises EORVException outside 0..GetCount()-1.
    virtual Ref<IXMLNode> ORV_CALL GetItem(int32_t Index) = 0;
    // The first child element named Name (exact match), nil when there is none.
    virtual Ref<IXMLNode> ORV_CALL FindNode(const std::string& Name) = 0;
};

// An element. It keeps its document alive while a reference to it is held.
struct IXMLNode : IInterface {
    static constexpr TGUID IID = {0x02EC6FD5, 0xEBE8, 0x456B, {0x86, 0xA1, 0x86, 0x40, 0x71, 0xA0, 0x5A, 0x22}};
    virtual std::string ORV_CALL GetNodeName() = 0;
    virtual Ref<IXMLAttributes> ORV_CALL GetAttributes() = 0;
    virtual Ref<IXMLNodeList> ORV_CALL GetChildNodes() = 0;
    // The next sibling element, nil after the last one.
    virtual Ref<IXMLNode> ORV_CALL GetNextSibling() = 0;
    // The concatenated text content of the element (empty when it has none).
    virtual std::string ORV_CALL GetText() = 0;
    // Shorthand for GetAttributes()->GetNamedItem(Name)->GetText().
    virtual std::string ORV_CALL GetAttribute(const std::string& Name) = 0;
};

// A loaded XML file.
struct IXMLDocument : IInterface {
    static constexpr TGUID IID = {0x0C7B3572, 0xAE0F, 0x40E4, {0x8B, 0x72, 0x8A, 0x3E, 0x97, 0x54, 0x4E, 0x1B}};
    // The root element, nil when the document has none.
    virtual Ref<IXMLNode> ORV_CALL GetDocumentElement() = 0;
    // The file the document was loaded from.
    virtual std::string ORV_CALL GetFileName() = 0;
};

// ---------------------------------------------------------------------------------------------
// Records
// ---------------------------------------------------------------------------------------------
using TStringDynArray = std::vector<std::string>;

struct IORVEnvironmentVariables;

// What an engine configuration file says (see IORVEngine). Copying shares EnvironmentVariables.
struct TEngineConfig {
    std::string EntryPoint;                               // qualified id of the entry-point extension
    TStringDynArray DllPath;                              // further folders searched for plug-in libraries
    TStringDynArray ShieldedPlugins;                      // ids of plug-ins that are skipped
    Ref<IORVEnvironmentVariables> EnvironmentVariables;   // may be nil
};

struct TEngineConfigEx : TEngineConfig {
    std::string ConfigExt;  // suffix that marks a manifest file name
    TStringDynArray Path;   // folders or manifest files to search
};

// One discovered manifest: its loaded document (nil until loaded) and its file name.
struct TPluginConfig {
    Ref<IXMLDocument> Document;
    std::string FileName;
};
using TPluginConfigDynArray = std::vector<TPluginConfig>;

// ---------------------------------------------------------------------------------------------
// Model interfaces
// ---------------------------------------------------------------------------------------------
struct IORVRegistry;
struct IORVDescriptor;
struct IORVExtension;
struct IORVExtensionPoint;
struct IORVPlugin;

// Gives the object behind a model interface back to code inside the engine.
struct IAdatable : IInterface {
    static constexpr TGUID IID = {0x4AC94061, 0xC779, 0x40F5, {0x9B, 0xD0, 0xB5, 0x16, 0xB3, 0xD8, 0x7B, 0x5E}};
    // The implementing object itself; no reference is added.
    virtual void* ORV_CALL GetImplementor() = 0;
};

// The collections share three operations: Find by id (nil when absent or when Id is empty),
// GetCount, and GetItem by 0-based position (EORVException outside the list).
struct IORVDescriptors : IInterface {
    static constexpr TGUID IID = {0xE65B4CAF, 0xE068, 0x4AE4, {0x95, 0xE7, 0x19, 0xD8, 0x8E, 0x85, 0x90, 0x27}};
    virtual Ref<IORVDescriptor> ORV_CALL Find(const std::string& Id) = 0;
    virtual int32_t ORV_CALL GetCount() = 0;
    virtual Ref<IORVDescriptor> ORV_CALL GetItem(int32_t Index) = 0;
};

struct IORVExtensionPoints : IInterface {
    static constexpr TGUID IID = {0x0BBEBAF2, 0x0EFF, 0x43F1, {0x98, 0xC9, 0xB9, 0x36, 0x47, 0xA6, 0x89, 0xDC}};
    virtual Ref<IORVExtensionPoint> ORV_CALL Find(const std::string& Id) = 0;
    virtual int32_t ORV_CALL GetCount() = 0;
    virtual Ref<IORVExtensionPoint> ORV_CALL GetItem(int32_t Index) = 0;
};

struct IORVExtensions : IInterface {
    static constexpr TGUID IID = {0xA2850A1E, 0x880A, 0x4E21, {0xAC, 0xC8, 0xF9, 0xEF, 0x72, 0xBB, 0x46, 0xC5}};
    virtual Ref<IORVExtension> ORV_CALL Find(const std::string& Id) = 0;
    virtual int32_t ORV_CALL GetCount() = 0;
    virtual Ref<IORVExtension> ORV_CALL GetItem(int32_t Index) = 0;
};

// The name/value store that the engine configuration offers to plug-ins. Names match ignoring
// letter case; asking for an unknown name adds it with an empty value.
struct IORVEnvironmentVariables : IInterface {
    static constexpr TGUID IID = {0xA49D9B3B, 0x8AA8, 0x418E, {0x95, 0x9F, 0x80, 0xD7, 0x7B, 0x63, 0xDD, 0x06}};
    virtual std::string ORV_CALL GetValue(const std::string& Name) = 0;
    virtual void ORV_CALL SetValue(const std::string& Name, const std::string& Value) = 0;
};

// All plug-ins that one engine run knows.
struct IORVRegistry : IInterface {
    static constexpr TGUID IID = {0x7B9025B0, 0x2BFB, 0x4683, {0xA3, 0xB5, 0xAC, 0x90, 0x46, 0x46, 0x7F, 0xE0}};
    // The union of all plug-ins' extensions (EORVException before the registry is parsed).
    virtual Ref<IORVExtensions> ORV_CALL GetExtensions() = 0;
    // The union of all plug-ins' extension points (EORVException before the registry is parsed).
    virtual Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() = 0;
    virtual Ref<IORVDescriptors> ORV_CALL GetDescriptors() = 0;
    // The shared store; created empty on first use when the engine handed none over.
    virtual Ref<IORVEnvironmentVariables> ORV_CALL GetEnvironmentVariables() = 0;
};

// What a plug-in library's GetPluginImpl yields.
struct IORVPlugin : IInterface {
    static constexpr TGUID IID = {0xEA9C9D3D, 0xB109, 0x459E, {0xB8, 0xAD, 0x0F, 0x7F, 0x45, 0x97, 0x36, 0x5F}};
    virtual void ORV_CALL Start() = 0;
    virtual void ORV_CALL Stop() = 0;
};

// One plug-in as its manifest declares it.
struct IORVDescriptor : IInterface {
    static constexpr TGUID IID = {0x5A3397B4, 0xE65C, 0x444A, {0x86, 0xC6, 0x7A, 0xE2, 0xEC, 0xD3, 0xD3, 0x87}};
    virtual std::string ORV_CALL GetID() = 0;
    virtual std::string ORV_CALL GetName() = 0;
    virtual std::string ORV_CALL GetVersion() = 0;
    virtual std::string ORV_CALL GetProvider() = 0;
    virtual std::string ORV_CALL GetLibrary() = 0;     // absolute path of the plug-in library, or empty
    virtual std::string ORV_CALL GetLocation() = 0;    // folder of the manifest
    virtual std::string ORV_CALL GetConfigFile() = 0;  // the manifest file
    virtual Ref<IORVExtensions> ORV_CALL GetExtensions() = 0;
    virtual Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() = 0;
    virtual Ref<IORVRegistry> ORV_CALL GetRegistry() = 0;
    // The plug-in object (loading the library if needed, without starting it); nil when none.
    virtual Ref<IORVPlugin> ORV_CALL GetPlugin() = 0;
};

struct IORVExtensionPoint : IInterface {
    static constexpr TGUID IID = {0x2429985F, 0x42B6, 0x4A05, {0xBD, 0x37, 0x0A, 0x69, 0xA7, 0x68, 0xC2, 0x5F}};
    virtual std::string ORV_CALL GetID() = 0;  // "<plug-in id>.<local id>"
    virtual std::string ORV_CALL GetName() = 0;
    virtual Ref<IORVExtensions> ORV_CALL GetExtensions() = 0;  // the extensions linked to this point
    virtual Ref<IORVDescriptor> ORV_CALL GetDescriptor() = 0;
};

// Signature of an extension factory export: fills *Result (initially nil) with a counted
// reference. GetPluginImpl has the same calling form with the descriptor as second argument.
using TORVFactory = void(ORV_CALL*)(IInterface** Result, IORVExtension* Extension);
using TGetPluginImpl = void(ORV_CALL*)(IInterface** Result, IORVDescriptor* Descriptor);

struct IORVExtension : IInterface {
    static constexpr TGUID IID = {0x73EA7C54, 0xAAA6, 0x41DC, {0xBC, 0x89, 0x11, 0xF9, 0xF3, 0xBC, 0x29, 0xB4}};
    virtual std::string ORV_CALL GetID() = 0;  // "<plug-in id>.<local id>"
    virtual std::string ORV_CALL GetName() = 0;
    // The manifest's Extension element, for the plug-in's own settings.
    virtual Ref<IXMLNode> ORV_CALL GetConfig() = 0;
    virtual Ref<IORVDescriptor> ORV_CALL GetDescriptor() = 0;
    // The extension points this extension names, looked up afresh in the registry.
    virtual Ref<IORVExtensionPoints> ORV_CALL GetExtensionPoints() = 0;
    // The factory export (starting the plug-in first if needed); nullptr when there is none.
    virtual TORVFactory ORV_CALL GetFactory() = 0;
};

// ---------------------------------------------------------------------------------------------
// Host interfaces
// ---------------------------------------------------------------------------------------------

// The application entry point: the object that the entry-point extension's factory yields.
struct IORVApplication : IInterface {
    static constexpr TGUID IID = {0xDF59BAB7, 0x538F, 0x46EA, {0xA2, 0xCA, 0x0A, 0xF2, 0xCB, 0x01, 0x99, 0x04}};
    virtual void ORV_CALL Run(const TVarRec* Args, int32_t ArgsHigh) = 0;
};

struct IORVEngine : IInterface {
    static constexpr TGUID IID = {0x14FFE2EE, 0x339C, 0x4C2A, {0xBC, 0xCE, 0x49, 0xBF, 0xB2, 0xBF, 0xFF, 0x9A}};
    // Reads ConfigFile, discovers and starts plug-ins, runs the entry point with Args.
    virtual void ORV_CALL Startup(const std::string& ConfigFile, const TVarRec* Args, int32_t ArgsHigh) = 0;
    // As Startup, with manifests supplied by the caller instead of discovered.
    virtual void ORV_CALL StartupWithPlugins(const std::string& ConfigFile, const TPluginConfigDynArray& PluginConfigs,
                                             const TVarRec* Args, int32_t ArgsHigh) = 0;
    virtual void ORV_CALL StartupWithConfig(const TEngineConfigEx& Config, const TPluginConfigDynArray& PluginConfigs,
                                            const TVarRec* Args, int32_t ArgsHigh) = 0;
    // Stops every plug-in; the registry stays until the engine lets go of it.
    virtual void ORV_CALL Shutdown() = 0;
    // Adds the plug-ins found in Folders to the running engine.
    virtual void ORV_CALL LoadPlugins(const TStringDynArray& Folders) = 0;
    // Drops the plug-ins whose manifests lie under Folders.
    virtual void ORV_CALL UnloadPlugins(const TStringDynArray& Folders) = 0;
    // The registry of the last successful build, nil before.
    virtual Ref<IORVRegistry> ORV_CALL GetRegistry() = 0;
};

// Parse-only use: builds and checks a registry without starting anything.
struct IORVParser : IInterface {
    static constexpr TGUID IID = {0xFC504AE7, 0x6D33, 0x4A25, {0x90, 0xE1, 0x7B, 0xAE, 0xCA, 0xE9, 0x37, 0xE5}};
    virtual Ref<IORVRegistry> ORV_CALL ParsePath(const std::string& Path, const std::string& ConfigFile) = 0;
    virtual Ref<IORVRegistry> ORV_CALL ParsePaths(const TStringDynArray& Paths, const std::string& ConfigFile) = 0;
};

// The host's logger. Formatted operations receive the message template unformatted with its
// argument list ("%s" strings, "%d" integers; see FormatArgs). Set it per thread with SetLogger.
struct IORVLogger : IInterface {
    static constexpr TGUID IID = {0xF40B9AE4, 0x5E10, 0x4613, {0x8A, 0xA5, 0xEA, 0x94, 0xE2, 0xC0, 0xB6, 0x4E}};
    virtual void ORV_CALL Debug(const std::string& Msg) = 0;
    virtual void ORV_CALL DebugFmt(const std::string& Fmt, const TVarRec* Args, int32_t ArgsHigh) = 0;
    virtual void ORV_CALL Info(const std::string& Msg) = 0;
    virtual void ORV_CALL InfoFmt(const std::string& Fmt, const TVarRec* Args, int32_t ArgsHigh) = 0;
    virtual void ORV_CALL Warn(const std::string& Msg) = 0;
    virtual void ORV_CALL WarnFmt(const std::string& Fmt, const TVarRec* Args, int32_t ArgsHigh) = 0;
    virtual void ORV_CALL Error(const std::string& Msg) = 0;
    virtual void ORV_CALL ErrorFmt(const std::string& Fmt, const TVarRec* Args, int32_t ArgsHigh) = 0;
    virtual void ORV_CALL Fatal(const std::string& Msg) = 0;
    virtual void ORV_CALL FatalFmt(const std::string& Fmt, const TVarRec* Args, int32_t ArgsHigh) = 0;
};

// ---------------------------------------------------------------------------------------------
// Monitoring a start: where the time goes
// ---------------------------------------------------------------------------------------------

// What one monitor event times (IORVMonitor::Event's Kind). The phases of a start come first,
// then the steps run per plug-in, then the entry point's, then the run-time operations.
constexpr int32_t mkStartup = 0;        // a whole start: from the call up to the end of the start pass
constexpr int32_t mkConfig = 1;         // reading the engine configuration file
constexpr int32_t mkDiscovery = 2;      // finding the manifests
constexpr int32_t mkManifests = 3;      // reading the manifests into the registry
constexpr int32_t mkLink = 4;           // linking extensions to their points
constexpr int32_t mkValidate = 5;       // checking the linked registry
constexpr int32_t mkStartLine = 6;      // the engine's start line: its time stamp and the host's logger
constexpr int32_t mkLoadLibrary = 7;    // loading one plug-in's library
constexpr int32_t mkGetPluginImpl = 8;  // one plug-in's GetPluginImpl
constexpr int32_t mkStart = 9;          // one plug-in's Start
constexpr int32_t mkFactory = 10;       // the entry point's factory
constexpr int32_t mkRun = 11;           // the application's Run
constexpr int32_t mkStop = 12;          // one plug-in's Stop
constexpr int32_t mkShutdown = 13;      // a whole Shutdown
constexpr int32_t mkLoadPlugins = 14;   // a whole LoadPlugins
constexpr int32_t mkUnloadPlugins = 15; // a whole UnloadPlugins

// Implemented by the host: receives one event per timed step once the step has ended (so an
// enclosing step reports after the steps inside it), also when the step raised. Name is the
// plug-in's id for the per-plug-in steps, the extension's id for mkFactory and mkRun, the
// configuration file for mkStartup and mkConfig (empty for StartupWithConfig), and empty otherwise;
// PluginID and Library name the plug-in concerned (empty for the phases). StartMicroseconds is read from a monotonic clock with an
// arbitrary origin; DurationMicroseconds is the step's wall time. An exception Event raises is
// ignored. Events come from the thread that drives the engine.
struct IORVMonitor : IInterface {
    static constexpr TGUID IID = {0x6D0E2B41, 0x93C7, 0x4F5A, {0xB1, 0x2E, 0x5C, 0x88, 0x0A, 0x7D, 0x4E, 0x13}};
    virtual void ORV_CALL Event(int32_t Kind, const std::string& Name, const std::string& PluginID,
                                const std::string& Library, int64_t StartMicroseconds,
                                int64_t DurationMicroseconds) = 0;
};

// Answered by the engine object (GetORVEngine, and the parser of GetORVParser) through
// QueryInterface. SetMonitor holds a reference to Monitor (nil clears it) until it is replaced; the
// steps of this engine's Startup, Shutdown, LoadPlugins, UnloadPlugins and ParsePath(s) that run
// from then on are reported to it (those of another engine that plug-in code calls meanwhile are
// not). Replacing or clearing the monitor from inside an event or from plug-in code is safe: a
// monitor being called stays alive until its call has returned. Without a monitor the engine reads
// no clock.
struct IORVEngineMonitor : IInterface {
    static constexpr TGUID IID = {0xA8C51F06, 0x2D7B, 0x4E39, {0x9F, 0x64, 0x17, 0xE3, 0xC2, 0x5B, 0x80, 0xD4}};
    virtual void ORV_CALL SetMonitor(IORVMonitor* Monitor) = 0;
};

// ---------------------------------------------------------------------------------------------
// Following the registry as it changes (our extension: IORVRegistryEvents on the engine object)
// ---------------------------------------------------------------------------------------------

// What made a registry change (IORVRegistryDelta::GetKind).
constexpr int32_t dkStartup = 0;   // a Startup built a new registry and started its Initialize plug-ins
constexpr int32_t dkLoad = 1;      // a LoadPlugins
constexpr int32_t dkUnload = 2;    // an UnloadPlugins
constexpr int32_t dkStart = 3;     // a factory lookup started a plug-in on first use
constexpr int32_t dkShutdown = 4;  // a Shutdown stopped the plug-ins

// What one engine call changed in one registry. Everything is the net change from the call's
// beginning to its end, and includes what plug-in code did meanwhile (a Stop that loads a folder
// during UnloadPlugins): a plug-in loaded and dropped again within the call appears nowhere.
// Each descriptor collection lists its plug-ins in the registry's order (those removed in the
// order they had); every object stays valid while the delta is held (a removed descriptor still
// answers GetID, and so do its points and extensions).
//
// Links are reported per point: GetChangedPoints lists, in the registry's order, each point whose
// extensions changed; for the point at Index, GetUnlinked gives the extensions that left it and
// GetLinked those that joined it. A copy of the point's extensions before the call, with the
// unlinked ones taken out and then the linked ones appended in their order, is the point's list
// after the call. A dkStartup delta describes a new registry: forget what the registry before held;
// GetAdded then lists all its plug-ins, GetChangedPoints each point with extensions, GetLinked all
// of them, and GetStarted the plug-ins running. A plug-in counts as started from its Start's return
// (or, without a plug-in object, from the moment the engine starts it) until its Stop, its unload,
// or the Shutdown of its registry.
struct IORVRegistryDelta : IInterface {
    static constexpr TGUID IID = {0x1D3B6116, 0xBEB1, 0x42B0, {0xBA, 0xAE, 0x1E, 0xF8, 0x6C, 0xF1, 0xE5, 0x5B}};
    // One of dkStartup .. dkShutdown: the call that the host (or a listener) made.
    virtual int32_t ORV_CALL GetKind() = 0;
    // The plug-ins that entered the registry.
    virtual Ref<IORVDescriptors> ORV_CALL GetAdded() = 0;
    // The plug-ins that left it.
    virtual Ref<IORVDescriptors> ORV_CALL GetRemoved() = 0;
    // The plug-ins that were not started before the call and are started after it.
    virtual Ref<IORVDescriptors> ORV_CALL GetStarted() = 0;
    // The plug-ins that were started before the call and are not after it (removed ones included).
    virtual Ref<IORVDescriptors> ORV_CALL GetStopped() = 0;
    // The points whose linked extensions changed, in the registry's order (a removed plug-in's
    // points included, with the extensions they lost).
    virtual Ref<IORVExtensionPoints> ORV_CALL GetChangedPoints() = 0;
    // Of the point at Index in GetChangedPoints: the extensions linked to it during the call and
    // still linked, in the point's order. EORVException outside the list.
    virtual Ref<IORVExtensions> ORV_CALL GetLinked(int32_t Index) = 0;
    // Of the point at Index in GetChangedPoints: the extensions linked to it before the call and
    // not any more, in the order they left. EORVException outside the list.
    virtual Ref<IORVExtensions> ORV_CALL GetUnlinked(int32_t Index) = 0;
    // The registry that changed (for dkStartup the engine's new one). A call under way on a
    // registry when plug-in code starts the engine anew delivers its delta after the new
    // registry's startup delta: a host that follows the engine's registry passes over a delta
    // whose registry is not the one of the last startup delta.
    virtual Ref<IORVRegistry> ORV_CALL GetRegistry() = 0;
};

// Implemented by the host. RegistryChanged is called on the thread that drives the engine, once
// the call's work is done and the registry is consistent: it may read the registry and call the
// engine back (the usual rules apply: a call is honoured or refused before anything changes). A
// delta that such a call makes while listeners are being called is delivered to every listener
// once the current delta has reached them all, so every listener sees the deltas in the order of
// the changes. An exception is logged (an Error line with its text); the other listeners still get
// the delta, and then the engine call that delivers it raises the first such exception.
struct IORVRegistryListener : IInterface {
    static constexpr TGUID IID = {0x1C85EB1F, 0x9AF8, 0x47AA, {0x9A, 0xF3, 0xE9, 0xF6, 0x64, 0x60, 0x2F, 0x70}};
    virtual void ORV_CALL RegistryChanged(IORVRegistryDelta* Delta) = 0;
};

// Answered by the engine object (GetORVEngine) through QueryInterface. A delta goes to the
// listeners when a Startup (any of the three) has built its registry and started the Initialize
// plug-ins, before the application runs (also when that start fails, then before Startup raises);
// after every LoadPlugins and UnloadPlugins (one that raises delivers what it changed, if anything:
// a failed LoadPlugins changes nothing and delivers nothing); when a factory lookup starts a plug-in;
// and when Shutdown has stopped the plug-ins. Listeners are called in the order they were added.
// Without a listener the engine records nothing.
struct IORVRegistryEvents : IInterface {
    static constexpr TGUID IID = {0xF3837AAA, 0x13F4, 0x4043, {0xAE, 0x8C, 0x37, 0x58, 0xE2, 0x1F, 0x7A, 0x7F}};
    // Holds a reference to Listener until RemoveListener (or the engine goes); adding it again does
    // nothing. EORVException for nil. A listener added while a delta is being delivered gets the
    // next one; the changes of a call count from the call's beginning.
    virtual void ORV_CALL AddListener(IORVRegistryListener* Listener) = 0;
    // Lets go of Listener; one not added does nothing. Removed while a delta is being delivered,
    // it is not called any more (a listener being called stays alive until its call returns).
    virtual void ORV_CALL RemoveListener(IORVRegistryListener* Listener) = 0;
};

// ---------------------------------------------------------------------------------------------
// Exported functions of the engine library
// ---------------------------------------------------------------------------------------------
using TGetORVEngine = void(ORV_CALL*)(IORVEngine** Engine);
using TGetORVParser = void(ORV_CALL*)(IORVParser** Parser);
using TSetLogger = void(ORV_CALL*)(IORVLogger* Logger);

}  // namespace orv

// Each export releases whatever *Engine / *Parser held and stores a counted reference.
// GetORVEngine: the process-wide engine, created on first use.
ORV_ENGINE_API void ORV_CALL GetORVEngine(orv::IORVEngine** Engine);
// GetORVParser: a new engine on every call, for parse-only use.
ORV_ENGINE_API void ORV_CALL GetORVParser(orv::IORVParser** Parser);
// SetLogger: the calling thread's logger (nil restores the do-nothing logger). No reference is
// kept: the host keeps the logger alive while it is set.
ORV_ENGINE_API void ORV_CALL SetLogger(orv::IORVLogger* Logger);

#endif  // ORV_INTERFACE_H
