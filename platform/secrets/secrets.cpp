// libsecret (through GLib) comes before Qt, whose "signals" macro breaks GLib's headers.
#include <libsecret/secret.h>

#include "platform/secrets/secrets.h"

#include <QByteArray>

#include <map>
#include <mutex>

namespace lyb::secrets {

namespace {

// Matched by attributes only (SECRET_SCHEMA_DONT_MATCH_NAME): items that
// secret-tool stored under its generic schema are found too.
const SecretSchema* schema() {
    static const SecretSchema s = {"org.lyrabell.Password",
                                   SECRET_SCHEMA_DONT_MATCH_NAME,
                                   {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {"account", SECRET_SCHEMA_ATTRIBUTE_STRING},
                                    {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
                                   0,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr,
                                   nullptr};
    return &s;
}

void take(GError* e, QString* error) {
    if (error)
        *error = e ? QString::fromUtf8(e->message) : QString();
    if (e)
        g_error_free(e);
}

std::mutex& keptMutex() {
    static std::mutex m;
    return m;
}
std::map<QString, QString>& kept() {
    static auto* passwords = new std::map<QString, QString>;
    return *passwords;
}

}  // namespace

void keepForThisRun(const QString& account, const QString& password) {
    std::lock_guard lock(keptMutex());
    kept()[account] = password;
}

std::optional<QString> lookupPassword(const QString& account, QString* error) {
    {
        std::lock_guard lock(keptMutex());
        if (auto it = kept().find(account); it != kept().end()) {
            if (error)
                error->clear();
            return it->second;
        }
    }
    const QByteArray name = account.toUtf8();
    GError* e = nullptr;
    gchar* password = secret_password_lookup_sync(schema(), nullptr, &e, "application", "lyrabell",
                                                  "account", name.constData(), nullptr);
    take(e, error);
    if (!password)
        return std::nullopt;
    QString result = QString::fromUtf8(password);
    secret_password_free(password);
    return result;
}

bool storePassword(const QString& account, const QString& password, QString* error) {
    const QByteArray name = account.toUtf8();
    const QByteArray secret = password.toUtf8();
    const QByteArray label = QStringLiteral("Lyrabell password for %1").arg(account).toUtf8();
    GError* e = nullptr;
    const gboolean ok = secret_password_store_sync(
        schema(), SECRET_COLLECTION_DEFAULT, label.constData(), secret.constData(), nullptr, &e,
        "application", "lyrabell", "account", name.constData(), nullptr);
    if (!ok && !e && error)
        *error = QStringLiteral("the Secret Service refused the password");
    else
        take(e, error);
    return ok;
}

bool clearPassword(const QString& account, QString* error) {
    {
        std::lock_guard lock(keptMutex());
        kept().erase(account);
    }
    const QByteArray name = account.toUtf8();
    GError* e = nullptr;
    secret_password_clear_sync(schema(), nullptr, &e, "application", "lyrabell", "account",
                               name.constData(), nullptr);
    const bool ok = e == nullptr;
    take(e, error);
    return ok;
}

}  // namespace lyb::secrets
