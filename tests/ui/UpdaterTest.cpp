#include "ui/Updater.h"

#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QFile>
#include <QSignalSpy>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTest>
#include <QUrl>
#include <map>

#include "OpenedUrls.h"
#include "QtTestApp.h"
#include "SimulatedDesk.h"
#include "VirtualClock.h"
#include "WidgetsTestApp.h"
#include "app/UpdateFeed.h"
#include "platform/LogSink.h"

namespace pellora::test {
namespace {

QByteArray dataFile(const char* name) {
    QFile file(QStringLiteral(QT_TESTCASE_SOURCEDIR "/ui/data/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray http(int status, const QByteArray& body, const QByteArray& headers = {},
                bool withLength = true) {
    const QByteArray length = "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    return "HTTP/1.1 " + QByteArray::number(status) + " X\r\nConnection: close\r\n" +
           (withLength ? length : QByteArray()) + headers + "\r\n" + body;
}

QByteArray offer(const QByteArray& version) {
    return http(200, R"({"version":")" + version + R"(","url":"https://example.org/d"})");
}

// Answers GETs on 127.0.0.1 from a table of paths, over TLS with the committed test
// certificate (signed by the committed test CA). A path with no entry gets no answer at all.
class FeedServer : public QObject {
  public:
    FeedServer() {
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setLocalCertificateChain({QSslCertificate(dataFile("update-server.pem")),
                                         QSslCertificate(dataFile("update-ca.pem"))});
        config.setPrivateKey(QSslKey(dataFile("update-server.key"), QSsl::Ec));
        config.setPeerVerifyMode(QSslSocket::VerifyNone);
        server_.setSslConfiguration(config);
        // A TLS server has a connection to hand out only once its handshake is done.
        connect(&server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                serve(socket);
            }
        });
        server_.listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path) const {
        return QStringLiteral("https://127.0.0.1:%1%2").arg(server_.serverPort()).arg(path);
    }

    std::map<QByteArray, QByteArray> answers;
    // Leaves the connection open after the answer: a body with no length never ends.
    bool keepOpen = false;
    QList<QByteArray> requested;

  private:
    void serve(QTcpSocket* socket) {
        QByteArray& seen = buffers_[socket];
        seen += socket->readAll();
        if (!seen.contains("\r\n\r\n")) {
            return;
        }
        const QByteArray path = seen.split(' ').value(1);
        seen.clear();
        requested << path;
        if (auto answer = answers.find(path); answer != answers.end()) {
            socket->write(answer->second);
            if (!keepOpen) {
                socket->disconnectFromHost();
            }
        }
    }

    QSslServer server_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

struct RecordingLog : LogSink {
    std::string lines;
    void log(std::string_view message, std::string_view tag) override {
        lines += "[" + std::string(tag) + "] " + std::string(message) + "\n";
    }
    bool has(const std::string& part) const { return lines.find(part) != lines.npos; }
};

struct UpdaterTest : ::testing::Test {
    std::unique_ptr<Updater> makeUpdater(const QString& feed, QString version = "0.1.0") {
        return std::make_unique<Updater>(
            *main, clock, log, alerts, feed, version,
            QList<QSslCertificate>{QSslCertificate(dataFile("update-ca.pem"))});
    }
    // Runs the check (the user's, or the silent one 5 s in) to its end.
    bool runCheck(Updater& updater, bool userAsked) {
        QSignalSpy finished(&updater, &Updater::checkFinished);
        userAsked ? updater.checkForUpdates() : clock.advance(Updater::kFirstCheckDelay);
        return runEventsUntil([&] { return !finished.isEmpty(); }, 3000);
    }
    // What the user was last told, and forgets it.
    QString told() {
        QString text =
            alerts.shown.empty() ? QString() : QString::fromStdString(alerts.shown.back().message);
        alerts.shown.clear();
        return text;
    }

    // First: the servers' sockets need the application's event loop.
    QApplication& app = widgetsApp();
    VirtualClock clock;
    std::unique_ptr<ManualQueue> main = clock.makeQueue("main", true);
    RecordingLog log;
    RecordingAlerts alerts;
    FeedServer server;
    // Where the plain-text addresses lead: never to be connected to.
    QTcpServer plain;
    QString plainUrl = plain.listen(QHostAddress::LocalHost)
                           ? QStringLiteral("http://127.0.0.1:%1/feed").arg(plain.serverPort())
                           : QString();
};

TEST_F(UpdaterTest, ANewerVersionIsOfferedWithItsNotesAndItsLink) {
    const QByteArray feed = R"({"version": "0.10.0", "notes": "Faster <b>start</b>.",
        "url": "https://example.org/pellora-0.10.0.tar.gz", "size": 12})";
    server.answers["/feed.json"] = http(302, "", "Location: /moved.json\r\n");
    server.answers["/moved.json"] = http(200, feed);
    auto updater = makeUpdater(server.url("/feed.json"), "0.9.7");
    // Silent, and still shown: an update is the one thing the silent check tells.
    ASSERT_TRUE(runCheck(*updater, false));
    ASSERT_EQ(alerts.shown.size(), 1u);
    const RecordingAlerts::Alert& offer = alerts.shown.back();
    EXPECT_EQ(offer.message, "Pellora 0.10.0 is available \u2014 you have 0.9.7.");
    EXPECT_EQ(offer.informative,
              "Faster <b>start</b>.\n\nhttps://example.org/pellora-0.10.0.tar.gz");
    EXPECT_EQ(offer.buttons, (std::vector<std::string>{"Download\u2026", "Later"}));

    OpenedUrls opened;
    QDesktopServices::setUrlHandler("https", &opened, "open");
    offer.answer(1);
    EXPECT_TRUE(opened.urls.isEmpty());
    offer.answer(0);
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl("https://example.org/pellora-0.10.0.tar.gz")});

    // Notes of many short lines are cut to twenty, or the box outgrows the screen.
    QByteArray lines;
    for (int i = 0; i < 400; ++i) {
        lines += "- fix\\n";
    }
    server.answers["/feed.json"] =
        http(200, R"({"version":"9.0","url":"https://example.org/d","notes":")" + lines + "\"}");
    ASSERT_TRUE(runCheck(*updater, true));
    EXPECT_EQ(alerts.shown.back().informative,
              QString("- fix\n").repeated(20).toStdString() + "…\n\nhttps://example.org/d");
}

// The same or an older version is no update; the rest are refused. Each is logged, said
// plainly to a user who asked, and nothing is shown for the silent check.
TEST_F(UpdaterTest, NoUpdateOrARefusedFeedIsSaidOnlyWhenAsked) {
    const QByteArray big = R"({"version":"9.0","url":"https://example.org/d","notes":")" +
                           QByteArray(70 * 1024, 'x') + "\"}";
    const struct {
        const char* name;
        QByteArray answer;
        std::string logged;
        QString feed = {};  // the TLS server's /feed when empty
    } cases[] = {
        {"same version", offer("0.1"), "No update: the feed offers 0.1"},
        {"older version", offer("0.0.9"), "No update: the feed offers 0.0.9"},
        {"70 KiB, said", http(200, big), "larger than 64 KiB"},
        {"70 KiB, unsaid and unending", http(200, big, {}, false), "larger than 64 KiB"},
        {"truncated", http(200, R"({"version":"9.0","url":)"), "not JSON"},
        {"lettered version", offer("9.0-beta"), "dot-separated"},
        {"http link", http(200, R"({"version":"9.0","url":"http://example.org/d"})"),
         "not an https address"},
        {"not found", http(404, "{}"), "answered HTTP 404"},
        {"redirect to http", http(301, "", "Location: " + plainUrl.toUtf8() + "\r\n"),
         "redirected to an address that is not https"},
        {"plain http feed", {}, "is not an https address", plainUrl},
    };
    for (const auto& [name, answer, logged, feed] : cases) {
        SCOPED_TRACE(name);
        server.answers["/feed"] = answer;
        server.keepOpen = name == std::string("70 KiB, unsaid and unending");
        log.lines.clear();
        auto updater = makeUpdater(feed.isEmpty() ? server.url("/feed") : feed);
        ASSERT_TRUE(runCheck(*updater, false));
        EXPECT_EQ(told(), QString());
        const bool refused = !logged.starts_with("No update");
        EXPECT_TRUE(log.has(logged) && log.has("Update check failed: ") == refused) << log.lines;
        ASSERT_TRUE(runCheck(*updater, true));
        const QString said = told();
        EXPECT_TRUE(refused ? said.startsWith("Could not check for updates: ") &&
                                  said.contains(QString::fromStdString(logged))
                            : said == "You have the newest version (0.1.0).")
            << said.toStdString();
    }
    // Neither the plain feed nor the redirect's target was ever connected to.
    runEventsUntil([] { return false; }, 100);
    EXPECT_FALSE(plain.hasPendingConnections());
}

TEST_F(UpdaterTest, AnUntrustedCertificateOrASilentServerEndTheCheck) {
    server.answers["/feed"] = offer("9.0");
    Updater untrusting(*main, clock, log, alerts, server.url("/feed"), "0.1.0");
    ASSERT_TRUE(runCheck(untrusting, true));
    EXPECT_TRUE(told().startsWith("Could not check for updates: "));

    auto updater = makeUpdater(server.url("/never"));
    QSignalSpy finished(updater.get(), &Updater::checkFinished);
    updater->checkForUpdates();
    // A second ask while one runs joins it.
    updater->checkForUpdates();
    ASSERT_TRUE(runEventsUntil([&] { return server.requested.contains("/never"); }, 3000));
    EXPECT_TRUE(finished.isEmpty());
    clock.advance(Updater::kTimeoutSeconds);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(told(), "Could not check for updates: the feed did not answer within 15 s.");
    EXPECT_EQ(server.requested.count("/never"), 1);
}

// Asked for before the silent check is due, the user's check takes its place: an offer just
// turned down is not put up again a few seconds later.
TEST_F(UpdaterTest, AUserCheckBeforeTheSilentOneTakesItsPlace) {
    server.answers["/feed"] = offer("9.0");
    auto updater = makeUpdater(server.url("/feed"));
    ASSERT_TRUE(runCheck(*updater, true));
    ASSERT_EQ(alerts.shown.size(), 1u);
    alerts.shown.back().answer(1);  // Later
    QSignalSpy finished(updater.get(), &Updater::checkFinished);
    clock.advance(Updater::kFirstCheckDelay);
    runEventsUntil([&] { return !finished.isEmpty(); }, 300);
    EXPECT_EQ(alerts.shown.size(), 1u);
    EXPECT_EQ(server.requested.count("/feed"), 1);
}

TEST_F(UpdaterTest, WithoutAFeedItSaysSoAndStillSchedulesTheSilentCheck) {
    auto updater = makeUpdater("");
    clock.advance(Updater::kFirstCheckDelay - 0.01);
    EXPECT_FALSE(log.has("No update feed"));
    clock.advance(0.01);
    EXPECT_TRUE(log.has("No update feed is configured in this build"));
    EXPECT_EQ(told(), QString());
    updater->checkForUpdates();
    EXPECT_EQ(told(), "No update feed is configured in this build.");
}

TEST(UpdateFeed, VersionsCompareByNumberPerPartAndLinksAreHttps) {
    const std::tuple<const char*, const char*, int> ordered[] = {
        {"1.4.0", "1.4", 0},           {"1.10", "1.9", 1},
        {"0.1.0", "0.2", -1},          {"007.1", "7.1", 0},
        {"999999999", "999999998", 1},
    };
    for (const auto& [a, b, sign] : ordered) {
        const auto first = UpdateFeed::parseVersion(a), second = UpdateFeed::parseVersion(b);
        ASSERT_TRUE(first && second) << a << " " << b;
        EXPECT_EQ(UpdateFeed::compareVersions(*first, *second), sign) << a << " " << b;
        EXPECT_EQ(UpdateFeed::compareVersions(*second, *first), -sign) << a << " " << b;
    }
    for (const char* bad :
         {"", "1.", ".1", "1..2", "v1.2", "+1", " 1", "1234567890", "1.2.3.4.5.6.7.8.9"}) {
        EXPECT_FALSE(UpdateFeed::parseVersion(bad)) << bad;
    }
    EXPECT_TRUE(UpdateFeed::isHttpsAddress("HTTPS://[::1]:8/x?y"));
    for (const char* bad :
         {"https:///d", "https://exa mple.org/d", "//example.org/d", "javascript:alert(1)",
          "https://example.org/\x01",
          // Shown as written, opened as another address: a user name (host
          // evil.example), a no-break space, a right-to-left mark, a
          // zero-width space.
          "https://pellora.org@evil.example/d", "https://example.org/a\u00A0b",
          "https://example.org/\u202Ezg.rat.exe", "https://example.org/a\u200B"}) {
        EXPECT_FALSE(UpdateFeed::isHttpsAddress(bad)) << bad;
    }
    EXPECT_FALSE(UpdateFeed::isHttpsAddress("https://example.org/" + std::string(2048, 'a')));
}

}  // namespace
}  // namespace pellora::test
