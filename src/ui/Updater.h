#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSslCertificate>
#include <QString>
#include <optional>
#include <string>

#include "app/UpdateCheck.h"
#include "platform/WorkItem.h"

class QNetworkAccessManager;
class QNetworkReply;

namespace pellora {

class AlertPresenter;
class Clock;
class LogSink;
class Queue;
struct UpdateFeed;

// Looks for a newer Pellora in the feed named at build time: a silent check 5 s after
// start, and "Check for Updates…" at once. Fetched over https only, bounded in size and
// time; a newer version is shown with its notes and a link to download it (nothing is
// installed here). The silent check only logs unless it finds an update; a check the user
// asked for always answers. Main thread only.
class Updater final : public QObject, public UpdateCheck {
    Q_OBJECT
  public:
    static constexpr double kFirstCheckDelay = 5.0;
    static constexpr double kTimeoutSeconds = 15.0;
    static constexpr int kMaxRedirects = 5;
    static constexpr int kMaxNotesShown = 2000;
    // Lines of notes: the box keeps its buttons on a 768-pixel screen.
    static constexpr int kMaxNotesLines = 20;

    // `feedUrl` empty: this build has no feed. What the user is told goes to `alerts`.
    // `extraCaCertificates` are trusted beside the system's (tests).
    Updater(Queue& main, const Clock& clock, LogSink& log, AlertPresenter& alerts, QString feedUrl,
            QString runningVersion, QList<QSslCertificate> extraCaCertificates = {});
    ~Updater() override;

    // The feed address this build was configured with ("" for none).
    static QString configuredFeed();

    void checkForUpdates() override;

    // Whether a fetch is under way.
    bool checking() const { return !reply_.isNull(); }

  signals:
    // A check ended, however it ended (tests wait for it).
    void checkFinished();

  private:
    void check(bool userAsked);
    // Takes what has arrived; false when it would make the body too large.
    bool receive();
    void finish();
    void abortWith(const std::string& reason);
    void refuse(const std::string& reason);
    void found(const UpdateFeed& feed);
    // With a link, the answer offers to open it.
    void tell(const std::string& text, const std::string& informative = {},
              const std::string& link = {});
    void log(const std::string& message);

    Queue& main_;
    const Clock& clock_;
    LogSink& log_;
    AlertPresenter& alerts_;
    const QString feedUrl_;
    const QString runningVersion_;
    const QList<QSslCertificate> extraCaCertificates_;

    QNetworkAccessManager* network_;
    QPointer<QNetworkReply> reply_;
    QByteArray body_;
    std::optional<std::string> abortReason_;
    bool userAsked_ = false;
    double startedAt_ = 0;
    WorkItemPtr firstCheck_;
    WorkItemPtr timeout_;
};

}  // namespace pellora
