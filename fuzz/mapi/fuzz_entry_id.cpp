// Entry identifiers as "MsgEntryID" and the Inbox extension's selection carry
// them: arbitrary bytes. Each input is opened by a session as a whole id, and
// as a unique name in a small Maildir made for the run, whose messages the
// seeds name. Nothing is changed: no flags are set and nothing is deleted.
// A message opened by its id must give that id back, and a unique name with
// a zero byte, which no file name has, must open none.
#include <sys/stat.h>
#include <unistd.h>

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "platform/files/file_names.h"
#include "platform/mapi/maildir_provider.h"

using namespace lyb::mapi;

namespace {

std::string g_folder;
QString g_root;
std::unique_ptr<IMAPISession> g_session;
std::unique_ptr<IMAPIFolder> g_inbox;

void put(const std::string& path, const char* text) {
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fputs(text, f);
        std::fclose(f);
    }
}

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(g_folder, ignored);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No accounts file and no registry: the inputs alone decide what is read.
    qputenv("LYRABELL_ACCOUNTS", "/dev/null/accounts.conf");
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/lyb-fuzz-entry-id-XXXXXX";
    if (!::mkdtemp(templ.data()))
        return 0;
    g_folder = templ;
    std::atexit(removeFolder);
    for (const char* sub : {"/cur", "/new", "/tmp"})
        ::mkdir((g_folder + sub).c_str(), 0700);
    put(g_folder + "/new/1700000000.M1P1.host",
        "From: a@example.org\nSubject: voicemail\nMessage-ID: <1@example.org>\n\nhello\n");
    put(g_folder + "/cur/1700000001.M2P1.host:2,S",
        "Subject: seen\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
        "Content-Type: audio/wav\nContent-Disposition: attachment; "
        "filename=a.wav\n\nRIFF\n--b--\n");
    g_root = lyb::files::decodeFileName(QByteArray::fromStdString(g_folder));
    MAPILogonEx(0, g_session);
    QByteArray folderId;
    std::unique_ptr<IMAPIProp> object;
    if (g_session) {
        g_session->OpenEntry(QByteArray("LYB1F") + lyb::files::encodeFileName(g_root) + '\0', 0,
                             nullptr, object);
    }
    g_inbox = entry_cast<IMAPIFolder>(std::move(object));
    return 0;
}

namespace {

void readSome(IMAPIProp& object) {
    std::vector<SPropValue> values;
    object.GetProps({PR_ENTRYID, PR_MESSAGE_FLAGS, PR_SUBJECT_W, PR_HASATTACH}, MAPI_UNICODE,
                    values);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!g_session || !g_inbox)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    std::unique_ptr<IMAPIProp> object;
    if (g_session->OpenEntry(bytes, 0, nullptr, object) == S_OK && object)
        readSome(*object);

    const QByteArray id = messageEntryId(g_root, lyb::files::decodeFileName(bytes));
    object.reset();
    if (g_inbox->OpenEntry(id, 0, nullptr, object) == S_OK && object) {
        if (bytes.contains('\0'))
            std::abort();  // no file name has one: it must name no message
        std::vector<SPropValue> values;
        if (object->GetProps({PR_ENTRYID}, MAPI_UNICODE, values) != S_OK || values.size() != 1 ||
            values[0].bin != id)
            std::abort();
        readSome(*object);
    }
    return 0;
}
