#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "display/VCPLabels.h"

class QComboBox;
class QLabel;
class QVBoxLayout;
class QWidget;

namespace pellora {

class BrightnessController;
class MonitorScope;

// The monitor's own colour preset, picture mode and input source, offered with the values
// the monitor lists in its capabilities; choosing one writes it to the monitor at once.
class NativeControlsSection final : public QObject {
    Q_OBJECT
  public:
    enum RowIndex { colorPreset, pictureMode, inputSource };

    explicit NativeControlsSection(std::shared_ptr<BrightnessController> controller,
                                   QObject* parent = nullptr);

    // Adds the header, the three rows and the status line to the window's column.
    void addTo(QVBoxLayout& column);
    // Rebuilds the rows from the scope's capabilities; no scope hides everything.
    void refresh(const MonitorScope* scope);

    QWidget& row(RowIndex index) const { return *rows_[index].row; }
    QComboBox& popup(RowIndex index) const { return *rows_[index].popup; }
    QLabel& statusLabel() const { return *status_; }

  private:
    struct Row {
        std::uint8_t code = 0;
        const VCPLabels::Table* labels = nullptr;
        QWidget* row = nullptr;
        QComboBox* popup = nullptr;
        // The values the popup holds now, so that an unchanged list is not rebuilt.
        std::vector<std::uint8_t> values;
    };

    void populate(Row& row, const std::vector<std::uint8_t>* values);
    void chosen(const Row& row);

    std::shared_ptr<BrightnessController> controller_;
    QLabel* title_ = nullptr;
    QLabel* status_ = nullptr;
    std::array<Row, 3> rows_;
};

}  // namespace pellora
