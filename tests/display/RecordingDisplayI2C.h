#pragma once

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/Clock.h"
#include "platform/DisplayI2C.h"

namespace pellora::test {

// A display channel that records every bus operation and answers reads from a script, or
// from a responder that sees the latest write.
class RecordingDisplayI2C final : public DisplayI2C {
  public:
    struct Operation {
        bool isWrite = false;
        std::uint8_t device = 0;
        std::uint8_t dataAddress = 0;
        std::vector<std::uint8_t> bytes;  // written bytes
        std::size_t readLength = 0;
        double at = 0;  // clock monotonic time
    };
    struct Reply {
        int status = 0;
        std::vector<std::uint8_t> bytes;  // copied to the front of the buffer
    };
    using Responder = std::function<Reply(const std::vector<std::uint8_t>& lastWrite)>;

    explicit RecordingDisplayI2C(const Clock& clock) : clock_(clock) {}

    std::unique_ptr<DisplayI2CChannel> open() override {
        std::lock_guard lock(mutex_);
        ++openCalls;
        if (!available) {
            return nullptr;
        }
        ++liveChannels;
        return std::make_unique<Channel>(*this);
    }

    // Settings and script, set by the test before the exchange.
    bool available = true;
    std::deque<int> writeStatuses;  // consumed one per write; 0 once empty
    std::deque<Reply> replies;      // consumed one per read; then the responder, else EIO
    Responder responder;

    // What happened.
    std::vector<Operation> operations;
    int openCalls = 0;
    int liveChannels = 0;

    std::vector<std::vector<std::uint8_t>> writes() const {
        std::vector<std::vector<std::uint8_t>> out;
        for (const auto& op : operations) {
            if (op.isWrite) {
                out.push_back(op.bytes);
            }
        }
        return out;
    }
    std::size_t readCount() const {
        std::size_t n = 0;
        for (const auto& op : operations) {
            n += op.isWrite ? 0 : 1;
        }
        return n;
    }

  private:
    class Channel final : public DisplayI2CChannel {
      public:
        explicit Channel(RecordingDisplayI2C& owner) : owner_(owner) {}
        ~Channel() override {
            std::lock_guard lock(owner_.mutex_);
            --owner_.liveChannels;
        }
        int write(std::uint8_t device, std::uint8_t dataAddress,
                  std::span<const std::uint8_t> bytes) override {
            std::lock_guard lock(owner_.mutex_);
            owner_.lastWrite_.assign(bytes.begin(), bytes.end());
            owner_.operations.push_back(
                {true, device, dataAddress, owner_.lastWrite_, 0, owner_.clock_.monotonic()});
            if (owner_.writeStatuses.empty()) {
                return 0;
            }
            int status = owner_.writeStatuses.front();
            owner_.writeStatuses.pop_front();
            return status;
        }
        int read(std::uint8_t device, std::uint8_t dataAddress,
                 std::span<std::uint8_t> buffer) override {
            std::lock_guard lock(owner_.mutex_);
            owner_.operations.push_back(
                {false, device, dataAddress, {}, buffer.size(), owner_.clock_.monotonic()});
            Reply reply;
            if (!owner_.replies.empty()) {
                reply = owner_.replies.front();
                owner_.replies.pop_front();
            } else if (owner_.responder) {
                reply = owner_.responder(owner_.lastWrite_);
            } else {
                reply.status = EIO;
            }
            for (std::size_t i = 0; i < reply.bytes.size() && i < buffer.size(); ++i) {
                buffer[i] = reply.bytes[i];
            }
            return reply.status;
        }

      private:
        RecordingDisplayI2C& owner_;
    };

    const Clock& clock_;
    std::mutex mutex_;
    std::vector<std::uint8_t> lastWrite_;
};

}  // namespace pellora::test
