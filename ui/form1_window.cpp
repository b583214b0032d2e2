#include "form1_window.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyle>

#include <cmath>
#include <exception>

#include "modFolderBrowse.h"

// The icons live in a static library, whose resources must be registered by hand, and
// from outside any namespace.
static void LoadIconResources() { Q_INIT_RESOURCE(lorvex); }

namespace lorvex::ui {
namespace {

// Positions and sizes are laid down in twips, 15 to a logical pixel.
constexpr double kTwipsPerPixel = 15.0;

int Pixels(int twips) { return static_cast<int>(std::lround(twips / kTwipsPerPixel)); }

QRect FromTwips(int left, int top, int width, int height) {
    return QRect(Pixels(left), Pixels(top), Pixels(width), Pixels(height));
}

QString FromBytes(const std::string& text) { return QString::fromStdString(text); }

// Paths typed or shown in the two directory fields are file-system bytes.
QString PathFromBytes(const std::string& path) { return QFile::decodeName(path.c_str()); }
std::string PathToBytes(const QString& path) { return QFile::encodeName(path).toStdString(); }

template <class Widget>
Widget* MakeControl(QWidget* parent, const char* name, const QRect& geometry) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(geometry);
    return widget;
}

// Width and height a button needs for `text` (lines split at '\n') in its current font.
QSize CaptionSize(const QPushButton* button, const QString& text) {
    const QFontMetrics metrics(button->font());
    QString shown = text;
    shown.remove(QLatin1Char('&'));
    int width = 0;
    const QStringList lines = shown.split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        width = std::max(width, metrics.horizontalAdvance(line));
    }
    const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
    const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
    return QSize(width + 2 * frame + margin, lines.size() * metrics.height() + 2 * frame);
}

// Fits a caption into its button: one line if it fits, else two lines split at the blank
// nearest the middle, at the largest font size down from the default that fits.
void FitCaption(QPushButton* button, const QString& caption) {
    QString twoLines = caption;
    const int middle = static_cast<int>(caption.size()) / 2;
    int best = -1;
    for (int i = 0; i < caption.size(); ++i) {
        if (caption[i] == QLatin1Char(' ') &&
            (best < 0 || std::abs(i - middle) < std::abs(best - middle))) {
            best = i;
        }
    }
    if (best >= 0) {
        twoLines[best] = QLatin1Char('\n');
    }
    const QSize room = button->size();
    QFont font = button->font();
    for (double points = font.pointSizeF(); points >= 5.0; points -= 0.5) {
        font.setPointSizeF(points);
        button->setFont(font);
        for (const QString& text : {caption, twoLines}) {
            const QSize needed = CaptionSize(button, text);
            if (needed.width() <= room.width() && needed.height() <= room.height()) {
                button->setText(text);
                return;
            }
        }
    }
    button->setText(twoLines);
}

}  // namespace

Form1Window::Form1Window(Form1& form, QWidget* parent) : QWidget(parent), form_(form) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Virelle 3.0"));
    setWindowIcon(ProgramIcon());
    resize(Pixels(6552), Pixels(2136));
    CreateControls();
    ConnectControls();
    form_.SetWindowView(this);
    form_.SetMessageSink(&messages_);
    form_.SetFolderPicker(this);
    form_.SetPassProgress(&progress_);
    MirrorCore();
}

Form1Window::~Form1Window() {
    form_.SetWindowView(nullptr);
    form_.SetMessageSink(nullptr);
    form_.SetFolderPicker(nullptr);
    form_.SetPassProgress(nullptr);
    for (Control* control : std::initializer_list<Control*>{
             &form_.Combo1, &form_.Option1, &form_.Option2, &form_.Start, &form_.Endd}) {
        control->OnChange(nullptr);
    }
}

void Form1Window::CreateControls() {
    // Created in tab order; Command1 carries the sorting pass and is never shown.
    command1_ = MakeControl<QPushButton>(this, "Command1", FromTwips(1680, 1680, 972, 372));
    command1_->setText(QStringLiteral("Command1"));
    command1_->setVisible(false);
    combo1_ = MakeControl<QComboBox>(this, "Combo1", FromTwips(120, 120, 3132, 288));
    combo1_->setEditable(false);
    command2_ = MakeControl<QPushButton>(this, "Command2", FromTwips(120, 1440, 972, 372));
    start_ = MakeControl<QLineEdit>(this, "Start", FromTwips(120, 480, 5412, 372));
    endd_ = MakeControl<QLineEdit>(this, "Endd", FromTwips(120, 960, 5412, 372));
    frame1_ = MakeControl<QGroupBox>(this, "Frame1", FromTwips(1200, 1320, 2532, 732));
    option1_ = MakeControl<QRadioButton>(frame1_, "Option1", FromTwips(120, 120, 1932, 252));
    option1_->setText(QStringLiteral("Simple Lists"));
    option2_ = MakeControl<QRadioButton>(frame1_, "Option2", FromTwips(120, 480, 1932, 192));
    option2_->setText(QStringLiteral("Full Lists"));
    // Option2 is laid down shorter than Option1; grown within the frame so that its
    // round indicator is not cut off.
    option2_->resize(option2_->width(), std::min(option2_->sizeHint().height(),
                                                 frame1_->height() - option2_->y() - 2));
    command3_ = MakeControl<QPushButton>(this, "Command3", FromTwips(5520, 480, 972, 372));
    command4_ = MakeControl<QPushButton>(this, "Command4", FromTwips(5520, 960, 972, 372));
    for (QPushButton* button : {command2_, command3_, command4_}) {
        button->setAutoDefault(false);  // Enter and Esc press no button
    }
    FitCaption(command2_, QStringLiteral("&Move Files!"));
    FitCaption(command3_, QStringLiteral("&Search Directory"));
    FitCaption(command4_, QStringLiteral("&Destination Directory"));

    // The list and the two fields have no caption of their own for a screen reader.
    combo1_->setAccessibleName(QStringLiteral("Category"));
    combo1_->setAccessibleDescription(QStringLiteral("The category whose archives are moved"));
    start_->setAccessibleName(QStringLiteral("Search directory"));
    start_->setAccessibleDescription(QStringLiteral("Where the archives are now"));
    endd_->setAccessibleName(QStringLiteral("Destination directory"));
    endd_->setAccessibleDescription(QStringLiteral("Where the archives are moved to"));

    setTabOrder(combo1_, command2_);
    setTabOrder(command2_, start_);
    setTabOrder(start_, endd_);
    setTabOrder(endd_, option1_);
    setTabOrder(option1_, option2_);
    setTabOrder(option2_, command3_);
    setTabOrder(command3_, command4_);
}

void Form1Window::ConnectControls() {
    form_.Combo1.OnChange([this] { MirrorCombo(); });
    form_.Start.OnChange([this] { MirrorField(start_, form_.Start); });
    form_.Endd.OnChange([this] { MirrorField(endd_, form_.Endd); });
    form_.Option1.OnChange([this] { MirrorOptions(); });
    form_.Option2.OnChange([this] { MirrorOptions(); });

    connect(combo1_, &QComboBox::currentIndexChanged, this,
            [this](int index) { form_.Combo1.SetListIndex(index); });
    connect(start_, &QLineEdit::textChanged, this,
            [this](const QString& text) { form_.Start.SetText(PathToBytes(text)); });
    connect(endd_, &QLineEdit::textChanged, this,
            [this](const QString& text) { form_.Endd.SetText(PathToBytes(text)); });
    connect(option1_, &QRadioButton::toggled, this,
            [this](bool on) { RunHandler([this, on] { form_.Option1.SetValue(on); }); });
    connect(option2_, &QRadioButton::toggled, this,
            [this](bool on) { RunHandler([this, on] { form_.Option2.SetValue(on); }); });
    connect(command1_, &QPushButton::clicked, this,
            [this] { RunHandler([this] { form_.Command1_Click(); }); });
    connect(command2_, &QPushButton::clicked, this, [this] { MoveWithProgress(); });
    connect(command3_, &QPushButton::clicked, this,
            [this] { RunHandler([this] { form_.Command3_Click(); }); });
    connect(command4_, &QPushButton::clicked, this,
            [this] { RunHandler([this] { form_.Command4_Click(); }); });
}

QIcon Form1Window::ProgramIcon() {
    LoadIconResources();
    QIcon icon;
    for (const char* size : {"16", "32", "48", "256"}) {
        icon.addFile(QStringLiteral(":/icons/lorvex-%1.png").arg(QLatin1String(size)));
    }
    return icon;
}

std::optional<std::string> Form1Window::Load() {
    try {
        form_.Form_Load();
    } catch (const std::exception& error) {
        return error.what();
    }
    return std::nullopt;
}

std::string Form1Window::BrowseFolder(std::string_view prompt) {
    return modFolderBrowse::BrowseFolder(this, prompt);
}

void Form1Window::RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        MirrorCore();
        ShowMessageBox(this, "lorvex", error.what());
    }
}

void Form1Window::MoveWithProgress() {
    progress_.Begin();
    RunHandler([this] { form_.Command2_Click(); });
    progress_.End();
}

void Form1Window::MirrorCore() {
    MirrorField(start_, form_.Start);
    MirrorField(endd_, form_.Endd);
    MirrorOptions();
    MirrorCombo();
}

void Form1Window::MirrorField(QLineEdit* field, const TextBox& model) {
    const QSignalBlocker block(field);
    if (PathToBytes(field->text()) != model.Text()) {
        field->setText(PathFromBytes(model.Text()));
    }
}

void Form1Window::MirrorOptions() {
    const QSignalBlocker blockOption1(option1_);
    const QSignalBlocker blockOption2(option2_);
    // Auto-exclusive buttons cannot be cleared one by one, so exclusivity is lifted while
    // the core's values are copied.
    option1_->setAutoExclusive(false);
    option2_->setAutoExclusive(false);
    option1_->setChecked(form_.Option1.Value());
    option2_->setChecked(form_.Option2.Value());
    option1_->setAutoExclusive(true);
    option2_->setAutoExclusive(true);
}

void Form1Window::MirrorCombo() {
    const ComboBox& model = form_.Combo1;
    combo1_->setVisible(model.Visible());
    if (!model.Visible()) {
        return;  // a list being refilled is copied once it is shown again
    }
    const QSignalBlocker block(combo1_);
    if (mirroredItems_ != model.ItemsRevision()) {
        QStringList items;
        items.reserve(model.ListCount());
        for (int i = 0; i < model.ListCount(); ++i) {
            items.append(FromBytes(model.List(i)));
        }
        combo1_->clear();
        combo1_->addItems(items);
        mirroredItems_ = model.ItemsRevision();
    }
    combo1_->setCurrentIndex(model.ListIndex());
}

}  // namespace lorvex::ui
