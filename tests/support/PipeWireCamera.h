#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PrivateDBus.h"
#include "TempDir.h"

namespace pellora::test {

// A camera that exists only in PipeWire: a private D-Bus, a PipeWire daemon, WirePlumber and
// a GStreamer source, all of the test's own and ended with the object. A helper program run
// under pw-v4l2 (`runUnderV4l2Layer`) then reaches it through the real V4L2 API as
// /dev/video0, with no kernel device.
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
    static std::string missing();

    // `source` is the GStreamer pipeline up to (not including) the sink, as gst-launch
    // arguments.
    explicit PipeWireCamera(const QStringList& source);
    ~PipeWireCamera();
    PipeWireCamera(const PipeWireCamera&) = delete;
    PipeWireCamera& operator=(const PipeWireCamera&) = delete;

    // Empty when the camera is up; else what failed, with the daemon's log.
    const std::string& failure() const { return failure_; }

    // Runs `program` under pw-v4l2 and waits for it (a minute at most).
    Run runUnderV4l2Layer(const QString& program, const QStringList& arguments = {});

  private:
    // Starts a daemon logging to home_/<program>.log and waits up to 10 s for `ready`.
    bool launch(const QString& program, const QStringList& arguments,
                const std::function<bool()>& ready);

    TempDir home_;
    PrivateDBus bus_;
    QProcessEnvironment env_;
    std::vector<std::unique_ptr<QProcess>> daemons_;  // ended last first
    std::string failure_;
};

}  // namespace pellora::test
