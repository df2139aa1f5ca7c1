#pragma once

#include <functional>
#include <string>
#include <vector>

namespace pellora {

// A message the user answers with one of its buttons. Never blocks the caller: `answer`
// runs later on the main queue with the index of the button pressed (0 for the first), or
// is never called when the alert is dismissed without one.
class AlertPresenter {
  public:
    virtual ~AlertPresenter() = default;
    virtual void present(const std::string& message, const std::string& informative,
                         const std::vector<std::string>& buttons,
                         std::function<void(int button)> answer) = 0;
};

}  // namespace pellora
