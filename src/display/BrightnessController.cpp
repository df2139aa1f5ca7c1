#include "display/BrightnessController.h"
#include "platform/WhileAlive.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace pellora {

std::shared_ptr<BrightnessController> BrightnessController::create(Queue& main,
                                                                   Queue& brightnessQueue,
                                                                   TransportFactory makeTransport) {
    std::shared_ptr<BrightnessController> controller(
        new BrightnessController(main, brightnessQueue, std::move(makeTransport)));
    controller->replaceTransport();
    return controller;
}

BrightnessController::BrightnessController(Queue& main, Queue& brightnessQueue,
                                           TransportFactory makeTransport)
    : main_(main), queue_(brightnessQueue), makeTransport_(std::move(makeTransport)) {
    PELLORA_ASSERT_ON(main_);
}

BrightnessController::~BrightnessController() {
    // May run on the brightness queue when a block held the last reference; cancelling is
    // safe from any thread.
    if (brightnessWork_) {
        brightnessWork_->cancel();
    }
}

void BrightnessController::replaceTransport() {
    // The queue is serial, so whatever was queued before runs first with the old transport,
    // and whatever comes after waits for the new one.
    queue_.post(whileAlive(this, [](const auto& self) {
        self->ddc_ = self->makeTransport_();
        self->range_.reset();
        self->lastSeen_.reset();
        if (self->ddc_) {
            self->ddc_->setBrightnessCode(self->brightnessCode_.load());
        }
    }));
}

void BrightnessController::submit(std::function<void(DDCService&)> exchange,
                                  std::function<void()> unanswered) {
    queue_.post([weak = weak_from_this(), exchange = std::move(exchange),
                 unanswered = std::move(unanswered)] {
        auto self = weak.lock();
        if (!self || !self->ddc_) {
            if (unanswered) {
                unanswered();
            }
            return;
        }
        // Held here, so the transport outlives the exchange even if the controller goes.
        std::shared_ptr<DDCService> ddc = self->ddc_;
        ddc->setBrightnessCode(self->brightnessCode_.load());
        exchange(*ddc);
    });
}

void BrightnessController::getBrightness(std::function<void(std::optional<int>)> completion) {
    PELLORA_ASSERT_ON(main_);
    Queue* main = &main_;
    // `this` in the exchanges: submit runs them only while it holds the controller.
    submit(
        [this, main, completion](DDCService& ddc) {
            const std::uint8_t code = ddc.brightnessCode();
            auto value = ddc.getVCP(code);
            std::optional<int> current;
            // A continuous control's value lies in 0..maximum; more is a damaged reply.
            if (value && value->current <= value->max && value->max > 0) {
                // Monitors whose brightness runs to 255 or to 50 mean the same share of it.
                noteRange(Range{code, value->max});
                current = int(std::lround(value->current * 100.0 / value->max));
            }
            main->post([completion, current] { completion(current); });
        },
        [main, completion] { main->post([completion] { completion(std::nullopt); }); });
}

void BrightnessController::setBrightness(int value, std::function<void(bool)> written) {
    PELLORA_ASSERT_ON(main_);
    int clamped = std::clamp(value, 0, 100);
    Queue* main = &main_;
    submit(
        [this, main, clamped, written](DDCService& ddc) {
            const std::uint8_t code = ddc.brightnessCode();
            const bool done = ddc.setVCP(code, std::uint16_t(toRaw(clamped, code)));
            if (written) {
                main->post([written, done] { written(done); });
            }
        },
        [main, written] {
            if (written) {
                main->post([written] { written(false); });
            }
        });
}

void BrightnessController::noteRange(Range seen) {
    if (!range_ || range_->code != seen.code || lastSeen_ == seen) {
        range_ = seen;
    }
    lastSeen_ = seen;
}

int BrightnessController::toRaw(int percent, std::uint8_t code) const {
    if (!range_ || range_->code != code) {
        return percent;
    }
    return int(std::lround(percent * double(range_->max) / 100.0));
}

void BrightnessController::setBrightnessThrottled(int value) {
    PELLORA_ASSERT_ON(main_);
    pendingBrightness_ = value;
    debounce(brightnessWork_, whileAlive(this, [](const auto& self) { self->writePendingNow(); }));
}

void BrightnessController::writePendingNow() {
    PELLORA_ASSERT_ON(main_);
    if (brightnessWork_) {
        brightnessWork_->cancel();
        brightnessWork_.reset();
    }
    if (auto value = std::exchange(pendingBrightness_, std::nullopt)) {
        setBrightness(*value);
    }
}

void BrightnessController::debounce(WorkItemPtr& work, std::function<void()> action) {
    if (work) {
        work->cancel();
    }
    // The item runs on the main queue and from there hands the write to the brightness
    // queue; once handed over it is no longer recalled.
    work = main_.postAfter(sliderDebounce, std::move(action));
}

void BrightnessController::setVCP(std::uint8_t code, std::uint16_t value) {
    PELLORA_ASSERT_ON(main_);
    submit([code, value](DDCService& ddc) { (void)ddc.setVCP(code, value); }, {});
}

void BrightnessController::readCapabilities(
    std::function<void(std::optional<MonitorCapabilities>)> completion) {
    PELLORA_ASSERT_ON(main_);
    Queue* main = &main_;
    submit(
        [main, completion](DDCService& ddc) {
            auto caps = ddc.readCapabilities();
            main->post([completion, caps = std::move(caps)] { completion(caps); });
        },
        [main, completion] { main->post([completion] { completion(std::nullopt); }); });
}

void BrightnessController::reconnect() {
    PELLORA_ASSERT_ON(main_);
    replaceTransport();
}

std::uint8_t BrightnessController::brightnessCode() const {
    PELLORA_ASSERT_ON(main_);
    return brightnessCode_.load();
}

void BrightnessController::setBrightnessCode(std::uint8_t code) {
    PELLORA_ASSERT_ON(main_);
    brightnessCode_.store(code);
}

}  // namespace pellora
