#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "PrivateDBus.h"
#include "TempDir.h"

namespace pellora::test {

// A camera only in PipeWire (a private D-Bus, PipeWire, WirePlumber and a GStreamer source, the
// test's own): a program under pw-v4l2 reaches it through the real V4L2 API as /dev/video0.
class PipeWireCamera {
  public:
    static constexpr const char* name = "Pellora Test Camera";

    struct Run {
        bool finished = false;
        int exitCode = -1;
        std::string output;                         // stdout and stderr, merged
        std::map<std::string, std::string> values;  // the output's "key=value" lines
    };

    // The first tool or GStreamer element this machine lacks, with the package that has it;
    // empty when everything is there.
    static std::string missing() {
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

    // `source`: the GStreamer pipeline up to (not including) the sink, as gst-launch arguments.
    explicit PipeWireCamera(const QStringList& source) {
        std::error_code error;
        std::filesystem::create_directories(home_ / "run", error);
        std::filesystem::permissions(home_ / "run", std::filesystem::perms::owner_all, error);
        if (!bus_.ok()) {
            failure_ = "no private D-Bus";
            return;
        }
        env_ = QProcessEnvironment::systemEnvironment();
        // Everything the daemons keep goes into the test's folder, away from the user's session.
        auto under = [&](const char* dir) {
            return QString::fromStdString((home_ / dir).string());
        };
        env_.insert("XDG_RUNTIME_DIR", under("run"));
        env_.insert("XDG_CONFIG_HOME", under("config"));
        env_.insert("XDG_STATE_HOME", under("state"));
        env_.insert("DBUS_SESSION_BUS_ADDRESS", bus_.address());
        env_.remove("PIPEWIRE_REMOTE");
        env_.remove("LD_PRELOAD");
        // gst-launch joins its arguments and parses them again: the name's spaces are escaped.
        QStringList pipeline =
            source + QStringList{"!", "pipewiresink", "mode=provide",
                                 R"(stream-properties=props,media.class=Video/)"
                                 R"(Source,node.description=\"Pellora\ Test\ Camera\")"};
        launch("pipewire", {},
               [&] { return std::filesystem::exists(home_ / "run" / "pipewire-0", error); }) &&
            launch(
                "wireplumber", {},
                [&] { return pwCliList(env_, "Client").contains("\"WirePlumber [export]\""); }) &&
            launch("gst-launch-1.0", pipeline,
                   [&] { return pwCliList(env_, "Node").contains(name); });
    }
    ~PipeWireCamera() {
        while (!daemons_.empty()) {
            QProcess& process = *daemons_.back();
            process.terminate();
            if (!process.waitForFinished(2000)) {
                process.kill();
                process.waitForFinished(2000);
            }
            daemons_.pop_back();
        }
    }
    PipeWireCamera(const PipeWireCamera&) = delete;
    PipeWireCamera& operator=(const PipeWireCamera&) = delete;

    // Empty when the camera is up; else what failed, with the daemon's log.
    const std::string& failure() const { return failure_; }

    // Runs `program` under pw-v4l2 and waits for it (a minute at most).
    Run runUnderV4l2Layer(const QString& program, const QStringList& arguments = {}) {
        QProcess child;
        QProcessEnvironment childEnv = env_;
        // Leaks inside the preloaded PipeWire layer are not this program's.
        childEnv.insert("ASAN_OPTIONS", "detect_leaks=0");
        child.setProcessEnvironment(childEnv);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start("pw-v4l2", QStringList{program} + arguments);
        Run run;
        run.finished = child.waitForFinished(60000);
        if (!run.finished) {
            child.kill();
            child.waitForFinished(2000);
        }
        run.output = child.readAll().toStdString() + child.errorString().toStdString();
        run.exitCode = child.exitCode();
        std::istringstream lines(run.output);
        for (std::string line; std::getline(lines, line);) {
            if (auto equals = line.find('='); equals != std::string::npos && equals > 0) {
                run.values.emplace(line.substr(0, equals), line.substr(equals + 1));
            }
        }
        return run;
    }

  private:
    // Starts a daemon logging to home_/<program>.log and waits up to 10 s for `ready`.
    bool launch(const QString& program, const QStringList& arguments,
                const std::function<bool()>& ready) {
        auto log = home_ / (program.toStdString() + ".log");
        auto& process = *daemons_.emplace_back(std::make_unique<QProcess>());
        process.setProcessEnvironment(env_);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardOutputFile(QString::fromStdString(log.string()));
        process.start(program, arguments);
        process.waitForStarted(5000);
        QElapsedTimer timer;
        timer.start();
        while (!ready()) {
            if (timer.elapsed() > 10000) {
                failure_ = program.toStdString() + " did not come up:\n" + readFile(log);
                return false;
            }
            QThread::msleep(50);
        }
        return true;
    }
    static QString pwCliList(const QProcessEnvironment& env, const QString& type) {
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start("pw-cli", {"ls", type});
        cli.waitForFinished(5000);
        return QString::fromUtf8(cli.readAllStandardOutput());
    }

    TempDir home_;
    PrivateDBus bus_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> daemons_;  // ended last first
    std::string failure_;
};

}  // namespace pellora::test
