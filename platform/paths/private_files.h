// Files and folders that only their user may change: the registry, the
// accounts file, the contacts folder, the libraries loaded into a program.
//
// Anything another local user could have written is refused, as a login key
// left open to others is: the caller names the fault in one line and goes on
// without the file. The folders made for our own files are made 0700 and the
// files 0600, whatever the umask.
#pragma once

#include <QString>

namespace lyb::paths {

// Whose files are trusted besides this user's own: root's too for programs
// and libraries that the system installed.
enum class Owner { User, UserOrRoot };
// Who besides the owner may write it: nobody for the user's own data, the
// owner's group too for programs and libraries (a build made under umask 002).
enum class Writers { Owner, OwnerAndGroup };

// Creates folder and every missing folder above it, each new one 0700
// whatever the umask; folders that exist are left as they are. True when
// folder is a folder afterwards.
bool makePrivateFolder(const QString& folder);

// Why the file or folder at path (links followed) could have been changed by
// another user: empty when it belongs to this user (or root, with
// Owner::UserOrRoot) and nobody else may write it (with
// Writers::OwnerAndGroup, others may not write it). A
// missing path gives empty too (nothing was planted). A folder writable by
// others but sticky (the temporary folder) is accepted: others cannot
// replace what is in it.
QString untrustedBecause(const QString& path, Owner owner = Owner::User,
                         Writers writers = Writers::Owner);
// The same for an open descriptor (no missing case).
QString untrustedBecause(int fd, Owner owner = Owner::User, Writers writers = Writers::Owner);

// The same for an SQLite database: its folder (whose owner may be
// folderOwner), the file and its write-ahead log and shared memory; the fault
// in one line naming the file, empty when the database may be used.
QString untrustedDatabase(const QString& path, Owner folderOwner = Owner::User);

}  // namespace lyb::paths
