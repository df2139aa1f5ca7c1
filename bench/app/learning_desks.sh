#!/bin/sh
# The learning benchmark on a set of desks that differ in place, season, clouds, room, schedule,
# tolerance, noise and wish, each with the usual cadence and with "Follow the room closely".
# Prints one line per desk and cadence: the desk's name, the cadence and learning_bench's
# summary. A desk's two runs go side by side.
#   bench/app/learning_desks.sh [build/release/bench/learning_bench] [desk names…]
set -eu
bench=${1:-build/release/bench/learning_bench}
[ $# -gt 0 ] && shift

desk() {
    case $1 in
    newyork) echo "" ;;
    clear) echo "--clouds 0" ;;
    noisy) echo "--clouds 0.5 --camera-noise 5 --seed 2" ;;
    nightshift) echo "--lat 52.52 --lon 13.40 --tz CET-1CEST,M3.5.0,M10.5.0/3 --start 2024-04-08
        --work 22-30 --evenings 18-21 --evening-chance 0.2 --day 10:20,150:65 --night 5:10,90:45
        --camera-noise 3 --seed 4" ;;
    tropical) echo "--lat 1.35 --lon 103.82 --tz SGT-8 --start 2024-07-01 --clouds 0.8
        --daylight 230 --lamp 70 --day 20:30,200:90 --night 20:15,120:50 --work 8-17
        --evenings 19-23 --evening-chance 0.5 --camera-noise 4 --seed 3" ;;
    dimnorth) echo "--lat 59.91 --lon 10.75 --tz CET-1 --start 2024-11-25 --clouds 0.8
        --daylight 70 --lamp 35 --tolerance 6 --noise 2 --day 5:15,70:45 --night 5:8,50:30
        --camera-noise 2 --seed 5" ;;
    wishchange) echo "--lat 39.74 --lon -104.99 --tz MST7MDT,M3.2.0,M11.1.0 --start 2024-05-06
        --clouds 0.4 --evenings 19-23 --evening-chance 0.6 --wish-change 5:10:30,150:85:10:15,90:50
        --camera-noise 3 --seed 6" ;;
    tolerant) echo "--lat -33.87 --lon 151.21 --tz AEST-10 --start 2024-06-03 --tolerance 15
        --noise 6 --day 10:45,150:95 --night 10:25,90:60 --work 8-16 --camera-noise 6 --seed 7" ;;
    london) echo "--lat 51.51 --lon -0.13 --tz GMT0BST,M3.5.0/1,M10.5.0 --start 2024-09-23
        --clouds 0.9 --camera-noise 8 --tolerance 8 --evening-chance 0.5 --seed 8" ;;
    capetown) echo "--lat -33.92 --lon 18.42 --tz SAST-2 --start 2024-01-15 --clouds 0.5
        --daylight 200 --evenings 19-22 --evening-chance 0.4 --noise 4 --day 10:25,160:80
        --night 10:12,80:40 --camera-noise 5 --seed 9" ;;
    seattle) echo "--lat 47.61 --lon -122.33 --tz PST8PDT,M3.2.0,M11.1.0 --start 2024-10-14
        --clouds 0.85 --daylight 150 --lamp 50 --work 7-15 --evenings 18-22 --evening-chance 0.7
        --tolerance 9 --wish-change 5:10:12,150:55:10:6,90:25 --camera-noise 4 --seed 10" ;;
    reykjavik) echo "--lat 64.15 --lon -21.94 --tz GMT0 --start 2024-12-09 --daylight 40
        --lamp 45 --work 14-23 --evening-chance 0 --tolerance 7 --camera-noise 3 --seed 11" ;;
    mumbai) echo "--lat 19.08 --lon 72.88 --tz IST-5:30 --start 2024-07-08 --clouds 0.85
        --daylight 190 --lamp 60 --work 10-19 --evenings 21-24 --evening-chance 0.4 --tolerance 9
        --camera-noise 5 --seed 12" ;;
    berlin) echo "--lat 52.52 --lon 13.40 --tz CET-1CEST,M3.5.0,M10.5.0/3 --start 2025-01-13
        --clouds 0.6 --daylight 90 --lamp 40 --evenings 18-22 --evening-chance 0.5
        --day 8:20,90:60 --night 8:10,60:40 --camera-noise 3 --seed 13" ;;
    sanfrancisco) echo "--lat 37.77 --lon -122.42 --tz PST8PDT,M3.2.0,M11.1.0 --start 2024-08-05
        --clouds 0.5 --work 10-19 --tolerance 12 --noise 5 --camera-noise 4 --seed 14" ;;
    sydney) echo "--lat -33.87 --lon 151.21 --tz AEST-10AEDT,M10.1.0,M4.1.0/3 --start 2025-01-06
        --clouds 0.6 --daylight 210 --work 7-19 --evenings 20-23 --evening-chance 0.8
        --wish-change 5:10:35,190:92:10:20,100:55 --camera-noise 4 --seed 15" ;;
    vancouver) echo "--lat 49.28 --lon -123.12 --tz PST8PDT,M3.2.0,M11.1.0 --start 2024-11-04
        --clouds 0.75 --daylight 120 --lamp 45 --work 9-17 --evenings 19-22 --evening-chance 0.3
        --camera-noise 6 --seed 16" ;;
    dubai) echo "--lat 25.20 --lon 55.27 --tz GST-4 --start 2024-03-11 --clouds 0.2 --daylight 240
        --lamp 80 --work 8-17 --evening-chance 0.2 --tolerance 8 --camera-noise 2 --seed 17" ;;
    madrid) echo "--lat 40.42 --lon -3.70 --tz CET-1CEST,M3.5.0,M10.5.0/3 --start 2024-06-10
        --clouds 0.3 --daylight 220 --work 7-15 --evenings 21-24 --evening-chance 0.5
        --tolerance 8 --camera-noise 3 --seed 18" ;;
    tokyo) echo "--lat 35.68 --lon 139.69 --tz JST-9 --start 2024-04-08 --clouds 0.6 --work 8-18
        --evenings 20-23 --evening-chance 0.6 --wish-change 5:10:25,160:80:10:10,90:40
        --camera-noise 5 --seed 19" ;;
    chicago) echo "--lat 41.88 --lon -87.63 --tz CST6CDT,M3.2.0,M11.1.0 --start 2025-02-03
        --clouds 0.7 --daylight 110 --lamp 50 --work 7-16 --evenings 18-21 --evening-chance 0.4
        --noise 3 --camera-noise 4 --seed 20" ;;
    paris) echo "--lat 48.86 --lon 2.35 --tz CET-1CEST,M3.5.0,M10.5.0/3 --start 2024-10-07
        --clouds 0.7 --work 9-18 --evenings 20-23 --evening-chance 0.4 --tolerance 9
        --camera-noise 3 --seed 21" ;;
    toronto) echo "--lat 43.65 --lon -79.38 --tz EST5EDT,M3.2.0,M11.1.0 --start 2025-01-20
        --clouds 0.6 --daylight 120 --work 8-17 --evenings 19-22 --evening-chance 0.5
        --wish-change 4:10:15,150:60:10:6,90:30 --seed 22" ;;
    *) echo "unknown desk $1" >&2; exit 2 ;;
    esac
}

names=${*:-newyork clear nightshift noisy tropical dimnorth wishchange tolerant london capetown seattle reykjavik
    mumbai berlin sanfrancisco sydney vancouver dubai madrid tokyo chicago paris toronto}
run() {
    # shellcheck disable=SC2046
    line=$("$bench" $(desk "$1") $2 | tail -n 1)
    cadence=usual
    [ -n "$2" ] && cadence=follow
    printf '%-11s %-6s %s\n' "$1" "$cadence" "$line"
}
for name in $names; do
    run "$name" "" &
    run "$name" --follow
    wait
done
