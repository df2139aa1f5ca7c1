// How well Pellora learns a user: a simulated desk over weeks, the real controller on
// virtual time, a user who wants their own brightness and presses the monitor's buttons when
// it is far off. Learning first, then adapting; beside it the same desk and user with the
// default map alone (adapting from the first day, every anchor cleared as soon as it lands).

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "DeskUser.h"
#include "HiddenPreference.h"
#include "SimulatedDesk.h"
#include "app/ApplyPolicy.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"

namespace pellora::bench {
namespace {

using test::SimulatedDesk;

struct Setup {
    double latitude = 40.7128;
    double longitude = -74.006;
    double clouds = RoomLight{}.cloudDepth;
    std::string zone;  // empty: whole hours from the longitude
    std::string start = "2024-03-04";
    double startWall = 0;
    int weeks = 8;
    int learnWeeks = 2;
    HiddenPreference preference;
    DeskUserOptions user;
};

struct Week {
    Mode mode = Mode::learning;
    double errorSum = 0;
    int looks = 0;
    int corrections = 0;
    int writes = 0;
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

Run::Error curveError(const std::vector<Seen>& seen, double eveningFrom,
                      const AnchorStore* anchors) {
    double sum[2] = {0, 0};
    int count[2] = {0, 0};
    for (const auto& [look, luma] : seen) {
        std::optional<int> predicted;
        if (anchors) {
            predicted = anchors->predict(luma, look.hour);
        }
        int evening = look.hour >= eveningFrom || look.hour < 7;
        sum[evening] += std::fabs(predicted.value_or(ApplyPolicy::defaultMap(luma)) - look.wish);
        ++count[evening];
    }
    return {count[0] ? sum[0] / count[0] : NAN, count[1] ? sum[1] / count[1] : NAN};
}

Run runDesk(const Setup& setup, bool learns) {
    SimulatedDesk desk(SimulatedDesk::Options{.startWall = setup.startWall, .dumpPeriod = 3600});
    RoomLight room;
    room.latitude = setup.latitude;
    room.longitude = setup.longitude;
    room.seed = setup.user.seed;
    room.cloudDepth = setup.clouds;
    desk.camera.setRoomLight(room);
    desk.env.settings->set("userLat", setup.latitude);
    desk.env.settings->set("userLon", setup.longitude);
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
    constexpr int minutesPerWeek = 7 * 24 * 60;

    for (int w = 0; w < setup.weeks; ++w) {
        Week week;
        for (int m = 0; m < minutesPerWeek; ++m) {
            double now = desk.env.clock.now();
            if (int sets = desk.monitor->stats().setRequests; sets != setsSeen) {
                // Written during the minute just run (also when it changed nothing).
                setBy[now - 30] = {false, desk.monitor->vcpRegister(0x10)->current};
                setsSeen = sets;
            }
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
            if (auto look = user.minute(desk)) {
                week.errorSum += look->error;
                week.lagSum += std::fabs(desk.app->smoothedLuma() - look->luma);
                ++week.looks;
                if (look->corrected) {
                    ++week.corrections;
                    setBy[now] = {true, desk.monitor->vcpRegister(0x10)->current};
                }
                if (w >= setup.learnWeeks) {
                    adaptingLooks.push_back({*look, desk.app->smoothedLuma()});
                }
            }
            desk.advance(60);
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
    run.defaultMap = curveError(adaptingLooks, eveningFrom, nullptr);
    if (desk.app->scope()) {
        run.anchors = static_cast<int>(desk.app->scope()->anchors().anchors().size());
        run.anchorsCurve = curveError(adaptingLooks, eveningFrom, &desk.app->scope()->anchors());
    }
    auto seeded =
        AnchorStore::create("0000FFFF-0000FFFF-0000FFFF", *desk.env.settings, desk.env.clock);
    seeded->seedFromSamples(samples);
    run.seededAnchors = static_cast<int>(seeded->anchors().size());
    run.seededCurve = curveError(adaptingLooks, eveningFrom, seeded.get());
    return run;
}

void printWeeks(const Run& learnt, const Run& plain) {
    std::printf(
        "\n          |         learning, then adapting          |   default map alone\n"
        "week mode |  MAE corr wr/d uSet ctrl miss  ext comm drop |  MAE corr wr/d uSet ctrl miss  "
        "lag\n");
    for (std::size_t i = 0; i < learnt.weeks.size(); ++i) {
        const Week& a = learnt.weeks[i];
        const Week& b = plain.weeks[i];
        std::printf(
            "%4zu %-5s| %4.1f %4d %4.1f %4d %4d %4d %4d %4d %4d | %4.1f %4d %4.1f %4d %4d %4d "
            "%4.0f\n",
            i + 1, a.mode == Mode::adapting ? "adapt" : "learn", a.mae(), a.corrections,
            a.writes / 7.0, a.userSet, a.userSetByController, a.missed, a.externalChanges,
            a.committed, a.droppedChanged, b.mae(), b.corrections, b.writes / 7.0, b.userSet,
            b.userSetByController, b.missed, a.lag());
    }
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
    "                      [--start 2024-03-04] [--weeks 8] [--learn-weeks 2]\n"
    "                      [--day 10:18,150:70] [--night 10:8,90:35] [--night-ramp 20-22]\n"
    "                      [--work 9-18] [--evenings 20-23] [--evening-chance 0.3]\n"
    "                      [--tolerance 10] [--noise 3] [--seed 1]\n"
    "  --day, --night  the user's wish as a line from luma:brightness to luma:brightness\n"
    "  --night-ramp    local hours over which the night line takes over (until 7:00)\n"
    "  --tz            local zone (default: whole hours from the longitude, no summer time)\n"
    "  --tolerance     the user corrects when the monitor is off by more than this,\n"
    "  --noise         and lands within this many points of the wish\n";

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
    std::printf(
        "Desk at %.4f, %.4f (TZ=%s, clouds %.2f) from %s local midnight, %d weeks, learning for "
        "%d.\n"
        "User at the desk on weekdays %g–%g h, evenings %g–%g h with chance %.2f (±%g min); "
        "corrects when off by more than %d, to within ±%d; seed %u.\n"
        "Hidden wish: day %g:%g→%g:%g, night %g:%g→%g:%g (luma:brightness), night from %g h, "
        "full at %g h.\n",
        setup.latitude, setup.longitude, setup.zone.c_str(), setup.clouds, setup.start.c_str(),
        setup.weeks, setup.learnWeeks, setup.user.workFrom, setup.user.workTo,
        setup.user.eveningFrom, setup.user.eveningTo, setup.user.eveningChance,
        setup.user.jitterMinutes, setup.user.tolerance, setup.user.noise, setup.user.seed,
        p.day.luma0, p.day.bri0, p.day.luma1, p.day.bri1, p.night.luma0, p.night.bri0,
        p.night.luma1, p.night.bri1, p.nightFrom, p.nightFull);

    Run learnt = runDesk(setup, true);
    Run plain = runDesk(setup, false);
    printWeeks(learnt, plain);
    std::printf(
        "\nMAE: mean |monitor − wish| at the user's looks (every 5 min while present); corr: "
        "button corrections; wr/d: brightness writes a day (each two DDC Set frames);\nuSet: "
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
    return 0;
}

}  // namespace
}  // namespace pellora::bench

int main(int argc, char** argv) {
    return pellora::bench::run(argc, argv);
}
