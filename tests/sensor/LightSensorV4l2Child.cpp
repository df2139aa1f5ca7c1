// Run by LightSensorOnV4l2Test under pw-v4l2, where the PipeWire layer's camera is
// /dev/video0: one LightSensor reading over V4l2Camera with the production queues, printed
// as "key=value" lines.

#include <QCoreApplication>
#include <QTimer>
#include <cstdio>
#include <optional>

#include "OpenDescriptors.h"
#include "TempDir.h"
#include "TestEnvironment.h"
#include "V4l2LayerBackend.h"
#include "platform/QtMainQueue.h"
#include "platform/SerialQueue.h"
#include "platform/SystemClock.h"
#include "sensor/LightSensor.h"

using namespace pellora;

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // what was printed survives a crash
    QCoreApplication app(argc, argv);
    // Clock time runs four times faster, so the 0.7 s warm-up passes in about 0.18 s.
    SystemClock clock(4.0);
    QtMainQueue main(clock);
    SerialQueue sensorQueue("pellora.sensor", clock);
    SerialQueue logQueue("pellora.debug-log", clock);
    test::TempDir dir;
    test::RecordingSystemLog systemLog;
    DebugLog log(clock, logQueue, dir.path(), systemLog);
    auto camera = V4l2Camera::create(test::v4l2LayerBackend());

    auto settle = [&] {
        logQueue.sync([] {});
        sensorQueue.sync([] {});
    };
    settle();
    const std::string idle = test::openDescriptors();
    auto sensor = LightSensor::create(*camera, sensorQueue, main, clock, log);
    std::optional<double> luma;
    int completions = 0;
    sensor->sampleOnce(40.0, [&](std::optional<double> value) {
        luma = value;
        ++completions;
        app.quit();
    });
    QTimer::singleShot(15000, &app, &QCoreApplication::quit);  // a bound for a run gone wrong
    app.exec();

    // The device is open only for the reading.
    std::string after = test::descriptorsSettledAt(idle, settle);
    std::printf("completions=%d\nluma=%.1f\ncamera=%s\ndescriptorsBack=%d\n", completions,
                luma.value_or(-1), sensor->selectedDeviceName().c_str(), after == idle);
    return 0;
}
