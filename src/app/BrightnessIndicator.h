#pragma once

namespace pellora {

// Shows the user, briefly and without taking focus, the brightness just set.
class BrightnessIndicator {
  public:
    virtual ~BrightnessIndicator() = default;
    virtual void show(int brightness, int delta) = 0;
};

}  // namespace pellora
