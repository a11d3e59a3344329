#pragma once

#include <QEvent>
#include <QObject>
#include <functional>

namespace common::qt {

// Whether an event of `type` is input a person gives: a click, a key, a wheel turn, a touch,
// a pen, a shortcut, input-method text or a drop.
bool IsUserInput(QEvent::Type type);

// While a window runs a command that takes a while, what the user clicks or types must not
// act on it: engaged, the guard swallows all input to the whole application, except what
// the window lets through (its Stop button, a box the command raised).
class BusyInputGuard final : public QObject {
public:
    // Says for one input event whether it is swallowed; it may act on it (Esc asks to stop).
    using Decision = std::function<bool(QObject* watched, QEvent* event)>;

    // Without a decision every input event is swallowed.
    explicit BusyInputGuard(Decision swallows = {});
    ~BusyInputGuard() override;
    BusyInputGuard(const BusyInputGuard&) = delete;
    BusyInputGuard& operator=(const BusyInputGuard&) = delete;

    void Engage();
    // Input still queued from the busy time is taken in and swallowed first.
    void Release();
    bool Engaged() const { return engaged_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Decision swallows_;
    bool engaged_ = false;
};

} // namespace common::qt
