#include "platform/pim/pim.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QUuid>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/files/file_names.h"
#include "platform/files/regular_file.h"
#include "platform/paths/private_files.h"
#include "platform/pim/card_files.h"
#include "platform/pim/phone_match.h"

namespace lyb::pim {

using detail::FileCards;
using detail::listFolder;
using detail::readCardFile;
using detail::readFile;
using detail::Replaced;
using detail::replaceFile;
using detail::Stamp;
using detail::writeFile;

namespace {

std::atomic<ContactUi*> installedUi{nullptr};

// Names a file on standard error the first time this process has trouble with
// it; verb says what is done about it.
void reportOnce(const QString& path, const char* verb, const QString& what) {
    static QMutex mutex;
    static QSet<QString> reported;
    {
        QMutexLocker lock(&mutex);
        if (reported.contains(path))
            return;
        reported.insert(path);
    }
    const QByteArray line = QStringLiteral("lyrabell: contacts: %1 %2: %3\n")
                                .arg(QLatin1String(verb), path, what)
                                .toUtf8();
    std::fwrite(line.constData(), 1, line.size(), stderr);
}

// Returns the values of every property called name, unescaped, in order.
QStringList unescapedValues(const vcard::Card& card, const char* name) {
    QStringList out;
    for (const auto& p : card.properties) {
        if (p.name == QLatin1String(name))
            out += vcard::unescape(p.value);
    }
    return out;
}

QString nameKey(const QString& name) {
    return name.trimmed().toCaseFolded();
}

uint32_t telephoneKind(const vcard::Property& p) {
    if (p.hasType(QStringLiteral("cell")))
        return kPropMobileTelephoneNumber;
    if (p.hasType(QStringLiteral("home")))
        return kPropHomeTelephoneNumber;
    if (p.hasType(QStringLiteral("work")))
        return kPropBusinessTelephoneNumber;
    return kPropOtherTelephoneNumber;
}

constexpr uint32_t telephoneKinds[] = {kPropMobileTelephoneNumber, kPropHomeTelephoneNumber,
                                       kPropBusinessTelephoneNumber, kPropOtherTelephoneNumber};

int kindIndex(uint32_t kind) {
    for (int i = 0; i < 4; ++i) {
        if (telephoneKinds[i] == kind)
            return i;
    }
    return 3;
}

vcard::Property newProperty(const char* name, QList<vcard::Parameter> params = {}) {
    vcard::Property p;
    p.name = QLatin1String(name);
    p.params = std::move(params);
    return p;
}

}  // namespace

QString contactsFolder() {
    const QString configured = files::decodeFileName(qgetenv("LYRABELL_CONTACTS"));
    if (!configured.isEmpty())
        return configured;
    QString data = files::decodeFileName(qgetenv("XDG_DATA_HOME"));
    if (data.isEmpty() || !QDir::isAbsolutePath(data)) {
        const QString home = QDir::homePath();
        if (home.isEmpty())
            return QString();
        data = home + QStringLiteral("/.local/share");
    }
    return data + QStringLiteral("/lyrabell/contacts");
}

void setContactUi(ContactUi* ui) {
    installedUi.store(ui);
}

ContactUi* contactUi() {
    return installedUi.load();
}

// --- Contact ---

QStringList Contact::nameParts() const {
    QStringList parts;
    if (const auto* n = card_.find(QStringLiteral("N")))
        parts = vcard::splitEscaped(n->value);
    while (parts.size() < 5)
        parts += QString();
    return parts;
}

void Contact::setNamePart(int index, const QString& text) {
    QStringList parts = nameParts();
    parts[index] = vcard::escape(text);
    vcard::Property* n = card_.find(QStringLiteral("N"));
    if (!n && text.isEmpty())
        return;  // an empty name part is what a card without N already says
    if (!n) {
        card_.properties += newProperty("N");
        n = &card_.properties.last();
    }
    n->value = parts.join(QLatin1Char(';'));
}

QString Contact::firstName() const {
    return vcard::unescape(nameParts()[1]);
}

QString Contact::lastName() const {
    return vcard::unescape(nameParts()[0]);
}

QString Contact::fileAs() const {
    const auto* fn = card_.find(QStringLiteral("FN"));
    return fn ? vcard::unescape(fn->value) : QString();
}

vcard::Property* Contact::mobileProperty() {
    return telephoneProperty(kPropMobileTelephoneNumber);
}

QString Contact::mobileTelephoneNumber() const {
    return telephoneNumber(kPropMobileTelephoneNumber);
}

QStringList Contact::telephoneNumbers() const {
    return unescapedValues(card_, "TEL");
}

QList<Contact::Telephone> Contact::telephones() const {
    QList<Telephone> out;
    for (const auto& p : card_.properties) {
        if (p.name == QLatin1String("TEL"))
            out += Telephone{telephoneKind(p), vcard::unescape(p.value)};
    }
    return out;
}

vcard::Property* Contact::telephoneProperty(uint32_t kind) {
    for (auto& p : card_.properties) {
        if (p.name == QLatin1String("TEL") && telephoneKind(p) == kind)
            return &p;
    }
    return nullptr;
}

QString Contact::telephoneNumber(uint32_t kind) const {
    const auto* p = const_cast<Contact*>(this)->telephoneProperty(kind);
    return p ? vcard::unescape(p->value) : QString();
}

QStringList Contact::emailAddresses() const {
    return unescapedValues(card_, "EMAIL");
}

QByteArray Contact::photo() const {
    const auto* p = card_.find(QStringLiteral("PHOTO"));
    if (!p)
        return {};
    const QString uri = vcard::unescape(p->value);
    const qsizetype comma = uri.indexOf(QLatin1Char(','));
    if (!uri.startsWith(QLatin1String("data:"), Qt::CaseInsensitive) || comma < 0 ||
        !uri.left(comma).endsWith(QLatin1String(";base64"), Qt::CaseInsensitive))
        return {};
    return QByteArray::fromBase64(uri.mid(comma + 1).toLatin1());
}

void Contact::setTelephoneNumber(uint32_t kind, const QString& text) {
    const char* type = kind == kPropMobileTelephoneNumber     ? "cell"
                       : kind == kPropHomeTelephoneNumber     ? "home"
                       : kind == kPropBusinessTelephoneNumber ? "work"
                                                              : nullptr;
    if (!type)
        return;
    vcard::Property* tel = telephoneProperty(kind);
    if (text.isEmpty()) {
        if (tel)
            card_.properties.removeAt(tel - card_.properties.data());
        return;
    }
    if (!tel) {
        card_.properties += newProperty("TEL", {{QStringLiteral("TYPE"), {QLatin1String(type)}}});
        tel = &card_.properties.last();
    }
    tel->params.removeIf(
        [](const vcard::Parameter& p) { return p.name == QLatin1String("VALUE"); });
    tel->value = vcard::escape(text);
}

void Contact::setEmailAddress(const QString& text) {
    vcard::Property* email = card_.find(QStringLiteral("EMAIL"));
    if (text.isEmpty()) {
        if (email)
            card_.properties.removeAt(email - card_.properties.data());
        return;
    }
    if (!email) {
        card_.properties += newProperty("EMAIL");
        email = &card_.properties.last();
    }
    email->value = vcard::escape(text);
}

void Contact::setFirstName(const QString& text) {
    setNamePart(1, text);
}

void Contact::setLastName(const QString& text) {
    setNamePart(0, text);
}

void Contact::setFileAs(const QString& text) {
    vcard::Property* fn = card_.find(QStringLiteral("FN"));
    if (!fn) {
        card_.properties += newProperty("FN");
        fn = &card_.properties.last();
    }
    fn->value = vcard::escape(text);
}

void Contact::setMobileTelephoneNumber(const QString& text) {
    // Kept even when empty: a caller without a number still gets the field.
    vcard::Property* tel = mobileProperty();
    if (!tel) {
        card_.properties +=
            newProperty("TEL", {{QStringLiteral("TYPE"), {QStringLiteral("cell")}}});
        tel = &card_.properties.last();
    }
    tel->params.removeIf(
        [](const vcard::Parameter& p) { return p.name == QLatin1String("VALUE"); });
    tel->value = vcard::escape(text);
}

int Contact::save() {
    error_.clear();
    if (!card_.readOnly.isEmpty()) {
        error_ = QStringLiteral("%1 is not changed: %2").arg(path_, card_.readOnly);
        return kFailed;
    }
    if (stored_) {
        return rewrite(
            [this](const vcard::Card& base) { return vcard::writeEdited(base, original_, card_); });
    }
    const QByteArray bytes = vcard::write(card_);
    if (!writeFile(folder_, path_, bytes)) {
        error_ = QStringLiteral("cannot write %1").arg(path_);
        return kFailed;
    }
    // What was written is what the next save starts from.
    const vcard::ReadResult written = vcard::read(bytes);
    if (written.cards.size() == 1) {
        original_ = card_ = written.cards[0];
        indexInFile_ = 0;
        QString why;
        state_ = readFile(path_, &why).state;
    }
    stored_ = true;
    return kOk;
}

int Contact::rewrite(const std::function<QByteArray(const vcard::Card&)>& produce) {
    error_.clear();
    // A few rounds: each is lost only to another program writing the file
    // between this one reading it and renaming over it.
    for (int round = 0; round < 5; ++round) {
        QByteArray data;
        detail::FileState now;
        const int error = readCardFile(path_, &data, &now);
        if (error == ENOENT) {
            error_ = QStringLiteral("%1 is gone; nothing was written").arg(path_);
            return kNotFound;
        }
        if (error != 0) {
            error_ = QStringLiteral("cannot read %1: %2")
                         .arg(path_, QString::fromStdString(files::errorText(error)));
            return kFailed;
        }
        const vcard::ReadResult read = vcard::read(data);
        // Its malformed cards would be lost in the rewrite.
        if (!read.problems.isEmpty()) {
            error_ = QStringLiteral("%1 holds a card that cannot be read; it is left as it is")
                         .arg(path_);
            return kFailed;
        }
        // The card read at logon is in the same place while the file is
        // unchanged; else it is the card with its UID, else with its text.
        const vcard::Card* base = nullptr;
        if (now == state_ && indexInFile_ < read.cards.size() &&
            read.cards[indexInFile_].raw == original_.raw) {
            base = &read.cards[indexInFile_];
        } else {
            const QString id = vcard::uid(original_);
            const vcard::Card* byText = nullptr;
            for (const vcard::Card& c : read.cards) {
                const bool sameText = c.raw == original_.raw;
                if (!id.isEmpty() && vcard::uid(c) == id) {
                    if (!base || sameText)
                        base = &c;
                } else if (sameText && !byText) {
                    byText = &c;
                }
            }
            if (!base)
                base = byText;
        }
        if (!base) {
            error_ = QStringLiteral(
                         "the contact is no longer in %1 (another program removed or changed "
                         "it); nothing was written")
                         .arg(path_);
            return kNotFound;
        }
        const QByteArray cardBytes = produce(*base);
        QByteArray bytes = data;
        bytes.replace(base->rawOffset, base->raw.size(), cardBytes);
        if (cardBytes.isEmpty() && read.cards.size() == 1 &&
            QByteArrayView(bytes).trimmed().isEmpty()) {
            if (::unlink(files::encodeFileName(path_).constData()) != 0 && errno != ENOENT) {
                error_ = QStringLiteral("cannot remove %1").arg(path_);
                return kFailed;
            }
            return kOk;
        }
        switch (replaceFile(path_, bytes, now)) {
            case Replaced::changed:
                continue;
            case Replaced::failed:
                error_ = QStringLiteral("cannot write %1").arg(path_);
                return kFailed;
            case Replaced::done:
                break;
        }
        // What was written is what the next save starts from.
        const vcard::ReadResult written = vcard::read(bytes);
        state_ = detail::FileState();
        for (qsizetype i = 0; i < written.cards.size(); ++i) {
            if (!cardBytes.isEmpty() && written.cards[i].rawOffset == base->rawOffset) {
                original_ = card_ = written.cards[i];
                indexInFile_ = int(i);
                struct stat st = {};
                if (::stat(files::encodeFileName(path_).constData(), &st) == 0)
                    state_ = {qint64(bytes.size()),
                              qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                              QCryptographicHash::hash(bytes, QCryptographicHash::Sha256)};
            }
        }
        return kOk;
    }
    error_ =
        QStringLiteral("%1 kept changing while it was written; nothing was written").arg(path_);
    return kFailed;
}

int Contact::remove() {
    error_.clear();
    if (!stored_)
        return kOk;
    struct stat st = {};
    if (::stat(files::encodeFileName(path_).constData(), &st) != 0 && errno == ENOENT) {
        stored_ = false;
        return kOk;
    }
    const int result = rewrite([](const vcard::Card&) { return QByteArray(); });
    if (result == kOk)
        stored_ = false;
    return result;
}

Item* Contact::item() {
    return stored_ ? this : nullptr;
}

int Contact::getProperty(uint32_t propertyId, QString* value) const {
    switch (propertyId) {
        case kPropFileAs:
            if (!card_.find(QStringLiteral("FN")))
                return kNotFound;
            *value = fileAs();
            return kOk;
        case kPropFirstName:
        case kPropLastName:
            if (!card_.find(QStringLiteral("N")))
                return kNotFound;
            *value = propertyId == kPropFirstName ? firstName() : lastName();
            return kOk;
        case kPropMobileTelephoneNumber:
        case kPropHomeTelephoneNumber:
        case kPropBusinessTelephoneNumber:
        case kPropOtherTelephoneNumber:
            for (const auto& p : card_.properties) {
                if (p.name == QLatin1String("TEL") && telephoneKind(p) == propertyId) {
                    *value = vcard::unescape(p.value);
                    return kOk;
                }
            }
            return kNotFound;
        default:
            return kNotFound;
    }
}

int Contact::display(QObject* owner) {
    if (!ui_)
        return kFailed;
    ui_->display(*this, owner);
    return kOk;
}

int Contact::edit(QObject* owner) {
    return ui_ && ui_->edit(*this, owner) ? kOk : kCancelled;
}

// --- Application ---

struct StoredCard {
    vcard::Card card;
    QString path;
    int indexInFile = 0;
    detail::FileState state;  // of its file when it was read
};

struct detail::LoadedFolder {
    explicit LoadedFolder(const QString& region) : phones(region) {}
    std::vector<StoredCard> cards;
    QHash<QString, int> byName;  // first card with that file-as name
    PhoneIndex phones;           // owner: card index * 4 + telephone kind index
};

Application::Application(QString folder, ContactUi* ui) : folder_(std::move(folder)), ui_(ui) {}

Application::~Application() = default;

std::unique_ptr<Application> Application::create() {
    return create(contactsFolder(), contactUi());
}

std::unique_ptr<Application> Application::create(const QString& folder, ContactUi* ui) {
    if (folder.isEmpty())
        return nullptr;
    // Callers are named and numbers dialled from these cards: a folder that
    // another user could have filled is not opened. Root's is the installed
    // demo's.
    if (const QString why = paths::untrustedBecause(folder, paths::Owner::UserOrRoot);
        !why.isEmpty()) {
        std::fprintf(stderr, "lyrabell: the contacts folder %s is not opened: %s\n",
                     files::encodeFileName(folder).constData(), why.toLocal8Bit().constData());
        return nullptr;
    }
    return std::unique_ptr<Application>(new Application(folder, ui));
}

namespace {

// The folder read last, kept while its listing stays the same, so that the
// logons of one program (every list population, every lookup) read and
// index it once.
struct FolderCache {
    std::mutex mutex;
    QString folder;
    QString region;
    std::vector<Stamp> stamps;
    std::shared_ptr<const detail::LoadedFolder> loaded;
};

FolderCache& folderCache() {
    static FolderCache cache;
    return cache;
}

}  // namespace

static std::shared_ptr<const detail::LoadedFolder> loadFolder(const QString& folder,
                                                              const QString& region,
                                                              const std::vector<Stamp>& stamps) {
    auto loaded = std::make_shared<detail::LoadedFolder>(region);
    const QString prefix = folder + QLatin1Char('/');
    for (const Stamp& stamp : stamps) {
        const QString path = prefix + stamp.name;
        QString why;
        FileCards read = readFile(path, &why);
        if (!why.isEmpty())
            reportOnce(path, "skipping", why);
        for (qsizetype i = 0; i < read.cards.size(); ++i) {
            const int index = int(loaded->cards.size());
            const vcard::Card& card = read.cards[i];
            if (!card.readOnly.isEmpty())
                reportOnce(path, "read-only", card.readOnly);
            if (const auto* fn = card.find(QStringLiteral("FN"))) {
                const QString key = nameKey(vcard::unescape(fn->value));
                if (!key.isEmpty() && !loaded->byName.contains(key))
                    loaded->byName.insert(key, index);
            }
            for (const auto& p : card.properties) {
                if (p.name == QLatin1String("TEL"))
                    loaded->phones.add(index * 4 + kindIndex(telephoneKind(p)),
                                       vcard::unescape(p.value));
            }
            loaded->cards.push_back({card, path, int(i), read.state});
        }
    }
    return loaded;
}

int Application::logon(QObject* /*owner*/) {
    std::vector<Stamp> stamps;
    if (!listFolder(folder_, &stamps))
        return kFailed;
    const QString region = defaultRegion();
    FolderCache& cache = folderCache();
    std::lock_guard lock(cache.mutex);
    if (!cache.loaded || cache.folder != folder_ || cache.region != region ||
        cache.stamps != stamps) {
        cache.loaded = loadFolder(folder_, region, stamps);
        cache.folder = folder_;
        cache.region = region;
        cache.stamps = std::move(stamps);
    }
    loaded_ = cache.loaded;
    return kOk;
}

void Application::logoff() {
    loaded_.reset();
}

QString Application::region() const {
    return loaded_ ? loaded_->phones.region() : defaultRegion();
}

int Application::matchContact(const QString& text, uint32_t flags,
                              std::unique_ptr<Contact>* contact, uint32_t* matchedProperty) {
    if (!loaded_)
        return kNotLoggedOn;
    if (!(flags & (kMatchTelephoneNumbers | kMatchFileAs)))
        return kBadArgument;
    int found = -1;
    uint32_t property = 0;
    if (flags & kMatchTelephoneNumbers) {
        const std::vector<int> owners = loaded_->phones.match(text);
        if (!owners.empty()) {
            found = owners.front() / 4;
            property = telephoneKinds[owners.front() % 4];
        }
    }
    if (found < 0 && (flags & kMatchFileAs)) {
        const QString key = nameKey(text);
        if (!key.isEmpty()) {
            found = loaded_->byName.value(key, -1);
            property = kPropFileAs;
        }
    }
    if (found < 0)
        return kNotFound;
    if (matchedProperty)
        *matchedProperty = property;
    const StoredCard& stored = loaded_->cards[found];
    contact->reset();
    struct stat st;
    if (::stat(files::encodeFileName(stored.path).constData(), &st) == 0) {
        auto c = std::unique_ptr<Contact>(new Contact);
        c->card_ = stored.card;
        c->original_ = stored.card;
        c->state_ = stored.state;
        c->folder_ = folder_;
        c->path_ = stored.path;
        c->indexInFile_ = stored.indexInFile;
        c->stored_ = true;
        c->ui_ = ui_;
        *contact = std::move(c);
    }
    return kOk;
}

int Application::createItem(int itemType, std::unique_ptr<Contact>* contact) {
    if (!loaded_)
        return kNotLoggedOn;
    if (itemType != kItemContact)
        return kBadArgument;
    const QString uuid = QUuid::createUuid().toString(QUuid::WithoutBraces);
    auto c = std::unique_ptr<Contact>(new Contact);
    c->card_.version = QStringLiteral("4.0");
    vcard::Property id = newProperty("UID");
    id.value = QStringLiteral("urn:uuid:") + uuid;
    c->card_.properties += id;
    c->folder_ = folder_;
    c->path_ = QDir(folder_).filePath(uuid + QStringLiteral(".vcf"));
    c->ui_ = ui_;
    *contact = std::move(c);
    return kOk;
}

}  // namespace lyb::pim
