#include "ui/PreferencesWindowController.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/ApplyPolicy.h"
#include "app/LocalTime.h"
#include "app/PlatformTexts.h"
#include "app/StatusMenu.h"
#include "app/StoredChoices.h"
#include "display/BrightnessController.h"
#include "display/MonitorRegistry.h"
#include "display/MonitorScope.h"
#include "model/AnchorStore.h"
#include "platform/Clock.h"
#include "platform/RepeatingTimer.h"
#include "platform/WhileAlive.h"
#include "store/DebugLog.h"
#include "store/SampleLogger.h"
#include "store/SettingsStore.h"
#include "ui/CurveEditorView.h"
#include "ui/LocationSection.h"
#include "ui/NativeControlsSection.h"
#include "ui/TimelineView.h"
#include "ui/ToneLabel.h"
#include "ui/UiFonts.h"

namespace pellora {

namespace {

constexpr const char* placeholderReadout = "—";

struct VCPChoice {
    const char* title;
    std::uint8_t code;
};
constexpr VCPChoice brightnessVCPChoices[] = {
    {"Luminance (0x10)", 0x10},
    {"Contrast (0x12)", 0x12},
    {"Backlight (0x6B)", 0x6B},
};

QLabel* header(const QString& text) {
    auto* label = new ToneLabel(text, ToneLabel::Tone::secondary, 11, QFont::DemiBold);
    label->setWordWrap(true);
    return label;
}

QWidget* row(std::initializer_list<QWidget*> widgets, int spacing) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    for (QWidget* widget : widgets) {
        layout->addWidget(widget, 0, Qt::AlignVCenter);
    }
    layout->addStretch(1);
    return row;
}

QPushButton* smallButton(const QString& title) {
    auto* button = new QPushButton(title);
    button->setFont(uifonts::system(11));
    return button;
}

std::vector<CurvePoint> points(const std::vector<Anchor>& anchors) {
    std::vector<CurvePoint> out;
    out.reserve(anchors.size());
    for (const Anchor& anchor : anchors) {
        out.push_back(CurvePoint{anchor.luma, anchor.brightness});
    }
    return out;
}

}  // namespace

std::shared_ptr<PreferencesWindowController> PreferencesWindowController::create(
    Services services, PreferencesHooks hooks, QWidget* menuPanel) {
    std::shared_ptr<PreferencesWindowController> controller(
        new PreferencesWindowController(std::move(services), std::move(hooks)));
    controller->buildUI(menuPanel);
    controller->wire();
    controller->location_->load();
    controller->loadInitialState();
    return controller;
}

PreferencesWindowController::PreferencesWindowController(Services services, PreferencesHooks hooks)
    : s_(std::move(services)), hooks_(std::move(hooks)) {}

PreferencesWindowController::~PreferencesWindowController() {
    if (s_.menu != nullptr) {
        s_.menu->removeObserver(menuObserver_);
    }
    refreshTimer_.reset();
    window_.reset();
}

void PreferencesWindowController::buildUI(QWidget* menuPanel) {
    window_ = std::make_unique<QWidget>();
    window_->setWindowTitle("Pellora");
    window_->installEventFilter(this);
    auto* outer = new QVBoxLayout(window_.get());
    outer->setContentsMargins(0, 0, 0, 0);
    scroll_ = new QScrollArea;
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    outer->addWidget(scroll_);

    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(6);
    if (menuPanel != nullptr) {
        column->addWidget(menuPanel);
    }

    column->addWidget(header("Monitor profile"));
    monitorNameField_ = new QLineEdit;
    monitorNameField_->setFont(uifonts::system(13, QFont::DemiBold));
    monitorNameField_->setPlaceholderText("Monitor name");
    monitorNameField_->setFixedWidth(240);
    // A screen reader says what a field or chart is from its label or this name.
    monitorNameField_->setAccessibleName("Monitor name");
    monitorIdLabel_ = new ToneLabel("", ToneLabel::Tone::tertiary, 10);
    monitorIdLabel_->setFont(uifonts::monospaced(10));
    column->addWidget(row({monitorNameField_, monitorIdLabel_}, 12));
    noMonitorLabel_ = new ToneLabel("No external monitor connected — the app is idle.",
                                    ToneLabel::Tone::secondary, 12);
    column->addWidget(noMonitorLabel_);

    column->addWidget(header("Luma timeline — last 12 hours (per monitor)"));
    timeline_ = new TimelineView(s_.clock);
    timeline_->setFixedHeight(140);
    timeline_->setAccessibleName("Luma timeline");
    column->addWidget(timeline_);

    column->addWidget(header(QString::fromStdString(s_.texts.curveEditorHeader)));
    curveView_ = new CurveEditorView;
    curveView_->setFixedHeight(240);
    curveView_->setAccessibleName("Adaptive curve");
    column->addWidget(curveView_);
    seedButton_ = smallButton("Seed from history");
    clearButton_ = smallButton("Clear anchors");
    column->addWidget(row({seedButton_, clearButton_}, 8));

    column->addWidget(header("Manual override (pauses auto-adjust for 5 minutes)"));
    auto* via = new ToneLabel("Brightness via", ToneLabel::Tone::primary, 12);
    via->setFixedWidth(90);
    brightnessVCPPopup_ = new QComboBox;
    brightnessVCPPopup_->setFont(uifonts::system(12));
    for (const VCPChoice& choice : brightnessVCPChoices) {
        brightnessVCPPopup_->addItem(choice.title, QVariant::fromValue<uint>(choice.code));
    }
    via->setBuddy(brightnessVCPPopup_);
    auto* hint =
        new ToneLabel("the code that actually dims this panel", ToneLabel::Tone::tertiary, 10);
    column->addWidget(row({via, brightnessVCPPopup_, hint}, 8));

    auto* sliderRow = new QWidget;
    auto* sliderLayout = new QHBoxLayout(sliderRow);
    sliderLayout->setContentsMargins(0, 0, 0, 0);
    sliderLayout->setSpacing(8);
    auto* sliderLabel = new ToneLabel("Brightness", ToneLabel::Tone::primary, 12);
    sliderLabel->setFixedWidth(74);
    brightnessSlider_ = new QSlider(Qt::Horizontal);
    brightnessSlider_->setRange(0, 100);
    brightnessSlider_->setValue(70);
    brightnessSlider_->setTracking(true);
    sliderLabel->setBuddy(brightnessSlider_);
    brightnessReadout_ = new QLabel(placeholderReadout);
    brightnessReadout_->setFont(uifonts::monospaced(11));
    brightnessReadout_->setFixedWidth(44);
    brightnessReadout_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sliderLayout->addWidget(sliderLabel, 0, Qt::AlignVCenter);
    sliderLayout->addWidget(brightnessSlider_, 1, Qt::AlignVCenter);
    sliderLayout->addWidget(brightnessReadout_, 0, Qt::AlignVCenter);
    column->addWidget(sliderRow);

    native_ = new NativeControlsSection(s_.controller, this);
    native_->addTo(*column);
    location_ = new LocationSection(s_.settings, s_.clock, s_.main, s_.work,
                                    {s_.realClock, s_.realTime}, hooks_.closeReadingsLeft, this);
    location_->addTo(*column);
    followRoomCheckbox_ = new QCheckBox(
        "Follow the room closely — measure every 10 minutes while you are at the desk");
    followRoomCheckbox_->setFont(uifonts::system(12));
    column->addWidget(followRoomCheckbox_);
    if (s_.menu != nullptr) {
        startAtLogin_ = new QCheckBox;
        startAtLogin_->setFont(uifonts::system(12));
        column->addWidget(startAtLogin_);
        showStartAtLogin();
    }
    statusLabel_ = new ToneLabel("", ToneLabel::Tone::tertiary, 10);
    column->addWidget(statusLabel_);
    column->addStretch(1);
    scroll_->setWidget(content);
}

void PreferencesWindowController::wire() {
    std::weak_ptr<PreferencesWindowController> weak = weak_from_this();
    curveView_->onDragAnchor = [weak](std::int64_t, CurvePoint point) {
        auto self = weak.lock();
        if (self && self->editedScope()) {
            self->previewBrightness(point.brightness);
        }
    };
    curveView_->onCommitAnchor = [weak](std::int64_t index, CurvePoint point) {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        auto scope = self->editedScope();
        if (!scope) {
            // Dragged on another monitor's curve: the index means nothing in this one's.
            self->reloadCurveEditor();
            return;
        }
        const auto position = self->editedPosition(*scope, index);
        if (!position) {
            self->reloadCurveEditor();
            return;
        }
        scope->anchors().moveEditable(*position, point.luma, point.brightness, self->curveHour_);
        self->previewBrightness(point.brightness);
        self->reloadCurveEditor();
        self->updateStatus();
    };
    curveView_->onAddAnchor = [weak](CurvePoint point) {
        auto self = weak.lock();
        auto scope = self ? self->scope() : nullptr;
        if (!scope) {
            return;
        }
        scope->anchors().observe(point.luma, point.brightness, self->fractionalHourNow(), 3.0);
        self->previewBrightness(point.brightness);
        self->reloadCurveEditor();
        self->updateStatus();
    };
    curveView_->onRemoveAnchor = [weak](std::int64_t index) {
        auto self = weak.lock();
        auto scope = self ? self->editedScope() : nullptr;
        if (!scope) {
            return;
        }
        if (const auto position = self->editedPosition(*scope, index)) {
            scope->anchors().removeEditable(*position, self->curveHour_);
        }
        self->reloadCurveEditor();
        self->updateStatus();
    };
    // The window scrolls on a screen shorter than it: a wheel turned to scroll it passes over
    // these on the way, and must not set the monitor's brightness or switch its input.
    for (QWidget* control :
         std::initializer_list<QWidget*>{brightnessSlider_, brightnessVCPPopup_,
                                         &native_->popup(NativeControlsSection::colorPreset),
                                         &native_->popup(NativeControlsSection::pictureMode),
                                         &native_->popup(NativeControlsSection::inputSource)}) {
        control->setFocusPolicy(Qt::StrongFocus);
        control->installEventFilter(this);
    }
    connect(brightnessSlider_, &QSlider::valueChanged, this,
            &PreferencesWindowController::brightnessChanged);
    connect(brightnessVCPPopup_, &QComboBox::activated, this,
            &PreferencesWindowController::brightnessVCPChanged);
    connect(monitorNameField_, &QLineEdit::editingFinished, this,
            &PreferencesWindowController::monitorNameChanged);
    connect(seedButton_, &QPushButton::clicked, this, &PreferencesWindowController::adoptModel);
    connect(clearButton_, &QPushButton::clicked, this, &PreferencesWindowController::clearCurve);
    if (startAtLogin_ != nullptr) {
        // The menu's row decides; the box shows what it says, before and after the answer.
        connect(startAtLogin_, &QCheckBox::clicked, this, [this] {
            s_.menu->activate(MenuItemId::startAtLogin);
            showStartAtLogin();
        });
        menuObserver_ = s_.menu->addObserver([weak](std::optional<MenuItemId> id) {
            auto self = weak.lock();
            if (self && id == MenuItemId::startAtLogin) {
                self->showStartAtLogin();
            }
        });
    }
    // Clicked, not toggled: only the user's own click is a choice to pass on.
    connect(followRoomCheckbox_, &QCheckBox::clicked, this,
            &PreferencesWindowController::followRoomClicked);
}

std::shared_ptr<MonitorScope> PreferencesWindowController::scope() const {
    return hooks_.scopeProvider ? hooks_.scopeProvider() : nullptr;
}

std::shared_ptr<MonitorScope> PreferencesWindowController::editedScope() const {
    auto current = scope();
    return current && curveMonitor_ == current->monitor() ? current : nullptr;
}

std::optional<int> PreferencesWindowController::editedPosition(MonitorScope& scope,
                                                               std::int64_t index) const {
    if (index < 0 || static_cast<std::size_t>(index) >= curveAnchors_.size()) {
        return std::nullopt;
    }
    const auto now = scope.anchors().editable(curveHour_);
    const auto found = std::find(now.begin(), now.end(), curveAnchors_[std::size_t(index)]);
    if (found == now.end()) {
        return std::nullopt;
    }
    return static_cast<int>(found - now.begin());
}

double PreferencesWindowController::fractionalHourNow() const {
    return localtime::fractionalHour(s_.clock.now());
}

void PreferencesWindowController::loadInitialState() {
    // The place is no monitor's: a monitor change leaves a coordinate being typed alone.
    auto current = scope();
    setInteractiveViewsEnabled(current != nullptr);
    if (!current) {
        namedMonitor_.reset();
        monitorNameField_->clear();
        monitorIdLabel_->clear();
        noMonitorLabel_->show();
        clearCurveEditor();
        brightnessReadout_->setText(placeholderReadout);
        updateStatus();
        showFollowRoom();
        location_->updateSolarLabel();
        return;
    }
    showMonitorIdentity(*current);
    noMonitorLabel_->hide();
    reloadCurveEditor();

    const std::string prefix = current->keyPrefix();
    double luma = curveView_->currentLuma() < 0 ? 128.0 : curveView_->currentLuma();
    std::optional<int> start = current->anchors().predict(luma, fractionalHourNow(),
                                                          StoredChoices::morningFade(s_.settings));
    if (!start) {
        if (auto stored = s_.settings.integer(prefix + "manualBrightness")) {
            // A synced file may hold anything; the slider's range is what a brightness is.
            start = static_cast<int>(std::clamp<std::int64_t>(*stored, 0, 100));
        }
    }
    if (start) {
        setSliderQuietly(*start);
        brightnessReadout_->setText(QString::number(*start));
    } else {
        brightnessReadout_->setText(placeholderReadout);
    }

    const std::uint8_t code = StoredChoices::brightnessCode(s_.settings, prefix).value;
    int index = 0;
    for (int i = 0; i < static_cast<int>(std::size(brightnessVCPChoices)); ++i) {
        if (brightnessVCPChoices[i].code == code) {
            index = i;
        }
    }
    brightnessVCPPopup_->setCurrentIndex(index);
    updateStatus();
    showFollowRoom();
    location_->updateSolarLabel();
}

void PreferencesWindowController::refreshSamples() {
    auto current = scope();
    if (current) {
        loadSamples(current);
        reloadCurveEditor();
        showMonitorIdentity(*current);
        noMonitorLabel_->hide();
        setInteractiveViewsEnabled(true);
    } else {
        samplesLoading_.reset();
        timeline_->setSamples({});
        clearCurveEditor();
        noMonitorLabel_->show();
        setInteractiveViewsEnabled(false);
    }
    updateStatus();
    showFollowRoom();
    location_->updateSolarLabel();
    refreshCapabilities();
}

void PreferencesWindowController::followRoomClicked(bool on) {
    if (hooks_.onFollowRoomClosely) {
        hooks_.onFollowRoomClosely(on);
    }
    showFollowRoom();
    location_->updateSolarLabel();
    reloadCurveEditor();  // the morning's curve depends on the setting
}

// The machine's own setting, whatever changed it.
void PreferencesWindowController::showFollowRoom() {
    followRoomCheckbox_->setChecked(StoredChoices::followRoomClosely(s_.settings));
}

void PreferencesWindowController::loadSamples(const std::shared_ptr<MonitorScope>& current) {
    // One read at a time: a large log can take longer to read than the refresh interval, and
    // reads stacked behind it would hold up the appends queued after them. A refresh asked for
    // meanwhile is made once the read under way has answered.
    if (samplesLoading_.lock() == current) {
        samplesStale_ = true;
        return;
    }
    samplesLoading_ = current;
    samplesStale_ = false;
    std::weak_ptr<PreferencesWindowController> weak = weak_from_this();
    std::weak_ptr<MonitorScope> kept = current;
    current->logger().loadAll(s_.main, [weak, kept](std::vector<Sample> samples) {
        auto self = weak.lock();
        auto scope = kept.lock();
        if (!self || !scope || self->samplesLoading_.lock() != scope) {
            return;
        }
        self->samplesLoading_.reset();
        if (scope != self->scope()) {
            return;
        }
        self->timeline_->setSamples(std::move(samples));
        if (self->samplesStale_) {
            self->loadSamples(scope);
        }
    });
}

void PreferencesWindowController::refreshCapabilities() {
    native_->refresh(scope().get());
}

void PreferencesWindowController::setLiveLuma(double luma) {
    curveView_->setCurrentLuma(luma);
    showLivePrediction();
}

// A nudge of the slider starts from what the monitor shows; one under the hand stays there.
void PreferencesWindowController::showAppliedBrightness(int brightness) {
    if (brightnessSlider_->isSliderDown()) {
        return;
    }
    setSliderQuietly(brightness);
    brightnessReadout_->setText(QString::number(brightness));
}

// The dot sits on the curve shown: every reload of the curve moves it too.
void PreferencesWindowController::showLivePrediction() {
    auto current = scope();
    curveView_->setLivePrediction(
        current ? current->anchors().predict(curveView_->currentLuma(), fractionalHourNow(),
                                             StoredChoices::morningFade(s_.settings))
                : std::nullopt);
}

void PreferencesWindowController::present() {
    if (!window_->isVisible()) {
        location_->load();
        // On the screen the user opened it from (the tray's or the menu's, under the pointer),
        // not always the first one. A laptop's screen may be shorter than the window, a
        // small one scaled up narrower: it scrolls instead.
        QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (screen == nullptr) {
            screen =
                window_->screen() != nullptr ? window_->screen() : QGuiApplication::primaryScreen();
        }
        int height = windowHeight;
        if (screen != nullptr) {
            QRect area = screen->availableGeometry();
            height = std::min(windowHeight, area.height() - 48);
            window_->resize(std::min(windowWidth, std::max(area.width(), 200)),
                            std::max(height, 200));
            window_->move(area.center() - window_->rect().center());
        } else {
            window_->resize(windowWidth, height);
        }
    }
    // Raising and activating leave a minimized window minimized on many desktops.
    if (window_->isMinimized()) {
        window_->setWindowState((window_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    }
    window_->show();
    window_->raise();
    window_->activateWindow();
    refreshSamples();
    startTimer();
    if (s_.menu != nullptr) {
        s_.menu->willShow();
    }
}

void PreferencesWindowController::startTimer() {
    refreshTimer_ = std::make_unique<RepeatingTimer>(s_.realTime, refreshInterval,
                                                     whileAlive(this, [](const auto& self) {
                                                         self->refreshSamples();
                                                         // What the menu's rows mirror may change
                                                         // behind the window's back too.
                                                         if (self->s_.menu != nullptr) {
                                                             self->s_.menu->willShow();
                                                         }
                                                     }));
}

bool PreferencesWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get() && event->type() == QEvent::Close) {
        refreshTimer_.reset();
    }
    if (watched != window_.get() && event->type() == QEvent::Wheel) {
        auto* control = qobject_cast<QWidget*>(watched);
        if (control != nullptr && !control->hasFocus()) {
            // Ignored, so it goes on to the scroll area; a control clicked first takes it.
            event->ignore();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void PreferencesWindowController::setInteractiveViewsEnabled(bool enabled) {
    brightnessSlider_->setEnabled(enabled);
    brightnessVCPPopup_->setEnabled(enabled);
    monitorNameField_->setEnabled(enabled);
    seedButton_->setEnabled(enabled);
    clearButton_->setEnabled(enabled);
    curveView_->setDimmed(!enabled);
    timeline_->setDimmed(!enabled);
}

void PreferencesWindowController::showMonitorIdentity(const MonitorScope& scope) {
    // A name being typed is not overwritten under the user's hands; Return or leaving the
    // field commits it, and the stored name shows from then on. One typed for a monitor
    // that has since been swapped for another is dropped.
    if (!monitorNameField_->isModified() || namedMonitor_ != scope.monitor()) {
        monitorNameField_->setText(
            QString::fromStdString(s_.registry->friendlyName(scope.monitor())));
        monitorNameField_->setModified(false);
    }
    namedMonitor_ = scope.monitor();
    monitorIdLabel_->setText(QString::fromStdString(scope.monitor().identifier()));
}

void PreferencesWindowController::reloadCurveEditor() {
    if (curveView_->dragIndex()) {
        return;
    }
    auto current = scope();
    if (!current) {
        clearCurveEditor();
        return;
    }
    double now = fractionalHourNow();
    bool night = AnchorStore::nightWeight(now) >= 0.5;
    const AnchorStore& anchors = current->anchors();
    curveMonitor_ = current->monitor();
    curveHour_ = now;
    curveAnchors_ = anchors.editable(now);
    curveView_->setAnchors(points(curveAnchors_));
    // The period other than the one edited; in the fades' later hours the curve may already
    // count more of it than of the edited one.
    const bool editingNight = dayPeriodOf(now) == DayPeriod::night;
    curveView_->setOtherAnchors(points(anchors.editable(editingNight ? 13.0 : 2.0)));
    curveView_->setCurveLine(
        anchors.curveSamples(now, 8.0, StoredChoices::morningFade(s_.settings)));
    curveView_->setPeriodLabel(night ? "night" : "day");
    showLivePrediction();
}

void PreferencesWindowController::clearCurveEditor() {
    curveMonitor_.reset();
    curveAnchors_.clear();
    curveView_->setAnchors({});
    curveView_->setOtherAnchors({});
    curveView_->setCurveLine({});
    curveView_->setLivePrediction(std::nullopt);
}

void PreferencesWindowController::updateStatus() {
    auto current = scope();
    if (!current) {
        statusLabel_->clear();
        return;
    }
    std::size_t n = current->anchors().anchors().size();
    QString period = AnchorStore::nightWeight(fractionalHourNow()) >= 0.5 ? "night" : "day";
    if (n > 0) {
        statusLabel_->setText(QString("Adapting from %1 anchor%2 · now: %3")
                                  .arg(n)
                                  .arg(n == 1 ? "" : "s")
                                  .arg(period));
    } else {
        statusLabel_->setText(
            "Learning from your adjustments · default map until anchored · now: " + period);
    }
}

void PreferencesWindowController::previewBrightness(double brightness) {
    int value = static_cast<int>(std::lround(brightness));
    s_.controller->setBrightnessThrottled(value);
    if (hooks_.onPreviewBrightness) {
        hooks_.onPreviewBrightness(value);
    }
    setSliderQuietly(value);
    brightnessReadout_->setText(QString::number(value));
    if (hooks_.onManualOverride) {
        hooks_.onManualOverride(ApplyPolicy::manualOverridePause);
    }
}

void PreferencesWindowController::setSliderQuietly(int value) {
    // Only the user's own moves are adjustments.
    QSignalBlocker quiet(brightnessSlider_);
    brightnessSlider_->setValue(value);
}

void PreferencesWindowController::showStartAtLogin() {
    const MenuRow& row = s_.menu->row(MenuItemId::startAtLogin);
    startAtLogin_->setText(QString::fromStdString(row.title));
    startAtLogin_->setChecked(row.checked);
    startAtLogin_->setEnabled(row.enabled && row.action != nullptr);
    startAtLogin_->setVisible(!row.hidden);
}

void PreferencesWindowController::brightnessChanged(int value) {
    auto current = scope();
    if (!current) {
        return;
    }
    brightnessReadout_->setText(QString::number(value));
    // The controller writes it through the debounce and keeps it as the manual brightness:
    // the one path for a brightness set by hand, scripts' included.
    if (hooks_.onUserBrightness) {
        hooks_.onUserBrightness(value);
    }
}

void PreferencesWindowController::brightnessVCPChanged(int index) {
    auto current = scope();
    QVariant data = brightnessVCPPopup_->itemData(index);
    if (!current || index < 0 || !data.isValid()) {
        return;
    }
    auto code = static_cast<std::uint8_t>(data.toUInt());
    s_.settings.set(current->keyPrefix() + "brightnessVCP", static_cast<int>(code));
    s_.controller->setBrightnessCode(code);
    char line[48];
    std::snprintf(line, sizeof line, "Brightness VCP set to 0x%02X", code);
    s_.log.log(line, "app");
    if (hooks_.onManualOverride) {
        hooks_.onManualOverride(ApplyPolicy::manualOverridePause);
    }
}

void PreferencesWindowController::monitorNameChanged() {
    auto current = scope();
    if (!current || !monitorNameField_->isModified() || namedMonitor_ != current->monitor()) {
        return;
    }
    monitorNameField_->setModified(false);
    s_.registry->setFriendlyName(monitorNameField_->text().toStdString(), current->monitor());
}

void PreferencesWindowController::adoptModel() {
    auto current = scope();
    if (!current) {
        return;
    }
    seedButton_->setEnabled(false);
    std::weak_ptr<PreferencesWindowController> weak = weak_from_this();
    std::weak_ptr<MonitorScope> kept = current;
    current->logger().loadAll(
        s_.main, whileAlive(weak, [kept](const auto& self, std::vector<Sample> samples) {
            self->seedButton_->setEnabled(self->scope() != nullptr);
            auto scope = kept.lock();
            if (!scope || scope != self->scope()) {
                return;
            }
            // Replaces the anchors only when the log holds choices to build them from.
            scope->anchors().seedFromSamples(samples);
            self->reloadCurveEditor();
            self->updateStatus();
        }));
}

void PreferencesWindowController::clearCurve() {
    auto current = scope();
    if (!current) {
        return;
    }
    current->anchors().clear();
    reloadCurveEditor();
    updateStatus();
}

}  // namespace pellora
