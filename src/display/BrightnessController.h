#pragma once

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
class BrightnessController : public std::enable_shared_from_this<BrightnessController> {
  public:
    using TransportFactory = std::function<std::shared_ptr<DDCService>()>;

    static constexpr double sliderDebounce = 0.15;

    // `brightnessQueue` is the serial queue "pellora.brightness"; `makeTransport` makes a
    // fresh transport (probe included), on the main thread, at creation and on reconnect().
    static std::shared_ptr<BrightnessController> create(Queue& main, Queue& brightnessQueue,
                                                        TransportFactory makeTransport);
    ~BrightnessController();

    BrightnessController(const BrightnessController&) = delete;
    BrightnessController& operator=(const BrightnessController&) = delete;

    // The current value of the brightness code, or nothing when the read failed.
    void getBrightness(std::function<void(std::optional<int>)> completion);
    // Clamped to 0...100.
    void setBrightness(int value);
    // Of a burst of calls under 0.15 s apart only the last is written, 0.15 s after it.
    void setBrightnessThrottled(int value);
    // Unclamped.
    void setVCP(std::uint8_t code, std::uint16_t value);
    void readCapabilities(std::function<void(std::optional<MonitorCapabilities>)> completion);
    // A fresh transport for a changed monitor, carrying the current brightness code.
    void reconnect();

    std::uint8_t brightnessCode() const;
    void setBrightnessCode(std::uint8_t code);

    // The transport requests are handed to now.
    std::shared_ptr<DDCService> transport() const;

  private:
    BrightnessController(Queue& main, Queue& brightnessQueue, TransportFactory makeTransport);

    // Hands `exchange` to the brightness queue with the current transport; it runs only
    // while the controller still exists, else `unanswered` runs there instead.
    void submit(std::function<void(DDCService&)> exchange, std::function<void()> unanswered);
    void debounce(WorkItemPtr& work, std::function<void()> action);

    Queue& main_;
    Queue& queue_;
    TransportFactory makeTransport_;
    std::shared_ptr<DDCService> ddc_;
    WorkItemPtr brightnessWork_;
    std::uint8_t brightnessCode_ = 0x10;
};

}  // namespace pellora
