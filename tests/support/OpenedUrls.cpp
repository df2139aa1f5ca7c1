#include "OpenedUrls.h"

namespace pellora::test {

void OpenedUrls::open(const QUrl& url) {
    urls << url;
}

}  // namespace pellora::test
