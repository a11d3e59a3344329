#include "burnwise/ui/view/LabelSettingsBox.h"

#include "burnwise/labels/LabelPrinter.h"
#include "burnwise/labels/LabelRenderer.h"
#include "burnwise/ui/view/ProductionWindow.h"
#include "burnwise/ui/view/Texts.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QVBoxLayout>

namespace burnwise::view {

namespace {

// The preview's room: a 62 mm label at the screen's usual density, its bars still told
// apart.
constexpr int PreviewWidth = 300;
constexpr int PreviewHeight = 150;

QString PathText(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

std::filesystem::path PathOf(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text.trimmed()).toStdString());
}

} // namespace

std::unique_ptr<records::RecordStore> ReadOnlyStore(const std::string& url, std::string& error) {
    return records::OpenRecordStore(url, records::OpenMode::Read, error);
}

ui::LabelSettings LoadLabelSettings(QSettings& store) {
    ui::LabelSettings settings;
    settings.Print = store.value(QStringLiteral("PrintLabels"), false).toBool();
    settings.Layout = PathOf(store.value(QStringLiteral("LabelLayout")).toString());
    settings.Printer = store.value(QStringLiteral("Printer")).toString().toStdString();
    settings.ToFolder = store.value(QStringLiteral("LabelsToFolder"), false).toBool();
    settings.Folder = PathOf(store.value(QStringLiteral("LabelFolder")).toString());
    return settings;
}

void KeepLabelSettings(QSettings& store, const ui::LabelSettings& settings) {
    store.setValue(QStringLiteral("PrintLabels"), settings.Print);
    store.setValue(QStringLiteral("LabelLayout"), PathText(settings.Layout));
    store.setValue(QStringLiteral("Printer"), QString::fromStdString(settings.Printer));
    store.setValue(QStringLiteral("LabelsToFolder"), settings.ToFolder);
    store.setValue(QStringLiteral("LabelFolder"), PathText(settings.Folder));
}

LabelSettingsBox::LabelSettingsBox(const ui::LabelSettings& settings, WindowHost& host,
                                   QWidget* parent)
    : QGroupBox(QStringLiteral("Labels"), parent), host_(host) {
    setObjectName("LabelSettings");
    auto* columns = new QHBoxLayout(this);
    auto* grid = new QGridLayout;
    columns->addLayout(grid, 1);
    AddPrintRows(*grid, settings);
    AddFolderRows(*grid, settings);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(6, 1);
    columns->addWidget(MakePreview(), 0, Qt::AlignTop);
    Connect();
    UpdateControls();
}

void LabelSettingsBox::AddPrintRows(QGridLayout& grid, const ui::LabelSettings& settings) {
    print_ = new QCheckBox(QStringLiteral("&Print a label for each device that passes"), this);
    print_->setObjectName("PrintLabelsCheck");
    print_->setChecked(settings.Print);
    print_->setToolTip(QStringLiteral(
        "After a device's record is written, its label (serial number as text and barcode) "
        "goes to the printer or the folder below; a label that fails never fails the device"));
    grid.addWidget(print_, 0, 0, 1, 3);

    layout_ = new QComboBox(this);
    layout_->setObjectName("LabelLayoutList");
    layout_->setEditable(true);
    layout_->setInsertPolicy(QComboBox::NoInsert);
    layout_->setMinimumContentsLength(24);
    layout_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    for (const std::filesystem::path& shipped : ui::ShippedLabelLayouts())
        layout_->addItem(PathText(shipped.filename()), PathText(shipped));
    layout_->setCurrentIndex(-1);
    layout_->setEditText(PathText(settings.Layout));
    for (int i = 0; i < layout_->count(); ++i)
        if (layout_->itemData(i).toString() == PathText(settings.Layout))
            layout_->setCurrentIndex(i);
    layout_->setToolTip(QStringLiteral(
        "The label's drawing: an SVG file whose texts hold fields such as {serial} and "
        "{product}, with a box of the id \"barcode\"; the layouts shipped with Burnwise "
        "are listed"));
    auto* layoutLabel = new QLabel(QStringLiteral("La&yout:"), this);
    layoutLabel->setBuddy(layout_);
    browseLayout_ = new QPushButton(QStringLiteral("Br&owse..."), this);
    browseLayout_->setObjectName("BrowseLayout");
    browseLayout_->setToolTip(QStringLiteral("Choose a layout file (Alt+O)"));
    grid.addWidget(layoutLabel, 1, 0);
    grid.addWidget(layout_, 1, 1);
    grid.addWidget(browseLayout_, 1, 2);

    printer_ = new QComboBox(this);
    printer_->setObjectName("PrinterList");
    printer_->setToolTip(QStringLiteral("The print queue the labels go to"));
    auto* printerLabel = new QLabel(QStringLiteral("Pr&inter:"), this);
    printerLabel->setBuddy(printer_);
    grid.addWidget(printerLabel, 2, 0);
    grid.addWidget(printer_, 2, 1, 1, 2);
    printerNote_ = new QLabel(this);
    printerNote_->setObjectName("PrinterNote");
    printerNote_->setWordWrap(true);
    grid.addWidget(printerNote_, 3, 1, 1, 2);
    ListPrinters(settings.Printer);
}

void LabelSettingsBox::AddFolderRows(QGridLayout& grid, const ui::LabelSettings& settings) {
    toFolder_ = new QCheckBox(QStringLiteral("Write PDF &files to a folder"), this);
    toFolder_->setObjectName("LabelsToFolderCheck");
    toFolder_->setChecked(settings.ToFolder);
    toFolder_->setToolTip(
        QStringLiteral("Instead of printing, write each label as SERIAL.pdf into the folder"));
    grid.addWidget(toFolder_, 4, 0, 1, 3);
    folder_ = new QLineEdit(PathText(settings.Folder), this);
    folder_->setObjectName("LabelFolderEdit");
    folder_->setToolTip(QStringLiteral("The folder the label files go to; it must exist"));
    browseFolder_ = new QPushButton(QStringLiteral("Brows&e..."), this);
    browseFolder_->setObjectName("BrowseLabelFolder");
    browseFolder_->setToolTip(QStringLiteral("Choose the folder (Alt+E)"));
    grid.addWidget(folder_, 5, 1);
    grid.addWidget(browseFolder_, 5, 2);
}

QLabel* LabelSettingsBox::MakePreview() {
    preview_ = new QLabel(this);
    preview_->setObjectName("LabelPreview");
    preview_->setFixedSize(PreviewWidth, PreviewHeight);
    preview_->setAlignment(Qt::AlignCenter);
    preview_->setWordWrap(true);
    preview_->setMargin(6);
    preview_->setFrameShape(QFrame::StyledPanel);
    preview_->setToolTip(QStringLiteral("The next device's label"));
    return preview_;
}

void LabelSettingsBox::Connect() {
    connect(print_, &QCheckBox::toggled, this, [this] {
        UpdateControls();
        UpdatePreview();
    });
    connect(toFolder_, &QCheckBox::toggled, this, [this] { UpdateControls(); });
    connect(layout_, &QComboBox::currentIndexChanged, this, [this] { UpdatePreview(); });
    connect(layout_->lineEdit(), &QLineEdit::editingFinished, this, [this] { UpdatePreview(); });
    connect(browseLayout_, &QPushButton::clicked, this, [this] {
        ui::FileDialogOptions options;
        options.Filter = "Label Layouts|*.svg";
        options.DefaultExtension = "svg";
        options.FileMustExist = true;
        options.InitialFolder = Settings().Layout.parent_path();
        if (const auto file = host_.RunOpenDialog(options)) {
            layout_->setCurrentIndex(-1);
            layout_->setEditText(PathText(*file));
            UpdatePreview();
        }
    });
    connect(browseFolder_, &QPushButton::clicked, this, [this] {
        const QString folder = QFileDialog::getExistingDirectory(
            this, QStringLiteral("Folder for the label files"), folder_->text());
        if (!folder.isEmpty()) folder_->setText(folder);
    });
}

void LabelSettingsBox::ListPrinters(const std::string& chosen) {
    printer_->clear();
    printer_->addItem(QStringLiteral("Default destination"), QString());
    std::string error;
    const std::optional<std::vector<labels::PrintDestination>> found =
        labels::PrintDestinations(error);
    for (const labels::PrintDestination& destination :
         found.value_or(std::vector<labels::PrintDestination>{})) {
        const QString name = QString::fromStdString(destination.Name);
        printer_->addItem(destination.IsDefault ? name + QStringLiteral(" (default)") : name, name);
    }
    // A queue kept from before stays chosen even while the service does not list it.
    if (!chosen.empty() && printer_->findData(QString::fromStdString(chosen)) < 0)
        printer_->addItem(QString::fromStdString(chosen), QString::fromStdString(chosen));
    printer_->setCurrentIndex(std::max(0, printer_->findData(QString::fromStdString(chosen))));
    if (!found)
        printerNote_->setText(
            QStringLiteral("The printers cannot be listed: %1").arg(QString::fromStdString(error)));
    else if (found->empty())
        printerNote_->setText(QStringLiteral("The print service has no printers."));
    printerNote_->setHidden(printerNote_->text().isEmpty());
}

ui::LabelSettings LabelSettingsBox::Settings() const {
    ui::LabelSettings settings;
    settings.Print = print_->isChecked();
    // A shipped layout is listed by its name and kept by its path.
    const int shipped = layout_->currentIndex();
    settings.Layout = shipped >= 0 && layout_->itemText(shipped) == layout_->currentText()
                          ? PathOf(layout_->itemData(shipped).toString())
                          : PathOf(layout_->currentText());
    settings.Printer = printer_->currentData().toString().toStdString();
    settings.ToFolder = toFolder_->isChecked();
    settings.Folder = PathOf(folder_->text());
    return settings;
}

void LabelSettingsBox::UpdateControls() {
    const bool on = print_->isChecked();
    layout_->setEnabled(on);
    browseLayout_->setEnabled(on);
    toFolder_->setEnabled(on);
    printer_->setEnabled(on && !toFolder_->isChecked());
    folder_->setEnabled(on && toFolder_->isChecked());
    browseFolder_->setEnabled(on && toFolder_->isChecked());
    preview_->setEnabled(on);
}

void LabelSettingsBox::UpdatePreview() {
    const ui::LabelSettings settings = Settings();
    preview_->setPixmap({});
    preview_->setStyleSheet({});
    if (settings.Layout.empty()) {
        preview_->setText(QStringLiteral("Choose a layout to see the label."));
        return;
    }
    std::string error;
    const std::optional<labels::LabelLayout> layout =
        labels::LabelLayout::Load(settings.Layout, error);
    std::optional<std::string> png;
    if (layout)
        png = labels::RenderLabel(*layout, PreviewValues ? PreviewValues() : labels::FieldValues{},
                                  labels::PageFormat::Png, error);
    QPixmap picture;
    if (!png || !picture.loadFromData(reinterpret_cast<const uchar*>(png->data()),
                                      static_cast<uint>(png->size()), "PNG")) {
        // What is wrong with the layout, in its own words, where the label would be.
        preview_->setStyleSheet(QStringLiteral("color: #c62828"));
        preview_->setText(
            QString::fromStdString(error.empty() ? "The label cannot be drawn." : error));
        return;
    }
    const qreal ratio = preview_->devicePixelRatioF();
    QPixmap shown = picture.scaled(QSize(PreviewWidth - 8, PreviewHeight - 8) * ratio,
                                   Qt::KeepAspectRatio, Qt::SmoothTransformation);
    shown.setDevicePixelRatio(ratio);
    preview_->setPixmap(shown);
}

// ---- Device > Print Labels... -------------------------------------------------------------

PrintLabelsDialog::PrintLabelsDialog(const QString& settingsFile,
                                     const std::filesystem::path& templateFile, WindowHost& host,
                                     QWidget* parent)
    : QDialog(parent), settingsFile_(settingsFile) {
    setObjectName("PrintLabels");
    setWindowTitle(QStringLiteral("Print Labels"));
    ui::ProductionSettings settings = LoadProductionSettings(settingsFile);
    if (!templateFile.empty()) settings.TemplateFile = templateFile;
    auto* column = new QVBoxLayout(this);
    auto* note = new QLabel(
        QStringLiteral("Program prints these labels when it keeps records, as the production "
                       "line does; the settings are the line's."),
        this);
    note->setWordWrap(true);
    column->addWidget(note);
    box_ = new LabelSettingsBox(settings.Labels, host, this);
    box_->PreviewValues = [settings] { return ui::PreviewLabelValues(settings, ReadOnlyStore); };
    column->addWidget(box_);
    problem_ = new QLabel(this);
    problem_->setObjectName("LabelsProblem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #c62828"));
    column->addWidget(problem_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    column->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    box_->UpdatePreview();
}

ui::LabelSettings PrintLabelsDialog::Settings() const {
    return box_->Settings();
}

void PrintLabelsDialog::accept() {
    const ui::LabelSettings settings = Settings();
    const std::string problem = ui::LabelSettingsProblem(settings);
    if (!problem.empty()) {
        problem_->setText(QString::fromStdString(problem));
        return;
    }
    QSettings store(settingsFile_, QSettings::IniFormat);
    store.beginGroup(QStringLiteral("Production"));
    KeepLabelSettings(store, settings);
    store.endGroup();
    store.sync();
    if (store.status() != QSettings::NoError) {
        problem_->setText(
            QStringLiteral("The settings could not be kept in %1.").arg(settingsFile_));
        return;
    }
    QDialog::accept();
}

QAction* AddPrintLabelsAction(QMenu& menu, QWidget& window, WindowHost& host,
                              std::function<std::filesystem::path()> templateFile,
                              std::function<bool()> busy) {
    QAction* action = menu.addAction(QStringLiteral("Print La&bels..."));
    action->setObjectName("PrintLabels");
    action->setToolTip(QStringLiteral("Print a label for each device Program passes"));
    QObject::connect(action, &QAction::triggered, &window, [&window, &host, templateFile, busy] {
        if (busy && busy()) return;
        PrintLabelsDialog dialog(DefaultProductionSettingsFile(),
                                 templateFile ? templateFile() : std::filesystem::path(), host,
                                 &window);
        dialog.exec();
    });
    return action;
}

} // namespace burnwise::view
