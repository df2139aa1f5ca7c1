#pragma once

#include <QList>
#include <QObject>
#include <QUrl>

namespace pellora::test {

// Where QDesktopServices would have handed a URL to the desktop's launcher: give it as the
// handler of a scheme (QDesktopServices::setUrlHandler(scheme, &opened, "open")).
class OpenedUrls : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls << url; }
};

}  // namespace pellora::test
