// Pictures of the windows as a user sees them, for looking at: the preferences window over
// a month of simulated samples with a curve seeded from them, the indicator, and the window
// that carries the menu where there is no tray. `window_shots DIR` writes PNGs in light and
// dark; run it with QT_SCALE_FACTOR=2 for a high-density screen.

#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QStyleFactory>
#include <QTimer>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "DeskPreferences.h"
#include "SimulatedDesk.h"
#include "display/MonitorScope.h"
#include "store/SampleLogger.h"
#include "ui/AdjustmentHUD.h"
#include "ui/MenuPanelView.h"
#include "ui/PreferencesWindowController.h"

namespace {

using pellora::test::SimulatedDesk;

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x2b, 0x2b, 0x2d));
    p.setColor(QPalette::WindowText, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::Base, QColor(0x1e, 0x1e, 0x20));
    p.setColor(QPalette::AlternateBase, QColor(0x33, 0x33, 0x36));
    p.setColor(QPalette::Text, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::Button, QColor(0x3a, 0x3a, 0x3d));
    p.setColor(QPalette::ButtonText, QColor(0xe8, 0xe8, 0xea));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x8b, 0xf2));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x8e, 0x8e, 0x93));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x7a, 0x7a, 0x7e));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x7a, 0x7a, 0x7e));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x7a, 0x7a, 0x7e));
    return p;
}

// A month of readings every 20 minutes: daylight through a window, a lamp in the evening,
// and a user who turned the monitor up in the morning and down at night.
void writeMonth(const std::filesystem::path& file, double now) {
    std::ofstream out(file, std::ios::app);
    for (double t = now - 30 * 86400.0; t <= now; t += 1200.0) {
        double hour = std::fmod(t / 3600.0, 24.0);
        double sun = std::max(0.0, std::sin((hour - 6.0) / 14.0 * M_PI));
        double luma = 18 + 170 * sun + 12 * std::sin(t / 5000.0) + (hour > 19 ? 30 : 0);
        luma = std::clamp(luma, 0.0, 255.0);
        int brightness = static_cast<int>(std::lround(15 + luma * 0.3));
        bool userSet = std::fmod(t, 6 * 3600.0) < 1200.0;
        pellora::Sample sample{t, luma, brightness, static_cast<int>(hour), userSet};
        out << *pellora::SampleLogger::encodeLine(sample) << '\n';
    }
}

void save(QWidget& widget, const QString& path) {
    QCoreApplication::processEvents();
    widget.grab().save(path);
    std::printf("%s\n", path.toUtf8().constData());
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    ::setenv("TZ", "America/New_York", 1);
    ::tzset();
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QString dir = argc > 1 ? argv[1] : "/tmp";
    const QPalette light = QApplication::style()->standardPalette();

    // 2024-06-21 16:00 in New York: an afternoon with the sun still up.
    SimulatedDesk desk(SimulatedDesk::Options{
        .startWall = 1718999999.0,
        .preferences = pellora::test::deskPreferences,
    });
    desk.monitor->setCapabilities(
        "(prot(monitor)type(lcd)model(U2720Q)vcp(02 04 05 08 10 12 14(01 04 05 06 08 0B) 16 18 "
        "1A 52 60(0F 11 1B) AA(01 02) AC AE B2 B6 C6 C8 C9 D6(01 04 05) DC(00 02 03 05) DF E0 "
        "E1 E2 F0 F1 F2 FD))");
    desk.launch();
    writeMonth(desk.app->scope()->logger().fileURL(), desk.env.clock.now());
    desk.advance(10.0);
    desk.app->openPreferences();
    desk.advance(1.0);
    auto& prefs = static_cast<pellora::PreferencesWindowController&>(*desk.app->prefs());
    prefs.seedButton().click();
    desk.advance(1.0);
    prefs.setLiveLuma(desk.app->smoothedLuma());

    pellora::AdjustmentHUD hud(desk.mainQueue, desk.env.clock, nullptr, false);
    pellora::MenuPanelView panel(desk.menu);
    // Inside the event loop: Qt tells widgets of a palette change only while it runs.
    QTimer::singleShot(0, [&] {
        for (const auto& [name, palette] :
             {std::pair{"light", light}, std::pair{"dark", darkPalette()}}) {
            QApplication::setPalette(palette);
            QCoreApplication::processEvents();
            // The whole column, as a tall screen shows it.
            prefs.window().resize(560, 1120);
            desk.advance(0.5);
            save(prefs.window(), dir + "/prefs-" + name + ".png");
            // A 768-pixel laptop: the window is shorter and scrolls.
            prefs.window().resize(560, 700);
            desk.advance(0.1);
            save(prefs.window(), dir + "/prefs-short-" + name + ".png");
            hud.show(62, 4);
            desk.advance(0.5);
            save(hud, dir + "/hud-" + name + ".png");
            panel.resize(420, panel.sizeHint().height());
            save(panel, dir + "/menu-panel-" + name + ".png");
        }
        QCoreApplication::quit();
    });
    return QApplication::exec();
}
