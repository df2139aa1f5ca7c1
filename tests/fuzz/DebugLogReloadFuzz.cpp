// The reload of a previous run's debug.log: at most 4000 lines of UTF-8 text, which, when
// nothing needed mending or cutting, joined again are the file's end.

#include <QByteArrayView>
#include <string>

#include "FuzzCheck.h"
#include "store/DebugLog.h"

using namespace pellora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes = fuzz::text(data, size);
    auto window = DebugLog::reloadWindow(bytes);
    fuzz::check(!window.lines.empty() && window.lines.size() <= DebugLog::maxLines &&
                window.linesMended <= window.lines.size() &&
                window.linesCut <= window.lines.size());
    std::string joined;
    for (const auto& line : window.lines) {
        fuzz::check(line.find('\n') == std::string::npos &&
                    QByteArrayView(line.data(), qsizetype(line.size())).isValidUtf8());
        joined += line + '\n';
    }
    joined.pop_back();
    fuzz::check(window.linesMended > 0 || window.linesCut > 0 ||
                (bytes.ends_with(joined) && (joined.size() == bytes.size() ||
                                             bytes[bytes.size() - joined.size() - 1] == '\n')));
    return 0;
}
