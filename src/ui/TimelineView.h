#pragma once

#include <QRectF>
#include <QWidget>
#include <vector>

#include "store/Sample.h"

namespace pellora {

class Clock;

// The last hours of a monitor's samples: room light and brightness as two lines over time,
// a dot per sample and a red mark where the user set the brightness. Now is at the right
// edge. It only draws, and filters the whole log it is given on every paint, so it keeps no
// state beyond its inputs. Main thread only.
class TimelineView final : public QWidget {
  public:
    // `clock` outlives the view; it is read once per paint.
    explicit TimelineView(const Clock& clock, QWidget* parent = nullptr);

    static constexpr double kInsetX = 36, kInsetY = 16;
    // Longer windows than a year are ignored: the grid and labels grow with the hours.
    static constexpr double kMaxHours = 24 * 366;

    // In any order; samples older than the window, or later than now by more than its width,
    // are skipped when drawing.
    void setSamples(std::vector<Sample> samples);
    // The window's width. Values outside (0, kMaxHours] are ignored.
    void setHours(double hours);
    // Paints everything faded: there is no monitor.
    void setDimmed(bool dimmed);

    const std::vector<Sample>& samples() const { return samples_; }
    double hours() const { return hours_; }
    bool isDimmed() const { return dimmed_; }

    // The area inside the insets, in widget coordinates (y down).
    QRectF plotRect() const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    const Clock& clock_;
    std::vector<Sample> samples_;
    double hours_ = 12.0;
    bool dimmed_ = false;
};

}  // namespace pellora
