#include "form1_window.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStringList>
#include <QStyle>

#include <cmath>

#include "category_combo_box.h"
#include "control_table.h"
#include "encoding.h"
#include "errors.h"

// The icons live in a static library, whose resources must be registered by hand, and
// from outside any namespace.
static void LoadIconResources() { Q_INIT_RESOURCE(lorvex); }

namespace lorvex::ui {
namespace {

// Qt's logical pixels are those of a 96 dots-per-inch screen, scaled by Qt itself.
int Pixels(int twips) {
    return static_cast<int>(std::lround(static_cast<double>(twips) / kTwipsPerPixelAt96Dpi));
}

QRect FromTwips(const TwipsRect& rect) {
    return QRect(Pixels(rect.left), Pixels(rect.top), Pixels(rect.width), Pixels(rect.height));
}

QWidget* NewWidgetOfKind(ControlKind kind, QWidget* parent) {
    switch (kind) {
        case ControlKind::DropDownList:
            return new CategoryComboBox(parent);
        case ControlKind::TextBox:
            return new QLineEdit(parent);
        case ControlKind::Button: {
            auto* button = new QPushButton(parent);
            button->setAutoDefault(false);  // Enter and Esc press no button
            return button;
        }
        case ControlKind::Frame:
            return new QGroupBox(parent);
        case ControlKind::OptionButton:
            return new QRadioButton(parent);
    }
    return new QWidget(parent);
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

Form1Window::Form1Window(Form1& form, Dialogs& dialogs, QWidget* parent)
    : QWidget(parent), form_(form), dialogs_(dialogs) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(FromUtf8(kForm1Window.caption));
    setWindowIcon(ProgramIcon());
    resize(Pixels(kForm1Window.clientWidthTwips), Pixels(kForm1Window.clientHeightTwips));
    CreateControls();
    ConnectControls();
    MirrorCore();
}

Form1Window::~Form1Window() = default;

template <class Widget>
Widget* Form1Window::Find(std::string_view name) const {
    return static_cast<Widget*>(controls_.at(name));
}

QWidget* Form1Window::CreateControl(const ControlLayout& layout) {
    QWidget* parent = layout.parent.empty() ? this : controls_.at(layout.parent);
    QWidget* widget = NewWidgetOfKind(layout.kind, parent);
    widget->setObjectName(FromUtf8(layout.name));
    widget->setGeometry(FromTwips(layout.rect));
    widget->setVisible(layout.visible);
    widget->setAccessibleName(FromUtf8(layout.accessibleName));
    widget->setAccessibleDescription(FromUtf8(layout.accessibleDescription));
    if (auto* button = qobject_cast<QPushButton*>(widget)) {
        FitCaption(button, FromUtf8(layout.caption));
    } else if (auto* option = qobject_cast<QRadioButton*>(widget)) {
        option->setText(FromUtf8(layout.caption));
    }
    return widget;
}

void Form1Window::CreateControls() {
    // The frame comes before the options it holds in the table's tab order, so every
    // parent exists when its children are made.
    QWidget* previous = nullptr;
    for (const ControlLayout& layout : kForm1Controls) {
        QWidget* widget = CreateControl(layout);
        controls_[layout.name] = widget;
        if (layout.visible && layout.kind != ControlKind::Frame) {
            if (previous) {
                setTabOrder(previous, widget);
            }
            previous = widget;
        }
    }
    combo1_ = Find<QComboBox>("Combo1");
    start_ = Find<QLineEdit>("Start");
    endd_ = Find<QLineEdit>("Endd");
    option1_ = Find<QRadioButton>("Option1");
    option2_ = Find<QRadioButton>("Option2");
    // Option2 is laid down shorter than Option1; grown within the frame so that its
    // round indicator is not cut off.
    const QWidget* frame1 = controls_.at("Frame1");
    option2_->resize(option2_->width(),
                     std::min(option2_->sizeHint().height(), frame1->height() - option2_->y() - 2));
}

void Form1Window::ConnectControls() {
    attachment_.emplace(
        form_, WindowSeams{this, this, this, &progress_},
        ControlListeners{[this] { MirrorCombo(); }, [this] { MirrorField(start_, form_.Start); },
                         [this] { MirrorField(endd_, form_.Endd); }, [this] { MirrorOptions(); }});

    connect(combo1_, &QComboBox::currentIndexChanged, this,
            [this](int index) { form_.Combo1.SetListIndex(index); });
    connect(start_, &QLineEdit::textChanged, this,
            [this](const QString& text) { form_.Start.SetText(ToUtf8(text)); });
    connect(endd_, &QLineEdit::textChanged, this,
            [this](const QString& text) { form_.Endd.SetText(ToUtf8(text)); });
    connect(option1_, &QRadioButton::toggled, this, [this](bool on) {
        form_.Option1.SetValue(on);
        MirrorCore();  // a failed reload leaves the core as it was; show that
    });
    connect(option2_, &QRadioButton::toggled, this, [this](bool on) {
        form_.Option2.SetValue(on);
        MirrorCore();
    });
    Form1* form = &form_;
    for (const auto& layout : kForm1Controls) {
        if (layout.kind == ControlKind::Button) {
            connect(Find<QPushButton>(layout.name), &QPushButton::clicked, this,
                    [form, name = layout.name] { ClickButton(*form, name); });
        }
    }
}

QIcon Form1Window::ProgramIcon() {
    LoadIconResources();
    QIcon icon;
    for (const char* size : {"16", "32", "48", "256"}) {
        icon.addFile(QStringLiteral(":/icons/lorvex-%1.png").arg(QLatin1String(size)));
    }
    return icon;
}

std::string Form1Window::BrowseFolder(std::string_view prompt, std::string_view startAt) {
    return ToUtf8(dialogs_.ChooseFolder(this, FromUtf8(prompt), FromUtf8(startAt)));
}

void Form1Window::ShowMessage(std::string_view title, std::string_view text) {
    dialogs_.ShowMessage(this, FromUtf8(title), FromUtf8(text), {});
}

void Form1Window::ShowMoveReport(std::string_view title, const MoveReportText& report) {
    dialogs_.ShowMessage(this, FromUtf8(title), FromUtf8(report.summary), FromUtf8(report.details));
}

void Form1Window::ShowError(std::string_view title, std::string_view text) {
    dialogs_.ShowMessage(this, FromUtf8(title), FromUtf8(AsSentence(text)), {});
}

void Form1Window::MirrorCore() {
    MirrorField(start_, form_.Start);
    MirrorField(endd_, form_.Endd);
    MirrorOptions();
    MirrorCombo();
}

void Form1Window::MirrorField(QLineEdit* field, const TextBox& model) {
    const QSignalBlocker block(field);
    if (ToUtf8(field->text()) != model.Text()) {
        field->setText(FromUtf8(model.Text()));
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
            items.append(FromUtf8(model.List(i)));
        }
        combo1_->clear();
        combo1_->addItems(items);
        mirroredItems_ = model.ItemsRevision();
    }
    combo1_->setCurrentIndex(model.ListIndex());
    // The closed box may cut a long name short; the tip has it whole, and its list's path.
    combo1_->setToolTip(FromUtf8(CategoryTip(form_)));
}

}  // namespace lorvex::ui
