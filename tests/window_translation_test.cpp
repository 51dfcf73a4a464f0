// Window and menu translation over real windows and menus (Win32, under Wine with its null
// graphics driver) and over the UiWindow/UiMenu tree on POSIX: the same cases on both.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kest/lang/language.h"
#include "kest/lang/window_translation.h"
#include "kest/platform/paths.h"
#include "kest/platform/ui.h"
#include "kest/platform/ui_tree.h"
#include "scratch_path.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace {

namespace fs = std::filesystem;
using kest::platform::MenuItemText;
using kest::platform::WholeWindowText;

#if defined(_WIN32)
const wchar_t* W(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

// A real window: top-level when it has no parent. Fails the test, never skips, when none can be
// made (a Wine prefix without the null graphics driver and no display).
class Window {
 public:
  Window(const char16_t* class_name, const char16_t* text, const Window* parent = nullptr) {
    const DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_POPUP;
    handle_ = CreateWindowExW(0, W(class_name), W(text), style, 0, 0, 200, 100,
                              parent ? parent->handle_ : nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    EXPECT_NE(handle_, nullptr) << "no window could be made: is the null graphics driver set?";
  }
  ~Window() { Destroy(); }
  void Destroy() {
    if (handle_ != nullptr) DestroyWindow(handle_);
  }
  HWND Handle() const { return handle_; }

 private:
  HWND handle_ = nullptr;
};

class Menu {
 public:
  Menu() : handle_(CreatePopupMenu()) { EXPECT_NE(handle_, nullptr); }
  ~Menu() {
    // A pop-up attached to an item is destroyed with its parent menu.
    if (!attached_) DestroyMenu(handle_);
  }
  void Append(const char16_t* text, Menu* popup = nullptr) {
    if (popup != nullptr) {
      popup->attached_ = true;
      AppendMenuW(handle_, MF_POPUP | MF_STRING, reinterpret_cast<UINT_PTR>(popup->handle_),
                  W(text));
    } else if (*text == 0) {
      AppendMenuW(handle_, MF_SEPARATOR, 0, nullptr);
    } else {
      AppendMenuW(handle_, MF_STRING, ++ids_, W(text));
    }
  }
  HMENU Handle() const { return handle_; }

 private:
  HMENU handle_;
  bool attached_ = false;
  UINT_PTR ids_ = 100;
};
#else
class Window {
 public:
  Window(const char16_t* class_name, const char16_t* text, const Window* parent = nullptr)
      : widget_(std::make_unique<kest::UiWindow>(class_name, text,
                                                 parent ? parent->widget_.get() : nullptr)) {}
  void Destroy() { widget_.reset(); }
  HWND Handle() const { return widget_ ? widget_->Handle() : nullptr; }

 private:
  std::unique_ptr<kest::UiWindow> widget_;
};

class Menu {
 public:
  void Append(const char16_t* text, Menu* popup = nullptr) {
    menu_.AppendItem(text, popup ? &popup->menu_ : nullptr);
  }
  HMENU Handle() const { return menu_.Handle(); }

 private:
  kest::UiMenu menu_;
};
#endif

std::u16string Text(const Window& window) { return WholeWindowText(window.Handle()); }

class Translation : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = ScratchPath("kest_translate_");
    fs::remove_all(root_);
    fs::create_directories(root_ / "Languages");
    exe_ = (root_ / "host.exe").u16string();
    kest::platform::SetExecutablePathForTesting(exe_.c_str());
    kest::ResetLanguageFolderForTesting();
    std::ofstream(root_ / "Languages" / "lang_de.txt", std::ios::binary)
        << "EN:\"Settings\"\nde:\"Einstellungen\"\n"
           "EN:\"OK\"\nde:\"Gut\"\n"
           "EN:\"Name:\"\nde:\"Name (de):\"\n"
           "EN:\"Deep\"\nde:\"Tief\"\n"
           "EN:\"Typed\"\nde:\"Getippt\"\n"
           "EN:\"Listed\"\nde:\"Gelistet\"\n"
           "EN:\"Assert\"\nde:\"Pruefung\"\n"
           "EN:\"&Open\\tCtrl+O\"\nde:\"\xC3\x96&ffnen\\tStrg+O\"\n"
           "EN:\"&File\"\nde:\"&Datei\"\n"
           "EN:\"More\"\nde:\"Mehr\"\n"
           "EN:\"Inner\"\nde:\"Innen\"\n"
           "EN:\""
        << std::string(3000, 'L') << "\"\nde:\"" << std::string(3000, 'l') << "\"\n";
  }
  void TearDown() override {
    SetLanguage(nullptr);
    kest::platform::SetExecutablePathForTesting(nullptr);
    kest::ResetLanguageFolderForTesting();
    fs::remove_all(root_);
  }

  fs::path root_;
  std::u16string exe_;
};

const std::u16string kLong(3000, u'L'), kLongDe(3000, u'l');

// A dialog: captions and labels at every depth take their translations, input controls keep
// their content, and the remembered English texts are gone afterwards.
TEST_F(Translation, ADialogTranslatesCaptionsAndLabelsButNotInputs) {
  SetLanguage(u"de");
  ASSERT_TRUE(kest::IsTranslating());
  Window dialog(u"Static", u"Settings");
  Window ok(u"Button", u"OK", &dialog), label(u"Static", u"Name:", &dialog);
  Window deep(u"Button", u"Deep", &label), unknown(u"Static", u"No entry", &dialog);
  Window edit(u"Edit", u"Typed", &dialog), list(u"ListBox", u"Listed", &dialog);
  Window combo(u"ComboBox", u"Typed", &dialog), long_label(u"Static", kLong.c_str(), &dialog);
  // Win32 list and combo boxes show their items, not their creation text: they keep what they had.
  const std::u16string list_before = Text(list), combo_before = Text(combo);
  TranslateWindow(dialog.Handle(), false);
  const struct {
    const Window& window;
    std::u16string expected;
  } cases[] = {{dialog, u"Einstellungen"}, {ok, u"Gut"},           {label, u"Name (de):"},
               {deep, u"Tief"},            {unknown, u"No entry"}, {edit, u"Typed"},
               {list, list_before},        {combo, combo_before},  {long_label, kLongDe}};
  for (const auto& c : cases) EXPECT_TRUE(Text(c.window) == c.expected) << c.expected.size();
  EXPECT_EQ(kest::RememberedWindowTexts(), 0u);

  // Only the window itself when its descendants are left alone.
  Window again(u"Static", u"OK"), child(u"Button", u"OK", &again);
  TranslateWindow(again.Handle(), true);
  EXPECT_EQ(Text(again), u"Gut");
  EXPECT_EQ(Text(child), u"OK");
}

// Inputs, and the assertion box, stay as they are with everything under them, in any case.
TEST_F(Translation, InputsAndTheAssertionBoxKeepTheirWholeTree) {
  SetLanguage(u"de");
  const struct {
    const char16_t* class_name;
    const char16_t* text;
  } tops[] = {{u"Edit", u"OK"},       {u"ListBox", u"OK"},    {u"ComboBox", u"OK"},
              {u"Static", u"ASSERT"}, {u"Static", u"Assert"}, {u"Button", u"aSsErT"}};
  for (const auto& top : tops) {
    Window window(top.class_name, top.text), child(u"Button", u"OK", &window);
    const std::u16string before = Text(window);
    TranslateWindow(window.Handle(), false);
    EXPECT_EQ(Text(window), before);
    EXPECT_EQ(Text(child), u"OK");
  }
#if !defined(_WIN32)
  // Class names are compared ignoring case (Win32 reports the registered spelling).
  Window lower(u"listbox", u"OK");
  TranslateWindow(lower.Handle(), false);
  EXPECT_EQ(Text(lower), u"OK");
#endif
}

// No language, a null window and a destroyed one change nothing; a null window in particular does
// not reach the desktop's top-level windows.
TEST_F(Translation, NoLanguageNullAndDeadWindowsChangeNothing) {
  Window dialog(u"Static", u"Settings"), ok(u"Button", u"OK", &dialog);
  TranslateWindow(dialog.Handle(), false);
  EXPECT_EQ(Text(dialog), u"Settings");
  EXPECT_EQ(Text(ok), u"OK");

  SetLanguage(u"de");
  Window dead(u"Static", u"Settings");
  const HWND handle = dead.Handle();
  dead.Destroy();
  for (HWND window : {HWND{}, handle}) {
    TranslateWindow(window, false);
    TranslateWindow(window, true);
  }
  EXPECT_EQ(Text(dialog), u"Settings") << "a top-level window was reached";
}

// A menu of twelve items: the pop-ups of the first ten are translated first, that of the eleventh
// is not (its own text is); separators stay; texts are looked up whole, '&' and tab included.
TEST_F(Translation, MenusVisitPopupsOfTheFirstTenItemsOnly) {
  Menu first_popup, late_popup, nested;
  nested.Append(u"Inner");
  first_popup.Append(u"Inner");
  first_popup.Append(u"Deep", &nested);
  late_popup.Append(u"Inner");
  Menu menu;
  menu.Append(u"&File", &first_popup);
  menu.Append(u"&Open\tCtrl+O");
  menu.Append(u"");
  menu.Append(kLong.c_str());
  for (int i = 4; i < 10; ++i) menu.Append(u"No entry");
  menu.Append(u"More", &late_popup);
  menu.Append(u"OK");

  // Without a language every item is set to its own text.
  TranslateMenu(CMenu::FromHandle(menu.Handle()));
  EXPECT_EQ(MenuItemText(menu.Handle(), 0), u"&File");

  SetLanguage(u"de");
  TranslateMenu(CMenu::FromHandle(menu.Handle()));
  const struct {
    const Menu& menu;
    int position;
    std::u16string expected;
  } cases[] = {{menu, 0, u"&Datei"},
               {menu, 1, u"\u00D6&ffnen\tStrg+O"},
               {menu, 2, u""},
               {menu, 3, kLongDe},
               {menu, 9, u"No entry"},
               {menu, 10, u"Mehr"},
               {menu, 11, u"Gut"},
               {first_popup, 0, u"Innen"},
               {first_popup, 1, u"Tief"},
               {nested, 0, u"Innen"},
               {late_popup, 0, u"Inner"}};
  for (const auto& c : cases)
    EXPECT_TRUE(MenuItemText(c.menu.Handle(), c.position) == c.expected) << c.position;
  EXPECT_EQ(kest::platform::MenuItemCount(menu.Handle()), 12);
  EXPECT_EQ(kest::platform::SubMenuAt(menu.Handle(), 2), nullptr) << "the separator stays one";

  TranslateMenu(nullptr);
  EXPECT_EQ(CMenu::FromHandle(nullptr), nullptr);
  EXPECT_EQ(CMenu::FromHandle(menu.Handle()), CMenu::FromHandle(menu.Handle()));
}

}  // namespace
