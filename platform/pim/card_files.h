// Card files on disk: read with a note of what the file was, listed with a
// stamp per file, and written whole beside themselves and renamed, always by
// the names' own bytes (file_names.h), so a file whose name is not UTF-8 is
// read and replaced like any other.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <vector>

#include "platform/pim/pim.h"
#include "platform/pim/vcard.h"

namespace lyb::pim::detail {

struct FileCards {
    QList<vcard::Card> cards;
    bool clean = false;  // readable and without problems
    FileState state;
};

// Reads a card file's bytes and notes what the file was; 0, EFBIG (bytes
// then hold the first ones) or an error code as files::readRegularFile gives.
int readCardFile(const QString& path, QByteArray* data, FileState* state);

// Reads and parses a card file; why says what kept it from being clean.
FileCards readFile(const QString& path, QString* why);

// What a folder's listing says about one card file; equal stamps mean the
// file was not replaced or changed.
struct Stamp {
    QString name;
    qint64 size = 0;
    qint64 mtimeNs = 0;
    quint64 inode = 0;
    bool operator==(const Stamp&) const = default;
};

// Lists the ".vcf" files of a folder (not hidden ones), sorted by name. A
// missing folder lists as empty; false when the folder cannot be listed.
bool listFolder(const QString& folder, std::vector<Stamp>* stamps);

// Writes a new card file, making its folder (private) first.
bool writeFile(const QString& folder, const QString& path, const QByteArray& bytes);

enum class Replaced { done, changed, failed };

// Writes bytes over the file at path, but only while the file is still as
// expected; changed when another program wrote it meanwhile.
Replaced replaceFile(const QString& path, const QByteArray& bytes, const FileState& expected);

}  // namespace lyb::pim::detail
