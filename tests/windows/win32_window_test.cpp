// The Win32 window in-process under wine: real controls, real files, keys posted as the
// system would post them, and boxes and the folder picker answered at the dialogs' one seam.
#include <gtest/gtest.h>

#include "platform_windows.h"

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "control_table.h"
#include "dialogs.h"
#include "folder_picker_start.h"
#include "form1.h"
#include "form1_window.h"
#include "long_path.h"
#include "test_support.h"

namespace {

using lorvex::Form1;
using lorvex::kForm1Controls;
using lorvex::platform::Narrow;
using lorvex::platform::Widen;
using lorvex::test::ListDirectory;
using lorvex::test::MapWithHeader;
using lorvex::test::Utf8;
using lorvex::test::WriteFile;
using lorvex::win32::Form1Window;

struct SeenBox {
    std::string title;
    std::string text;
    std::string details;
    bool progressShowing;  // the progress dialog was still visible when the box opened
};

bool ProgressShowing() {
    const HWND progress = ::FindWindowW(L"LorvexPassProgress", nullptr);
    return progress && ::IsWindowVisible(progress);
}

// Boxes are recorded; the folder picker gives a scripted answer.
struct RecordingDialogs : lorvex::win32::Dialogs {
    void ShowMessage(HWND owner, std::string_view title, std::string_view text,
                     std::string_view details) override {
        owners.push_back(owner);
        boxes.push_back(
            {std::string(title), std::string(text), std::string(details), ProgressShowing()});
    }
    std::string ChooseFolder(HWND, std::string_view prompt, std::string_view startAt) override {
        prompts.emplace_back(prompt);
        starts.emplace_back(startAt);
        return answer;
    }
    std::vector<SeenBox> boxes;
    std::vector<HWND> owners;
    std::string answer;
    std::vector<std::string> prompts;
    std::vector<std::string> starts;
};

std::string TextOf(HWND control) {
    wchar_t text[1024] = {};
    ::GetWindowTextW(control, text, 1024);
    return Narrow(text);
}

std::vector<std::string> ComboItems(HWND combo) {
    std::vector<std::string> items;
    const auto count = ::SendMessageW(combo, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t item[256] = {};
        ::SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(item));
        items.push_back(Narrow(item));
    }
    return items;
}

// The control's rectangle in its window's client area.
RECT ClientRectOf(HWND control) {
    RECT rect{};
    ::GetWindowRect(control, &rect);
    ::MapWindowPoints(nullptr, ::GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

RECT WorkArea(HWND window) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    return monitor.rcWork;
}

bool Within(const RECT& inner, const RECT& outer) {
    RECT both{};
    return ::IntersectRect(&both, &inner, &outer) && ::EqualRect(&both, &inner);
}

// Twips to pixels as the table means them: 15 to a pixel at 96 dots per inch.
int Pixels(int twips, UINT dpi) { return ::MulDiv((twips + 7) / 15, static_cast<int>(dpi), 96); }

struct Window : lorvex::test::ProgramFiles {
    Window() {
        WriteArchive("Night Ferries.zip", "PK jazz");
        WriteArchive("Saltmarsh.zip", "PK rock");
        window.Progress().SetDelay(std::chrono::hours(1));
        form.Form_Load();
    }
    HWND Find(std::string_view name) const { return window.Control(name); }
    // Dispatches what is queued, as the program's loop does, keyboard navigation included.
    void Pump() {
        MSG message;
        while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (!window.HandleDialogKeys(message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
    }
    void Click(std::string_view name) {
        ::SendMessageW(Find(name), BM_CLICK, 0, 0);
        Pump();
    }
    // Keys as the system posts them to the focused control.
    void Type(const std::string& text) {
        for (const wchar_t c : Widen(text)) {
            ::PostMessageW(::GetFocus(), WM_CHAR, c, 1);
            Pump();
        }
    }
    void PressKey(UINT key) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, key, 1);
        ::PostMessageW(::GetFocus(), WM_KEYUP, key, 1 | (3u << 30));
        Pump();
    }
    void PressAlt(char letter) {
        // The context bit (29) says Alt is down; the dialog keys look for the access key.
        ::PostMessageW(::GetFocus(), WM_SYSCHAR, static_cast<WPARAM>(letter), 1 | (1 << 29));
        Pump();
    }
    void FillFields(int category) {
        ::SetWindowTextW(Find("Start"), Widen(Utf8(search)).c_str());
        ::SetWindowTextW(Find("Endd"), Widen(Utf8(dest)).c_str());
        ::SendMessageW(Find("Combo1"), CB_SETCURSEL, static_cast<WPARAM>(category), 0);
        ::SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(101, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(Find("Combo1")));
    }

    Form1 form{Utf8(program)};
    RecordingDialogs dialogs;
    Form1Window window{form, dialogs};
};

TEST(Win32Window, StartsWithTheFullListClearedOptionsAndTheTableCaptions) {
    Window w;
    w.form.Show();
    EXPECT_EQ(TextOf(w.window.Handle()), "Virelle 3.0");
    EXPECT_EQ(ComboItems(w.Find("Combo1")),
              (std::vector<std::string>{"Music / Jazz", "Music / Rock", "Letters, Bills"}));
    EXPECT_EQ(::SendMessageW(w.Find("Combo1"), CB_GETCURSEL, 0, 0), CB_ERR);
    EXPECT_EQ(::GetWindowLongW(w.Find("Combo1"), GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    for (const auto& layout : kForm1Controls) {
        if (layout.kind != lorvex::ControlKind::DropDownList &&
            layout.kind != lorvex::ControlKind::TextBox) {
            EXPECT_EQ(TextOf(w.Find(layout.name)), layout.caption) << layout.name;
        }
        EXPECT_EQ(::IsWindowVisible(w.Find(layout.name)) != 0, layout.visible) << layout.name;
    }
    EXPECT_EQ(::SendMessageW(w.Find("Option1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(::SendMessageW(w.Find("Option2"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_NE(::GetClassLongPtrW(w.window.Handle(), GCLP_HICON), 0u);
}

TEST(Win32Window, KeepsEveryControlAtItsTwipsWhenResizedOrMaximised) {
    Window w;
    w.form.Show();
    const UINT dpi = ::GetDpiForWindow(w.window.Handle());
    const auto check = [&] {
        for (const auto& layout : kForm1Controls) {
            lorvex::TwipsRect twips = layout.rect;
            for (const auto& parent : kForm1Controls) {
                if (parent.name == layout.parent) {  // the options lie in the frame
                    twips.left += parent.rect.left;
                    twips.top += parent.rect.top;
                }
            }
            const RECT rect = ClientRectOf(w.Find(layout.name));
            EXPECT_EQ(rect.left, Pixels(twips.left, dpi)) << layout.name;
            EXPECT_EQ(rect.top, Pixels(twips.top, dpi)) << layout.name;
            EXPECT_EQ(rect.right - rect.left, Pixels(twips.width, dpi)) << layout.name;
            if (layout.kind !=
                lorvex::ControlKind::DropDownList) {  // the field's height is the font's
                EXPECT_EQ(rect.bottom - rect.top, Pixels(twips.height, dpi)) << layout.name;
            }
        }
    };
    RECT client{};
    ::GetClientRect(w.window.Handle(), &client);
    EXPECT_EQ(client.right, Pixels(lorvex::kForm1Window.clientWidthTwips, dpi));
    EXPECT_EQ(client.bottom, Pixels(lorvex::kForm1Window.clientHeightTwips, dpi));
    check();
    ::SetWindowPos(w.window.Handle(), nullptr, 0, 0, 900, 700, SWP_NOMOVE | SWP_NOZORDER);
    check();
    ::ShowWindow(w.window.Handle(), SW_MAXIMIZE);
    w.Pump();
    check();
}

TEST(Win32Window, TabsThroughTheControlsInTheTableOrder) {
    Window w;
    w.form.Show();
    EXPECT_EQ(::GetFocus(), w.Find("Combo1"));
    // The system tabs through the children in the order they lie, stopping at tab stops.
    std::vector<std::string> stops;
    for (HWND child = ::GetWindow(w.window.Handle(), GW_CHILD); child;
         child = ::GetWindow(child, GW_HWNDNEXT)) {
        const auto layout = std::find_if(kForm1Controls.begin(), kForm1Controls.end(),
                                         [&](const auto& s) { return w.Find(s.name) == child; });
        ASSERT_NE(layout, kForm1Controls.end());
        if (::GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) {
            stops.emplace_back(layout->name);
        }
    }
    // Command1 is never shown, the frame is no stop, and Option2 is reached from Option1
    // with the arrow keys.
    EXPECT_EQ(stops, (std::vector<std::string>{"Combo1", "Start", "Endd", "Command2", "Option1",
                                               "Command3", "Command4"}));
}

TEST(Win32Window, OptionButtonsClearEachOtherAndReloadTheList) {
    Window w;
    w.Click("Option1");
    EXPECT_TRUE(w.form.Option1.Value());
    EXPECT_EQ(ComboItems(w.Find("Combo1")), (std::vector<std::string>{"Music", "Paperwork"}));
    w.Click("Option2");
    EXPECT_FALSE(w.form.Option1.Value());
    EXPECT_EQ(::SendMessageW(w.Find("Option1"), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(::SendMessageW(w.Find("Option2"), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(ComboItems(w.Find("Combo1")).size(), 3u);
}

TEST(Win32Window, FolderPickersFillTheFieldsThroughTheSeam) {
    Window w;
    ::SetWindowTextW(w.Find("Start"), L"C:\\was");
    w.dialogs.answer = "C:\\Downloads\\Jazz é";
    w.Click("Command3");
    EXPECT_EQ(TextOf(w.Find("Start")), "C:\\Downloads\\Jazz é\\");
    EXPECT_EQ(w.form.Start.Text(), "C:\\Downloads\\Jazz é\\");
    w.dialogs.answer = "";  // cancelled
    w.Click("Command4");
    EXPECT_EQ(TextOf(w.Find("Endd")), "");
    EXPECT_EQ(w.dialogs.prompts, (std::vector<std::string>{"Please select your start directory.",
                                                           "Please select your destination "
                                                           "directory."}));
    EXPECT_EQ(w.dialogs.starts, (std::vector<std::string>{"C:\\was", ""}));
}

TEST(Win32Window, ErrorBoxBeginsWithACapitalAndNothingIsCreated) {
    Window w;
    std::filesystem::remove(w.program / "lorvex.ini");
    w.FillFields(0);
    w.Click("Command2");
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_EQ(w.dialogs.boxes[0].title, "lorvex");
    EXPECT_TRUE(std::isupper(static_cast<unsigned char>(w.dialogs.boxes[0].text[0])))
        << w.dialogs.boxes[0].text;
    EXPECT_EQ(w.dialogs.owners[0], w.window.Handle());
    EXPECT_FALSE(std::filesystem::exists(w.dest));
}

TEST(Win32Window, ResultBoxOfManyFailuresNamesTheFirstFewAndFits) {
    Window w;
    w.WriteAlbums(300);
    w.TakeAlbumNames(300, "taken");
    w.FillFields(0);
    w.Click("Command2");
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    const SeenBox& box = w.dialogs.boxes[0];
    EXPECT_EQ(box.text.rfind(" 0 files were successfully found and moved!", 0), 0u) << box.text;
    EXPECT_LE(std::count(box.text.begin(), box.text.end(), '\n'), 10) << box.text;
    EXPECT_NE(box.text.find("... and 295 more"), std::string::npos) << box.text;
    EXPECT_EQ(std::count(box.details.begin(), box.details.end(), '\n') + 1, 300);
}

// Watches the progress dialog while the pass runs, through the window's own progress.
struct ProgressSpy : lorvex::PassProgress {
    explicit ProgressSpy(Form1Window& window) : window(window) {}
    void PassBegins() override { window.Progress().PassBegins(); }
    bool ContinuePass(const lorvex::PassStatus& status) override {
        const bool going = window.Progress().ContinuePass(status);
        if (const HWND dialog = window.Progress().Handle()) {
            ::GetWindowRect(dialog, &shownAt);
            seen = seen || ::IsWindowVisible(dialog);
            ownerEnabled = ownerEnabled || ::IsWindowEnabled(window.Handle());
            // Counted per name, not per look at the search folder before them.
            if (!status.listing && ++calls == cancelAt) {
                ::PostMessageW(::GetDlgItem(dialog, IDCANCEL), BM_CLICK, 0, 0);
            }
        }
        return going;
    }
    void PassEnds() override { window.Progress().PassEnds(); }

    Form1Window& window;
    RECT shownAt{};
    bool seen = false;
    bool ownerEnabled = false;
    int calls = 0;
    int cancelAt = -1;
};

TEST(Win32Window, ProgressShowsOverTheWindowAndClosesBeforeTheBox) {
    for (const int cancelAt : {-1, 3}) {
        Window w;
        w.WriteAlbums(12);
        w.form.Show();
        w.window.Progress().SetDelay(std::chrono::milliseconds(0));
        ProgressSpy spy(w.window);
        spy.cancelAt = cancelAt;
        w.form.SetPassProgress(&spy);
        w.FillFields(0);
        w.Click("Command2");
        ASSERT_TRUE(spy.seen);
        EXPECT_FALSE(spy.ownerEnabled);  // no input reaches the window meanwhile
        ASSERT_EQ(w.dialogs.boxes.size(), 1u);
        EXPECT_FALSE(w.dialogs.boxes[0].progressShowing);
        EXPECT_TRUE(::IsWindowEnabled(w.window.Handle()));
        EXPECT_EQ(w.form.LastPass().cancelled, cancelAt > 0);
        // Cancel is pressed while the third archive is announced and heard before the fourth.
        EXPECT_EQ(w.form.LastPass().moved, cancelAt > 0 ? cancelAt : 12);
        // Centred on the window, within its monitor's work area.
        MONITORINFO monitor{};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromWindow(w.window.Handle(), MONITOR_DEFAULTTONEAREST),
                          &monitor);
        RECT inside{};
        EXPECT_TRUE(::IntersectRect(&inside, &spy.shownAt, &monitor.rcWork) &&
                    ::EqualRect(&inside, &spy.shownAt));
        RECT window{};
        ::GetWindowRect(w.window.Handle(), &window);
        const auto centre = [](const RECT& r) {
            return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2};
        };
        if (::EqualRect(&inside, &spy.shownAt) && ::PtInRect(&monitor.rcWork, centre(window))) {
            EXPECT_LE(std::abs(centre(spy.shownAt).x - centre(window).x), 1);
        }
    }
}

TEST(Win32Window, CategoryListShowsTwentyRowsAndFindsTypedNamesWithBlanks) {
    Window w;
    std::string list;
    for (int group = 0; group < 40; ++group) {
        for (int kind = 0; kind < 10; ++kind) {
            list += "Group " + std::to_string(group) + " / Kind " + std::to_string(kind) + "\n";
        }
    }
    WriteFile(w.program / "cats.txt", list);
    w.form.Form_Load();
    w.form.Show();
    const HWND combo = w.Find("Combo1");
    ASSERT_EQ(ComboItems(combo).size(), 400u);
    ::SetFocus(combo);
    w.Type("group 37 / k");
    EXPECT_EQ(w.form.Combo1.Text(), "Group 37 / Kind 0");
    w.Type("x");  // no category begins so: the choice stays
    EXPECT_EQ(w.form.Combo1.Text(), "Group 37 / Kind 0");

    ::SendMessageW(combo, CB_SHOWDROPDOWN, TRUE, 0);
    COMBOBOXINFO info{};
    info.cbSize = sizeof info;
    ASSERT_TRUE(::GetComboBoxInfo(combo, &info));
    RECT list_rect{};
    ::GetClientRect(info.hwndList, &list_rect);
    const auto row = static_cast<int>(::SendMessageW(combo, CB_GETITEMHEIGHT, 0, 0));
    EXPECT_GE(list_rect.bottom / row, 15);
    EXPECT_LE(list_rect.bottom / row, Form1Window::kVisibleRows);
    EXPECT_TRUE(::GetWindowLongW(info.hwndList, GWL_STYLE) & WS_VSCROLL);
    ::SendMessageW(combo, CB_SHOWDROPDOWN, FALSE, 0);
}

TEST(Win32Window, MovesWithTheKeyboardAlone) {
    Window w;
    w.form.Show();
    ASSERT_EQ(::GetFocus(), w.Find("Combo1"));
    w.Type("Music / J");
    w.PressKey(VK_TAB);
    ASSERT_EQ(::GetFocus(), w.Find("Start"));
    w.Type(Utf8(w.search));
    w.PressKey(VK_TAB);
    w.Type(Utf8(w.dest));
    w.PressAlt('m');
    ASSERT_EQ(w.dialogs.boxes.size(), 1u);
    EXPECT_EQ(w.dialogs.boxes[0].title, "lorvex");
    EXPECT_EQ(w.dialogs.boxes[0].text, " 1 files were successfully found and moved!");
    EXPECT_EQ(ListDirectory(w.dest), (std::vector<std::string>{"Night Ferries.zip"}));
    EXPECT_EQ(ListDirectory(w.search), (std::vector<std::string>{"Saltmarsh.zip"}));
}

TEST(Win32Window, FocusesTheFirstControlAtStartAndTheLastUsedOneWhenActivatedAgain) {
    Window w;
    // As the program starts: the window shows, then the list is filled (hidden meanwhile).
    w.form.Show();
    w.form.Form_Load();
    w.Pump();
    ASSERT_EQ(::GetFocus(), w.Find("Combo1"));
    w.Type("music / r");  // the first keys find a category, and open no picker
    EXPECT_EQ(w.form.Combo1.Text(), "Music / Rock");
    EXPECT_TRUE(w.dialogs.prompts.empty());

    ::SetFocus(w.Find("Endd"));
    const HWND other = ::CreateWindowExW(0, WC_STATICW, L"other", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                         0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
    ::SetActiveWindow(other);
    w.Pump();
    EXPECT_NE(::GetFocus(), w.Find("Endd"));
    ::SetActiveWindow(w.window.Handle());
    w.Pump();
    EXPECT_EQ(::GetFocus(), w.Find("Endd"));
    ::DestroyWindow(other);
}

// After a box the focus is never left on Move Files!, where a typed letter would act as an
// access key: it goes back to the control used before, or to the one to fix.
TEST(Win32Window, FocusAfterABoxGoesBackOrToTheControlToFix) {
    const struct {
        const char* from;
        bool destinationMissing;
        const char* focusAfter;
    } cases[] = {{"Endd", false, "Endd"}, {"Combo1", false, "Combo1"}, {"Start", true, "Endd"}};
    for (const auto& c : cases) {
        Window w;
        w.form.Show();
        w.FillFields(0);
        const std::string missing = Utf8(w.root.path() / "Books") + "\\";
        if (c.destinationMissing) {
            ::SetWindowTextW(w.Find("Endd"), Widen(missing + "Kinderbücher").c_str());
        }
        ::SetFocus(w.Find(c.from));
        w.PressAlt('m');
        ASSERT_EQ(w.dialogs.boxes.size(), 1u) << c.from;
        EXPECT_EQ(::GetFocus(), w.Find(c.focusAfter)) << c.from;
        if (c.destinationMissing) {
            EXPECT_NE(
                w.dialogs.boxes[0].text.find("the directory \"" + missing + "\" does not exist"),
                std::string::npos)
                << w.dialogs.boxes[0].text;
        }
        w.Type("m");  // typed on: no second move
        EXPECT_EQ(w.dialogs.boxes.size(), 1u) << c.from;
    }
}

// The failure list is read, not edited: Tab and Shift+Tab leave it, Enter presses OK.
TEST(Win32Window, DetailsListLetsTabLeaveAndEnterPressOk) {
    const struct {
        UINT key;
        bool shift;
        const char* focusAfter;  // null: the box is closed
    } cases[] = {
        {VK_TAB, false, "Hide details"}, {VK_TAB, true, "OK"}, {VK_RETURN, false, nullptr}};
    for (const auto& c : cases) {
        lorvex::win32::ModalDialogs dialogs;
        bool closed = false;
        std::string focused;
        dialogs.onShown = [&](HWND box) {
            HWND list = nullptr;
            for (HWND child = ::GetWindow(box, GW_CHILD); child;
                 child = ::GetWindow(child, GW_HWNDNEXT)) {
                wchar_t windowClass[16] = {};
                ::GetClassNameW(child, windowClass, 16);
                list = _wcsicmp(windowClass, WC_EDITW) == 0 ? child : list;
                if (TextOf(child) == "Show details") {
                    ::SendMessageW(child, BM_CLICK, 0, 0);
                }
            }
            ::SetFocus(list);
            BYTE keys[256] = {};
            keys[VK_SHIFT] = c.shift ? 0x80 : 0;
            ::SetKeyboardState(keys);
            MSG key{list, WM_KEYDOWN, c.key, 1, 0, {}};
            ::IsDialogMessageW(box, &key);  // as the box's own loop does
            keys[VK_SHIFT] = 0;
            ::SetKeyboardState(keys);
            closed = !::IsWindow(box);
            if (!closed) {
                focused = TextOf(::GetFocus());
                ::SendMessageW(box, WM_COMMAND, IDCANCEL, 0);
            }
        };
        dialogs.ShowMessage(nullptr, "lorvex", "2 files could not be moved:",
                            "a.zip: File exists\nb.zip: File exists");
        EXPECT_EQ(closed, c.focusAfter == nullptr) << c.key << c.shift;
        EXPECT_EQ(focused, c.focusAfter ? c.focusAfter : "") << c.key << c.shift;
    }
}

// What a real box showed: where it lay, and the text of its visible parts, collapsed and
// with its details opened.
struct RealBox {
    bool taskDialog = false;
    std::vector<RECT> places;
    std::wstring collapsedText;
    std::wstring expandedText;
};

std::wstring VisibleText(HWND box) {
    std::wstring text;
    for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (::GetWindowLongW(child, GWL_STYLE) & WS_VISIBLE) {  // the box may not show yet
            std::wstring part(static_cast<std::size_t>(::GetWindowTextLengthW(child)) + 1, L'\0');
            part.resize(static_cast<std::size_t>(
                ::GetWindowTextW(child, part.data(), static_cast<int>(part.size()))));
            text += part + L"\n";
        }
    }
    std::erase(text, L'\r');
    std::erase(text, L'\n');  // names are wrapped anywhere
    return text;
}

RealBox ShowRealBox(HWND owner, const SeenBox& seen) {
    RealBox real;
    lorvex::win32::ModalDialogs dialogs;
    dialogs.onShown = [&](HWND box) {
        wchar_t windowClass[64] = {};
        ::GetClassNameW(box, windowClass, 64);
        real.taskDialog = std::wstring(windowClass) == L"#32770";
        RECT place{};
        ::GetWindowRect(box, &place);
        real.places.push_back(place);
        real.collapsedText = VisibleText(box);
        for (HWND child = ::GetWindow(box, GW_CHILD); child;
             child = ::GetWindow(child, GW_HWNDNEXT)) {
            if (TextOf(child) == "Show details") {
                ::SendMessageW(child, BM_CLICK, 0, 0);
                ::GetWindowRect(box, &place);
                real.places.push_back(place);
                break;
            }
        }
        real.expandedText = VisibleText(box);
        ::SendMessageW(box, real.taskDialog ? TDM_CLICK_BUTTON : WM_COMMAND, IDOK, 0);
    };
    dialogs.ShowMessage(owner, seen.title, seen.text, seen.details);
    return real;
}

// Failures of names of any length, a few or many: the box fits the work area, collapsed
// and opened, and opened it names every failure.
TEST(Win32Window, ResultBoxFitsTheWorkAreaAndOpensOnEveryFailure) {
    struct Case {
        int failures;
        std::size_t nameLength;
        bool taskDialog;  // the summary names them all; else the details open in a box of our own
    };
    for (const Case& c : {Case{3, 200, true}, Case{300, 12, false}}) {
        Window w;
        std::filesystem::create_directories(w.dest);
        std::string map;
        std::vector<std::string> names;
        for (int i = 0; i < c.failures; ++i) {
            std::string name = std::to_string(i) + "-";
            name.resize(c.nameLength, 'x');
            names.push_back(name + ".zip");
            map += name + "=Music / Jazz\n";
            w.WriteArchive(names.back(), "PK");
            WriteFile(w.dest / names.back(), "taken");
        }
        w.WriteMap(map);
        w.form.Show();
        w.FillFields(0);
        w.Click("Command2");
        ASSERT_EQ(w.dialogs.boxes.size(), 1u);
        const RealBox real = ShowRealBox(w.window.Handle(), w.dialogs.boxes[0]);
        EXPECT_EQ(real.taskDialog, c.taskDialog) << c.failures;
        ASSERT_EQ(real.places.size(), c.taskDialog ? 1u : 2u) << c.failures;
        for (const RECT& place : real.places) {
            EXPECT_TRUE(Within(place, WorkArea(w.window.Handle())))
                << place.left << "," << place.top << " " << place.right << "," << place.bottom;
        }
        if (!c.taskDialog) {  // the details open on demand
            EXPECT_EQ(real.collapsedText.find(Widen(names.back())), std::wstring::npos);
        }
        EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                [&](const std::string& name) {
                                    return real.expandedText.find(Widen(name + ": ")) ==
                                           std::wstring::npos;
                                }),
                  0)
            << "failures not shown";
        EXPECT_NE(real.expandedText.find(L" 0 files were successfully found and moved!"),
                  std::wstring::npos);
    }
}

TEST(Win32Window, OpenListIsAsWideAsItsLongestNameWithinTheScreenAndTipsTheChoice) {
    for (const std::size_t length : {std::size_t{60}, std::size_t{600}}) {
        Window w;
        const std::string longest = "Misc. / Time-Access Control " + std::string(length, 'W');
        WriteFile(w.program / "cats.txt", "Music / Jazz\n" + longest + "\n");
        w.form.Form_Load();
        w.form.Show();
        const HWND combo = w.Find("Combo1");
        const HDC dc = ::GetDC(combo);
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageW(combo, WM_GETFONT, 0, 0)));
        SIZE text{};
        const std::wstring wide = Widen(longest);
        ::GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &text);
        ::ReleaseDC(combo, dc);
        const RECT work = WorkArea(w.window.Handle());
        const auto dropped = static_cast<int>(::SendMessageW(combo, CB_GETDROPPEDWIDTH, 0, 0));
        EXPECT_GE(dropped, std::min<int>(text.cx, work.right - work.left)) << length;
        EXPECT_LE(dropped, work.right - work.left) << length;

        ::SendMessageW(combo, CB_SETCURSEL, 1, 0);
        ::SendMessageW(w.window.Handle(), WM_COMMAND, MAKEWPARAM(101, CBN_SELCHANGE),
                       reinterpret_cast<LPARAM>(combo));
        HWND tip = nullptr;
        while ((tip = ::FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr)) &&
               ::GetWindow(tip, GW_OWNER) != w.window.Handle()) {
        }
        ASSERT_NE(tip, nullptr);
        std::wstring shown(2048, L'\0');
        TTTOOLINFOW tool{};
        tool.cbSize = sizeof tool;
        tool.hwnd = w.window.Handle();
        tool.uId = reinterpret_cast<UINT_PTR>(combo);
        tool.lpszText = shown.data();
        ::SendMessageW(tip, TTM_GETTEXTW, shown.size(), reinterpret_cast<LPARAM>(&tool));
        EXPECT_EQ(Narrow(shown.c_str()),
                  longest + "\nCategories from " + Utf8(w.program / "cats.txt"));
    }
}

// The folder pickers open at the field's folder at any length, or at its nearest existing
// parent when lorvex would still create it.
TEST(Win32Window, FolderPickerStartsAtTheNearestFolderThatExists) {
    Window w;
    const std::string root = Utf8(w.root.path());
    std::string deep = root;
    while (deep.size() < 300) {
        deep += "\\" + std::string(40, 'd');
        ASSERT_TRUE(::CreateDirectoryW(lorvex::test::Verbatim(deep).c_str(), nullptr));
    }
    const struct {
        std::string field;
        std::string start;
    } cases[] = {
        {root, root}, {root + "\\new\\newer\\", root}, {root + "/new/", root},
        {deep, deep}, {deep + "\\not yet", deep},      {"Q:\\nowhere", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lorvex::FolderPickerStart(c.field), c.start) << c.field;
    }
    lorvex::test::RemoveLongTree(w.root / std::string(40, 'd'));
}

}  // namespace
