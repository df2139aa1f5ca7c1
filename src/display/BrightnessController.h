#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "display/DDCService.h"
#include "display/MonitorCapabilities.h"
#include "platform/Queue.h"
#include "platform/WorkItem.h"

namespace pellora {

// The one door to the monitor: turns the transport's blocking exchanges into requests made on
// the main thread. Every exchange runs on the brightness queue, one after another, in the
// order asked; reads answer on the main queue in that same order.
//
// The transport lives on the brightness queue alone: it is made there (its probe reads the
// bus), used there and replaced there, so the main thread never waits for the bus.
class BrightnessController : public std::enable_shared_from_this<BrightnessController> {
  public:
    // Runs on the brightness queue; may give nothing, and then every exchange fails.
    using TransportFactory = std::function<std::shared_ptr<DDCService>()>;

    static constexpr double sliderDebounce = 0.15;

    // `brightnessQueue` is the serial queue "pellora.brightness"; `makeTransport` makes a
    // fresh transport (probe included) there, now and on every reconnect(). Requests made
    // before it is ready wait for it in the queue.
    static std::shared_ptr<BrightnessController> create(Queue& main, Queue& brightnessQueue,
                                                        TransportFactory makeTransport);
    ~BrightnessController();

    BrightnessController(const BrightnessController&) = delete;
    BrightnessController& operator=(const BrightnessController&) = delete;

    // The current value of the brightness code in percent of the monitor's own maximum, or
    // nothing when the read failed.
    void getBrightness(std::function<void(std::optional<int>)> completion);
    // Clamped to 0...100 percent, written as that share of the maximum the monitor last
    // reported for the code (as is while none has been read). `written`, on the main queue:
    // whether the monitor acknowledged it.
    void setBrightness(int value, std::function<void(bool)> written = {});
    // Of a burst of calls under 0.15 s apart only the last is written, 0.15 s after it.
    void setBrightnessThrottled(int value);
    // Sends now the throttled value still waiting out its pause, if any: the program is
    // quitting and will not be there when the pause ends.
    void writePendingNow();
    // Unclamped.
    void setVCP(std::uint8_t code, std::uint16_t value);
    void readCapabilities(std::function<void(std::optional<MonitorCapabilities>)> completion);
    // A fresh transport for a changed monitor, carrying the current brightness code. Requests
    // made before it finish with the old one.
    void reconnect();

    // Brightness exchanges use the code set when they run.
    std::uint8_t brightnessCode() const;
    void setBrightnessCode(std::uint8_t code);

  private:
    BrightnessController(Queue& main, Queue& brightnessQueue, TransportFactory makeTransport);

    // Hands `exchange` to the brightness queue; it runs with the transport of that moment
    // while the controller still exists, else `unanswered` runs there instead.
    void submit(std::function<void(DDCService&)> exchange, std::function<void()> unanswered);
    void replaceTransport();
    void debounce(WorkItemPtr& work, std::function<void()> action);

    Queue& main_;
    Queue& queue_;
    TransportFactory makeTransport_;
    WorkItemPtr brightnessWork_;
    // What brightnessWork_ will write; none once it has been handed to the queue.
    std::optional<int> pendingBrightness_;
    // Set on main, read by exchanges on the brightness queue.
    std::atomic<std::uint8_t> brightnessCode_{0x10};
    // Brightness queue only.
    std::shared_ptr<DDCService> ddc_;
    // The maximum the transport's monitor reported, and for which code; a different one is
    // taken once two reads in a row agree on it, so one damaged reply cannot rescale writes.
    struct Range {
        std::uint8_t code = 0;
        std::uint16_t max = 100;
        bool operator==(const Range&) const = default;
    };
    std::optional<Range> range_;
    std::optional<Range> lastSeen_;
    void noteRange(Range seen);
    int toRaw(int percent, std::uint8_t code) const;
};

}  // namespace pellora
