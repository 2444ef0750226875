// lybtool's number and contacts commands, run as a user runs them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>

namespace {

struct ToolRun {
    int status;
    QString out;
};

ToolRun lybtool(const QStringList& args, const QString& region = QString()) {
    QProcess p;
    if (!region.isEmpty()) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("LYRABELL_REGION"), region);
        p.setProcessEnvironment(env);
    }
    p.start(QStringLiteral(LYB_BINARY_DIR "/bin/lybtool"), args);
    p.waitForFinished(30000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()).trimmed()};
}

}  // namespace

TEST(LybtoolNumber, PrintsEachFormOfANumber) {
    // NANP is on by default.
    EXPECT_EQ(lybtool({"number", "dialable", "(415) 555-1234"}).out, QStringLiteral("14155551234"));
    EXPECT_EQ(lybtool({"number", "display", "4155551234"}).out, QStringLiteral("415.555.1234"));
    EXPECT_EQ(lybtool({"number", "display", "+44 20 7946 0123"}, "US").out,
              QStringLiteral("+44 20 7946 0123"));
    EXPECT_EQ(lybtool({"number", "display", "02079460123"}, "GB").out,
              QStringLiteral("020 7946 0123"));
    EXPECT_EQ(lybtool({"number", "e164", "02079460123"}, "GB").out,
              QStringLiteral("+442079460123"));
    EXPECT_EQ(lybtool({"number", "e164", "555-1234"}).status, 1);
    EXPECT_EQ(lybtool({"number", "display"}).status, 2);
}

TEST(LybtoolContacts, MatchPrintsTheFileAsNameOrExitsOne) {
    const QString folder = qEnvironmentVariable("LYRABELL_CONTACTS");
    ASSERT_FALSE(folder.isEmpty());
    QDir().mkpath(folder);
    QFile card(folder + QStringLiteral("/ada.vcf"));
    ASSERT_TRUE(card.open(QIODevice::WriteOnly));
    card.write(
        "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada Lovelace\r\nN:Lovelace;Ada;;;\r\n"
        "TEL;TYPE=CELL:+1 (415) 555-1234\r\nEND:VCARD\r\n");
    card.close();

    const ToolRun found = lybtool({"contacts", "match", "4155551234"});
    EXPECT_EQ(found.status, 0);
    EXPECT_TRUE(found.out.startsWith(QStringLiteral("Ada Lovelace"))) << found.out.toStdString();
    const ToolRun missing = lybtool({"contacts", "match", "2125550000"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(missing.out.isEmpty());
}
