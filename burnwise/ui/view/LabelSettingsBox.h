#pragma once

#include "burnwise/ui/ProductionSettings.h"

#include <QDialog>
#include <QGroupBox>
#include <functional>

class QAction;
class QCheckBox;
class QComboBox;
class QGridLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSettings;

namespace burnwise::view {

class WindowHost;

// Opens a records database only to read it (the preview's next serial number).
std::unique_ptr<records::RecordStore> ReadOnlyStore(const std::string& url, std::string& error);

// The label settings as the settings file keeps them, in the group open in `store`.
ui::LabelSettings LoadLabelSettings(QSettings& store);
void KeepLabelSettings(QSettings& store, const ui::LabelSettings& settings);

// The labels of a station: whether each device that passes gets one, the layout (the
// shipped ones offered, any other by Browse), the print queue (from the print service's
// list) or a folder for PDF files, and beside them the layout as the next device's label
// would show it, or the line saying why the layout is refused.
class LabelSettingsBox : public QGroupBox {
    Q_OBJECT
public:
    LabelSettingsBox(const ui::LabelSettings& settings, WindowHost& host,
                     QWidget* parent = nullptr);

    ui::LabelSettings Settings() const;
    // The values the preview fills the layout with; asked at every change.
    std::function<labels::FieldValues()> PreviewValues;
    // Draws the preview anew (the layout or the values have changed).
    void UpdatePreview();

private:
    // The rows of the settings' grid, top to bottom, and the preview beside it.
    void AddPrintRows(QGridLayout& grid, const ui::LabelSettings& settings);
    void AddFolderRows(QGridLayout& grid, const ui::LabelSettings& settings);
    QLabel* MakePreview();
    void Connect();
    void UpdateControls();
    void ListPrinters(const std::string& chosen);

    WindowHost& host_;
    QCheckBox* print_ = nullptr;
    QComboBox* layout_ = nullptr;
    QPushButton* browseLayout_ = nullptr;
    QComboBox* printer_ = nullptr;
    QLabel* printerNote_ = nullptr;
    QCheckBox* toFolder_ = nullptr;
    QLineEdit* folder_ = nullptr;
    QPushButton* browseFolder_ = nullptr;
    QLabel* preview_ = nullptr;
};

// Device > Print Labels...: the label settings of the window's Program, which are the
// production line's (kept in `settingsFile`, its INI file). OK is refused, with the reason
// shown, while labels are asked for that could not be printed.
class PrintLabelsDialog : public QDialog {
    Q_OBJECT
public:
    // `templateFile` is the template the preview is filled from.
    PrintLabelsDialog(const QString& settingsFile, const std::filesystem::path& templateFile,
                      WindowHost& host, QWidget* parent = nullptr);

    ui::LabelSettings Settings() const;
    void accept() override;

private:
    QString settingsFile_;
    LabelSettingsBox* box_ = nullptr;
    QLabel* problem_ = nullptr;
};

// Adds Device > Print Labels... to `menu`; `templateFile` tells which template the window
// shows. The action is off while `busy` says so.
QAction* AddPrintLabelsAction(QMenu& menu, QWidget& window, WindowHost& host,
                              std::function<std::filesystem::path()> templateFile,
                              std::function<bool()> busy);

} // namespace burnwise::view
