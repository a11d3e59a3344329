#pragma once

#include "burnwise/device/Reporter.h"

#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <optional>

class QPushButton;
class QTableWidget;

namespace burnwise::view {

// The results of the session: one row per device per operation, kept until the program
// ends (the message list empties at every pass). A window of its own beside the main
// window, resizable; its rows can be copied and saved as CSV.
class ResultsWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int ColumnCount = 8;

    explicit ResultsWindow(QWidget* parent = nullptr);

    void AddOutcome(const device::DeviceOutcome& outcome, const QString& time);
    int RowCount() const;
    QString Cell(int row, int column) const;

    // The selected rows, or every row when none is selected, as CSV with a header line.
    QString SelectedAsCsv() const;
    QString AllAsCsv() const;
    void CopyToClipboard() const;

    // Where Save asks for the file (the window's save dialog), and where it reports a file
    // that could not be written.
    std::function<std::optional<std::filesystem::path>()> AskFileName;
    std::function<void(const QString&)> ReportError;
    // Saves every row; false (after ReportError) when the file could not be written.
    bool SaveAs(const std::filesystem::path& file);

    // While a device operation runs the buttons wait.
    void SetBusy(bool busy);

    QTableWidget* Table() const { return table_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString RowsAsCsv(const std::vector<int>& rows) const;

    QTableWidget* table_ = nullptr;
    QPushButton* copy_ = nullptr;
    QPushButton* save_ = nullptr;
};

// One CSV field: quoted when it holds a comma, a quote or a line break.
QString CsvField(const QString& text);

} // namespace burnwise::view
