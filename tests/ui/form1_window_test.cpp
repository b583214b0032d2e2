// The window on Qt's offscreen platform: real widgets, real files, boxes answered by a
// timer and the folder chooser replaced at its one seam.
#include <QApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <functional>

#include "form1_window.h"
#include "modFolderBrowse.h"
#include "test_support.h"
#include "window_mode.h"

namespace fs = std::filesystem;
using lorvex::Form1;
using lorvex::test::ListDirectory;
using lorvex::test::MapWithHeader;
using lorvex::test::TempDir;
using lorvex::test::WriteFile;
using lorvex::ui::Form1Window;

namespace {

struct SeenBox {
    QString title;
    QString text;
    bool plain;  // no icon and a single OK button
};

// Runs `action` and answers every message box it opens, waiting for at least
// `expectedBoxes`; `onProgress` may act on the progress dialog when it shows.
std::vector<SeenBox> AnswerBoxesDuring(const std::function<void()>& action,
                                       const std::function<void(QProgressDialog*)>& onProgress = {},
                                       std::size_t expectedBoxes = 0) {
    std::vector<SeenBox> seen;
    QTimer timer;
    timer.setInterval(5);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen.push_back({box->windowTitle(), box->text(),
                            box->icon() == QMessageBox::NoIcon && box->buttons().size() == 1});
            box->button(QMessageBox::Ok)->click();
        } else if (auto* progress = qobject_cast<QProgressDialog*>(modal); progress && onProgress) {
            onProgress(progress);
        }
    });
    timer.start();
    action();
    [[maybe_unused]] const bool enough =
        QTest::qWaitFor([&] { return seen.size() >= expectedBoxes; });
    return seen;
}

// A program directory with both category lists and maps, a search directory and a window.
struct Window {
    Window() {
        fs::create_directory(search);
        WriteFile(program / "cats.txt", "Music / Jazz\r\nMusic / Rock\r\n\"Letters, Bills\"\r\n");
        WriteFile(program / "cats2.txt", "Music\r\nPaperwork\r\n");
        WriteFile(program / "lorvex.ini",
                  MapWithHeader("Night Ferries=Music / Jazz\r\nSaltmarsh=Music / Rock\r\n"));
        WriteFile(program / "lorvex2.ini", MapWithHeader("Night Ferries=Music\r\n"));
        WriteFile(search / "Night Ferries.zip", "PK jazz");
        WriteFile(search / "Saltmarsh.zip", "PK rock");
        QVERIFY(!window.Load());
    }
    template <class T>
    T* Find(const char* name) {
        auto* widget = window.findChild<T*>(QString::fromLatin1(name));
        if (!widget) {
            qFatal("no control %s", name);
        }
        return widget;
    }
    void FillFields(const QString& category) {
        Find<QLineEdit>("Start")->setText(QString::fromStdString(search.string()));
        Find<QLineEdit>("Endd")->setText(QString::fromStdString(dest.string()));
        Find<QComboBox>("Combo1")->setCurrentIndex(Find<QComboBox>("Combo1")->findText(category));
    }
    QStringList ComboItems() {
        QStringList items;
        for (int i = 0; i < Find<QComboBox>("Combo1")->count(); ++i) {
            items << Find<QComboBox>("Combo1")->itemText(i);
        }
        return items;
    }

    TempDir program;
    fs::path search = program / "in";
    fs::path dest = program / "out";
    Form1 form{program.path().string()};
    Form1Window window{form};
};

// Answers the folder chooser with a fixed path and remembers the prompts.
struct ScriptedChooser {
    explicit ScriptedChooser(QString answer) : answer(std::move(answer)) {
        lorvex::modFolderBrowse::SetFolderDialog(
            [this](QWidget*, const QString& prompt, const QString& start) {
                prompts << prompt;
                starts << start;
                return this->answer;
            });
    }
    ~ScriptedChooser() { lorvex::modFolderBrowse::SetFolderDialog({}); }
    QString answer;
    QStringList prompts;
    QStringList starts;
};

}  // namespace

class Form1WindowTest : public QObject {
    Q_OBJECT

private slots:
    void shouldStartWithTheFullListAndEmptyFields() {
        Window w;
        QCOMPARE(w.window.windowTitle(), QStringLiteral("Virelle 3.0"));
        QCOMPARE(w.ComboItems(), (QStringList{"Music / Jazz", "Music / Rock", "Letters, Bills"}));
        QCOMPARE(w.Find<QComboBox>("Combo1")->currentIndex(), -1);
        QVERIFY(!w.Find<QRadioButton>("Option1")->isChecked());
        QVERIFY(!w.Find<QRadioButton>("Option2")->isChecked());
        QVERIFY(w.Find<QLineEdit>("Start")->text().isEmpty());
        QVERIFY(w.Find<QLineEdit>("Endd")->text().isEmpty());
        QVERIFY(w.Find<QGroupBox>("Frame1")->title().isEmpty());
        w.window.show();
        QVERIFY(!w.Find<QPushButton>("Command1")->isVisible());
        QVERIFY(w.window.windowIcon().availableSizes().contains(QSize(32, 32)));
    }

    void shouldKeepEveryControlInPlaceWhenResized() {
        Window w;
        const std::vector<std::pair<const char*, QRect>> layout = {
            {"Combo1", {8, 8, 209, 19}},     {"Start", {8, 32, 361, 25}},
            {"Command3", {368, 32, 65, 25}}, {"Endd", {8, 64, 361, 25}},
            {"Command4", {368, 64, 65, 25}}, {"Command2", {8, 96, 65, 25}},
            {"Frame1", {80, 88, 169, 49}},   {"Option1", {8, 8, 129, 17}},
        };
        w.window.show();
        QCOMPARE(w.window.size(), QSize(437, 142));
        for (const QSize size : {QSize(900, 700), QSize(200, 80)}) {
            w.window.resize(size);
            for (const auto& [name, rect] : layout) {
                QCOMPARE(w.Find<QWidget>(name)->geometry(), rect);
            }
        }
        w.window.showMaximized();
        QCOMPARE(w.Find<QWidget>("Command4")->geometry(), QRect(368, 64, 65, 25));
    }

    void shouldFitEveryCaptionInItsButton() {
        Window w;
        for (const char* name : {"Command2", "Command3", "Command4"}) {
            auto* button = w.Find<QPushButton>(name);
            const QFontMetrics metrics(button->font());
            for (QString line : button->text().split('\n')) {
                line.remove('&');
                QVERIFY2(metrics.horizontalAdvance(line) < button->width(), name);
            }
            QVERIFY(button->text().split('\n').size() * metrics.height() <= button->height());
        }
        QCOMPARE(w.Find<QPushButton>("Command3")->text().remove('\n'),
                 QStringLiteral("&SearchDirectory"));
    }

    void shouldReloadTheListAndClearTheChoiceWhenTheListModeChanges() {
        Window w;
        w.Find<QComboBox>("Combo1")->setCurrentIndex(1);
        QCOMPARE(w.form.Combo1.Text(), "Music / Rock");
        QTest::mouseClick(w.Find<QRadioButton>("Option1"), Qt::LeftButton);
        QVERIFY(w.form.Option1.Value());
        QCOMPARE(w.ComboItems(), (QStringList{"Music", "Paperwork"}));
        QCOMPARE(w.Find<QComboBox>("Combo1")->currentIndex(), -1);
        QTest::mouseClick(w.Find<QRadioButton>("Option2"), Qt::LeftButton);
        QVERIFY(!w.Find<QRadioButton>("Option1")->isChecked());
        QVERIFY(!w.form.Option1.Value());
        QCOMPARE(w.ComboItems().size(), 3);
    }

    void shouldDoNothingWhenAFieldIsMissing() {
        Window w;
        w.FillFields("Music / Jazz");
        w.Find<QLineEdit>("Endd")->clear();
        const auto boxes = AnswerBoxesDuring(
            [&] { QTest::mouseClick(w.Find<QPushButton>("Command2"), Qt::LeftButton); });
        QVERIFY(boxes.empty());
        QVERIFY(!fs::exists(w.dest));
        QCOMPARE(ListDirectory(w.search).size(), 2u);
    }

    void shouldMoveThroughTheWindowAndShowTheCount() {
        Window w;
        w.window.show();
        w.FillFields("Music / Jazz");
        const auto boxes = AnswerBoxesDuring(
            [&] { QTest::mouseClick(w.Find<QPushButton>("Command2"), Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1u);
        QCOMPARE(boxes[0].title, QStringLiteral("lorvex"));
        QCOMPARE(boxes[0].text, QStringLiteral(" 1 files were successfully found and moved!"));
        QVERIFY(boxes[0].plain);
        QCOMPARE(ListDirectory(w.dest), std::vector<std::string>{"Night Ferries.zip"});
        // The move action's separator shows in the fields.
        QCOMPARE(w.Find<QLineEdit>("Start")->text(),
                 QString::fromStdString(w.search.string() + "/"));
    }

    void shouldAnswerAltKeysAndTakeNoFreeText() {
        Window w;
        w.window.show();
        QApplication::setActiveWindow(&w.window);
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        ScriptedChooser chooser("");
        // Access keys click their button a moment later, as a mouse click would look.
        QTest::keyClick(w.window.windowHandle(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(chooser.prompts.size(), 1);
        QTest::keyClick(w.window.windowHandle(), Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(chooser.prompts.size(), 2);
        QCOMPARE(chooser.prompts, (QStringList{"Please select your start directory.",
                                               "Please select your destination directory."}));
        QCOMPARE(chooser.starts.first(), QStringLiteral("/"));
        w.FillFields("Music / Rock");
        const auto boxes = AnswerBoxesDuring(
            [&] { QTest::keyClick(w.window.windowHandle(), Qt::Key_M, Qt::AltModifier); }, {}, 1);
        QCOMPARE(boxes.size(), 1u);
        QCOMPARE(ListDirectory(w.dest), std::vector<std::string>{"Saltmarsh.zip"});

        auto* combo = w.Find<QComboBox>("Combo1");
        QVERIFY(!combo->isEditable());
        combo->setCurrentIndex(-1);
        combo->setFocus();
        QTest::keyClicks(combo, "zzz");
        QCOMPARE(combo->count(), 3);
        QCOMPARE(combo->currentIndex(), -1);
    }

    void shouldVisitTheControlsInTabOrder() {
        Window w;
        w.window.show();
        QApplication::setActiveWindow(&w.window);
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        w.Find<QComboBox>("Combo1")->setFocus();
        QStringList visited{QApplication::focusWidget()->objectName()};
        for (int i = 0; i < 7; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(visited, (QStringList{"Combo1", "Command2", "Start", "Endd", "Option1", "Command3",
                                       "Command4", "Combo1"}));
    }

    void shouldFillOnlyThePickedField() {
        Window w;
        w.Find<QLineEdit>("Start")->setText("typed");
        w.Find<QLineEdit>("Endd")->setText("other");
        {
            ScriptedChooser cancel("");
            QTest::mouseClick(w.Find<QPushButton>("Command3"), Qt::LeftButton);
        }
        QCOMPARE(w.Find<QLineEdit>("Start")->text(), QStringLiteral("typed"));
        QCOMPARE(w.form.lineBuf, "");
        ScriptedChooser chooser(QString::fromStdString(w.search.string()));
        QTest::mouseClick(w.Find<QPushButton>("Command3"), Qt::LeftButton);
        QCOMPARE(w.Find<QLineEdit>("Start")->text(),
                 QString::fromStdString(w.search.string() + "/"));
        chooser.answer = "/";
        QTest::mouseClick(w.Find<QPushButton>("Command3"), Qt::LeftButton);
        QCOMPARE(w.Find<QLineEdit>("Start")->text(), QStringLiteral("//"));
        QCOMPARE(w.Find<QLineEdit>("Endd")->text(), QStringLiteral("other"));
        QCOMPARE(w.form.Start.Text(), "//");
    }

    void shouldReportAMissingDataFileAndStayUsable() {
        Window w;
        w.window.show();
        fs::remove(w.program / "cats2.txt");
        auto boxes = AnswerBoxesDuring(
            [&] { QTest::mouseClick(w.Find<QRadioButton>("Option1"), Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1u);
        QVERIFY(boxes[0].text.contains(QString::fromStdString((w.program / "cats2.txt").string())));
        QVERIFY(w.Find<QComboBox>("Combo1")->isVisible());
        QVERIFY(w.window.isVisible());

        fs::remove(w.program / "lorvex.ini");
        QTest::mouseClick(w.Find<QRadioButton>("Option2"), Qt::LeftButton);
        QCOMPARE(w.ComboItems().size(), 3);
        w.FillFields("Music / Jazz");
        boxes = AnswerBoxesDuring(
            [&] { QTest::mouseClick(w.Find<QPushButton>("Command2"), Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1u);
        QVERIFY(boxes[0].text.contains("lorvex.ini"));
        QCOMPARE(ListDirectory(w.search).size(), 2u);
    }

    void shouldRefuseTheSearchDirectoryAsDestinationInABox() {
        Window w;
        w.window.show();
        w.FillFields("Music / Jazz");
        w.Find<QLineEdit>("Endd")->setText(QString::fromStdString(w.search.string() + "/."));
        const auto boxes = AnswerBoxesDuring(
            [&] { QTest::mouseClick(w.Find<QPushButton>("Command2"), Qt::LeftButton); });
        QCOMPARE(boxes.size(), 1u);
        QCOMPARE(boxes[0].text,
                 QString::fromStdString("the destination is the search directory \"" +
                                        w.search.string() + "/\""));
        QCOMPARE(ListDirectory(w.search).size(), 2u);
    }

    void shouldShowProgressAndCancelWithoutLosingAnything() {
        Window w;
        std::string map;
        constexpr int kArchives = 400;
        for (int i = 0; i < kArchives; ++i) {
            const std::string name = "album " + std::to_string(i);
            map += name + "=Music / Jazz\n";
            WriteFile(w.search / (name + ".zip"), "PK " + name);
        }
        WriteFile(w.program / "lorvex.ini", MapWithHeader(map));
        fs::remove(w.search / "Night Ferries.zip");
        fs::remove(w.search / "Saltmarsh.zip");
        w.window.Progress().SetDelay(std::chrono::milliseconds(0));
        w.window.show();
        w.FillFields("Music / Jazz");
        QString progressLabel;
        const auto boxes = AnswerBoxesDuring(
            [&] { QTest::mouseClick(w.Find<QPushButton>("Command2"), Qt::LeftButton); },
            [&](QProgressDialog* progress) {
                progressLabel = progress->labelText();
                if (ListDirectory(w.dest).size() >= 20) {
                    progress->findChild<QPushButton*>()->click();
                }
            });
        QVERIFY(progressLabel.contains("moved so far"));
        QCOMPARE(boxes.size(), 1u);
        const auto moved = ListDirectory(w.dest);
        QVERIFY(moved.size() >= 20 && moved.size() < kArchives);
        QVERIFY(boxes[0].text.startsWith(QStringLiteral(" %1 files").arg(moved.size())));
        QVERIFY(boxes[0].text.contains("cancelled"));
        QCOMPARE(moved.size() + ListDirectory(w.search).size(), std::size_t{kArchives});
        for (const auto& name : moved) {
            QCOMPARE(lorvex::test::ReadFile(w.dest / name),
                     "PK " + name.substr(0, name.size() - 4));
        }
    }

    void shouldOnlyClaimADisplayThatCanBeReached() {
        // Restores the environment the other tests run in.
        struct SavedEnvironment {
            QByteArray platform = qgetenv("QT_QPA_PLATFORM");
            QByteArray display = qgetenv("DISPLAY");
            QByteArray wayland = qgetenv("WAYLAND_DISPLAY");
            ~SavedEnvironment() {
                qputenv("QT_QPA_PLATFORM", platform);
                qputenv("DISPLAY", display);
                qputenv("WAYLAND_DISPLAY", wayland);
            }
        } saved;
        TempDir dir;
        WriteFile(dir / "not-a-socket", "");
        qunsetenv("QT_QPA_PLATFORM");
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("DISPLAY");
        QVERIFY(!lorvex::ui::HasGraphicalDisplay());
        qputenv("DISPLAY", ":4711");  // a local display without its socket
        QVERIFY(!lorvex::ui::HasGraphicalDisplay());
        qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString((dir / "not-a-socket").string()));
        QVERIFY(!lorvex::ui::HasGraphicalDisplay());
        qputenv("DISPLAY", "remote.example:0");
        QVERIFY(lorvex::ui::HasGraphicalDisplay());
        qunsetenv("DISPLAY");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QVERIFY(lorvex::ui::HasGraphicalDisplay());
    }
};

QTEST_MAIN(Form1WindowTest)
#include "form1_window_test.moc"
