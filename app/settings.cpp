#include "app/settings.h"

#include "platform/desktop/desktop.h"
#include "platform/registry/registry.h"

namespace lyb::settings {

namespace {

constexpr quint64 kAccountChangeWParam = names::kAccountChangeBroadcast;

std::optional<reg::Key> openSection(const QString& section) {
    return reg::Key::open(reg::Hive::CurrentUser, sectionKeyPath(section));
}

std::optional<reg::Key> createSection(const QString& section) {
    return reg::Key::create(reg::Hive::CurrentUser, sectionKeyPath(section));
}

QString name(const char* entry) {
    return QString::fromLatin1(entry);
}
QString section() {
    return QString::fromLatin1(kSection);
}

}  // namespace

QString sectionKeyPath(const QString& section) {
    return QStringLiteral("Software\\%1\\%2\\%3")
        .arg(QString::fromLatin1(kCompany), QString::fromLatin1(kProfile), section);
}

int GetProfileInt(const QString& section, const QString& entry, int defaultValue) {
    const auto key = openSection(section);
    if (!key)
        return defaultValue;
    const auto number = key->readDword(entry);
    return number ? static_cast<int>(*number) : defaultValue;
}

bool WriteProfileInt(const QString& section, const QString& entry, int value) {
    const auto key = createSection(section);
    return key && key->writeDword(entry, static_cast<uint32_t>(value));
}

QString GetProfileString(const QString& section, const QString& entry,
                         const QString& defaultValue) {
    const auto key = openSection(section);
    if (!key)
        return defaultValue;
    return key->readString(entry).value_or(defaultValue);
}

bool WriteProfileString(const QString& section, const QString& entry, const QString& value) {
    const auto key = createSection(section);
    return key && key->writeString(entry, value, true);
}

std::optional<QByteArray> GetProfileBinary(const QString& section, const QString& entry) {
    const auto key = openSection(section);
    if (!key)
        return std::nullopt;
    return key->readBinary(entry);
}

bool WriteProfileBinary(const QString& section, const QString& entry, const QByteArray& bytes) {
    const auto key = createSection(section);
    return key && key->writeBinary(entry, bytes);
}

QString messageStore() {
    return GetProfileString(section(), name(kMessageStore));
}
bool setMessageStore(const QString& account) {
    return WriteProfileString(section(), name(kMessageStore), account);
}
int usingOutlook() {
    return GetProfileInt(section(), name(kUsingOutlook), kUsingOutlookDefault);
}
bool setUsingOutlook(int value) {
    return WriteProfileInt(section(), name(kUsingOutlook), value);
}
int nanp() {
    return GetProfileInt(section(), name(kNanp), kNanpDefault);
}
bool setNanp(int value) {
    return WriteProfileInt(section(), name(kNanp), value);
}
int details() {
    return GetProfileInt(section(), name(kDetails), kDetailsDefault);
}
bool setDetails(int value) {
    return WriteProfileInt(section(), name(kDetails), value);
}
int fontSize() {
    return GetProfileInt(section(), name(kFont), kFontDefault);
}
bool setFontSize(int value) {
    return WriteProfileInt(section(), name(kFont), value);
}
int tips() {
    return GetProfileInt(section(), name(kTips), kTipsDefault);
}
bool setTips(int value) {
    return WriteProfileInt(section(), name(kTips), value);
}
QString autoPlay() {
    return GetProfileString(section(), name(kAutoPlay));
}
bool setAutoPlay(const QString& request) {
    return WriteProfileString(section(), name(kAutoPlay), request);
}
std::optional<QByteArray> msgEntryId() {
    return GetProfileBinary(section(), name(kMsgEntryId));
}
bool setMsgEntryId(const QByteArray& id) {
    return WriteProfileBinary(section(), name(kMsgEntryId), id);
}

std::optional<QString> installDir() {
    const auto key = openSection(section());
    if (!key)
        return std::nullopt;
    return key->readString(name(kInstallDir));
}

int broadcast_account_change() {
    return desktop::broadcastMessage(desktop::WM_SETTINGCHANGE, kAccountChangeWParam, 0);
}

bool chooseAccount(const QString& account, bool announce) {
    if (!setMessageStore(account))
        return false;
    if (announce)
        broadcast_account_change();
    return true;
}

}  // namespace lyb::settings
