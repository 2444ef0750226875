// A minimal component model: GUIDs, result codes, the interfaces that the
// companion libraries and their hosts share, clipboard formats registered by
// name and in-process servers found through the registry and loaded with
// dlopen.
//
// Binary agreement. A library and a host built separately meet only through
// the classes below: abstract classes with virtual functions and no data,
// single inheritance each, so every vtable holds the slots in the order they
// are declared (QueryInterface, AddRef, Release first). That holds for g++ and
// clang++ on the Itanium C++ ABI (every Linux target) at any optimisation
// level, with or without -fPIC or -fno-rtti (type info lies before the
// slots). Adding a virtual base or a virtual destructor to an interface would
// break it. Plain structs (GUID, FORMATETC, STGMEDIUM,
// CMINVOKECOMMANDINFO, the selection block) use the C layout of their fields.
// The interfaces have no virtual destructor: objects are destroyed by their
// own Release.
//
// Threads: everything here may be called from any thread; a loaded server is
// used by one thread at a time (the hosts are single threaded).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace lyb::com {

using HRESULT = int32_t;
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002);
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005);
constexpr HRESULT E_OUTOFMEMORY = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = static_cast<HRESULT>(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = static_cast<HRESULT>(0x80040111);

constexpr bool Succeeded(HRESULT hr) {
    return hr >= 0;
}
constexpr bool Failed(HRESULT hr) {
    return hr < 0;
}

struct GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
    friend bool operator==(const GUID&, const GUID&) = default;
};
using IID = GUID;
using CLSID = GUID;
using REFIID = const GUID&;
using REFCLSID = const GUID&;

// The registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}", upper-case hex.
std::string guidText(const GUID& guid);
// Reads that form (braces required, hex of either case); nullopt for anything else.
std::optional<GUID> parseGuid(std::string_view text);

inline constexpr IID IID_IUnknown{0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IClassFactory{0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IDataObject{0x0000010E, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IContextMenu{0x000214E4, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
inline constexpr IID IID_IObjectWithSite{
    0xFC4801A3, 0x2BA9, 0x11CF, {0xA2, 0x29, 0x00, 0xAA, 0x00, 0x3D, 0x73, 0x52}};

class IUnknown {
public:
    // *object gets the interface with one reference added, or null and E_NOINTERFACE.
    virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;

protected:
    ~IUnknown() = default;
};

class IClassFactory : public IUnknown {
public:
    virtual HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) = 0;
    virtual HRESULT LockServer(int lock) = 0;

protected:
    ~IClassFactory() = default;
};

class IObjectWithSite : public IUnknown {
public:
    // site may be null (drops the current one).
    virtual HRESULT SetSite(IUnknown* site) = 0;
    virtual HRESULT GetSite(REFIID iid, void** site) = 0;

protected:
    ~IObjectWithSite() = default;
};

// A menu the host owns and supplies for the length of one call; the
// extension inserts and enables items through the functions below.
class HMENU__ {
public:
    // Inserts text with the command id before position (at the end when
    // position is past it). False when the item cannot be added.
    virtual bool insertByPosition(uint32_t position, uint32_t id, const char* text) = 0;
    // Enables or greys the item with the command id; false when there is none.
    virtual bool enableByCommand(uint32_t id, bool enabled) = 0;

protected:
    ~HMENU__() = default;
};
using HMENU = HMENU__*;

constexpr uint32_t MF_BYCOMMAND = 0x0000;
constexpr uint32_t MF_ENABLED = 0x0000;
constexpr uint32_t MF_STRING = 0x0000;
constexpr uint32_t MF_GRAYED = 0x0001;
constexpr uint32_t MF_BYPOSITION = 0x0400;

// Only insertion by position is offered. False without a menu.
inline bool InsertMenu(HMENU menu, uint32_t position, uint32_t flags, uint32_t id,
                       const char* text) {
    return menu && (flags & MF_BYPOSITION) && menu->insertByPosition(position, id, text);
}
// Only enabling by command is offered. -1 when there is no such item, else 0.
inline int EnableMenuItem(HMENU menu, uint32_t id, uint32_t flags) {
    if (!menu || (flags & MF_BYPOSITION))
        return -1;
    return menu->enableByCommand(id, !(flags & MF_GRAYED)) ? 0 : -1;
}

// The window a host gives for messages it lets a server show. Null means the
// host has none: the message goes to standard error as "caption: text".
class HWND__ {
public:
    virtual int messageBox(const char* text, const char* caption, uint32_t type) = 0;

protected:
    ~HWND__() = default;
};
using HWND = HWND__*;

constexpr uint32_t MB_OK = 0x00;
constexpr uint32_t MB_ICONSTOP = 0x10;
constexpr int IDOK = 1;

inline int MessageBox(HWND owner, const char* text, const char* caption, uint32_t type) {
    if (owner)
        return owner->messageBox(text, caption, type);
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return IDOK;
}

// The verb is the command's text; null when the host names none.
struct CMINVOKECOMMANDINFO {
    uint32_t cbSize;
    uint32_t fMask;
    HWND hwnd;
    const char* lpVerb;
    const char* lpParameters;
    const char* lpDirectory;
    int nShow;
};

constexpr uint32_t GCS_VERBA = 0x0000;
constexpr uint32_t GCS_HELPTEXTA = 0x0001;

class IContextMenu : public IUnknown {
public:
    virtual HRESULT QueryContextMenu(HMENU menu, uint32_t position, uint32_t firstId,
                                     uint32_t lastId, uint32_t flags) = 0;
    virtual HRESULT InvokeCommand(CMINVOKECOMMANDINFO* info) = 0;
    // Copies the command's text into name (at most size bytes, always ended
    // with a zero when size > 0).
    virtual HRESULT GetCommandString(uintptr_t id, uint32_t type, uint32_t* reserved, char* name,
                                     uint32_t size) = 0;

protected:
    ~IContextMenu() = default;
};

using CLIPFORMAT = uint16_t;
constexpr uint32_t DVASPECT_CONTENT = 1;
constexpr uint32_t TYMED_HGLOBAL = 1;

struct FORMATETC {
    CLIPFORMAT cfFormat;
    void* ptd;  // target device; always null here
    uint32_t dwAspect;
    int32_t lindex;
    uint32_t tymed;
};

// Global memory is malloc'd memory; the receiver of a medium frees it with
// ReleaseStgMedium (through pUnkForRelease when the sender set one).
struct STGMEDIUM {
    uint32_t tymed;
    void* hGlobal;
    IUnknown* pUnkForRelease;
};

inline void ReleaseStgMedium(STGMEDIUM* medium) {
    if (!medium)
        return;
    if (medium->pUnkForRelease)
        medium->pUnkForRelease->Release();
    else if (medium->tymed == TYMED_HGLOBAL)
        std::free(medium->hGlobal);
    *medium = {};
}

// Only GetData is offered; a data object has no other operations here.
class IDataObject : public IUnknown {
public:
    virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;

protected:
    ~IDataObject() = default;
};

// The number of a clipboard format named name (compared without regard to
// ASCII case), in 0xC000..0xFFFF. It is computed from the name, so every
// module of every process agrees on it without a shared table; 0 for an
// empty name.
CLIPFORMAT RegisterClipboardFormat(std::string_view name);

}  // namespace lyb::com
