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
#include <QtTest>

#include <QListView>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "category_combo_box.h"
#include "control_table.h"
#include "desktop.h"
#include "form1_window.h"
#include "test_support.h"

namespace fs = std::filesystem;
using lorvex::Form1;
using lorvex::test::ListDirectory;
using lorvex::test::MapWithHeader;
using lorvex::test::ProgramFiles;
using lorvex::test::TempDir;
using lorvex::test::WriteFile;
using lorvex::ui::Form1Window;

namespace {

struct SeenBox {
    QString title;
    QString text;
    QString details;
    bool progressShowing;  // a progress dialog was still visible when the box opened
};

bool AnyProgressShowing() {
    const auto widgets = QApplication::topLevelWidgets();
    return std::any_of(widgets.begin(), widgets.end(), [](QWidget* widget) {
        return qobject_cast<QProgressDialog*>(widget) && widget->isVisible();
    });
}

// Every dialog of the window, answered here: boxes are recorded, the folder picker gives
// a scripted answer. No real modal dialog opens.
struct RecordingDialogs : lorvex::ui::Dialogs {
    void ShowMessage(QWidget*, const QString& title, const QString& text,
                     const QString& details) override {
        boxes.push_back({title, text, details, AnyProgressShowing()});
    }
    QString ChooseFolder(QWidget*, const QString& prompt, const QString& startAt) override {
        prompts << prompt;
        starts << startAt;
        return answer;
    }
    std::vector<SeenBox> boxes;
    QString answer;
    QStringList prompts;
    QStringList starts;
};

// Stands between the pass and the window's own progress, and lets `onProgress` act on the
// progress dialog each time the pass reports while the dialog shows.
struct ProgressSpy : lorvex::PassProgress {
    ProgressSpy(Form1Window& window, std::function<void(QProgressDialog*)> onProgress)
        : window(window), onProgress(std::move(onProgress)) {}
    void PassBegins() override { window.Progress().PassBegins(); }
    bool ContinuePass(const lorvex::PassStatus& status) override {
        const bool going = window.Progress().ContinuePass(status);
        if (auto* progress = qobject_cast<QProgressDialog*>(QApplication::activeModalWidget())) {
            onProgress(progress);
        }
        return going;
    }
    void PassEnds() override { window.Progress().PassEnds(); }

    Form1Window& window;
    std::function<void(QProgressDialog*)> onProgress;
};

// The test program directory and a window on it.
struct Window : lorvex::test::ProgramFiles {
    Window() {
        WriteArchive("Night Ferries.zip", "PK jazz");
        WriteArchive("Saltmarsh.zip", "PK rock");
        form.Form_Load();
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
    void Click(const char* name) { QTest::mouseClick(Find<QWidget>(name), Qt::LeftButton); }

    Form1 form{program.string()};
    RecordingDialogs dialogs;
    Form1Window window{form, dialogs};
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
        // Twips to pixels at 96 dots per inch, as the table lays them down.
        const auto pixels = [](int twips) { return (twips + 7) / 15; };
        const auto check = [&] {
            for (const auto& layout : lorvex::kForm1Controls) {
                if (layout.name == "Option2") {
                    continue;  // grown within its frame to show its whole indicator
                }
                const QRect rect(pixels(layout.rect.left), pixels(layout.rect.top),
                                 pixels(layout.rect.width), pixels(layout.rect.height));
                QWidget* widget = w.Find<QWidget>(std::string(layout.name).c_str());
                QCOMPARE(widget->geometry(), rect);
                QCOMPARE(widget->parentWidget()->objectName(),
                         layout.parent.empty()
                             ? QStringLiteral("Form1")
                             : QString::fromLatin1(layout.parent.data(), layout.parent.size()));
            }
        };
        w.window.show();
        QCOMPARE(w.window.size(), QSize(437, 142));
        for (const QSize size : {QSize(900, 700), QSize(200, 80)}) {
            w.window.resize(size);
            check();
        }
        w.window.showMaximized();
        check();
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
        w.Click("Command2");
        QVERIFY(w.dialogs.boxes.empty());
        QVERIFY(!fs::exists(w.dest));
        QCOMPARE(ListDirectory(w.search).size(), 2u);
    }

    void shouldMoveThroughTheWindowAndShowTheCount() {
        Window w;
        w.window.show();
        w.FillFields("Music / Jazz");
        w.Click("Command2");
        const auto& boxes = w.dialogs.boxes;
        QCOMPARE(boxes.size(), 1u);
        QCOMPARE(boxes[0].title, QStringLiteral("lorvex"));
        QCOMPARE(boxes[0].text, QStringLiteral(" 1 files were successfully found and moved!"));
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
        auto& chooser = w.dialogs;
        // Access keys click their button a moment later, as a mouse click would look.
        QTest::keyClick(w.window.windowHandle(), Qt::Key_S, Qt::AltModifier);
        QTRY_COMPARE(chooser.prompts.size(), 1);
        QTest::keyClick(w.window.windowHandle(), Qt::Key_D, Qt::AltModifier);
        QTRY_COMPARE(chooser.prompts.size(), 2);
        QCOMPARE(chooser.prompts, (QStringList{"Please select your start directory.",
                                               "Please select your destination directory."}));
        QCOMPARE(chooser.starts.first(), QString());  // the field is empty
        w.FillFields("Music / Rock");
        QTest::keyClick(w.window.windowHandle(), Qt::Key_M, Qt::AltModifier);
        QTRY_COMPARE(w.dialogs.boxes.size(), 1u);
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
        QCOMPARE(visited, (QStringList{"Combo1", "Start", "Endd", "Command2", "Option1", "Command3",
                                       "Command4", "Combo1"}));
    }

    void shouldFillOnlyThePickedField() {
        Window w;
        w.Find<QLineEdit>("Start")->setText("typed");
        w.Find<QLineEdit>("Endd")->setText("other");
        w.Click("Command3");  // cancelled
        QCOMPARE(w.Find<QLineEdit>("Start")->text(), QStringLiteral("typed"));
        auto& chooser = w.dialogs;
        chooser.answer = QString::fromStdString(w.search.string());
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
        w.Click("Option1");
        const auto& boxes = w.dialogs.boxes;
        QCOMPARE(boxes.size(), 1u);
        QVERIFY(boxes[0].text.contains(QString::fromStdString((w.program / "cats2.txt").string())));
        QVERIFY(boxes[0].text.startsWith(QStringLiteral("Cannot read category list")));
        QVERIFY(w.Find<QComboBox>("Combo1")->isVisible());
        QVERIFY(w.window.isVisible());

        fs::remove(w.program / "lorvex.ini");
        QTest::mouseClick(w.Find<QRadioButton>("Option2"), Qt::LeftButton);
        QCOMPARE(w.ComboItems().size(), 3);
        w.FillFields("Music / Jazz");
        w.Click("Command2");
        QCOMPARE(boxes.size(), 2u);
        QVERIFY(boxes[1].text.contains("lorvex.ini"));
        QCOMPARE(ListDirectory(w.search).size(), 2u);
    }

    void shouldRefuseTheSearchDirectoryAsDestinationInABox() {
        Window w;
        w.window.show();
        w.FillFields("Music / Jazz");
        w.Find<QLineEdit>("Endd")->setText(QString::fromStdString(w.search.string() + "/."));
        w.Click("Command2");
        const auto& boxes = w.dialogs.boxes;
        QCOMPARE(boxes.size(), 1u);
        QCOMPARE(boxes[0].text,
                 QString::fromStdString("The destination is the search directory \"" +
                                        w.search.string() + "/\""));
        QCOMPARE(ListDirectory(w.search).size(), 2u);
    }

    void shouldShowProgressAndCancelWithoutLosingAnything() {
        Window w;
        constexpr int kArchives = 400;
        w.WriteAlbums(kArchives);
        w.window.Progress().SetDelay(std::chrono::milliseconds(0));
        w.window.show();
        w.FillFields("Music / Jazz");
        QString progressLabel;
        int shown = 0;
        ProgressSpy spy(w.window, [&](QProgressDialog* progress) {
            progressLabel = progress->labelText();
            if (++shown == 25) {
                progress->findChild<QPushButton*>()->click();
            }
        });
        w.form.SetPassProgress(&spy);
        w.Click("Command2");
        const auto& boxes = w.dialogs.boxes;
        QVERIFY(progressLabel.contains(QStringLiteral(" of %1 names checked, ").arg(kArchives)));
        QVERIFY(progressLabel.contains(" moved"));
        QCOMPARE(boxes.size(), 1u);
        QVERIFY(!boxes[0].progressShowing);
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

    // A finished move and one with failures close the dialog before the box, as a
    // cancelled one does; the dialog stays on the screen of a window in its corner.
    void shouldCloseProgressBeforeTheBoxAndKeepItOnScreen_data() {
        QTest::addColumn<int>("alreadyThere");
        QTest::newRow("finished") << 0;
        QTest::newRow("some failed") << 30;
    }
    void shouldCloseProgressBeforeTheBoxAndKeepItOnScreen() {
        QFETCH(int, alreadyThere);
        Window w;
        constexpr int kArchives = 300;
        w.WriteAlbums(kArchives);
        w.TakeAlbumNames(alreadyThere, "older");
        w.window.Progress().SetDelay(std::chrono::milliseconds(0));
        w.window.show();
        const QRect room = w.window.screen()->availableGeometry();
        w.window.move(room.right() - 60, room.bottom() - 40);
        w.FillFields("Music / Jazz");
        bool everOffScreen = false;
        int seen = 0;
        ProgressSpy spy(w.window, [&](QProgressDialog* progress) {
            ++seen;
            everOffScreen |= !room.contains(progress->frameGeometry());
        });
        w.form.SetPassProgress(&spy);
        w.Click("Command2");
        QVERIFY(seen > 0);
        QVERIFY(!everOffScreen);
        QCOMPARE(w.dialogs.boxes.size(), 1u);
        QVERIFY(!w.dialogs.boxes[0].progressShowing);
        QCOMPARE(ListDirectory(w.search).size(), std::size_t(alreadyThere));
    }

    void shouldFitTheResultOfManyFailuresOnTheScreen() {
        Window w;
        constexpr int kArchives = 300;
        w.WriteAlbums(kArchives);
        w.TakeAlbumNames(kArchives, "older");
        w.window.show();
        w.FillFields("Music / Jazz");
        w.Click("Command2");
        QCOMPARE(w.dialogs.boxes.size(), 1u);
        const SeenBox& seen = w.dialogs.boxes[0];
        QCOMPARE(seen.text, QStringLiteral(" 0 files were successfully found and moved!\n"
                                           "300 files could not be moved:\n"
                                           "album 0.zip: File exists\nalbum 1.zip: File exists\n"
                                           "album 2.zip: File exists\nalbum 3.zip: File exists\n"
                                           "album 4.zip: File exists\n... and 295 more"));
        QCOMPARE(seen.details.split('\n').size(), kArchives);
        const auto box = lorvex::ui::NewMessageBox(&w.window, seen.title, seen.text, seen.details);
        box->show();
        QVERIFY(QTest::qWaitForWindowExposed(box.get()));
        const QRect room = w.window.screen()->availableGeometry();
        QVERIFY2(box->frameGeometry().height() <= room.height() &&
                     box->frameGeometry().width() <= room.width(),
                 qPrintable(QStringLiteral("%1x%2").arg(box->width()).arg(box->height())));
        QCOMPARE(box->buttons().size(), 2);  // OK and the details' Show button
        QCOMPARE(box->icon(), QMessageBox::NoIcon);
    }

    void shouldScrollALongListAndFindANameTypedWithBlanks() {
        Window w;
        std::string list;
        for (int i = 0; i < 400; ++i) {
            list += "Group " + std::to_string(i / 10) + " / Kind " + std::to_string(i % 10) + "\n";
        }
        WriteFile(w.program / "cats.txt", list);
        w.form.Form_Load();
        w.window.show();
        QApplication::setActiveWindow(&w.window);
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        auto* combo = w.Find<QComboBox>("Combo1");
        QCOMPARE(combo->count(), 400);
        combo->showPopup();
        QVERIFY(combo->view()->isVisible());
        const int rowHeight = combo->view()->sizeHintForRow(0);
        QVERIFY(combo->view()->height() <= 21 * rowHeight);
        QVERIFY(combo->view()->verticalScrollBar()->isVisible());
        combo->hidePopup();

        auto now = lorvex::TypeAhead::Clock::now();
        dynamic_cast<lorvex::ui::CategoryComboBox&>(*combo).SetClock([&now] { return now; });
        combo->setFocus();
        QTest::keyClicks(combo, "Group 37 / Kind 4");
        QCOMPARE(combo->currentText(), QStringLiteral("Group 37 / Kind 4"));
        QVERIFY(!combo->view()->isVisible());
        QCOMPARE(w.form.Combo1.Text(), "Group 37 / Kind 4");
        now += lorvex::TypeAhead::kPause;  // a pause starts a new name
        QTest::keyClicks(combo, "group 2");
        QCOMPARE(combo->currentText(), QStringLiteral("Group 2 / Kind 0"));
    }

    // Two long names alike at the start tell apart in the open list, which stays on the
    // screen however long a name is; the closed box tips the chosen name whole, and the
    // category list it comes from.
    void shouldOpenTheListAsWideAsItsLongestNameAndTipTheChoice_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("longer than the box") << 40;
        QTest::newRow("longer than the screen") << 600;
    }
    void shouldOpenTheListAsWideAsItsLongestNameAndTipTheChoice() {
        QFETCH(int, length);
        Window w;
        const QString start = QStringLiteral("Game Console / Home Video ");
        const QString longest = start + QString(length, QLatin1Char('W'));
        WriteFile(w.program / "cats.txt",
                  "Music / Jazz\n" + (start + "Handheld\n" + longest + "\n").toStdString());
        w.form.Form_Load();
        w.window.show();
        auto* combo = w.Find<QComboBox>("Combo1");
        combo->showPopup();
        QVERIFY(combo->view()->isVisible());
        const QRect screen = combo->screen()->availableGeometry();
        const int needed = combo->view()->fontMetrics().horizontalAdvance(longest);
        QVERIFY2(combo->view()->width() >= std::min(needed, screen.width() - 40),
                 qPrintable(QString::number(combo->view()->width())));
        QVERIFY(combo->view()->window()->width() <= screen.width());
        combo->hidePopup();
        combo->setCurrentIndex(2);
        QCOMPARE(combo->toolTip(), longest + "\nCategories from " +
                                       QString::fromStdString((w.program / "cats.txt").string()));
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
        QVERIFY(!lorvex::desktop::PersonCanSeeDisplay());
        qputenv("DISPLAY", ":4711");  // a local display without its socket
        QVERIFY(!lorvex::desktop::PersonCanSeeDisplay());
        qputenv("WAYLAND_DISPLAY", QByteArray::fromStdString((dir / "not-a-socket").string()));
        QVERIFY(!lorvex::desktop::PersonCanSeeDisplay());
        qputenv("DISPLAY", "remote.example:0");
        QVERIFY(lorvex::desktop::PersonCanSeeDisplay());
        // Platforms nobody sees never count, whatever display is set beside them.
        for (const char* invisible : {"offscreen", "minimal", "offscreen:fontengine=freetype"}) {
            qputenv("QT_QPA_PLATFORM", invisible);
            QVERIFY2(!lorvex::desktop::PersonCanSeeDisplay(), invisible);
        }
        qputenv("QT_QPA_PLATFORM", "xcb");
        QVERIFY(lorvex::desktop::PersonCanSeeDisplay());
        qputenv("DISPLAY", ":4711");
        QVERIFY(!lorvex::desktop::PersonCanSeeDisplay());
    }

    void shouldNameTheUncaptionedControlsForScreenReaders() {
        Window w;
        QCOMPARE(w.Find<QComboBox>("Combo1")->accessibleName(), QStringLiteral("Category"));
        QCOMPARE(w.Find<QLineEdit>("Start")->accessibleName(), QStringLiteral("Search directory"));
        QCOMPARE(w.Find<QLineEdit>("Endd")->accessibleName(),
                 QStringLiteral("Destination directory"));
        for (const char* name : {"Combo1", "Start", "Endd"}) {
            QVERIFY(!w.Find<QWidget>(name)->accessibleDescription().isEmpty());
        }
    }
};

QTEST_MAIN(Form1WindowTest)
#include "form1_window_test.moc"
