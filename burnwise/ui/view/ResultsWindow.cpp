#include "burnwise/ui/view/ResultsWindow.h"

#include "burnwise/ui/view/Texts.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

namespace burnwise::view {

namespace {

const char* const Headers[ResultsWindow::ColumnCount] = {
    "Time", "Operation", "Driver Index", "Model", "EEPROM", "Serial Number", "Result", "Reason"};

} // namespace

QString CsvField(const QString& text) {
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    QString quoted = text;
    quoted.replace('"', QStringLiteral("\"\""));
    return '"' + quoted + '"';
}

ResultsWindow::ResultsWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("ResultsWindow");
    setWindowTitle(QStringLiteral("Results"));
    // Shown as a run starts; the main window keeps the focus.
    setAttribute(Qt::WA_ShowWithoutActivating);
    resize(640, 260);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    table_ = new QTableWidget(0, ColumnCount, this);
    table_->setObjectName("ResultsTable");
    QStringList headers;
    for (const char* header : Headers)
        headers << QString::fromLatin1(header);
    table_->setHorizontalHeaderLabels(headers);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->verticalHeader()->setVisible(false);
    table_->verticalHeader()->setDefaultSectionSize(18);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->setAlternatingRowColors(true);
    table_->installEventFilter(this);
    layout->addWidget(table_, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    copy_ = new QPushButton(QStringLiteral("&Copy"), this);
    copy_->setObjectName("CopyResults");
    save_ = new QPushButton(QStringLiteral("Save as &CSV ..."), this);
    save_->setObjectName("SaveResults");
    buttons->addWidget(copy_);
    buttons->addWidget(save_);
    layout->addLayout(buttons);
    connect(copy_, &QPushButton::clicked, this, &ResultsWindow::CopyToClipboard);
    connect(save_, &QPushButton::clicked, this, [this] {
        if (!AskFileName) return;
        if (const auto file = AskFileName()) SaveAs(*file);
    });
}

namespace {

// A scan judges devices rather than passing them: its rows say what it found.
QString ResultText(const device::DeviceOutcome& outcome) {
    if (outcome.Passed && outcome.Blank)
        return *outcome.Blank ? QStringLiteral("Blank") : QStringLiteral("Programmed");
    return outcome.Passed ? QStringLiteral("PASS") : QStringLiteral("FAIL");
}

} // namespace

void ResultsWindow::AddOutcome(const device::DeviceOutcome& outcome, const QString& time) {
    const QString cells[ColumnCount] = {
        time,
        FromLatin1(device::OperationName(outcome.Operation)),
        QString::number(outcome.DriverIndex),
        FromLatin1(outcome.Model),
        FromLatin1(outcome.EepromTypeName),
        FromLatin1(outcome.SerialNumber),
        ResultText(outcome),
        FromLatin1(outcome.Reason),
    };
    const int row = table_->rowCount();
    table_->insertRow(row);
    for (int column = 0; column < ColumnCount; ++column) {
        auto* item = new QTableWidgetItem(cells[column]);
        if (column == 6) item->setForeground(outcome.Passed ? Qt::darkGreen : Qt::red);
        // The whole reason, however narrow the column.
        if (column == 7 && !cells[column].isEmpty()) item->setToolTip(cells[column]);
        table_->setItem(row, column, item);
    }
    if (row == 0) {
        // Every column as wide as its text, the reason taking what is left.
        table_->resizeColumnsToContents();
        table_->horizontalHeader()->setSectionResizeMode(ColumnCount - 1, QHeaderView::Stretch);
    }
    table_->scrollToBottom();
}

int ResultsWindow::RowCount() const {
    return table_->rowCount();
}

QString ResultsWindow::Cell(int row, int column) const {
    const QTableWidgetItem* item = table_->item(row, column);
    return item == nullptr ? QString() : item->text();
}

QString ResultsWindow::RowsAsCsv(const std::vector<int>& rows) const {
    QStringList lines;
    QStringList header;
    for (const char* name : Headers)
        header << QString::fromLatin1(name);
    lines << header.join(',');
    for (int row : rows) {
        QStringList fields;
        for (int column = 0; column < ColumnCount; ++column)
            fields << CsvField(Cell(row, column));
        lines << fields.join(',');
    }
    return lines.join("\r\n") + "\r\n";
}

QString ResultsWindow::AllAsCsv() const {
    std::vector<int> rows(static_cast<std::size_t>(RowCount()));
    for (int i = 0; i < RowCount(); ++i)
        rows[static_cast<std::size_t>(i)] = i;
    return RowsAsCsv(rows);
}

QString ResultsWindow::SelectedAsCsv() const {
    std::set<int> selected;
    for (const QModelIndex& index : table_->selectionModel()->selectedIndexes())
        selected.insert(index.row());
    if (selected.empty()) return AllAsCsv();
    return RowsAsCsv(std::vector<int>(selected.begin(), selected.end()));
}

void ResultsWindow::CopyToClipboard() const {
    QApplication::clipboard()->setText(SelectedAsCsv());
}

bool ResultsWindow::SaveAs(const std::filesystem::path& file) {
    QSaveFile out(QString::fromStdString(file.string()));
    const QByteArray bytes = AllAsCsv().toUtf8();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit()) {
        if (ReportError)
            ReportError(QStringLiteral("Could not write the results to %1")
                            .arg(QString::fromStdString(file.string())));
        return false;
    }
    return true;
}

void ResultsWindow::SetBusy(bool busy) {
    copy_->setEnabled(!busy);
    save_->setEnabled(!busy);
}

bool ResultsWindow::eventFilter(QObject* watched, QEvent* event) {
    // The table would copy only the current cell: copy whole rows.
    if (watched == table_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->matches(QKeySequence::Copy)) {
        CopyToClipboard();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace burnwise::view
