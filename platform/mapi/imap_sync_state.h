// What the IMAP provider knows of an account's folder, kept between runs so
// that a new process lists an unchanged folder by asking the server only
// what changed: UIDVALIDITY, the mod-sequence the listing is up to date with
// (CONDSTORE) and, per UID, the flags, size, internal date and the structure
// read from BODYSTRUCTURE.
//
// One SQLite file per account beside the account's message cache,
// $XDG_CACHE_HOME/lyrabell/imap-<account>.sqlite3 (folder 0700, file 0600),
// with a versioned schema. A file that is damaged, of a newer schema, of
// another address or of another UIDVALIDITY is not used: one line on
// standard error, and the next save makes it again from the server's
// listing. Saves are transactions: a process that ends in the middle leaves
// the last complete listing.
//
// Several programs may list the same account; each save writes what changed
// since this process's last save when the file is still as this process left
// it, else the whole listing. Either way the file holds one complete listing
// with the mod-sequence it is up to date with.
#pragma once

#include <QString>

#include <cstdint>
#include <map>

#include "platform/mapi/imap_connection.h"

namespace lyb::mapi {

class ImapSyncState {
public:
    static constexpr int kSchemaVersion = 1;

    // The state of account's folder at address, in path (by default the
    // file in the cache folder named after the account).
    ImapSyncState(const QString& account, const ImapAddress& address, QString path = {});

    // The listing kept by an earlier run when it is of this UIDVALIDITY and
    // not ahead of the server's highest mod-sequence (0 without CONDSTORE);
    // false (listed and modseq untouched) when there is none to use.
    bool load(uint32_t uidValidity, uint64_t highestModseq, std::map<uint32_t, ImapListed>& listed,
              uint64_t& modseq);
    // Keeps a complete listing of the folder, up to date with modseq.
    void save(uint32_t uidValidity, uint64_t modseq, const std::map<uint32_t, ImapListed>& listed);

    const QString& path() const { return path_; }
    // The file name for an account, its name escaped to [A-Za-z0-9_-] and %XX.
    static QString fileName(const QString& account);

private:
    struct Saved {
        bool seen = false;
        uint32_t size = 0;
        uint64_t date = 0;
    };
    void report(const QString& why);

    QString account_;
    QString source_;  // user@host:port/folder: what the listing is of
    QString path_;
    // What the file holds as this process last read or wrote it.
    bool inFile_ = false;
    int64_t generation_ = 0;
    uint32_t uidValidity_ = 0;
    uint64_t modseq_ = 0;
    std::map<uint32_t, Saved> saved_;
};

// The structure of a message as kept in the file, and back; false for bytes
// that are not one.
QByteArray packImapStructure(const ImapStructure& structure);
bool unpackImapStructure(const QByteArray& bytes, ImapStructure& structure);

}  // namespace lyb::mapi
