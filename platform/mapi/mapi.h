// The message store interface: sessions, stores, folders, messages,
// attachments and tables, with the property tags and result codes the
// voicemail store, the Inbox extension and the Today item rely on.
//
// Objects. Every object except a stream is handed out as a std::unique_ptr:
// the caller owns it, and it is released when the pointer goes (RAII). Streams
// are reference counted (mapi_stream.h); OpenProperty gives the caller one
// reference. Objects are independent of each other: a message stays usable
// after the folder or store that opened it is gone.
//
// Threads. One object is used by one thread at a time, with one exception: a
// folder's OpenEntry may be called from several threads at once while nothing
// else uses the folder, and the messages it gives are independent objects.
//
// Lifecycle of one use, as the voicemail store does it:
//   1. MAPILogonEx gives the session (one per process or per companion).
//   2. GetMsgStoresTable lists the accounts; OpenMsgStore opens one by entry id.
//   3. GetReceiveFolder gives the Inbox's entry id; OpenEntry opens the folder.
//   4. GetContentsTable lists the folder's messages; OpenEntry opens each.
//   5. GetProps, SetProps, GetAttachmentTable, OpenAttach, OpenProperty read
//      and change one message; DeleteMessages on the folder removes messages.
//   6. Undoing a delete: MoveToWastebasket deletes as DeleteMessages does and
//      tells each message's entry id in the Trash; that message's
//      PR_PARENT_ENTRYID opens the Trash folder, and its CopyMessages with
//      MESSAGE_MOVE moves it back to the folder it came from, flags kept.
// Tables answer SetColumns once, then QueryRows one row per call; a call that
// gives no row ends the table.
//
// The provider behind these objects is chosen in one place, MAPILogonEx
// (provider_choice.cpp): Maildir accounts (maildir_provider.h) and IMAP
// accounts (imap_provider.h).
#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/mapi/mapi_stream.h"

namespace lyb::mapi {

// Result codes beyond those of mapi_stream.h.
constexpr HRESULT MAPI_E_NOT_FOUND = static_cast<HRESULT>(0x8004010F);
constexpr HRESULT MAPI_E_NO_ACCESS = static_cast<HRESULT>(0x80070005);
constexpr HRESULT MAPI_E_NO_SUPPORT = static_cast<HRESULT>(0x80040102);
constexpr HRESULT MAPI_E_CORRUPT_DATA = static_cast<HRESULT>(0x8004011B);
constexpr HRESULT MAPI_E_LOGON_FAILED = static_cast<HRESULT>(0x80040111);
constexpr HRESULT MAPI_E_INVALID_ENTRYID = static_cast<HRESULT>(0x80040107);
constexpr HRESULT MAPI_W_ERRORS_RETURNED = static_cast<HRESULT>(0x00040380);

using com::Failed;

// Property types (the low 16 bits of a tag).
constexpr uint32_t PT_UNSPECIFIED = 0x0000;
constexpr uint32_t PT_LONG = 0x0003;
constexpr uint32_t PT_ERROR = 0x000A;
constexpr uint32_t PT_BOOLEAN = 0x000B;
constexpr uint32_t PT_STRING8 = 0x001E;
constexpr uint32_t PT_UNICODE = 0x001F;
constexpr uint32_t PT_SYSTIME = 0x0040;
constexpr uint32_t PT_BINARY = 0x0102;

constexpr uint32_t PROP_TYPE(uint32_t tag) {
    return tag & 0xFFFFu;
}
constexpr uint32_t PROP_ID(uint32_t tag) {
    return tag >> 16;
}
constexpr uint32_t PROP_TAG(uint32_t type, uint32_t id) {
    return (id << 16) | type;
}
constexpr uint32_t CHANGE_PROP_TYPE(uint32_t tag, uint32_t type) {
    return (tag & 0xFFFF0000u) | type;
}

constexpr uint32_t PR_ENTRYID = 0x0FFF0102;
constexpr uint32_t PR_PARENT_ENTRYID = 0x0E090102;  // the folder holding a message
constexpr uint32_t PR_DISPLAY_NAME_W = 0x3001001F;
constexpr uint32_t PR_SUBJECT_W = 0x0037001F;
constexpr uint32_t PR_MESSAGE_FLAGS = 0x0E070003;
constexpr uint32_t PR_MESSAGE_DELIVERY_TIME = 0x0E060040;
constexpr uint32_t PR_MESSAGE_SIZE = 0x0E080003;
constexpr uint32_t PR_LAST_MODIFICATION_TIME = 0x30080040;
constexpr uint32_t PR_HASATTACH = 0x0E1B000B;
constexpr uint32_t PR_BODY_W = 0x1000001F;
constexpr uint32_t PR_BODY_A = 0x1000001E;
constexpr uint32_t PR_BODY_HTML_W = 0x1013001F;
constexpr uint32_t PR_BODY_HTML_A = 0x1013001E;
constexpr uint32_t PR_MIME_RAW = 0x81030102;  // the message file's bytes
constexpr uint32_t PR_ATTACH_NUM = 0x0E210003;
constexpr uint32_t PR_ATTACH_DATA_BIN = 0x37010102;
constexpr uint32_t PR_ATTACH_EXTENSION_W = 0x3703001F;
constexpr uint32_t PR_ATTACH_FILENAME_W = 0x3704001F;
constexpr uint32_t PR_ATTACH_LONG_FILENAME_W = 0x3707001F;
constexpr uint32_t PR_ATTACH_PATHNAME_W = 0x3708001F;
constexpr uint32_t PR_ATTACH_TRANSPORT_NAME_W = 0x370C001F;
constexpr uint32_t PR_ATTACH_LONG_PATHNAME_W = 0x370D001F;
constexpr uint32_t PR_ATTACH_MIME_TAG_W = 0x370E001F;

constexpr uint32_t MSGFLAG_READ = 0x0001;
constexpr uint32_t MSGFLAG_HASATTACH = 0x0010;

constexpr uint32_t MAPI_UNICODE = 0x80000000u;
constexpr uint32_t MESSAGE_MOVE = 0x01;  // CopyMessages moves rather than copies
constexpr uint32_t MDB_NO_DIALOG = 0x01;
constexpr uint32_t MAPI_BEST_ACCESS = 0x10;

constexpr uint32_t MAPI_STORE = 1;
constexpr uint32_t MAPI_FOLDER = 3;
constexpr uint32_t MAPI_MESSAGE = 5;
constexpr uint32_t MAPI_ATTACH = 7;

// One property value. Which member holds the value follows the tag's type:
// PT_LONG l, PT_BOOLEAN b, PT_SYSTIME ft (a file time: 100 ns units since
// 1601-01-01 UTC), PT_UNICODE str, PT_STRING8 and PT_BINARY bin, PT_ERROR err.
struct SPropValue {
    uint32_t ulPropTag = 0;
    int32_t l = 0;
    bool b = false;
    uint64_t ft = 0;
    QString str;
    QByteArray bin;
    HRESULT err = 0;

    static SPropValue error(uint32_t tag, HRESULT code) {
        SPropValue v;
        v.ulPropTag = CHANGE_PROP_TYPE(tag, PT_ERROR);
        v.err = code;
        return v;
    }
};

using SRow = std::vector<SPropValue>;
using SRowSet = std::vector<SRow>;

class IMAPITable {
public:
    virtual ~IMAPITable() = default;
    // Chooses the columns of the rows to come; a column a row lacks comes
    // back error-typed (PT_ERROR, MAPI_E_NOT_FOUND).
    virtual HRESULT SetColumns(const std::vector<uint32_t>& tags, uint32_t flags) = 0;
    // Replaces rows with up to count next rows; none at the end.
    virtual HRESULT QueryRows(int count, uint32_t flags, SRowSet& rows) = 0;
};

class IMAPIProp {
public:
    virtual ~IMAPIProp() = default;
    // One value per tag, in order; a missing property comes back error-typed
    // and the call answers MAPI_W_ERRORS_RETURNED.
    virtual HRESULT GetProps(const std::vector<uint32_t>& tags, uint32_t flags,
                             std::vector<SPropValue>& values);
    virtual HRESULT SetProps(const std::vector<SPropValue>& values);
    // Opens a property as a stream; *stream gets one reference.
    virtual HRESULT OpenProperty(uint32_t tag, uint32_t interfaceOptions, uint32_t flags,
                                 IStream** stream);

protected:
    // Gives one property, or an error-typed value.
    virtual SPropValue getProp(uint32_t tag) = 0;
};

class IAttach : public IMAPIProp {};

class IMessage : public IMAPIProp {
public:
    virtual HRESULT GetAttachmentTable(uint32_t flags, std::unique_ptr<IMAPITable>& table) = 0;
    virtual HRESULT OpenAttach(uint32_t number, uint32_t flags,
                               std::unique_ptr<IAttach>& attach) = 0;
};

class IMAPIContainer : public IMAPIProp {
public:
    // Opens a message (or folder) by entry id; *objType gets its kind.
    virtual HRESULT OpenEntry(const QByteArray& entryId, uint32_t flags, uint32_t* objType,
                              std::unique_ptr<IMAPIProp>& object) = 0;
};

class IMAPIFolder : public IMAPIContainer {
public:
    virtual HRESULT GetContentsTable(uint32_t flags, std::unique_ptr<IMAPITable>& table) = 0;
    // S_OK when every listed message was deleted.
    virtual HRESULT DeleteMessages(const std::vector<QByteArray>& entryIds, uint32_t flags) = 0;
    // Deletes as DeleteMessages does, into the store's Trash. trashIds gets
    // one entry per listed message: its entry id in the Trash, empty when it
    // was not deleted or the provider cannot tell. The default deletes and
    // tells nothing.
    virtual HRESULT MoveToWastebasket(const std::vector<QByteArray>& entryIds,
                                      std::vector<QByteArray>& trashIds);
    // Moves (flags MESSAGE_MOVE) or copies messages of this folder into
    // destination, each with its flags (read or not) as it was. newIds, when
    // not null, gets one entry per listed message: its entry id in
    // destination, empty for one that failed. S_OK when every message went;
    // MAPI_E_NO_SUPPORT for a destination or operation the provider cannot
    // do (the default for every provider that has not got one).
    virtual HRESULT CopyMessages(const std::vector<QByteArray>& entryIds, IMAPIFolder* destination,
                                 uint32_t flags, std::vector<QByteArray>* newIds);
};

class IMsgStore : public IMAPIContainer {
public:
    virtual HRESULT GetReceiveFolder(const QString& messageClass, uint32_t flags,
                                     QByteArray& entryId) = 0;
};

class IMAPISession {
public:
    virtual ~IMAPISession() = default;
    virtual HRESULT GetMsgStoresTable(uint32_t flags, std::unique_ptr<IMAPITable>& table) = 0;
    virtual HRESULT OpenMsgStore(const QByteArray& entryId, uint32_t flags,
                                 std::unique_ptr<IMsgStore>& store) = 0;
    // Opens any entry of any account by its entry id.
    virtual HRESULT OpenEntry(const QByteArray& entryId, uint32_t flags, uint32_t* objType,
                              std::unique_ptr<IMAPIProp>& object) = 0;
};

// Logs on to the message store (the Maildir and IMAP accounts of this user).
HRESULT MAPILogonEx(uint32_t flags, std::unique_ptr<IMAPISession>& session);

// Casts an object from OpenEntry to the kind wanted; null when it is another.
template <typename T>
std::unique_ptr<T> entry_cast(std::unique_ptr<IMAPIProp> object) {
    if (auto* p = dynamic_cast<T*>(object.get())) {
        object.release();
        return std::unique_ptr<T>(p);
    }
    return nullptr;
}

}  // namespace lyb::mapi
