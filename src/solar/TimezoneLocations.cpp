#include "solar/TimezoneLocations.h"

#include <QDateTime>
#include <QTimeZone>
#include <algorithm>
#include <cmath>
#include <ctime>
#include <string_view>

#include "platform/Clock.h"

namespace pellora::TimezoneLocations {

const Table& map() {
    static const Table table{
        {"America/New_York", {40.7128, -74.006}},
        {"America/Toronto", {43.6532, -79.3832}},
        {"America/Chicago", {41.8781, -87.6298}},
        {"America/Denver", {39.7392, -104.9903}},
        {"America/Phoenix", {33.4484, -112.074}},
        {"America/Los_Angeles", {34.0522, -118.2437}},
        {"America/Vancouver", {49.2827, -123.1207}},
        {"America/Anchorage", {61.2181, -149.9003}},
        {"America/Honolulu", {21.3069, -157.8583}},
        {"America/Mexico_City", {19.4326, -99.1332}},
        {"America/Sao_Paulo", {-23.5505, -46.6333}},
        {"America/Buenos_Aires", {-34.6037, -58.3816}},
        {"America/Bogota", {4.711, -74.0721}},
        {"America/Lima", {-12.0464, -77.0428}},
        {"America/Santiago", {-33.4489, -70.6693}},
        {"Europe/London", {51.5074, -0.1278}},
        {"Europe/Dublin", {53.3498, -6.2603}},
        {"Europe/Paris", {48.8566, 2.3522}},
        {"Europe/Madrid", {40.4168, -3.7038}},
        {"Europe/Lisbon", {38.7223, -9.1393}},
        {"Europe/Amsterdam", {52.3676, 4.9041}},
        {"Europe/Brussels", {50.8503, 4.3517}},
        {"Europe/Berlin", {52.52, 13.405}},
        {"Europe/Zurich", {47.3769, 8.5417}},
        {"Europe/Rome", {41.9028, 12.4964}},
        {"Europe/Vienna", {48.2082, 16.3738}},
        {"Europe/Prague", {50.0755, 14.4378}},
        {"Europe/Warsaw", {52.2297, 21.0122}},
        {"Europe/Copenhagen", {55.6761, 12.5683}},
        {"Europe/Oslo", {59.9139, 10.7522}},
        {"Europe/Stockholm", {59.3293, 18.0686}},
        {"Europe/Helsinki", {60.1699, 24.9384}},
        {"Europe/Athens", {37.9838, 23.7275}},
        {"Europe/Istanbul", {41.0082, 28.9784}},
        {"Europe/Moscow", {55.7558, 37.6173}},
        {"Asia/Jerusalem", {31.7683, 35.2137}},
        {"Asia/Dubai", {25.2048, 55.2708}},
        {"Africa/Cairo", {30.0444, 31.2357}},
        {"Africa/Johannesburg", {-26.2041, 28.0473}},
        {"Africa/Lagos", {6.5244, 3.3792}},
        {"Africa/Nairobi", {-1.2921, 36.8219}},
        {"Asia/Kolkata", {22.5726, 88.3639}},
        {"Asia/Bangkok", {13.7563, 100.5018}},
        {"Asia/Jakarta", {-6.2088, 106.8456}},
        {"Asia/Singapore", {1.3521, 103.8198}},
        {"Asia/Kuala_Lumpur", {3.139, 101.6869}},
        {"Asia/Hong_Kong", {22.3193, 114.1694}},
        {"Asia/Taipei", {25.033, 121.5654}},
        {"Asia/Shanghai", {31.2304, 121.4737}},
        {"Asia/Seoul", {37.5665, 126.978}},
        {"Asia/Tokyo", {35.6762, 139.6503}},
        {"Australia/Perth", {-31.9505, 115.8605}},
        {"Australia/Sydney", {-33.8688, 151.2093}},
        {"Australia/Melbourne", {-37.8136, 144.9631}},
        {"Pacific/Auckland", {-36.8485, 174.7633}},
    };
    return table;
}

Coordinate guess(std::string_view identifier, int utcOffsetSeconds) {
    const Table& table = map();
    if (auto row = table.find(identifier); row != table.end()) {
        return row->second;
    }
    double lon = utcOffsetSeconds / 3600.0 * 15.0;
    lon = std::min(lon, 180.0);
    lon = std::max(lon, -180.0);
    return Coordinate{40.0, lon};
}

ZoneReading systemZone(double now) {
    QByteArray identifier = QTimeZone::systemTimeZoneId();
    // TZ may name the zone's file by its path ("/usr/share/zoneinfo/Europe/Paris"), which
    // the C library takes and QTimeZone does not.
    constexpr std::string_view folder = "/zoneinfo/";
    if (const auto at = identifier.indexOf(folder.data()); identifier.startsWith('/') && at >= 0) {
        identifier = identifier.mid(at + qsizetype(folder.size()));
    }
    const QTimeZone zone(identifier);
    const double instant = std::isfinite(now) ? now : 0.0;
    int offset = 0;
    if (zone.isValid()) {
        const QDateTime moment = QDateTime::fromMSecsSinceEpoch(
            static_cast<qint64>(std::llround(instant * 1000.0)), QTimeZone::utc());
        offset = zone.offsetFromUtc(moment);
    } else {
        // A zone QTimeZone refuses (a rule with no dates for its summer time, say) is still
        // the one the C library keeps local time in.
        const auto t = static_cast<std::time_t>(std::clamp(instant, -1e12, 1e12));
        std::tm local{};
        if (localtime_r(&t, &local)) {
            offset = static_cast<int>(local.tm_gmtoff);
        }
    }
    return ZoneReading{identifier.toStdString(), offset};
}

Coordinate guessFromCurrent(const Clock& clock) {
    const ZoneReading zone = systemZone(clock.now());
    return guess(zone.identifier, zone.utcOffsetSeconds);
}

}  // namespace pellora::TimezoneLocations
