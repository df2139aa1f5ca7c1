#include "PipeWireCamera.h"

#include <QElapsedTimer>
#include <QStandardPaths>
#include <QThread>
#include <filesystem>
#include <functional>
#include <sstream>
#include <system_error>

namespace pellora::test {

namespace {

bool waitFor(const std::function<bool()>& ready, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < timeoutMs) {
        if (ready()) {
            return true;
        }
        QThread::msleep(50);
    }
    return ready();
}

QString pwCliList(const QProcessEnvironment& env, const QString& type) {
    QProcess cli;
    cli.setProcessEnvironment(env);
    cli.start("pw-cli", {"ls", type});
    cli.waitForFinished(5000);
    return QString::fromUtf8(cli.readAllStandardOutput());
}

}  // namespace

// A daemon of the test's own, ended with the object.
class PipeWireCamera::Daemon {
  public:
    Daemon(const QProcessEnvironment& env, const QString& program, const QStringList& arguments,
           const std::filesystem::path& logFile)
        : logFile_(logFile) {
        process_.setProcessEnvironment(env);
        process_.setProcessChannelMode(QProcess::MergedChannels);
        process_.setStandardOutputFile(QString::fromStdString(logFile.string()));
        process_.start(program, arguments);
        process_.waitForStarted(5000);
    }
    ~Daemon() {
        process_.terminate();
        if (!process_.waitForFinished(2000)) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }
    bool running() const { return process_.state() == QProcess::Running; }
    std::string log() const { return readFile(logFile_); }

  private:
    QProcess process_;
    std::filesystem::path logFile_;
};

std::string PipeWireCamera::missing() {
    for (const char* tool : {"pw-v4l2", "pipewire", "wireplumber", "pw-cli", "gst-launch-1.0",
                             "gst-inspect-1.0", "dbus-daemon"}) {
        if (QStandardPaths::findExecutable(tool).isEmpty()) {
            return std::string(tool) +
                   " not installed (scripts/setup-deps installs pipewire-bin, pipewire-v4l2, "
                   "wireplumber, gstreamer1.0-tools)";
        }
    }
    for (const char* element : {"videotestsrc", "pipewiresink", "jpegenc"}) {
        QProcess inspect;
        inspect.start("gst-inspect-1.0", {element});
        if (!inspect.waitForFinished(10000) || inspect.exitCode() != 0) {
            return std::string("GStreamer element ") + element +
                   " missing (gstreamer1.0-plugins-base, -good and gstreamer1.0-pipewire "
                   "provide them)";
        }
    }
    return {};
}

PipeWireCamera::PipeWireCamera(const QStringList& source) {
    std::error_code error;
    std::filesystem::create_directories(home_ / "run", error);
    std::filesystem::permissions(home_ / "run", std::filesystem::perms::owner_all, error);
    if (!bus_.ok()) {
        failure_ = "no private D-Bus";
        return;
    }
    env_ = QProcessEnvironment::systemEnvironment();
    // Everything the daemons keep goes into the test's folder, away from the user's session.
    env_.insert("XDG_RUNTIME_DIR", QString::fromStdString((home_ / "run").string()));
    env_.insert("XDG_CONFIG_HOME", QString::fromStdString((home_ / "config").string()));
    env_.insert("XDG_STATE_HOME", QString::fromStdString((home_ / "state").string()));
    env_.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
    env_.remove("PIPEWIRE_REMOTE");
    env_.remove("LD_PRELOAD");

    pipewire_ = std::make_unique<Daemon>(env_, "pipewire", QStringList{}, home_ / "pipewire.log");
    if (!waitFor([&] { return std::filesystem::exists(home_ / "run" / "pipewire-0", error); },
                 10000)) {
        failure_ = "pipewire did not start:\n" + pipewire_->log();
        return;
    }
    wireplumber_ =
        std::make_unique<Daemon>(env_, "wireplumber", QStringList{}, home_ / "wireplumber.log");
    if (!waitFor([&] { return pwCliList(env_, "Client").contains("\"WirePlumber [export]\""); },
                 10000)) {
        failure_ = "wireplumber did not start:\n" + wireplumber_->log();
        return;
    }
    QStringList pipeline = source;
    // gst-launch joins its arguments and parses them again: the name's spaces are escaped.
    pipeline
        << "!"
        << "pipewiresink"
        << "mode=provide"
        << R"(stream-properties=props,media.class=Video/Source,node.description=\"Pellora\ Test\ Camera\")";
    source_ = std::make_unique<Daemon>(env_, "gst-launch-1.0", pipeline, home_ / "gst.log");
    if (!waitFor([&] { return pwCliList(env_, "Node").contains(name); }, 10000)) {
        failure_ = "the GStreamer source did not appear:\n" + source_->log();
    }
}

PipeWireCamera::~PipeWireCamera() = default;

bool PipeWireCamera::running() const {
    return failure_.empty() && pipewire_->running() && source_->running();
}

PipeWireCamera::Run PipeWireCamera::runUnderV4l2Layer(const QString& program,
                                                      const QStringList& arguments) {
    QProcess child;
    QProcessEnvironment childEnv = env_;
    // Leaks inside the preloaded PipeWire layer are not this program's.
    childEnv.insert("ASAN_OPTIONS", "detect_leaks=0");
    child.setProcessEnvironment(childEnv);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start("pw-v4l2", QStringList{program} + arguments);
    Run run;
    if (!child.waitForStarted(5000)) {
        run.output = "pw-v4l2 did not start";
        return run;
    }
    run.finished = child.waitForFinished(60000);
    if (!run.finished) {
        child.kill();
        child.waitForFinished(2000);
    }
    run.output = child.readAll().toStdString();
    run.exitCode = child.exitCode();
    std::istringstream lines(run.output);
    for (std::string line; std::getline(lines, line);) {
        if (auto equals = line.find('='); equals != std::string::npos && equals > 0) {
            run.values.emplace(line.substr(0, equals), line.substr(equals + 1));
        }
    }
    return run;
}

}  // namespace pellora::test
