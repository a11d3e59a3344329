#pragma once

#include "burnwise/ui/ProductionBoard.h"
#include "burnwise/ui/ProductionRunner.h"
#include "burnwise/ui/ProductionSettings.h"

#include <QDialog>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
class QFormLayout;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollArea;
class QTimer;
class QGridLayout;
class QHBoxLayout;

namespace burnwise::view {

class LabelSettingsBox;
class WindowHost;

// Where the production settings are kept when no file is named: production.conf in the
// program's configuration folder. The main window's Program takes its database and station
// from there too.
QString DefaultProductionSettingsFile();
// The production settings kept in `file` (an INI file); the defaults where it has none.
ui::ProductionSettings LoadProductionSettings(const QString& file);

// The settings of a production run: template, serial numbers, database, station. The
// serial sources the template does not allow are greyed out; OK is refused, with the
// reason shown, while the settings could not start a run.
class ProductionSettingsDialog : public QDialog {
    Q_OBJECT
public:
    ProductionSettingsDialog(const ui::ProductionSettings& settings, WindowHost& host,
                             QWidget* parent = nullptr);

    ui::ProductionSettings Settings() const;
    void accept() override;

private:
    void AddSerialRows(QFormLayout& form, const ui::ProductionSettings& settings);
    void AddRecordRows(QFormLayout& form, const ui::ProductionSettings& settings);
    void UpdateSources();

    WindowHost& host_;
    LabelSettingsBox* labels_ = nullptr;
    QLineEdit* template_ = nullptr;
    QComboBox* source_ = nullptr;
    QLineEdit* counter_ = nullptr;
    QPushButton* browseCounter_ = nullptr;
    QLineEdit* database_ = nullptr;
    QLineEdit* station_ = nullptr;
    QLabel* problem_ = nullptr;
};

// The production line: the operator starts a run and plugs devices in; a large tile per
// device slot shows it working (amber), PASS with its serial number (green) or FAIL with
// the reason (red), beside the counts, the yield, the pace and the last serial number.
// Stop (or Esc) ends the run after the device in hand. The run itself is the runner's,
// on a thread of its own; its events are carried to the GUI thread by queued calls. While
// it runs the settings are locked and the window does not close.
class ProductionWindow : public QWidget {
    Q_OBJECT
public:
    // A null `runner` leaves Start disabled. The settings are kept in `settingsFile` (an
    // INI file; empty: production.conf in the program's configuration folder).
    ProductionWindow(std::unique_ptr<ui::ProductionRunner> runner, WindowHost& host,
                     QWidget* parent = nullptr, QString settingsFile = {},
                     ui::ProductionBoard::Clock clock = {});
    ~ProductionWindow() override;

    const ui::ProductionBoard& Board() const { return board_; }
    const ui::ProductionSettings& Settings() const { return settings_; }
    // Takes new settings (as the dialog's OK does) and keeps them in the settings file.
    void SetSettings(const ui::ProductionSettings& settings);
    bool IsRunning() const { return running_; }
    // The model of the template the current or last run programs, when it names one.
    std::optional<codec::ChipType> TemplateModel() const { return runModel_; }

    void StartRun();
    void RequestStop();
    void OpenSettings();

    // Sounded for every FAIL and for a run that stopped by itself.
    std::function<void()> Beep;

    // Told of every device outcome of a run, as it is shown (the session's results table).
    std::function<void(const device::DeviceOutcome&)> OnOutcome;

    // The tile widget of the device with this number in the run, if the board has one.
    QFrame* TileWidget(std::int32_t driverIndex) const;
    // The tile widget at a place on the board, in the board's order.
    QFrame* TileAt(int place) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class Relay;

    void OnDeviceStarted(std::int32_t driverIndex, const std::string& reportedSerial);
    void OnDevicesAttached(const std::vector<std::string>& serials);
    void OnDeviceFinished(const device::DeviceOutcome& outcome);
    void OnLabelFinished(std::int32_t driverIndex, const std::string& serial, bool printed,
                         const std::string& reason);
    // The label of the tile's device printed again, from its record.
    void Reprint(std::int32_t driverIndex, const std::string& serial);
    void OnRunEnded(const std::string& reason);
    void OnDatabaseWaiting(bool waiting);
    // Devices the station was writing when it last stopped: on the status line and in a box.
    void OnStationSaid(const std::string& lines);
    // The parts of the window, made once.
    QHBoxLayout* MakeCommandRow();
    QScrollArea* MakeTileArea();
    QFrame* MakeFigures();
    void ShowBoard();
    // A new, empty tile whose Reprint asks for the label of the device it shows.
    QFrame* MakeTile();
    void FlowTiles();
    void ShowFigures();
    void ShowSummary();
    void ShowStatus(const QString& text, bool alarm = false);
    static QString ReadyText();
    void UpdateControls();
    void LoadSettings();

    std::unique_ptr<Relay> relay_;
    std::unique_ptr<ui::ProductionRunner> runner_;
    WindowHost& host_;
    QString settingsFile_;
    ui::ProductionSettings settings_;
    ui::ProductionBoard board_;
    bool running_ = false;
    bool stopRequested_ = false;
    std::optional<codec::ChipType> runModel_;
    bool problemShown_ = false; // the status line says why Start was refused

    QLabel* summary_ = nullptr;
    QPushButton* settingsButton_ = nullptr;
    QPushButton* startButton_ = nullptr;
    QPushButton* stopButton_ = nullptr;
    QScrollArea* tileArea_ = nullptr;
    QWidget* tilesPanel_ = nullptr;
    int flowColumns_ = 0;
    QGridLayout* tilesGrid_ = nullptr;
    std::vector<QFrame*> tiles_;
    QLabel* passed_ = nullptr;
    QLabel* failed_ = nullptr;
    QLabel* yield_ = nullptr;
    QLabel* perHour_ = nullptr;
    QLabel* lastSerial_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* paceTimer_ = nullptr;
};

} // namespace burnwise::view
