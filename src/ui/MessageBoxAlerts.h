#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <map>
#include <string>

#include "app/AlertPresenter.h"

class QMessageBox;

namespace pellora {

// Alerts as message boxes that block nothing: the event loop keeps turning while one is up.
// A message already on screen is raised again rather than shown twice, with the details it
// is given now; the answer of the box already up is the one that counts. Main thread only.
class MessageBoxAlerts final : public QObject, public AlertPresenter {
    Q_OBJECT
  public:
    explicit MessageBoxAlerts(QString windowTitle, QObject* parent = nullptr);
    ~MessageBoxAlerts() override;

    void present(const std::string& message, const std::string& informative,
                 const std::vector<std::string>& buttons,
                 std::function<void(int button)> answer) override;

    // The box showing `message`, if one is up.
    QMessageBox* shown(const std::string& message) const;

  protected:
    // Escape and the window's close button dismiss a box without answering it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void forget(QMessageBox* box);

    const QString windowTitle_;
    std::map<std::string, QPointer<QMessageBox>> shown_;
};

}  // namespace pellora
