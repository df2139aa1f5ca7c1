// How well Pellora learns a user: a simulated desk over weeks, the real controller on
// virtual time, a user who wants their own brightness and presses the monitor's buttons when
// it is far off. Learning first, then adapting; beside it the same desk and user with the
// default map alone (adapting from the first day, every anchor cleared as soon as it lands).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "DeskUser.h"
#include "HiddenPreference.h"
#include "SimulatedDesk.h"
#include "app/ApplyPolicy.h"
#include "app/StoredChoices.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"

namespace pellora::bench {
namespace {

using test::SimulatedDesk;

// The user wants something else from the start of `week` (1-based) on.
struct WishChange {
    int week = 0;
    HiddenPreference::Line day, night;
};

struct Setup {
    double latitude = 40.7128;
    double longitude = -74.006;
    double clouds = RoomLight{}.cloudDepth;
    double daylight = RoomLight{}.daylightLuma;
    double lamp = RoomLight{}.lampLuma;
    std::string zone;  // empty: whole hours from the longitude
    std::string start = "2024-03-04";
    double startWall = 0;
    int weeks = 8;
    int learnWeeks = 2;
    HiddenPreference preference;
    std::optional<WishChange> wishChange;
    DeskUserOptions user;
    // "Follow the room closely" on.
    bool follow = false;
    // A line for each correction in the adapting weeks.
    bool trace = false;
    // The same desk on the default map alone, beside the learning run.
    bool defaultMap = true;
    // Each camera reading is off the room's light by this much (standard deviation, luma).
    double cameraNoise = 0;
};

struct Week {
    Mode mode = Mode::learning;
    double errorSum = 0;
    int looks = 0;
    int corrections = 0;
    int writes = 0;
    int readings = 0;  // the camera switched on
    double cameraSeconds = 0;
    int samples = 0;
    int userSet = 0;
    // userSet samples whose brightness the controller had written, not the user.
    int userSetByController = 0;
    // Samples of a brightness the user had set, 3 or more from the controller's last write,
    // read while the user was present, yet not logged as the user's.
    int missed = 0;
    int externalChanges = 0;
    int committed = 0;
    int droppedChanged = 0;

    double lagSum = 0;

    double mae() const { return looks ? errorSum / looks : NAN; }
    double lag() const { return looks ? lagSum / looks : NAN; }
};

struct Run {
    std::vector<Week> weeks;
    std::optional<std::string> gate;
    int samples = 0;
    int anchors = 0;
    int seededAnchors = 0;
    // Offline, over the looks of the adapting weeks, by day (before the user's night comes
    // in) and in the evening: what the default map, the anchors the run ended with, and the
    // anchors seeding would make from its samples log would have shown, at the smoothed luma
    // the controller had then.
    struct Error {
        double day = 0, evening = 0;
    };
    Error defaultMap, anchorsCurve, seededCurve;
};

std::size_t countIn(const std::vector<std::string>& lines, std::size_t from, const char* text) {
    std::size_t n = 0;
    for (std::size_t i = from; i < lines.size(); ++i) {
        n += lines[i].find(text) != std::string::npos;
    }
    return n;
}

struct Seen {
    DeskUser::Look look;
    double smoothedLuma = 0;
};

Run::Error curveError(const std::vector<Seen>& seen, double eveningFrom, const AnchorStore* anchors,
                      AnchorStore::MorningFade fade) {
    double sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (const auto& [look, luma] : seen) {
        std::optional<int> predicted;
        if (anchors) {
            predicted = anchors->predict(luma, look.hour, fade);
        }
        int evening = look.hour >= eveningFrom || look.hour < 7;
        sum[evening] += std::fabs(predicted.value_or(ApplyPolicy::defaultMap(luma)) - look.wish);
        ++count[evening];
    }
    return {count[0] ? sum[0] / count[0] : NAN, count[1] ? sum[1] / count[1] : NAN};
}

// One line per correction in the adapting weeks, to see where the curve misses: when, the
// room's light and the controller's smoothed value of it, the wish, the error the user saw,
// and what the curve predicts at the smoothed light and at the room's (the second close to the
// wish: the reading was stale, not the curve wrong).
void traceCorrection(SimulatedDesk& desk, int week, const DeskUser::Look& look) {
    std::time_t t = static_cast<std::time_t>(desk.env.clock.now());
    std::tm local{};
    localtime_r(&t, &local);
    double smoothed = desk.app->smoothedLuma();
    std::optional<int> predicted, atRoom;
    std::size_t anchors = 0;
    if (const auto& scope = desk.app->scope()) {
        const auto fade = StoredChoices::morningFade(*desk.env.settings);
        predicted = scope->anchors().predict(smoothed, look.hour, fade);
        atRoom = scope->anchors().predict(look.luma, look.hour, fade);
        anchors = scope->anchors().anchors().size();
    }
    std::printf(
        "correction week %d %s %5.2f h: room %5.1f, smoothed %5.1f, wish %5.1f, off by %4.1f, "
        "curve %s, at the room's light %s (%zu anchors)\n",
        week + 1, local.tm_wday == 0 || local.tm_wday == 6 ? "weekend" : "weekday", look.hour,
        look.luma, smoothed, look.wish, look.error,
        predicted ? std::to_string(*predicted).c_str() : "-",
        atRoom ? std::to_string(*atRoom).c_str() : "-", anchors);
}

Run runDesk(const Setup& setup, bool learns) {
    SimulatedDesk desk(SimulatedDesk::Options{.startWall = setup.startWall, .dumpPeriod = 3600});
    RoomLight room;
    room.latitude = setup.latitude;
    room.longitude = setup.longitude;
    room.seed = setup.user.seed;
    room.cloudDepth = setup.clouds;
    room.daylightLuma = setup.daylight;
    room.lampLuma = setup.lamp;
    desk.camera.setRoomLight(room);
    desk.env.settings->set("userLat", setup.latitude);
    desk.env.settings->set("userLon", setup.longitude);
    desk.env.settings->setForThisMachine("followRoomClosely", setup.follow);
    if (!learns) {
        desk.env.settings->set(desk.keyPrefix() + "mode", std::string("adapting"));
    }
    desk.session->setLocked(true);
    desk.session->setIdleSeconds(8 * 3600.0);
    desk.launch();

    DeskUser user(setup.user, setup.preference);
    Run run;
    std::vector<Seen> adaptingLooks;
    // Who set the monitor's brightness to what, by time. What it shows at the start counts
    // as the user's.
    struct Setter {
        bool user = true;
        int value = 0;
    };
    std::map<double, Setter> setBy{{0.0, {true, desk.monitor->vcpRegister(0x10)->current}}};
    int setsSeen = 0;
    std::size_t linesSeen = 0;
    int writesSeen = 0;
    SimulatedCamera::Stats cameraSeen;
    std::mt19937 shutter(setup.user.seed * 7919u + 13);
    std::normal_distribution<double> noise(0, std::max(setup.cameraNoise, 1e-9));
    constexpr int minutesPerWeek = 7 * 24 * 60;

    for (int w = 0; w < setup.weeks; ++w) {
        Week week;
        if (setup.wishChange && w + 1 == setup.wishChange->week) {
            HiddenPreference changed = setup.preference;
            changed.day = setup.wishChange->day;
            changed.night = setup.wishChange->night;
            user.setPreference(changed);
        }
        for (int m = 0; m < minutesPerWeek; ++m) {
            double now = desk.env.clock.now();
            if (setup.cameraNoise > 0) {
                // A reading this minute sees the room through the camera's own noise.
                double seen = std::clamp(room.lumaAt(now) + noise(shutter), 0.0, 255.0);
                desk.camera.setScriptedLuma({seen});
            }
            // Writes made during the half minute just run (also those that changed nothing).
            auto noteWrites = [&](double at) {
                if (int sets = desk.monitor->stats().setRequests; sets != setsSeen) {
                    setBy[at] = {false, desk.monitor->vcpRegister(0x10)->current};
                    setsSeen = sets;
                }
            };
            noteWrites(now - 15);
            if (learns && w >= setup.learnWeeks && desk.app->mode() == Mode::learning &&
                m % 60 == 0) {
                desk.app->menu().activate(MenuItemId::toggleMode);
                if (desk.app->mode() == Mode::learning && !run.gate) {
                    run.gate = "week " + std::to_string(w + 1) + ": the mode row is " +
                               (desk.app->menu().row(MenuItemId::toggleMode).enabled
                                    ? "enabled but did not switch"
                                    : "disabled (fewer than 80 samples); retrying hourly");
                }
            }
            if (!learns && desk.app->scope() && !desk.app->scope()->anchors().anchors().empty()) {
                desk.app->scope()->anchors().clear();
            }
            // Presence changes at the minute, the look comes half a minute later: a person
            // takes a moment to glance up, and Pellora's reading of a second is done by then.
            user.presence(desk);
            desk.advance(30);
            noteWrites(now + 15);
            if (auto look = user.look(desk)) {
                week.errorSum += look->error;
                week.lagSum += std::fabs(desk.app->smoothedLuma() - look->luma);
                ++week.looks;
                if (look->corrected) {
                    if (setup.trace && learns && w >= setup.learnWeeks) {
                        traceCorrection(desk, w, *look);
                    }
                    ++week.corrections;
                    setBy[now + 30] = {true, desk.monitor->vcpRegister(0x10)->current};
                }
                if (w >= setup.learnWeeks) {
                    adaptingLooks.push_back({*look, desk.app->smoothedLuma()});
                }
            }
            desk.advance(30);
        }
        auto lines = desk.env.systemLog.lines();
        week.externalChanges = static_cast<int>(countIn(lines, linesSeen, "external brightness"));
        week.committed = static_cast<int>(countIn(lines, linesSeen, "anchor committed"));
        week.droppedChanged =
            static_cast<int>(countIn(lines, linesSeen, "dropped — value changed"));
        linesSeen = lines.size();
        int writes = desk.monitor->stats().setRequests;
        week.writes = (writes - writesSeen) / 2;  // each write is sent as two Set frames
        writesSeen = writes;
        auto camera = desk.camera.stats();
        week.readings = camera.starts - cameraSeen.starts;
        week.cameraSeconds = camera.onSeconds - cameraSeen.onSeconds;
        cameraSeen = camera;
        week.mode = desk.app->mode();
        run.weeks.push_back(week);
    }

    auto samples = desk.samples();
    run.samples = static_cast<int>(samples.size());
    for (const auto& s : samples) {
        auto w = static_cast<std::size_t>((s.t - setup.startWall) / (7 * 86400.0));
        if (w >= run.weeks.size()) {
            continue;
        }
        Week& week = run.weeks[w];
        ++week.samples;
        week.userSet += s.userSet;
        // The read ran in the minute that began before the sample's time.
        double minuteStart = setup.startWall + std::floor((s.t - setup.startWall) / 60) * 60;
        auto owner = std::prev(setBy.upper_bound(minuteStart));
        if (!owner->second.user) {
            week.userSetByController += s.userSet;
            continue;
        }
        auto written = std::make_reverse_iterator(owner);
        while (written != setBy.rend() && written->second.user) {
            ++written;
        }
        bool departs =
            written == setBy.rend() || std::abs(s.brightness - written->second.value) >= 3;
        week.missed += departs && !s.userSet && user.presentAt(s.t);
    }

    const double eveningFrom = setup.preference.nightFrom;
    const auto fade = StoredChoices::morningFade(*desk.env.settings);
    run.defaultMap = curveError(adaptingLooks, eveningFrom, nullptr, fade);
    if (desk.app->scope()) {
        run.anchors = static_cast<int>(desk.app->scope()->anchors().anchors().size());
        run.anchorsCurve =
            curveError(adaptingLooks, eveningFrom, &desk.app->scope()->anchors(), fade);
        if (setup.trace && learns) {
            double now = desk.env.clock.now();
            for (const Anchor& a : desk.app->scope()->anchors().anchors()) {
                std::printf(
                    "anchor at the end: luma %5.1f brightness %5.1f hour %5.2f weight %.2f\n",
                    a.luma, a.brightness, a.hour, a.decayedWeight(now));
            }
        }
    }
    auto seeded =
        AnchorStore::create("0000FFFF-0000FFFF-0000FFFF", *desk.env.settings, desk.env.clock);
    seeded->seedFromSamples(samples);
    run.seededAnchors = static_cast<int>(seeded->anchors().size());
    run.seededCurve = curveError(adaptingLooks, eveningFrom, seeded.get(), fade);
    return run;
}

void printWeeks(const Run& learnt, const Run& plain) {
    std::printf(
        "\n          |            learning, then adapting            |   default map alone\n"
        "week mode |  MAE corr wr/d cam/d uSet ctrl miss  ext comm drop |  MAE corr wr/d uSet "
        "ctrl miss  lag\n");
    for (std::size_t i = 0; i < learnt.weeks.size(); ++i) {
        const Week& a = learnt.weeks[i];
        const Week& b = plain.weeks[i];
        std::printf(
            "%4zu %-5s| %4.1f %4d %4.1f %5.1f %4d %4d %4d %4d %4d %4d | %4.1f %4d %4.1f %4d %4d "
            "%4d %4.0f\n",
            i + 1, a.mode == Mode::adapting ? "adapt" : "learn", a.mae(), a.corrections,
            a.writes / 7.0, a.readings / 7.0, a.userSet, a.userSetByController, a.missed,
            a.externalChanges, a.committed, a.droppedChanged, b.mae(), b.corrections,
            b.writes / 7.0, b.userSet, b.userSetByController, b.missed, a.lag());
    }
}

// Means over the weeks from `first` (1-based) to the end.
struct Tally {
    double corrections = NAN, mae = NAN, readingsPerDay = NAN, cameraSecondsPerDay = NAN,
           writesPerDay = NAN;
};
Tally tally(const Run& run, std::size_t first) {
    Tally t;
    if (run.weeks.size() < first) {
        return t;
    }
    double corrections = 0, error = 0, readings = 0, seconds = 0, writes = 0;
    int looks = 0;
    for (std::size_t i = first - 1; i < run.weeks.size(); ++i) {
        const Week& w = run.weeks[i];
        corrections += w.corrections;
        error += w.errorSum;
        looks += w.looks;
        readings += w.readings;
        seconds += w.cameraSeconds;
        writes += w.writes;
    }
    if (looks == 0) {
        return t;  // nobody looked: the run was not made
    }
    double weeks = static_cast<double>(run.weeks.size() - first + 1);
    t.corrections = corrections / weeks;
    t.mae = error / looks;
    t.readingsPerDay = readings / (7 * weeks);
    t.cameraSecondsPerDay = seconds / (7 * weeks);
    t.writesPerDay = writes / (7 * weeks);
    return t;
}

// One line with fixed keys for scripts: corrections a week from week 3 and from week 4 on,
// then (from week 3 on) the mean error at the looks, camera readings, camera-on seconds and
// brightness writes a day; the default map alone's corrections from week 3 last.
void printSummary(const Run& learnt, const Run& plain) {
    Tally three = tally(learnt, 3), four = tally(learnt, 4), plainThree = tally(plain, 3);
    std::printf(
        "summary corr_w3=%.1f corr_w4=%.1f mae=%.2f readings_day=%.1f camera_s_day=%.1f "
        "writes_day=%.1f default_corr_w3=%.1f\n",
        three.corrections, four.corrections, three.mae, three.readingsPerDay,
        three.cameraSecondsPerDay, three.writesPerDay, plainThree.corrections);
}

void printCurves(const char* name, const Run& run) {
    std::printf("%-23s %5d | %4.1f / %4.1f | %2d: %4.1f / %4.1f | %2d: %4.1f / %4.1f\n", name,
                run.samples, run.defaultMap.day, run.defaultMap.evening, run.anchors,
                run.anchorsCurve.day, run.anchorsCurve.evening, run.seededAnchors,
                run.seededCurve.day, run.seededCurve.evening);
}

bool parseSpan(const char* text, double& from, double& to) {
    char tail = 0;
    return std::sscanf(text, "%lf-%lf%c", &from, &to, &tail) == 2 && to >= from;
}

constexpr const char* kUsage =
    "usage: learning_bench [--lat 40.7128] [--lon -74.006] [--tz POSIX-TZ] [--clouds 0.65]\n"
    "                      [--daylight 170] [--lamp 60]\n"
    "                      [--start 2024-03-04] [--weeks 8] [--learn-weeks 2]\n"
    "                      [--day 10:18,150:70] [--night 10:8,90:35] [--night-ramp 20-22]\n"
    "                      [--wish-change 5:10:25,150:80:10:12,90:40]\n"
    "                      [--work 9-18] [--evenings 20-23] [--evening-chance 0.3]\n"
    "                      [--tolerance 10] [--noise 3] [--camera-noise 0] [--seed 1]\n"
    "                      [--follow] [--trace] [--no-default-map]\n"
    "  --day, --night  the user's wish as a line from luma:brightness to luma:brightness\n"
    "  --wish-change   from that week on (1-based) the user wants new day and night lines\n"
    "  --night-ramp    local hours over which the night line takes over (until 7:00)\n"
    "  --tz            local zone (default: whole hours from the longitude, no summer time)\n"
    "  --daylight      the room's luma in full clear daylight; --lamp, what the evening lamp adds\n"
    "  --work, --evenings  local hours; an end past 24 runs into the next day (22-30)\n"
    "  --tolerance     the user corrects when the monitor is off by more than this,\n"
    "  --noise         and lands within this many points of the wish\n"
    "  --camera-noise  each reading is off the room's light by this much (std. dev., luma)\n"
    "  --follow        \"Follow the room closely\" on, for both runs\n"
    "  --trace         a line for each correction of the adapting weeks (learning run)\n"
    "  --no-default-map  only the learning run (the default map's figures read nan)\n"
    "The last line, \"summary …\", holds the figures with fixed keys.\n";

int usage(const char* bad) {
    std::fprintf(stderr, "learning_bench: cannot use %s\n%s", bad, kUsage);
    return 2;
}

int run(int argc, char** argv) {
    Setup setup;
    for (int i = 1; i < argc; ++i) {
        std::string flag = argv[i];
        if (flag == "--help" || flag == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (flag == "--follow" || flag == "--trace") {
            (flag == "--follow" ? setup.follow : setup.trace) = true;
            continue;
        }
        if (flag == "--no-default-map") {
            setup.defaultMap = false;
            continue;
        }
        if (i + 1 >= argc) {
            return usage(argv[i]);
        }
        const char* v = argv[++i];
        char* end = nullptr;
        auto number = [&](double& out) {
            out = std::strtod(v, &end);
            return end != v && *end == 0 && std::isfinite(out);
        };
        auto whole = [&](auto& out, double lowest, double highest) {
            double n = 0;
            if (!number(n) || n < lowest || n > highest || n != std::floor(n)) {
                return false;
            }
            out = static_cast<std::remove_reference_t<decltype(out)>>(n);
            return true;
        };
        bool ok = true;
        if (flag == "--lat") {
            ok = number(setup.latitude) && std::fabs(setup.latitude) <= 90;
        } else if (flag == "--lon") {
            ok = number(setup.longitude) && std::fabs(setup.longitude) <= 180;
        } else if (flag == "--clouds") {
            ok = number(setup.clouds) && setup.clouds >= 0 && setup.clouds <= 1;
        } else if (flag == "--daylight") {
            ok = number(setup.daylight) && setup.daylight >= 0 && setup.daylight <= 255;
        } else if (flag == "--lamp") {
            ok = number(setup.lamp) && setup.lamp >= 0 && setup.lamp <= 255;
        } else if (flag == "--tz") {
            setup.zone = v;
        } else if (flag == "--start") {
            setup.start = v;
        } else if (flag == "--weeks") {
            ok = whole(setup.weeks, 1, 104);
        } else if (flag == "--learn-weeks") {
            ok = whole(setup.learnWeeks, 0, 104);
        } else if (flag == "--day" || flag == "--night") {
            auto line = HiddenPreference::Line::parse(v);
            ok = line.has_value();
            (flag == "--day" ? setup.preference.day : setup.preference.night) =
                line.value_or(HiddenPreference::Line{});
        } else if (flag == "--night-ramp") {
            ok = parseSpan(v, setup.preference.nightFrom, setup.preference.nightFull);
        } else if (flag == "--work") {
            ok = parseSpan(v, setup.user.workFrom, setup.user.workTo);
        } else if (flag == "--evenings") {
            ok = parseSpan(v, setup.user.eveningFrom, setup.user.eveningTo);
        } else if (flag == "--evening-chance") {
            ok = number(setup.user.eveningChance) && setup.user.eveningChance >= 0 &&
                 setup.user.eveningChance <= 1;
        } else if (flag == "--tolerance") {
            ok = whole(setup.user.tolerance, 0, 100);
        } else if (flag == "--noise") {
            ok = whole(setup.user.noise, 0, 50);
        } else if (flag == "--camera-noise") {
            ok = number(setup.cameraNoise) && setup.cameraNoise >= 0 && setup.cameraNoise <= 100;
        } else if (flag == "--wish-change") {
            WishChange change;
            auto& d = change.day;
            auto& n = change.night;
            char tail = 0;
            ok = std::sscanf(v, "%d:%lf:%lf,%lf:%lf:%lf:%lf,%lf:%lf%c", &change.week, &d.luma0,
                             &d.bri0, &d.luma1, &d.bri1, &n.luma0, &n.bri0, &n.luma1, &n.bri1,
                             &tail) == 9 &&
                 change.week >= 1;
            setup.wishChange = change;
        } else if (flag == "--seed") {
            ok = whole(setup.user.seed, 0, 4294967295.0);
        } else {
            ok = false;
        }
        if (!ok) {
            return usage((flag + " " + v).c_str());
        }
    }
    // The desks' files are scratch: in memory, the settings store's fsyncs cost nothing.
    std::error_code error;
    if (!std::getenv("TMPDIR") && std::filesystem::is_directory("/dev/shm", error)) {
        ::setenv("TMPDIR", "/dev/shm", 1);
    }
    if (setup.zone.empty()) {
        long hours = std::lround(setup.longitude / 15.0);
        setup.zone = "LMT" + std::to_string(-hours);  // POSIX counts west of Greenwich positive
    }
    ::setenv("TZ", setup.zone.c_str(), 1);
    ::tzset();
    std::tm date{};
    char tail = 0;
    if (std::sscanf(setup.start.c_str(), "%d-%d-%d%c", &date.tm_year, &date.tm_mon, &date.tm_mday,
                    &tail) != 3) {
        return usage(setup.start.c_str());
    }
    date.tm_year -= 1900;
    date.tm_mon -= 1;
    date.tm_isdst = -1;
    setup.startWall = static_cast<double>(std::mktime(&date));

    const auto& p = setup.preference;
    std::printf("%s, camera noise %g luma.\n",
                setup.follow ? "Follow the room closely" : "The usual cadence and smoothing",
                setup.cameraNoise);
    if (const auto& c = setup.wishChange) {
        std::printf("From week %d the wish is day %g:%g→%g:%g, night %g:%g→%g:%g.\n", c->week,
                    c->day.luma0, c->day.bri0, c->day.luma1, c->day.bri1, c->night.luma0,
                    c->night.bri0, c->night.luma1, c->night.bri1);
    }
    std::printf(
        "Desk at %.4f, %.4f (TZ=%s, clouds %.2f, daylight %g, lamp %g) from %s local midnight, "
        "%d weeks, learning for %d.\n"
        "User at the desk on weekdays %g–%g h, evenings %g–%g h with chance %.2f (±%g min); "
        "corrects when off by more than %d, to within ±%d; seed %u.\n"
        "Hidden wish: day %g:%g→%g:%g, night %g:%g→%g:%g (luma:brightness), night from %g h, "
        "full at %g h.\n",
        setup.latitude, setup.longitude, setup.zone.c_str(), setup.clouds, setup.daylight,
        setup.lamp, setup.start.c_str(), setup.weeks, setup.learnWeeks, setup.user.workFrom,
        setup.user.workTo, setup.user.eveningFrom, setup.user.eveningTo, setup.user.eveningChance,
        setup.user.jitterMinutes, setup.user.tolerance, setup.user.noise, setup.user.seed,
        p.day.luma0, p.day.bri0, p.day.luma1, p.day.bri1, p.night.luma0, p.night.bri0,
        p.night.luma1, p.night.bri1, p.nightFrom, p.nightFull);

    Run learnt = runDesk(setup, true);
    Run plain;
    if (setup.defaultMap) {
        plain = runDesk(setup, false);
    } else {
        plain.weeks.resize(learnt.weeks.size());
    }
    printWeeks(learnt, plain);
    std::printf(
        "\nMAE: mean |monitor − wish| at the user's looks (every 5 min while present); corr: "
        "button corrections; wr/d: brightness writes a day (each two DDC Set frames);\ncam/d: "
        "camera readings a day; uSet: "
        "samples logged as the "
        "user's own; ctrl: of those, samples of a brightness the controller had written; miss: "
        "samples of a brightness\nthe user set, 3 or more from the controller's last write, read "
        "while present, not logged as the user's; ext, comm, drop: external-change lines,\n"
        "anchors committed, pending anchors dropped as the value changed; lag: mean |smoothed − "
        "room luma| at the looks.\n\n");
    std::printf(
        "Curves, by their error over the adapting weeks' looks at the controller's smoothed luma "
        "(day / evening):\n"
        "run                     samples | default map | anchors at the end | seeded from the "
        "samples log\n");
    printCurves("learning, then adapting", learnt);
    printCurves("default map alone", plain);
    if (learnt.gate) {
        std::printf("Switch to adapting: %s\n", learnt.gate->c_str());
    }
    printSummary(learnt, plain);
    return 0;
}

}  // namespace
}  // namespace pellora::bench

int main(int argc, char** argv) {
    return pellora::bench::run(argc, argv);
}
