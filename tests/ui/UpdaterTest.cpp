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

QSslCertificate testCa() {
    return QSslCertificate(dataFile("update-ca.pem"));
}

QByteArray http(int status, const QByteArray& body, const QByteArray& headers = {},
                bool withLength = true) {
    QByteArray reply = "HTTP/1.1 " + QByteArray::number(status) + " X\r\nConnection: close\r\n";
    if (withLength) {
        reply += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    return reply + headers + "\r\n" + body;
}

// Answers GETs on 127.0.0.1 from a table of paths, over TLS with the committed test
// certificate (signed by the committed test CA), or in plain text. A path with no entry
// gets no answer at all.
class FeedServer : public QObject {
  public:
    explicit FeedServer(bool tls) {
        if (tls) {
            auto* server = new QSslServer(this);
            QSslConfiguration config = QSslConfiguration::defaultConfiguration();
            config.setLocalCertificateChain(
                {QSslCertificate(dataFile("update-server.pem")), testCa()});
            config.setPrivateKey(QSslKey(dataFile("update-server.key"), QSsl::Ec));
            config.setPeerVerifyMode(QSslSocket::VerifyNone);
            server->setSslConfiguration(config);
            server_ = server;
        } else {
            server_ = new QTcpServer(this);
        }
        // A TLS server has a connection to hand out only once its handshake is done.
        connect(server_, &QTcpServer::pendingConnectionAvailable, this, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                ++connections;
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
                serve(socket);
            }
        });
        server_->listen(QHostAddress::LocalHost);
    }
    QString url(const QString& path) const {
        return QStringLiteral("%1://127.0.0.1:%2%3")
            .arg(qobject_cast<QSslServer*>(server_) ? "https" : "http")
            .arg(server_->serverPort())
            .arg(path);
    }

    std::map<QByteArray, QByteArray> answers;
    // Leaves the connection open after the answer: a body with no length never ends.
    bool keepOpen = false;
    QList<QByteArray> requested;
    int connections = 0;

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
        auto answer = answers.find(path);
        if (answer != answers.end()) {
            socket->write(answer->second);
            if (!keepOpen) {
                socket->disconnectFromHost();
            }
        }
    }

    QTcpServer* server_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

struct RecordingLog : LogSink {
    std::vector<std::string> lines;
    void log(std::string_view message, std::string_view tag) override {
        lines.push_back("[" + std::string(tag) + "] " + std::string(message));
    }
    bool has(const std::string& part) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::string& line) { return line.find(part) != line.npos; });
    }
};

struct UpdaterTest : ::testing::Test {
    std::unique_ptr<Updater> makeUpdater(const QString& feed, QString version = "0.1.0") {
        return std::make_unique<Updater>(*main, clock, log, alerts, feed, version,
                                         QList<QSslCertificate>{testCa()});
    }
    // Runs the check (the user's, or the silent one 5 s in) to its end.
    bool runCheck(Updater& updater, bool userAsked) {
        QSignalSpy finished(&updater, &Updater::checkFinished);
        if (userAsked) {
            updater.checkForUpdates();
        } else {
            clock.advance(Updater::kFirstCheckDelay);
        }
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
    FeedServer server{true};
    FeedServer plain{false};
};

TEST_F(UpdaterTest, ANewerVersionIsOfferedWithItsNotesAndItsLink) {
    const QByteArray feed = R"({"version": "0.10.0", "notes": "Faster <b>start</b>.",
        "url": "https://example.org/pellora-0.10.0.tar.gz", "size": 12})";
    server.answers["/feed.json"] = http(302, "", "Location: /moved.json\r\n");
    server.answers["/moved.json"] = http(200, feed);
    auto updater = makeUpdater(server.url("/feed.json"), "0.9.7");
    EXPECT_TRUE(log.has(
        "[update] Update checker started (feed=" + server.url("/feed.json").toStdString() + ")"));
    // Silent, and still shown: an update is the one thing the silent check tells.
    ASSERT_TRUE(runCheck(*updater, false));
    EXPECT_EQ(server.requested, (QList<QByteArray>{"/feed.json", "/moved.json"}));
    ASSERT_EQ(alerts.shown.size(), 1u);
    const RecordingAlerts::Alert& offer = alerts.shown.back();
    EXPECT_EQ(offer.message, "Pellora 0.10.0 is available \u2014 you have 0.9.7.");
    EXPECT_EQ(offer.informative,
              "Faster <b>start</b>.\n\nhttps://example.org/pellora-0.10.0.tar.gz");
    EXPECT_EQ(offer.buttons, (std::vector<std::string>{"Download\u2026", "Later"}));
    EXPECT_TRUE(log.has("Update available: 0.10.0 (this is 0.9.7)"));

    OpenedUrls opened;
    QDesktopServices::setUrlHandler("https", &opened, "open");
    offer.answer(1);
    EXPECT_TRUE(opened.urls.isEmpty());
    offer.answer(0);
    QDesktopServices::unsetUrlHandler("https");
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl("https://example.org/pellora-0.10.0.tar.gz")});
}

TEST_F(UpdaterTest, TheSameOrAnOlderVersionIsNoUpdate) {
    const std::pair<QByteArray, std::string> offers[] = {
        {"0.1.0", "0.1.0"}, {"0.1", "0.1"}, {"0.0.9", "0.0.9"}, {"0.01.0", "0.01.0"}};
    for (const auto& [offered, logged] : offers) {
        server.answers["/feed"] =
            http(200, R"({"version":")" + offered + R"(","url":"https://example.org/d"})");
        auto updater = makeUpdater(server.url("/feed"));
        ASSERT_TRUE(runCheck(*updater, false));
        EXPECT_EQ(told(), QString()) << logged;
        EXPECT_TRUE(log.has("No update: the feed offers " + logged + ", this is 0.1.0"));
        ASSERT_TRUE(runCheck(*updater, true));
        EXPECT_EQ(told(), "You have the newest version (0.1.0).");
    }
}

// Each refused with a log line, said plainly to a user who asked, and nothing shown for the
// silent check.
TEST_F(UpdaterTest, HostileOrBrokenFeedsAreRefused) {
    const QByteArray big = R"({"version":"9.0","url":"https://example.org/d","notes":")" +
                           QByteArray(70 * 1024, 'x') + "\"}";
    const QByteArray link = R"(,"url":"https://example.org/d"})";
    struct Case {
        const char* name;
        QByteArray answer;
        std::string logged;
        QString feed = {};  // the TLS server's /feed when empty
    };
    const Case cases[] = {
        {"70 KiB, said", http(200, big), "larger than 64 KiB"},
        {"70 KiB, unsaid and unending", http(200, big, {}, false), "larger than 64 KiB"},
        {"truncated", http(200, R"({"version":"9.0","url":)"), "not JSON"},
        {"a list", http(200, "[]"), "not a JSON object"},
        {"number version", http(200, R"({"version":9)" + link), "no \"version\" text"},
        {"lettered version", http(200, R"({"version":"9.0-beta")" + link), "dot-separated"},
        {"notes a list", http(200, R"({"version":"9.0","notes":[])" + link), "\"notes\""},
        {"http link", http(200, R"({"version":"9.0","url":"http://example.org/d"})"),
         "not an https address"},
        {"not found", http(404, "{}"), "answered HTTP 404"},
        {"redirect to http", http(301, "", "Location: " + plain.url("/feed").toUtf8() + "\r\n"),
         "redirected to an address that is not https"},
        {"plain http feed", {}, "is not an https address", plain.url("/feed")},
    };
    plain.answers["/feed"] = http(200, R"({"version":"9.0","url":"https://example.org/d"})");
    for (const auto& [name, answer, logged, feed] : cases) {
        server.answers["/feed"] = answer;
        server.keepOpen = name == std::string("70 KiB, unsaid and unending");
        auto updater = makeUpdater(feed.isEmpty() ? server.url("/feed") : feed);
        ASSERT_TRUE(runCheck(*updater, false)) << name;
        EXPECT_EQ(told(), QString()) << name;
        EXPECT_TRUE(log.has("Update check failed: ")) << name;
        EXPECT_TRUE(log.has(logged)) << name;
        log.lines.clear();
        ASSERT_TRUE(runCheck(*updater, true)) << name;
        const QString said = told();
        EXPECT_TRUE(said.startsWith("Could not check for updates: ")) << name;
        EXPECT_TRUE(said.contains(QString::fromStdString(logged))) << name;
    }
    // Neither the plain feed nor the redirect's target was ever connected to.
    runEventsUntil([] { return false; }, 100);
    EXPECT_EQ(plain.connections, 0);
}

TEST_F(UpdaterTest, AnUntrustedCertificateOrASilentServerEndTheCheck) {
    server.answers["/feed"] = http(200, R"({"version":"9.0","url":"https://example.org/d"})");
    Updater untrusting(*main, clock, log, alerts, server.url("/feed"), "0.1.0");
    ASSERT_TRUE(runCheck(untrusting, true));
    const QString said = told();
    EXPECT_TRUE(said.startsWith("Could not check for updates: "));
    EXPECT_FALSE(said.contains("available"));

    auto updater = makeUpdater(server.url("/never"));
    QSignalSpy finished(updater.get(), &Updater::checkFinished);
    updater->checkForUpdates();
    ASSERT_TRUE(runEventsUntil([&] { return server.requested.contains("/never"); }, 3000));
    EXPECT_TRUE(finished.isEmpty());
    clock.advance(Updater::kTimeoutSeconds);
    EXPECT_EQ(finished.size(), 1);
    EXPECT_EQ(told(), "Could not check for updates: the feed did not answer within 15 s.");
    EXPECT_FALSE(updater->checking());
}

TEST_F(UpdaterTest, WithoutAFeedItSaysSoAndStillSchedulesTheSilentCheck) {
    auto updater = makeUpdater("");
    EXPECT_EQ(log.lines, std::vector<std::string>{"[update] Update checker started (feed=?)"});
    EXPECT_EQ(clock.pendingCount(), 1u);
    clock.advance(Updater::kFirstCheckDelay - 0.01);
    EXPECT_EQ(log.lines.size(), 1u);
    clock.advance(0.01);
    EXPECT_TRUE(log.has("No update feed is configured in this build"));
    EXPECT_EQ(told(), QString());
    updater->checkForUpdates();
    EXPECT_EQ(told(), "No update feed is configured in this build.");
}

TEST_F(UpdaterTest, TheUsersCheckBeforeTheFirstSilentOneStartsAtOnce) {
    server.answers["/feed"] = http(200, R"({"version":"0.1.0","url":"https://example.org/d"})");
    auto updater = makeUpdater(server.url("/feed"));
    clock.advance(1.0);
    updater->checkForUpdates();
    EXPECT_TRUE(updater->checking());
    // A second ask while one runs joins it.
    updater->checkForUpdates();
    ASSERT_TRUE(runEventsUntil([&] { return !updater->checking(); }, 3000));
    EXPECT_EQ(server.requested.size(), 1);
    EXPECT_EQ(told(), "You have the newest version (0.1.0).");
}

TEST(UpdateFeed, VersionsCompareByNumberPerPart) {
    const std::tuple<const char*, const char*, int> ordered[] = {
        {"1.4.0", "1.4", 0},           {"1.10", "1.9", 1},  {"0.1.0", "0.2", -1},
        {"2", "1.99.99", 1},           {"1.0.0.1", "1", 1}, {"007.1", "7.1", 0},
        {"999999999", "999999998", 1},
    };
    for (const auto& [a, b, sign] : ordered) {
        const auto first = UpdateFeed::parseVersion(a), second = UpdateFeed::parseVersion(b);
        ASSERT_TRUE(first && second) << a << " " << b;
        EXPECT_EQ(UpdateFeed::compareVersions(*first, *second), sign) << a << " " << b;
        EXPECT_EQ(UpdateFeed::compareVersions(*second, *first), -sign) << a << " " << b;
    }
    for (const char* bad : {"", "1.", ".1", "1..2", "v1.2", "1.2-rc1", "+1", "-1", " 1", "1 ",
                            "1234567890", "1.2.3.4.5.6.7.8.9", "1,2"}) {
        EXPECT_FALSE(UpdateFeed::parseVersion(bad)) << bad;
    }
    EXPECT_EQ(UpdateFeed::parseVersion("999999999.1.2.3.4.5.6.7"),
              (std::vector<std::uint32_t>{999999999, 1, 2, 3, 4, 5, 6, 7}));
}

TEST(UpdateFeed, OnlyHttpsAddressesWithAHost) {
    for (const char* good :
         {"https://example.org/d", "HTTPS://example.org", "https://[::1]:8/x?y"}) {
        EXPECT_TRUE(UpdateFeed::isHttpsAddress(good)) << good;
    }
    for (const char* bad : {"http://example.org/d", "https:///d", "https://exa mple.org/d",
                            "ftp://example.org", "//example.org/d", "javascript:alert(1)",
                            "file:///etc/passwd", "https://example.org/\x01", ""}) {
        EXPECT_FALSE(UpdateFeed::isHttpsAddress(bad)) << bad;
    }
    EXPECT_FALSE(UpdateFeed::isHttpsAddress("https://example.org/" + std::string(2048, 'a')));
}

}  // namespace
}  // namespace pellora::test
