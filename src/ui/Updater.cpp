#include "ui/Updater.h"

#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QUrl>
#include <utility>

#include "app/AlertPresenter.h"
#include "app/UpdateFeed.h"
#include "platform/Clock.h"
#include "platform/LogSink.h"
#include "platform/Queue.h"

#ifndef PELLORA_UPDATE_FEED
#define PELLORA_UPDATE_FEED ""
#endif

namespace pellora {

namespace {

std::string feedForLog(const QString& feedUrl) {
    return feedUrl.isEmpty() ? std::string("?") : feedUrl.toStdString();
}

std::string tooLarge() {
    return "the feed is larger than " + std::to_string(UpdateFeed::kMaxBytes / 1024) + " KiB";
}

}  // namespace

Updater::Updater(Queue& main, const Clock& clock, LogSink& log, AlertPresenter& alerts,
                 QString feedUrl, QString runningVersion,
                 QList<QSslCertificate> extraCaCertificates)
    : main_(main),
      clock_(clock),
      log_(log),
      alerts_(alerts),
      feedUrl_(std::move(feedUrl)),
      runningVersion_(std::move(runningVersion)),
      extraCaCertificates_(std::move(extraCaCertificates)),
      network_(new QNetworkAccessManager(this)) {
    this->log("Update checker started (feed=" + feedForLog(feedUrl_) + ")");
    firstCheck_ = main_.postAfter(kFirstCheckDelay, [weak = QPointer<Updater>(this)] {
        if (!weak.isNull()) {
            weak->check(false);
        }
    });
}

Updater::~Updater() {
    for (const auto& work : {firstCheck_, timeout_}) {
        if (work) {
            work->cancel();
        }
    }
    if (reply_) {
        // Aborting finishes the reply at once; nothing of ours may run from that any more.
        reply_->disconnect(this);
        reply_->abort();
    }
}

QString Updater::configuredFeed() {
    return QString::fromUtf8(PELLORA_UPDATE_FEED);
}

void Updater::checkForUpdates() {
    // The user's check takes the place of a silent one still to come, which would only put up
    // again the offer the user has just seen.
    if (firstCheck_) {
        firstCheck_->cancel();
        firstCheck_.reset();
    }
    check(true);
}

void Updater::check(bool userAsked) {
    if (reply_) {
        // The check under way answers the user when it ends.
        userAsked_ = userAsked_ || userAsked;
        return;
    }
    userAsked_ = userAsked;
    if (feedUrl_.isEmpty()) {
        log("No update feed is configured in this build: nothing to check");
        if (userAsked_) {
            tell("No update feed is configured in this build.",
                 "Updates come with your distribution's packages, or build the newest source.");
        }
        emit checkFinished();
        return;
    }
    // Refused before any connection is made: a plain-http answer could say anything.
    if (!UpdateFeed::isHttpsAddress(feedUrl_.toStdString())) {
        refuse("the feed address " + feedUrl_.toStdString() + " is not an https address");
        return;
    }
    if (!UpdateFeed::parseVersion(runningVersion_.toStdString())) {
        refuse("this program's version \"" + runningVersion_.toStdString() +
               "\" is not dot-separated numbers");
        return;
    }

    QNetworkRequest request{QUrl(feedUrl_, QUrl::StrictMode)};
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    request.setHeader(QNetworkRequest::UserAgentHeader,
                      QStringLiteral("Pellora/") + runningVersion_);
    request.setRawHeader("Accept", "application/json");
    if (!extraCaCertificates_.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(extraCaCertificates_);
        request.setSslConfiguration(tls);
    }
    body_.clear();
    abortReason_.reset();
    startedAt_ = clock_.monotonic();
    QNetworkReply* reply = network_->get(request);
    reply_ = reply;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (reply == reply_ && length.isValid() &&
            length.toLongLong() > static_cast<qint64>(UpdateFeed::kMaxBytes)) {
            abortWith(tooLarge());
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] {
        if (reply == reply_ && !receive()) {
            abortWith(tooLarge());
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        if (reply == reply_) {
            finish();
        }
    });
    timeout_ = main_.postAfter(
        kTimeoutSeconds, [weak = QPointer<Updater>(this), reply = QPointer<QNetworkReply>(reply)] {
            if (!weak.isNull() && !reply.isNull() && weak->reply_ == reply) {
                weak->abortWith("the feed did not answer within " +
                                std::to_string(static_cast<int>(kTimeoutSeconds)) + " s");
            }
        });
}

bool Updater::receive() {
    const qint64 room = static_cast<qint64>(UpdateFeed::kMaxBytes) - body_.size();
    if (reply_->bytesAvailable() > room) {
        return false;
    }
    body_ += reply_->readAll();
    return true;
}

void Updater::abortWith(const std::string& reason) {
    abortReason_ = reason;
    // Finishes the reply at once, through finish().
    reply_->abort();
}

void Updater::finish() {
    QNetworkReply* reply = reply_.data();
    if (!abortReason_ && !receive()) {
        abortReason_ = tooLarge();
    }
    reply_.clear();
    reply->deleteLater();
    if (timeout_) {
        timeout_->cancel();
        timeout_.reset();
    }
    if (abortReason_) {
        refuse(*abortReason_);
        return;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    switch (reply->error()) {
        case QNetworkReply::NoError:
            break;
        case QNetworkReply::InsecureRedirectError:
            refuse("the feed redirected to an address that is not https");
            return;
        case QNetworkReply::TooManyRedirectsError:
            refuse("the feed redirected more than " + std::to_string(kMaxRedirects) + " times");
            return;
        default:
            // Qt's text for an HTTP error status repeats the whole address; the status says it.
            refuse(status > 0 ? "the feed's server answered HTTP " + std::to_string(status)
                              : reply->errorString().toStdString());
            return;
    }
    if (status != 200) {
        refuse("the feed's server answered HTTP " + std::to_string(status));
        return;
    }
    // The redirect policy already stops a step down to http; this holds whatever it misses.
    if (!UpdateFeed::isHttpsAddress(reply->url().toString(QUrl::FullyEncoded).toStdString())) {
        refuse("the feed ended at an address that is not https");
        return;
    }
    std::string why;
    const auto feed = UpdateFeed::parse(std::string_view(body_.constData(), body_.size()), &why);
    if (!feed) {
        refuse("the feed is not valid (" + why + ")");
        return;
    }
    log("Feed read in " + QString::number(clock_.monotonic() - startedAt_, 'f', 2).toStdString() +
        " s");
    found(*feed);
}

void Updater::found(const UpdateFeed& feed) {
    const auto offered = UpdateFeed::parseVersion(feed.version);
    const auto running = UpdateFeed::parseVersion(runningVersion_.toStdString());
    const std::string current = runningVersion_.toStdString();
    if (UpdateFeed::compareVersions(*offered, *running) <= 0) {
        log("No update: the feed offers " + feed.version + ", this is " + current);
        if (userAsked_) {
            tell("You have the newest version (" + current + ").");
        }
        emit checkFinished();
        return;
    }
    log("Update available: " + feed.version + " (this is " + current + "), " + feed.url);
    QString notes = QString::fromStdString(feed.notes).trimmed();
    if (notes.size() > kMaxNotesShown) {
        qsizetype cut = kMaxNotesShown;
        if (notes.at(cut - 1).isHighSurrogate()) {
            --cut;
        }
        notes = notes.left(cut) + QStringLiteral("…");
    }
    if (const QStringList lines = notes.split(QLatin1Char('\n')); lines.size() > kMaxNotesLines) {
        notes = lines.mid(0, kMaxNotesLines).join(QLatin1Char('\n')) + QStringLiteral("\n…");
    }
    tell("Pellora " + feed.version + " is available — you have " + current + ".",
         notes.isEmpty() ? feed.url : notes.toStdString() + "\n\n" + feed.url, feed.url);
    emit checkFinished();
}

void Updater::refuse(const std::string& reason) {
    log("Update check failed: " + reason);
    if (userAsked_) {
        tell("Could not check for updates: " + reason + ".");
    }
    emit checkFinished();
}

void Updater::tell(const std::string& text, const std::string& informative,
                   const std::string& link) {
    if (link.empty()) {
        alerts_.present(text, informative, {"OK"}, {});
        return;
    }
    alerts_.present(text, informative, {"Download…", "Later"},
                    [url = QUrl(QString::fromStdString(link), QUrl::StrictMode)](int button) {
                        if (button == 0) {
                            QDesktopServices::openUrl(url);
                        }
                    });
}

void Updater::log(const std::string& message) {
    log_.log(message, "update");
}

}  // namespace pellora
