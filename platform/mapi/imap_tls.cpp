// GnuTLS's headers come before Qt's (the "signals" macro).
#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <libetpan/libetpan.h>

#include "platform/mapi/imap_tls.h"

#include <QFile>

#include <vector>

#include "platform/mapi/imap_url.h"

namespace lyb::mapi {

QString verifyChain(mailimap* imap, const ImapAddress& address, QString& fingerprint) {
    mailstream_low* low = mailstream_get_low(imap->imap_stream);
    carray* chain = low ? mailstream_low_get_certificate_chain(low) : nullptr;
    if (!chain || carray_count(chain) == 0) {
        if (chain)
            carray_free(chain);
        return QStringLiteral("the server sent no certificate");
    }
    std::vector<gnutls_x509_crt_t> certs;
    for (unsigned i = 0; i < carray_count(chain); ++i) {
        auto* der = static_cast<MMAPString*>(carray_get(chain, i));
        gnutls_x509_crt_t crt;
        gnutls_x509_crt_init(&crt);
        gnutls_datum_t datum{reinterpret_cast<unsigned char*>(der->str),
                             static_cast<unsigned>(der->len)};
        if (gnutls_x509_crt_import(crt, &datum, GNUTLS_X509_FMT_DER) < 0) {
            gnutls_x509_crt_deinit(crt);
            break;
        }
        certs.push_back(crt);
        mmap_string_free(der);
    }
    carray_free(chain);
    QString why;
    if (certs.empty())
        return QStringLiteral("the server's certificate cannot be read");

    gnutls_x509_trust_list_t trust;
    gnutls_x509_trust_list_init(&trust, 0);
    gnutls_x509_trust_list_add_system_trust(trust, 0, 0);
    if (!address.caFile.isEmpty()) {
        const QByteArray ca = QFile::encodeName(address.caFile);
        if (gnutls_x509_trust_list_add_trust_file(trust, ca.constData(), nullptr,
                                                  GNUTLS_X509_FMT_PEM, 0, 0) <= 0)
            why = QStringLiteral("the ca= file %1 holds no certificate that can be read")
                      .arg(address.caFile);
    }
    if (why.isEmpty()) {
        const QByteArray host = address.host.toUtf8();
        gnutls_typed_vdata_st data[2] = {
            {GNUTLS_DT_DNS_HOSTNAME,
             reinterpret_cast<unsigned char*>(const_cast<char*>(host.constData())), 0},
            {GNUTLS_DT_KEY_PURPOSE_OID,
             reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER)), 0}};
        unsigned status = 0;
        const int rc = gnutls_x509_trust_list_verify_crt2(
            trust, certs.data(), static_cast<unsigned>(certs.size()), data, 2, 0, &status, nullptr);
        if (rc < 0 || status != 0) {
            gnutls_datum_t text{};
            QString reason = QStringLiteral("it cannot be checked");
            if (rc >= 0 && gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509,
                                                                        &text, 0) == 0) {
                reason = QString::fromUtf8(reinterpret_cast<const char*>(text.data)).trimmed();
                gnutls_free(text.data);
            }
            unsigned char digest[32];
            size_t size = sizeof digest;
            if (gnutls_x509_crt_get_fingerprint(certs[0], GNUTLS_DIG_SHA256, digest, &size) == 0)
                fingerprint = QString::fromLatin1(
                    QByteArray(reinterpret_cast<const char*>(digest), qsizetype(size))
                        .toHex(':')
                        .toUpper());
            why = QStringLiteral(
                      "the server's certificate is not trusted (%1); its SHA-256 "
                      "fingerprint is %2")
                      .arg(reason, fingerprint);
        }
    }
    gnutls_x509_trust_list_deinit(trust, 1);
    for (gnutls_x509_crt_t c : certs)
        gnutls_x509_crt_deinit(c);
    return why;
}

void setServerName(mailstream_ssl_context* context, void* data) {
    const auto* host = static_cast<const QByteArray*>(data);
    // A name, never an address, goes into the server name indication.
    if (!host->contains(':') && !QByteArray(*host).replace('.', "").toULongLong())
        mailstream_ssl_set_server_name(context, const_cast<char*>(host->constData()));
}

}  // namespace lyb::mapi
