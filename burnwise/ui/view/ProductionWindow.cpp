#include "burnwise/ui/view/ProductionWindow.h"

#include "burnwise/app/Watcher.h"
#include "burnwise/ui/view/LabelSettingsBox.h"
#include "burnwise/ui/view/Texts.h"
#include "burnwise/ui/view/WindowHost.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFormLayout>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QShortcut>
#include <QStandardItemModel>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>

namespace burnwise::view {

namespace {

// Tile colours, chosen to stay apart for the colour-blind too: the word on the tile says
// the same as its colour.
const QColor PassColour(0x1b, 0x7f, 0x3b);
const QColor FailColour(0xc6, 0x28, 0x28);
const QColor WorkingColour(0xf5, 0xa4, 0x00);
// A device that went away: grey, its last word still readable.
const QColor RemovedColour(0xbd, 0xbd, 0xbd);
const QColor RemovedText(0x55, 0x55, 0x55);

// Read from two metres: the slot label that finds the cable and the serial number at
// 24 px and more, the reason at 18 px, wrapped.
constexpr int TileWidth = 270;
constexpr int TileMinHeight = 180;
constexpr int TileSpacing = 10;
constexpr int DevicePixels = 24;
constexpr int StatePixels = 48;
constexpr int SerialPixels = 26;
constexpr int ReasonPixels = 18;
constexpr int NextStepPixels = 20;

QString PathText(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.string()));
}

std::filesystem::path PathOf(const QString& text) {
    return std::filesystem::path(QFile::encodeName(text).toStdString());
}

QFont PixelFont(int pixels, bool bold) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

QString HostName() {
    return QSysInfo::machineHostName();
}

QLabel* FigureLabel(const char* name, QWidget* parent) {
    auto* label = new QLabel(QStringLiteral("-"), parent);
    label->setObjectName(name);
    label->setFont(PixelFont(30, true));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

// The tile's colours, texts and height for the device's state.
void ShowTile(QFrame& tile, const ui::ProductionTile& state) {
    tile.setObjectName(QStringLiteral("Tile%1").arg(state.DriverIndex));
    QPalette palette = tile.palette();
    QColor background = WorkingColour;
    QColor text = Qt::black;
    if (state.Removed) {
        background = RemovedColour;
        text = RemovedText;
    } else if (state.State == ui::TileState::Passed) {
        background = PassColour;
        text = Qt::white;
    } else if (state.State == ui::TileState::Failed) {
        background = FailColour;
        text = Qt::white;
    }
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    tile.setPalette(palette);
    const auto show = [&tile](const char* name, const std::string& value) {
        auto* label = tile.findChild<QLabel*>(name);
        label->setText(FromLatin1(value));
        label->setHidden(value.empty());
    };
    show("TileDevice", ui::ProductionBoard::DeviceText(state));
    show("TileState", state.Removed ? "removed" : ui::ProductionBoard::StateText(state.State));
    // A failure shows the serial number it used up as well as why, and what to do.
    show("TileSerial", state.SerialNumber);
    show("TileDetail", state.State == ui::TileState::Failed ? state.Reason : "");
    show("TileNextStep", ui::ProductionBoard::NextStepText(state));
    const std::string labelText = state.Removed ? "" : ui::ProductionBoard::LabelText(state);
    show("TileLabel", labelText);
    tile.findChild<QPushButton*>("TileReprint")->setHidden(labelText.empty());
    tile.setToolTip(FromLatin1(state.Reason));
    // As tall as its wrapped lines need: a long reason is never cut.
    tile.setFixedHeight(std::max(TileMinHeight, tile.layout()->heightForWidth(TileWidth)));
}

// An edit with its Browse button beside it.
QHBoxLayout* RowWithBrowse(QLineEdit* edit, QPushButton* browse) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit, 1);
    row->addWidget(browse);
    return row;
}

// The serial number list shows ui::SerialSourceChoices, in their order.
app::SerialSource SourceAtRow(int row) {
    constexpr int rows = static_cast<int>(std::size(ui::SerialSourceChoices));
    return ui::SerialSourceChoices[static_cast<std::size_t>(std::clamp(row, 0, rows - 1))].Source;
}

int RowOfSource(app::SerialSource source) {
    for (std::size_t row = 0; row < std::size(ui::SerialSourceChoices); ++row)
        if (ui::SerialSourceChoices[row].Source == source) return static_cast<int>(row);
    return 0;
}

} // namespace

// ---- Settings dialog ----------------------------------------------------------------------

ProductionSettingsDialog::ProductionSettingsDialog(const ui::ProductionSettings& settings,
                                                   WindowHost& host, QWidget* parent)
    : QDialog(parent), host_(host) {
    setObjectName("ProductionSettings");
    setWindowTitle(QStringLiteral("Production Settings"));
    auto* form = new QFormLayout(this);

    AddSerialRows(*form, settings);
    AddRecordRows(*form, settings);

    labels_ = new LabelSettingsBox(settings.Labels, host_, this);
    // The preview shows the next device's label as these settings would number it.
    labels_->PreviewValues = [this] { return ui::PreviewLabelValues(Settings(), ReadOnlyStore); };
    form->addRow(labels_);

    problem_ = new QLabel(this);
    problem_->setObjectName("SettingsProblem");
    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("color: #c62828"));
    form->addRow(problem_);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)
        ->setToolTip(QStringLiteral("Keep these settings (Enter)"));
    buttons->button(QDialogButtonBox::Cancel)
        ->setToolTip(QStringLiteral("Leave the settings as they were (Esc)"));
    form->addRow(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    connect(template_, &QLineEdit::editingFinished, this, [this] { UpdateSources(); });
    connect(source_, &QComboBox::currentIndexChanged, this, [this] { UpdateSources(); });
    for (QLineEdit* edit : {counter_, database_, station_})
        connect(edit, &QLineEdit::editingFinished, labels_, &LabelSettingsBox::UpdatePreview);
    UpdateSources();
}

// The template and where its devices' serial numbers come from.
void ProductionSettingsDialog::AddSerialRows(QFormLayout& form,
                                             const ui::ProductionSettings& settings) {
    template_ = new QLineEdit(PathText(settings.TemplateFile), this);
    template_->setObjectName("TemplateEdit");
    template_->setMinimumWidth(320);
    template_->setToolTip(QStringLiteral("The template every device is programmed from"));
    auto* browseTemplate = new QPushButton(QStringLiteral("B&rowse..."), this);
    browseTemplate->setObjectName("BrowseTemplate");
    browseTemplate->setToolTip(QStringLiteral("Choose the template file (Alt+R)"));
    auto* templateLabel = new QLabel(QStringLiteral("&Template:"), this);
    templateLabel->setBuddy(template_);
    form.addRow(templateLabel, RowWithBrowse(template_, browseTemplate));

    source_ = new QComboBox(this);
    source_->setObjectName("SerialSourceList");
    for (const ui::SerialSourceChoice& choice : ui::SerialSourceChoices)
        source_->addItem(FromLatin1(choice.Name));
    source_->setCurrentIndex(RowOfSource(settings.SerialSource));
    source_->setToolTip(QStringLiteral(
        "Where each device's serial number comes from: a series shared by every station on "
        "the database, a counter file on this machine, or the template's own scheme"));
    auto* sourceLabel = new QLabel(QStringLiteral("&Serial numbers:"), this);
    sourceLabel->setBuddy(source_);
    form.addRow(sourceLabel, source_);

    counter_ = new QLineEdit(PathText(settings.CounterFile), this);
    counter_->setObjectName("CounterEdit");
    counter_->setToolTip(QStringLiteral("The file holding the next serial number's value"));
    browseCounter_ = new QPushButton(QStringLiteral("Bro&wse..."), this);
    browseCounter_->setObjectName("BrowseCounter");
    browseCounter_->setToolTip(QStringLiteral("Choose the counter file (Alt+W)"));
    auto* counterLabel = new QLabel(QStringLiteral("&Counter file:"), this);
    counterLabel->setBuddy(counter_);
    form.addRow(counterLabel, RowWithBrowse(counter_, browseCounter_));

    connect(browseTemplate, &QPushButton::clicked, this, [this] {
        ui::FileDialogOptions options;
        options.Filter = "EEPROM Program Templates|*.ept";
        options.DefaultExtension = "ept";
        options.FileMustExist = true;
        options.InitialFolder = PathOf(template_->text()).parent_path();
        if (const auto file = host_.RunOpenDialog(options)) {
            template_->setText(PathText(*file));
            UpdateSources();
        }
    });
    connect(browseCounter_, &QPushButton::clicked, this, [this] {
        // A counter file that does not exist yet starts at the template's number.
        ui::FileDialogOptions options;
        options.Filter = "Counter Files|*";
        options.FileName = PathOf(counter_->text());
        if (const auto file = host_.RunSaveDialog(options)) counter_->setText(PathText(*file));
    });
}

// Where the records go and the station they name.
void ProductionSettingsDialog::AddRecordRows(QFormLayout& form,
                                             const ui::ProductionSettings& settings) {
    database_ = new QLineEdit(FromLatin1(settings.DatabaseUrl), this);
    database_->setObjectName("DatabaseEdit");
    const std::optional<std::filesystem::path> defaultFile = ui::DefaultDatabaseFile();
    database_->setPlaceholderText(defaultFile ? PathText(*defaultFile) : QString());
    database_->setToolTip(QStringLiteral(
        "Where the records go: empty for the SQLite file shown, a file path, or "
        "postgresql://USER@HOST:PORT/NAME for a database shared by several stations"));
    auto* databaseLabel = new QLabel(QStringLiteral("&Database:"), this);
    databaseLabel->setBuddy(database_);
    form.addRow(databaseLabel, database_);

    station_ = new QLineEdit(FromLatin1(settings.StationName), this);
    station_->setObjectName("StationEdit");
    station_->setPlaceholderText(HostName());
    station_->setToolTip(
        QStringLiteral("The name this station's records carry; empty for the host name"));
    auto* stationLabel = new QLabel(QStringLiteral("Statio&n:"), this);
    stationLabel->setBuddy(station_);
    form.addRow(stationLabel, station_);
}

void ProductionSettingsDialog::UpdateSources() {
    // A template with one fixed serial number needs a series or a counter to number its
    // devices; one with a scheme numbers them itself.
    std::string error;
    const std::optional<ui::TemplateFacts> facts =
        ui::ReadTemplateFacts(PathOf(template_->text()), error);
    auto* model = static_cast<QStandardItemModel*>(source_->model());
    for (int i = 0; i < source_->count(); ++i) {
        const bool fromTemplate = SourceAtRow(i) == app::SerialSource::Template;
        const bool allowed = !facts || (facts->FixedSerialNumber != fromTemplate);
        model->item(i)->setEnabled(allowed);
    }
    if (!model->item(source_->currentIndex())->isEnabled()) {
        for (int i = 0; i < source_->count(); ++i)
            if (model->item(i)->isEnabled()) {
                source_->setCurrentIndex(i);
                break;
            }
    }
    const bool counter = SourceAtRow(source_->currentIndex()) == app::SerialSource::Counter;
    counter_->setEnabled(counter);
    browseCounter_->setEnabled(counter);
    labels_->UpdatePreview();
}

ui::ProductionSettings ProductionSettingsDialog::Settings() const {
    ui::ProductionSettings settings;
    settings.TemplateFile = PathOf(template_->text().trimmed());
    settings.SerialSource = SourceAtRow(source_->currentIndex());
    settings.CounterFile = PathOf(counter_->text().trimmed());
    settings.DatabaseUrl = ToLatin1(database_->text().trimmed());
    settings.StationName = ToLatin1(station_->text().trimmed());
    settings.Labels = labels_->Settings();
    return settings;
}

void ProductionSettingsDialog::accept() {
    const std::string problem = ui::ProductionSettingsProblem(Settings());
    if (!problem.empty()) {
        problem_->setText(FromLatin1(problem));
        return;
    }
    QDialog::accept();
}

// ---- Events from the run's thread ---------------------------------------------------------

// Carries each event to the window's thread as a queued call, in the order they came.
class ProductionWindow::Relay final : public ui::ProductionEvents {
public:
    explicit Relay(ProductionWindow& window) : window_(window) {}

    void DeviceStarted(std::int32_t driverIndex, const std::string& reportedSerial) override {
        Post([driverIndex, reportedSerial](ProductionWindow& w) {
            w.OnDeviceStarted(driverIndex, reportedSerial);
        });
    }
    void DevicesAttached(const std::vector<std::string>& serials) override {
        Post([serials](ProductionWindow& w) { w.OnDevicesAttached(serials); });
    }
    void DeviceFinished(const device::DeviceOutcome& outcome) override {
        Post([outcome](ProductionWindow& w) { w.OnDeviceFinished(outcome); });
    }
    void LabelFinished(std::int32_t driverIndex, const std::string& serial,
                       const records::LabelStatus& status, const std::string&) override {
        const bool printed = status.State == records::LabelState::Printed;
        Post([driverIndex, serial, printed, reason = status.Detail](ProductionWindow& w) {
            w.OnLabelFinished(driverIndex, serial, printed, printed ? std::string() : reason);
        });
    }
    void RunEnded(const std::string& reason) override {
        Post([reason](ProductionWindow& w) { w.OnRunEnded(reason); });
    }
    void DatabaseWaiting(bool waiting) override {
        Post([waiting](ProductionWindow& w) { w.OnDatabaseWaiting(waiting); });
    }
    void StationSaid(const std::string& lines) override {
        Post([lines](ProductionWindow& w) { w.OnStationSaid(lines); });
    }
    void AskReuse(const std::string& question, std::function<void(bool)> answer) override {
        Post([question, answer](ProductionWindow& w) { answer(w.host_.AskYesOrNo(question)); });
    }

private:
    template <typename Call>
    void Post(Call call) {
        ProductionWindow* window = &window_;
        QMetaObject::invokeMethod(
            window, [window, call] { call(*window); }, Qt::QueuedConnection);
    }

    ProductionWindow& window_;
};

// ---- The window ---------------------------------------------------------------------------

ProductionWindow::ProductionWindow(std::unique_ptr<ui::ProductionRunner> runner, WindowHost& host,
                                   QWidget* parent, QString settingsFile,
                                   ui::ProductionBoard::Clock clock)
    : QWidget(parent, Qt::Window), relay_(std::make_unique<Relay>(*this)),
      runner_(std::move(runner)), host_(host), settingsFile_(std::move(settingsFile)),
      board_(clock ? std::move(clock)
                   : ui::ProductionBoard::Clock([] { return std::chrono::steady_clock::now(); })) {
    setObjectName("ProductionWindow");
    setWindowTitle(QStringLiteral("Production Line"));
    // The main window's commands wait while the production line is open: one user of the
    // devices at a time.
    setWindowModality(Qt::WindowModal);
    // As large as it likes where the screen has room; never larger than the screen, so the
    // buttons and figures stay on it.
    QSize size(1060, 640);
    if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size() - QSize(16, 40));
    resize(size);
    Beep = [] { QApplication::beep(); };
    if (settingsFile_.isEmpty()) settingsFile_ = DefaultProductionSettingsFile();

    auto* layout = new QVBoxLayout(this);

    // The run's settings and the commands.
    layout->addLayout(MakeCommandRow());

    // The tiles, and the figures beside them.
    auto* middle = new QHBoxLayout;
    middle->addWidget(MakeTileArea(), 1);
    middle->addWidget(MakeFigures());
    layout->addLayout(middle, 1);

    status_ = new QLabel(this);
    status_->setObjectName("StatusLine");
    status_->setFont(PixelFont(18, true));
    status_->setWordWrap(true);
    layout->addWidget(status_);

    connect(settingsButton_, &QPushButton::clicked, this, &ProductionWindow::OpenSettings);
    connect(startButton_, &QPushButton::clicked, this, &ProductionWindow::StartRun);
    connect(stopButton_, &QPushButton::clicked, this, &ProductionWindow::RequestStop);
    auto* startKey = new QShortcut(QKeySequence(Qt::Key_F5), this);
    connect(startKey, &QShortcut::activated, this, &ProductionWindow::StartRun);
    auto* stopKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(stopKey, &QShortcut::activated, this, &ProductionWindow::RequestStop);

    // The pace goes on changing between devices.
    paceTimer_ = new QTimer(this);
    paceTimer_->setInterval(1000);
    connect(paceTimer_, &QTimer::timeout, this, &ProductionWindow::ShowFigures);

    LoadSettings();
    ShowBoard();
    ShowFigures();
    ShowSummary();
    ShowStatus(runner_ ? ReadyText()
                       : QStringLiteral("Production runs are not available in this program."));
    UpdateControls();
}

QHBoxLayout* ProductionWindow::MakeCommandRow() {
    auto* top = new QHBoxLayout;
    summary_ = new QLabel(this);
    summary_->setObjectName("RunSummary");
    summary_->setFont(PixelFont(15, false));
    summary_->setWordWrap(true);
    summary_->setToolTip(QStringLiteral("The settings the next run starts with"));
    top->addWidget(summary_, 1);
    settingsButton_ = new QPushButton(QStringLiteral("Se&ttings..."), this);
    settingsButton_->setObjectName("SettingsButton");
    settingsButton_->setToolTip(QStringLiteral(
        "Choose the template, the serial numbers, the database and the station (Alt+T)"));
    startButton_ = new QPushButton(QStringLiteral("&Start"), this);
    startButton_->setObjectName("StartButton");
    stopButton_ = new QPushButton(QStringLiteral("St&op"), this);
    stopButton_->setObjectName("StopButton");
    stopButton_->setToolTip(QStringLiteral("End the run after the device in hand (Esc)"));
    for (QPushButton* button : {settingsButton_, startButton_, stopButton_}) {
        button->setFont(PixelFont(18, true));
        button->setMinimumSize(120, 44);
        top->addWidget(button);
    }
    return top;
}

QScrollArea* ProductionWindow::MakeTileArea() {
    tileArea_ = new QScrollArea(this);
    tileArea_->setObjectName("TileArea");
    tileArea_->setWidgetResizable(true);
    tileArea_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    tilesPanel_ = new QWidget;
    tilesGrid_ = new QGridLayout(tilesPanel_);
    tilesGrid_->setSpacing(TileSpacing);
    tilesGrid_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    tileArea_->setWidget(tilesPanel_);
    // One column at least; as many as the window's width holds (see FlowTiles).
    tileArea_->setMinimumWidth(TileWidth + 2 * TileSpacing + 24);
    tileArea_->viewport()->installEventFilter(this);
    return tileArea_;
}

QFrame* ProductionWindow::MakeFigures() {
    auto* figures = new QFrame(this);
    figures->setObjectName("Figures");
    figures->setFrameShape(QFrame::StyledPanel);
    figures->setMinimumWidth(200);
    auto* grid = new QGridLayout(figures);
    grid->setVerticalSpacing(2);
    const auto addFigure = [&](const char* caption, QLabel* value, const char* tip) {
        auto* label = new QLabel(QString::fromLatin1(caption), figures);
        label->setFont(PixelFont(15, false));
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(value, row + 1, 0);
        value->setToolTip(QString::fromLatin1(tip));
        label->setToolTip(value->toolTip());
    };
    passed_ = FigureLabel("PassedCount", figures);
    failed_ = FigureLabel("FailedCount", figures);
    yield_ = FigureLabel("YieldValue", figures);
    perHour_ = FigureLabel("PerHourValue", figures);
    lastSerial_ = FigureLabel("LastSerialValue", figures);
    lastSerial_->setFont(PixelFont(24, true));
    addFigure("Passed", passed_, "Devices programmed and checked in this run");
    addFigure("Failed", failed_, "Devices that failed in this run");
    addFigure("Yield", yield_, "Passed devices out of all devices of this run");
    addFigure("Devices per hour", perHour_, "Devices finished per hour since Start");
    addFigure("Last serial number", lastSerial_,
              "The serial number of the last device that passed");
    grid->setRowStretch(grid->rowCount(), 1);
    return figures;
}

ProductionWindow::~ProductionWindow() {
    // The device in hand is finished, never dropped: the runner returns once its run is done.
    if (running_ && runner_) runner_->RequestStop();
    runner_.reset();
}

QFrame* ProductionWindow::TileWidget(std::int32_t driverIndex) const {
    const ui::ProductionTile* tile = board_.TileOf(driverIndex);
    if (tile == nullptr) return nullptr;
    const auto at = static_cast<std::size_t>(tile - board_.Tiles().data());
    return at < tiles_.size() ? tiles_[at] : nullptr;
}

QFrame* ProductionWindow::TileAt(int place) const {
    return place >= 0 && place < static_cast<int>(tiles_.size())
               ? tiles_[static_cast<std::size_t>(place)]
               : nullptr;
}

QString DefaultProductionSettingsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/production.conf");
}

ui::ProductionSettings LoadProductionSettings(const QString& file) {
    ui::ProductionSettings settings;
    QSettings store(file, QSettings::IniFormat);
    store.beginGroup(QStringLiteral("Production"));
    settings.TemplateFile = PathOf(store.value(QStringLiteral("Template")).toString());
    settings.SerialSource =
        ui::SerialSourceFromKey(ToLatin1(store.value(QStringLiteral("SerialSource")).toString()))
            .value_or(app::SerialSource::Series);
    settings.CounterFile = PathOf(store.value(QStringLiteral("CounterFile")).toString());
    settings.DatabaseUrl = ToLatin1(store.value(QStringLiteral("Database")).toString());
    settings.StationName = ToLatin1(store.value(QStringLiteral("Station")).toString());
    settings.Labels = LoadLabelSettings(store);
    return settings;
}

void ProductionWindow::LoadSettings() {
    settings_ = LoadProductionSettings(settingsFile_);
}

void ProductionWindow::SetSettings(const ui::ProductionSettings& settings) {
    if (running_) return;
    settings_ = settings;
    QSettings store(settingsFile_, QSettings::IniFormat);
    store.beginGroup(QStringLiteral("Production"));
    store.setValue(QStringLiteral("Template"), PathText(settings.TemplateFile));
    store.setValue(QStringLiteral("SerialSource"),
                   FromLatin1(ui::SerialSourceKey(settings.SerialSource)));
    store.setValue(QStringLiteral("CounterFile"), PathText(settings.CounterFile));
    store.setValue(QStringLiteral("Database"), FromLatin1(settings.DatabaseUrl));
    store.setValue(QStringLiteral("Station"), FromLatin1(settings.StationName));
    KeepLabelSettings(store, settings.Labels);
    store.endGroup();
    store.sync();
    // A problem Start showed is answered by the new settings, or said anew.
    if (problemShown_) {
        const std::string problem = ui::ProductionSettingsProblem(settings_);
        ShowStatus(problem.empty() ? ReadyText() : FromLatin1(problem), !problem.empty());
        problemShown_ = !problem.empty();
    }
    if (store.status() != QSettings::NoError)
        ShowStatus(QStringLiteral("The settings could not be kept in %1.").arg(settingsFile_),
                   true);
    ShowSummary();
}

void ProductionWindow::OpenSettings() {
    if (running_) return;
    ProductionSettingsDialog dialog(settings_, host_, this);
    if (dialog.exec() == QDialog::Accepted) SetSettings(dialog.Settings());
}

void ProductionWindow::StartRun() {
    if (running_ || !runner_) return;
    const std::string problem = ui::ProductionSettingsProblem(settings_);
    if (!problem.empty()) {
        ShowStatus(FromLatin1(problem), true);
        problemShown_ = true;
        return;
    }
    ui::ProductionSettings settings = settings_;
    std::string error;
    const std::optional<ui::TemplateFacts> facts =
        ui::ReadTemplateFacts(settings.TemplateFile, error);
    runModel_ = facts ? facts->Model : std::nullopt;
    if (settings.StationName.empty()) settings.StationName = ToLatin1(HostName());
    board_.Start();
    running_ = true;
    stopRequested_ = false;
    ShowBoard();
    ShowFigures();
    UpdateControls();
    ShowStatus(QStringLiteral("Running: plug the devices in. Esc stops after the device in hand."));
    paceTimer_->start();
    runner_->Start(settings, *relay_);
}

void ProductionWindow::RequestStop() {
    if (!running_ || stopRequested_) return;
    stopRequested_ = true;
    runner_->RequestStop();
    UpdateControls();
    // Said at once, so the operator knows the key was taken: the run ends after the device
    // in hand, or at once when none is.
    const ui::ProductionTile* inHand = nullptr;
    for (const ui::ProductionTile& tile : board_.Tiles())
        if (!tile.Removed && tile.State == ui::TileState::Working) inHand = &tile;
    ShowStatus(inHand ? QStringLiteral("Stopping after device %1 ...").arg(inHand->DriverIndex)
                      : QStringLiteral("Stopping ..."));
}

void ProductionWindow::OnDeviceStarted(std::int32_t driverIndex,
                                       const std::string& reportedSerial) {
    if (!running_) return;
    board_.DeviceStarted(driverIndex, reportedSerial);
    ShowBoard();
}

void ProductionWindow::OnDevicesAttached(const std::vector<std::string>& serials) {
    if (!running_) return;
    board_.DevicesAttached(serials);
    ShowBoard();
}

void ProductionWindow::OnDeviceFinished(const device::DeviceOutcome& outcome) {
    if (!running_) return;
    board_.DeviceFinished(outcome);
    ShowBoard();
    ShowFigures();
    if (OnOutcome) OnOutcome(outcome);
    if (!outcome.Passed && Beep) Beep();
}

void ProductionWindow::OnLabelFinished(std::int32_t driverIndex, const std::string& serial,
                                       bool printed, const std::string& reason) {
    board_.LabelFinished(driverIndex, serial, printed, reason);
    ShowBoard();
    if (!printed && Beep) Beep();
}

void ProductionWindow::Reprint(std::int32_t driverIndex, const std::string& serial) {
    if (!runner_) return;
    // Handing a label over takes seconds at most, even with the print service gone.
    QApplication::setOverrideCursor(Qt::BusyCursor);
    std::string line;
    const bool printed = runner_->ReprintLabel(settings_, serial, line);
    QApplication::restoreOverrideCursor();
    const std::string prefix = "Label " + records::ChipText(serial) + " not printed: ";
    board_.LabelFinished(driverIndex, serial, printed,
                         line.starts_with(prefix) ? line.substr(prefix.size()) : line);
    ShowBoard();
    if (!running_) ShowStatus(FromLatin1(line), !printed);
}

void ProductionWindow::OnDatabaseWaiting(bool waiting) {
    if (!running_ || stopRequested_) return;
    if (waiting)
        ShowStatus(QString::fromLatin1(app::WaitingForDatabaseLine.data(),
                                       qsizetype(app::WaitingForDatabaseLine.size())),
                   true);
    else
        ShowStatus(
            QStringLiteral("Running: plug the devices in. Esc stops after the device in hand."));
}

void ProductionWindow::OnStationSaid(const std::string& lines) {
    ShowStatus(FromLatin1(lines.substr(0, lines.find('\n'))), true);
    host_.ShowInformationBox(lines);
}

void ProductionWindow::OnRunEnded(const std::string& reason) {
    if (!running_) return;
    board_.RunEnded(reason);
    running_ = false;
    stopRequested_ = false;
    paceTimer_->stop();
    ShowBoard();
    ShowFigures();
    UpdateControls();
    if (reason.empty()) {
        ShowStatus(QStringLiteral("Stopped."));
    } else {
        ShowStatus(QStringLiteral("Stopped: %1").arg(FromLatin1(reason)), true);
        if (Beep) Beep();
    }
}

QFrame* ProductionWindow::MakeTile() {
    auto* tile = new QFrame(tilesPanel_);
    tile->setFixedWidth(TileWidth);
    tile->setMinimumHeight(TileMinHeight);
    tile->setAutoFillBackground(true);
    auto* column = new QVBoxLayout(tile);
    column->setSpacing(2);
    const auto addLabel = [&](const char* name, int pixels, bool bold) {
        auto* label = new QLabel(tile);
        label->setObjectName(name);
        label->setFont(PixelFont(pixels, bold));
        label->setAlignment(Qt::AlignCenter);
        label->setWordWrap(true);
        column->addWidget(label);
        return label;
    };
    addLabel("TileDevice", DevicePixels, true);
    addLabel("TileState", StatePixels, true);
    addLabel("TileSerial", SerialPixels, true);
    addLabel("TileDetail", ReasonPixels, false);
    addLabel("TileNextStep", NextStepPixels, true);
    // A PASS whose label did not come out: why, and the button that tries again.
    QLabel* labelLine = addLabel("TileLabel", ReasonPixels, true);
    labelLine->setStyleSheet(QStringLiteral("background: #fff3cd; color: #5a3d00; "
                                            "border-radius: 4px; padding: 2px"));
    auto* reprint = new QPushButton(QStringLiteral("Reprint label"), tile);
    reprint->setObjectName("TileReprint");
    reprint->setFont(PixelFont(ReasonPixels, true));
    reprint->setToolTip(QStringLiteral("Print this device's label again, from its record"));
    reprint->setAutoFillBackground(false);
    column->addWidget(reprint);
    connect(reprint, &QPushButton::clicked, this, [this, tile] {
        const auto at = std::find(tiles_.begin(), tiles_.end(), tile) - tiles_.begin();
        if (at >= static_cast<std::ptrdiff_t>(board_.Tiles().size())) return;
        const ui::ProductionTile state = board_.Tiles()[static_cast<std::size_t>(at)];
        Reprint(state.DriverIndex, state.SerialNumber);
    });
    column->addStretch(1);
    return tile;
}

void ProductionWindow::ShowBoard() {
    const std::vector<ui::ProductionTile>& tiles = board_.Tiles();
    while (tiles_.size() < tiles.size()) {
        tiles_.push_back(MakeTile());
        flowColumns_ = 0; // placed by FlowTiles
    }
    while (tiles_.size() > tiles.size()) {
        delete tiles_.back();
        tiles_.pop_back();
    }
    for (std::size_t i = 0; i < tiles.size(); ++i)
        ShowTile(*tiles_[i], tiles[i]);
    FlowTiles();
}

void ProductionWindow::FlowTiles() {
    // As many columns as the tile area holds, so a narrow screen still shows every tile and
    // the figures beside them.
    const QMargins margins = tilesGrid_->contentsMargins();
    const int room = tileArea_->viewport()->width() - margins.left() - margins.right();
    const int columns = std::max(1, (room + TileSpacing) / (TileWidth + TileSpacing));
    if (columns == flowColumns_) return;
    flowColumns_ = columns;
    for (QFrame* tile : tiles_)
        tilesGrid_->removeWidget(tile);
    for (int at = 0; at < static_cast<int>(tiles_.size()); ++at)
        tilesGrid_->addWidget(tiles_[static_cast<std::size_t>(at)], at / columns, at % columns,
                              Qt::AlignTop);
}

bool ProductionWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tileArea_->viewport() && event->type() == QEvent::Resize) FlowTiles();
    return QWidget::eventFilter(watched, event);
}

void ProductionWindow::ShowFigures() {
    passed_->setText(QString::number(board_.Passed()));
    failed_->setText(QString::number(board_.Failed()));
    yield_->setText(FromLatin1(board_.YieldText()));
    perHour_->setText(FromLatin1(board_.PerHourText()));
    lastSerial_->setText(board_.LastSerial().empty() ? QStringLiteral("-")
                                                     : FromLatin1(board_.LastSerial()));
}

void ProductionWindow::ShowSummary() {
    const QString templateName = settings_.TemplateFile.empty()
                                     ? QStringLiteral("none chosen")
                                     : PathText(settings_.TemplateFile.filename());
    QString source = FromLatin1(ui::SerialSourceName(settings_.SerialSource));
    if (settings_.SerialSource == app::SerialSource::Counter)
        source += QStringLiteral(" ") + PathText(settings_.CounterFile);
    const QString database = settings_.DatabaseUrl.empty() ? QStringLiteral("default")
                                                           : FromLatin1(settings_.DatabaseUrl);
    const QString station =
        settings_.StationName.empty() ? HostName() : FromLatin1(settings_.StationName);
    QString labels = QStringLiteral("none");
    if (settings_.Labels.Print)
        labels =
            PathText(settings_.Labels.Layout.filename()) + QStringLiteral(" to ") +
            (settings_.Labels.ToFolder ? PathText(settings_.Labels.Folder)
                                       : (settings_.Labels.Printer.empty()
                                              ? QStringLiteral("the default printer")
                                              : QString::fromStdString(settings_.Labels.Printer)));
    summary_->setText(QStringLiteral("Template: %1    Labels: %5\nSerial numbers: %2    "
                                     "Database: %3    Station: %4")
                          .arg(templateName, source, database, station, labels));
}

QString ProductionWindow::ReadyText() {
    return QStringLiteral("Ready: choose the settings, then press Start.");
}

void ProductionWindow::ShowStatus(const QString& text, bool alarm) {
    problemShown_ = false;
    status_->setText(text);
    // A run that stopped by itself must be seen from the bench: larger, in red.
    status_->setFont(PixelFont(alarm ? 24 : 18, true));
    status_->setStyleSheet(alarm ? QStringLiteral("color: #c62828") : QString());
}

void ProductionWindow::UpdateControls() {
    settingsButton_->setEnabled(!running_);
    startButton_->setEnabled(runner_ != nullptr && !running_);
    startButton_->setToolTip(runner_
                                 ? QStringLiteral("Start the run, then plug the devices in (F5)")
                                 : QStringLiteral("Production runs are not available in "
                                                  "this program."));
    stopButton_->setEnabled(running_ && !stopRequested_);
}

void ProductionWindow::closeEvent(QCloseEvent* event) {
    // A run ends by Stop, after the device in hand; never by closing the window under it.
    if (running_) {
        event->ignore();
        ShowStatus(QStringLiteral("Stop the run first (Esc), then close the window."), true);
        return;
    }
    event->accept();
}

} // namespace burnwise::view
