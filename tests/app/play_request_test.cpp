#include "app/play_request.h"

#include "platform/desktop/file_names.h"
#include "qstring_print.h"

#include <QDir>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

using lyb::app::fileNameOf;
using lyb::app::parsePlayRequest;
using lyb::app::PlayRequest;
using lyb::app::RequestKind;

namespace {

struct Case {
    const char* request;
    RequestKind kind;
    const char* path;
    const char* caller;
};

}  // namespace

TEST(PlayRequest, ClassifiesAndSplitsEveryForm) {
    const Case cases[] = {
        {"", RequestKind::None, "", ""},
        {"x", RequestKind::None, "", ""},
        {"ab", RequestKind::LocalFile, "ab", ""},
        {"<OID>", RequestKind::StoredMessage, "", ""},
        {"<oid>", RequestKind::StoredMessage, "", ""},
        {"<OiD>", RequestKind::StoredMessage, "", ""},
        {"<OID> ", RequestKind::LocalFile, "<OID> ", ""},
        {" <OID>", RequestKind::LocalFile, " <OID>", ""},
        {"/m/a.wav", RequestKind::LocalFile, "/m/a.wav", ""},
        {"\"/m/a b.wav\"", RequestKind::LocalFile, "\"/m/a b.wav\"", ""},
        {"/m/a.wav<lyb:Ann Lee>", RequestKind::LocalFile, "/m/a.wav", "Ann Lee"},
        {"/m/a.wav<lyb:Ann>tail", RequestKind::LocalFile, "/m/a.wav", "Ann"},
        {"/m/a.wav<lyb:>", RequestKind::LocalFile, "/m/a.wav", ""},
        // Without the closing ">" the whole text is the path.
        {"/m/a.wav<lyb:Ann", RequestKind::LocalFile, "/m/a.wav<lyb:Ann", ""},
        // The marker is case-sensitive.
        {"/m/a.wav<LYB:Ann>", RequestKind::LocalFile, "/m/a.wav<LYB:Ann>", ""},
        // The first ">" before the marker: empty caller, path cut at the marker.
        {"/m/x>y.wav<lyb:Ann>", RequestKind::LocalFile, "/m/x>y.wav", ""},
        {"<lyb:Ann>", RequestKind::LocalFile, "", "Ann"},
    };
    for (const Case& c : cases) {
        const PlayRequest r = parsePlayRequest(QString::fromUtf8(c.request));
        EXPECT_EQ(r.kind, c.kind) << c.request;
        EXPECT_EQ(r.path, QString::fromUtf8(c.path)) << c.request;
        EXPECT_EQ(r.caller, QString::fromUtf8(c.caller)) << c.request;
    }
}

// A file whose name holds "<lyb:" is the file; the split applies only when
// the whole text names no file (or a folder).
TEST(PlayRequest, WholeTextNamingAFileIsThatFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString root = dir.path() + QLatin1Char('/');
    const QString nonUtf8 = lyb::desktop::decodeFileName(QByteArray("\xff<lyb:Ann>.wav"));
    for (const QString& name : {QStringLiteral("a.wav"), QStringLiteral("m<lyb:Ann>.wav"),
                                QStringLiteral("n.wav<lyb:Bo>"), nonUtf8}) {
        const int fd = ::creat(lyb::desktop::encodeFileName(root + name).constData(), 0600);
        ASSERT_GE(fd, 0) << name.toStdString();
        ::close(fd);
    }
    ASSERT_TRUE(QDir(root).mkdir(QStringLiteral("d<lyb:Cy>")));
    const Case cases[] = {
        {"m<lyb:Ann>.wav", RequestKind::LocalFile, "m<lyb:Ann>.wav", ""},
        {"n.wav<lyb:Bo>", RequestKind::LocalFile, "n.wav<lyb:Bo>", ""},
        {"a.wav<lyb:Ann>", RequestKind::LocalFile, "a.wav", "Ann"},
        {"m<lyb:Ann>.gsm", RequestKind::LocalFile, "m", "Ann"},
        {"d<lyb:Cy>", RequestKind::LocalFile, "d", "Cy"},
    };
    for (const Case& c : cases) {
        const PlayRequest r = parsePlayRequest(root + QString::fromUtf8(c.request));
        EXPECT_EQ(r.kind, c.kind) << c.request;
        EXPECT_EQ(r.path, root + QString::fromUtf8(c.path)) << c.request;
        EXPECT_EQ(r.caller, QString::fromUtf8(c.caller)) << c.request;
    }
    EXPECT_EQ(parsePlayRequest(root + nonUtf8).path, root + nonUtf8);
}

TEST(PlayRequest, FileNameIsTheLastComponentOfEitherSlash) {
    EXPECT_EQ(fileNameOf(QStringLiteral("/home/a/msg.wav")), QStringLiteral("msg.wav"));
    EXPECT_EQ(fileNameOf(QStringLiteral("\\My Documents\\msg.gsm")), QStringLiteral("msg.gsm"));
    EXPECT_EQ(fileNameOf(QStringLiteral("a\\b/c.wav")), QStringLiteral("c.wav"));
    EXPECT_EQ(fileNameOf(QStringLiteral("plain.wav")), QStringLiteral("plain.wav"));
    EXPECT_EQ(fileNameOf(QStringLiteral("/dir/")), QString());
}
