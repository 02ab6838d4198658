// Windows-only checks, run under Wine with a display (dialog_test.sh):
//  - the DLGCONVTEMPL template in the executable, byte by byte;
//  - a status dialog created from it with DlgSetup: position and size from the
//    template, focus in the input field, OK, Cancel, the reset of the result;
//  - the message pump and the status line with and without a window;
//  - the x87 and SSE control words set by PlatformInitialiseArithmetic.
// Usage: dialog_test.exe <path of vm-fits.exe> [gtest options]
//        dialog_test.exe --show   (the dialog for key strokes from outside)
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/run_context.h"
#include "platform/platform.h"

extern "C" INT_PTR CALLBACK DlgSetup(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

namespace {

std::string gExecutablePath;  // the converter whose resources are checked

// ---------------------------------------------------------------- template

struct ControlTemplate {
    uint32_t style;
    uint32_t exStyle;
    int16_t x, y, cx, cy;
    uint16_t id;
    std::string className;  // "#129" for a class given by its ordinal
    std::string text;
    uint16_t creationDataSize;
};

struct DialogTemplate {
    uint32_t style;
    uint32_t exStyle;
    uint16_t controlCount;
    int16_t x, y, cx, cy;
    std::string menu, className, caption;
    uint16_t pointSize;
    std::string fontName;
    std::vector<ControlTemplate> controls;
    std::size_t parsedBytes;
};

// Reads the standard (not extended) dialog template form field by field.
class TemplateReader {
public:
    TemplateReader(const uint8_t* bytes, std::size_t size) : bytes_(bytes), size_(size) {}
    bool ok() const { return ok_; }
    std::size_t position() const { return position_; }
    uint16_t Word() {
        if (position_ + 2 > size_) {
            ok_ = false;
            return 0;
        }
        const uint16_t value = static_cast<uint16_t>(bytes_[position_] | bytes_[position_ + 1] << 8);
        position_ += 2;
        return value;
    }
    uint32_t Dword() {
        const uint32_t low = Word();
        return low | static_cast<uint32_t>(Word()) << 16;
    }
    // A zero-terminated UTF-16 text (ASCII expected), or 0xFFFF and an ordinal.
    std::string TextOrOrdinal() {
        uint16_t first = Word();
        if (first == 0xFFFF) return "#" + std::to_string(Word());
        std::string text;
        for (uint16_t c = first; ok_ && c != 0; c = Word()) text += c < 128 ? char(c) : '?';
        return text;
    }
    void AlignToDword() { position_ = (position_ + 3) & ~std::size_t(3); }

private:
    const uint8_t* bytes_;
    std::size_t size_;
    std::size_t position_ = 0;
    bool ok_ = true;
};

bool ParseDialogTemplate(const uint8_t* bytes, std::size_t size, DialogTemplate& dialog) {
    TemplateReader in(bytes, size);
    dialog.style = in.Dword();
    dialog.exStyle = in.Dword();
    dialog.controlCount = in.Word();
    dialog.x = static_cast<int16_t>(in.Word());
    dialog.y = static_cast<int16_t>(in.Word());
    dialog.cx = static_cast<int16_t>(in.Word());
    dialog.cy = static_cast<int16_t>(in.Word());
    dialog.menu = in.TextOrOrdinal();
    dialog.className = in.TextOrOrdinal();
    dialog.caption = in.TextOrOrdinal();
    dialog.pointSize = 0;
    if (dialog.style & DS_SETFONT) {
        dialog.pointSize = in.Word();
        dialog.fontName = in.TextOrOrdinal();
    }
    for (int i = 0; i < dialog.controlCount && in.ok(); ++i) {
        in.AlignToDword();
        ControlTemplate control;
        control.style = in.Dword();
        control.exStyle = in.Dword();
        control.x = static_cast<int16_t>(in.Word());
        control.y = static_cast<int16_t>(in.Word());
        control.cx = static_cast<int16_t>(in.Word());
        control.cy = static_cast<int16_t>(in.Word());
        control.id = in.Word();
        control.className = in.TextOrOrdinal();
        control.text = in.TextOrOrdinal();
        control.creationDataSize = in.Word();
        dialog.controls.push_back(control);
    }
    dialog.parsedBytes = in.position();
    return in.ok();
}

// The template as the named, language-neutral dialog resource of `module`.
bool LoadConverterTemplate(HMODULE module, DialogTemplate& dialog, std::string& why) {
    HRSRC resource = FindResourceExA(module, MAKEINTRESOURCEA(5) /* RT_DIALOG */, "DLGCONVTEMPL",
                                     MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL));
    if (!resource) {
        why = "no language-neutral dialog resource named DLGCONVTEMPL";
        return false;
    }
    HGLOBAL loaded = LoadResource(module, resource);
    const void* bytes = loaded ? LockResource(loaded) : nullptr;
    if (!bytes) {
        why = "resource cannot be loaded";
        return false;
    }
    const DWORD size = SizeofResource(module, resource);
    if (!ParseDialogTemplate(static_cast<const uint8_t*>(bytes), size, dialog)) {
        why = "template runs past the resource's end";
        return false;
    }
    if (dialog.parsedBytes != size) {
        why = "template has " + std::to_string(size) + " bytes, parsed " +
              std::to_string(dialog.parsedBytes);
        return false;
    }
    return true;
}

constexpr uint32_t kVisibleChild = WS_CHILD | WS_VISIBLE;
constexpr uint32_t kStaticGroup = kVisibleChild | WS_GROUP;

struct ExpectedControl {
    uint16_t id;
    const char* className;
    uint32_t style;
    int16_t x, y, cx, cy;
    const char* text;
};

const ExpectedControl kExpectedControls[] = {
    {100, "static", kStaticGroup | SS_CENTER, 6, 2, 182, 12, ""},
    {101, "edit", kVisibleChild | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 63, 18, 125, 13, ""},
    {65535, "static", kStaticGroup | SS_WHITERECT | WS_BORDER, 5, 36, 184, 80, ""},
    {102, "static", kStaticGroup | SS_LEFT, 8, 40, 178, 12, ""},
    {65535, "static", kStaticGroup | SS_LEFT, 0, 120, 73, 12, " <Enter> - OK"},
    {65535, "static", kStaticGroup | SS_RIGHT, 121, 120, 73, 12, "Press <ESC> to abort "},
    {107, "static", kStaticGroup | SS_RIGHT, 6, 20, 54, 12, ""},
    {103, "static", kStaticGroup | SS_LEFT, 8, 55, 178, 12, ""},
    {104, "static", kStaticGroup | SS_LEFT, 8, 70, 178, 12, ""},
    {105, "static", kStaticGroup | SS_LEFT, 8, 85, 178, 12, ""},
    {106, "static", kStaticGroup | SS_LEFT, 8, 100, 178, 12, ""},
};

// A predefined class may be written by name (any case) or by its ordinal.
bool IsClass(const std::string& actual, const char* expected) {
    if (actual == "#129") return std::strcmp(expected, "edit") == 0;
    if (actual == "#130") return std::strcmp(expected, "static") == 0;
    return lstrcmpiA(actual.c_str(), expected) == 0;
}

void ExpectTemplateAsDesigned(HMODULE module) {
    DialogTemplate dialog;
    std::string why;
    ASSERT_TRUE(LoadConverterTemplate(module, dialog, why)) << why;
    EXPECT_EQ(dialog.style, static_cast<uint32_t>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU |
                                                  DS_MODALFRAME | DS_SETFONT));
    EXPECT_EQ(dialog.exStyle, 0u);
    EXPECT_EQ(dialog.x, 13);
    EXPECT_EQ(dialog.y, 67);
    EXPECT_EQ(dialog.cx, 194);
    EXPECT_EQ(dialog.cy, 132);
    EXPECT_EQ(dialog.menu, "");
    EXPECT_EQ(dialog.className, "");
    EXPECT_EQ(dialog.caption, "Convertor Velmor =>Trevalo");
    EXPECT_EQ(dialog.pointSize, 8);
    EXPECT_EQ(dialog.fontName, "MS Sans Serif");
    ASSERT_EQ(dialog.controlCount, 11);
    ASSERT_EQ(dialog.controls.size(), 11u);
    for (std::size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlTemplate& actual = dialog.controls[i];
        const ExpectedControl& expected = kExpectedControls[i];
        SCOPED_TRACE("control " + std::to_string(i + 1));
        EXPECT_EQ(actual.id, expected.id);
        EXPECT_TRUE(IsClass(actual.className, expected.className)) << actual.className;
        EXPECT_EQ(actual.style, expected.style) << std::hex << actual.style;
        EXPECT_EQ(actual.exStyle, 0u);
        EXPECT_EQ(actual.x, expected.x);
        EXPECT_EQ(actual.y, expected.y);
        EXPECT_EQ(actual.cx, expected.cx);
        EXPECT_EQ(actual.cy, expected.cy);
        EXPECT_EQ(actual.text, expected.text);
        EXPECT_EQ(actual.creationDataSize, 0);
    }
}

TEST(DialogTemplate, ConverterExecutableHoldsItAsDesigned) {
    ASSERT_FALSE(gExecutablePath.empty()) << "usage: dialog_test.exe <vm-fits.exe>";
    HMODULE module = LoadLibraryExA(gExecutablePath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr) << gExecutablePath;
    ExpectTemplateAsDesigned(module);
    // The application icon is there too.
    EXPECT_NE(FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(14) /* RT_GROUP_ICON */),
              nullptr);
    FreeLibrary(module);
}

TEST(DialogTemplate, TestProgramHoldsTheSameTemplate) {
    // The dialogs below are created from this program's own copy.
    ExpectTemplateAsDesigned(GetModuleHandleA(nullptr));
}

// ---------------------------------------------------------------- dialog

// Serves everything waiting for this thread's windows.
void Drain(HWND dialog) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (!IsDialogMessageA(dialog, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
}

// The run record the dialog procedure serves in these tests.
RunContext dialogRecord;

class StatusDialog : public ::testing::Test {
protected:
    void SetUp() override {
        dialogRecord.dialogResult = 0;
        dialogRecord.statusText.clear();
        dialog_ = CreateDialogA(GetModuleHandleA(nullptr), "DLGCONVTEMPL", nullptr, DlgSetup);
        ASSERT_NE(dialog_, nullptr) << "CreateDialogA failed: " << GetLastError();
        Drain(dialog_);
    }
    void TearDown() override {
        if (dialog_ && IsWindow(dialog_)) DestroyWindow(dialog_);
    }
    HWND Edit() const { return GetDlgItem(dialog_, 101); }
    // A key as the dialog manager sees it when the input field has the focus.
    BOOL PressKey(WPARAM key) {
        MSG message = {};
        message.hwnd = Edit();
        message.message = WM_KEYDOWN;
        message.wParam = key;
        message.lParam = 1;
        return IsDialogMessageA(dialog_, &message);
    }
    HWND dialog_ = nullptr;
};

TEST_F(StatusDialog, KeepsThePositionAndSizeOfTheTemplate) {
    RECT expected = {13, 67, 13 + 194, 67 + 132};  // client area, dialog units
    ASSERT_TRUE(MapDialogRect(dialog_, &expected));
    RECT client;
    ASSERT_TRUE(GetClientRect(dialog_, &client));
    EXPECT_EQ(client.right - client.left, expected.right - expected.left);
    EXPECT_EQ(client.bottom - client.top, expected.bottom - expected.top);
    POINT origin = {0, 0};
    ClientToScreen(dialog_, &origin);
    EXPECT_EQ(origin.x, expected.left);
    EXPECT_EQ(origin.y, expected.top);
    RECT window;
    ASSERT_TRUE(GetWindowRect(dialog_, &window));
    EXPECT_FALSE(window.right - window.left == 200 && window.bottom - window.top == 200);
    EXPECT_TRUE(IsWindowVisible(dialog_));
    char caption[64] = {0};
    GetWindowTextA(dialog_, caption, sizeof caption);
    EXPECT_STREQ(caption, "Convertor Velmor =>Trevalo");
}

TEST_F(StatusDialog, FocusIsInTheInputField) {
    EXPECT_EQ(GetFocus(), Edit());
}

TEST_F(StatusDialog, OkTakesAtMost129CharactersOfTheInputField) {
    std::string typed;
    for (int i = 0; i < 140; ++i) typed += static_cast<char>('A' + i % 26);
    ASSERT_TRUE(SetDlgItemTextA(dialog_, 101, typed.c_str()));
    dialogRecord.statusText = "previous status";

    // Enter, through the dialog manager, becomes WM_COMMAND IDOK.
    EXPECT_TRUE(PressKey(VK_RETURN));
    EXPECT_EQ(dialogRecord.dialogResult, 1);
    EXPECT_EQ(dialogRecord.statusText, typed.substr(0, 129));

    // The next message, whatever it is, resets the result.
    SendMessageA(dialog_, WM_NULL, 0, 0);
    EXPECT_EQ(dialogRecord.dialogResult, 0);
    EXPECT_EQ(dialogRecord.statusText, typed.substr(0, 129));

    // The same through the procedure directly: handled, result 1.
    SetDlgItemTextA(dialog_, 101, "short");
    EXPECT_EQ(DlgSetup(dialog_, WM_COMMAND, IDOK, 0), TRUE);
    EXPECT_EQ(dialogRecord.dialogResult, 1);
    EXPECT_EQ(dialogRecord.statusText, "short");
}

TEST_F(StatusDialog, EscapeGivesThree) {
    EXPECT_TRUE(PressKey(VK_ESCAPE));
    EXPECT_EQ(dialogRecord.dialogResult, 3);
    EXPECT_TRUE(IsWindow(dialog_));  // the procedure does not close the window
    EXPECT_EQ(DlgSetup(dialog_, WM_COMMAND, IDCANCEL, 0), TRUE);
    EXPECT_EQ(dialogRecord.dialogResult, 3);
}

TEST_F(StatusDialog, CommandWithANotificationCodeIsNeitherOkNorCancel) {
    SetDlgItemTextA(dialog_, 101, "typed");
    dialogRecord.statusText = "kept";
    // The whole word parameter counts: also the upper half of a 64-bit one.
    for (WPARAM wParam : {WPARAM(MAKEWPARAM(IDOK, 1)), WPARAM(MAKEWPARAM(IDCANCEL, 1)),
                          WPARAM(IDOK) | (~WPARAM(0) << 16), WPARAM(IDCANCEL) | (~WPARAM(0) << 31),
                          WPARAM(MAKEWPARAM(IDOK, EN_CHANGE)), WPARAM(101)}) {
        dialogRecord.dialogResult = 3;
        EXPECT_EQ(DlgSetup(dialog_, WM_COMMAND, wParam, 0), FALSE) << wParam;
        EXPECT_EQ(dialogRecord.dialogResult, 0) << wParam;
    }
    EXPECT_EQ(dialogRecord.statusText, "kept");
}

TEST_F(StatusDialog, EveryMessageResetsTheResult) {
    for (UINT message : {UINT(WM_NULL), UINT(WM_PAINT), UINT(WM_USER), UINT(WM_KEYDOWN)}) {
        dialogRecord.dialogResult = 1;
        EXPECT_EQ(DlgSetup(dialog_, message, 0, 0), FALSE) << message;
        EXPECT_EQ(dialogRecord.dialogResult, 0) << message;
    }
    dialogRecord.dialogResult = 1;
    EXPECT_EQ(DlgSetup(dialog_, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(dialogRecord.dialogResult, 0);
}

TEST_F(StatusDialog, InitDialogOnlyRaisesTheWindow) {
    RECT before, after;
    GetWindowRect(dialog_, &before);
    EXPECT_EQ(DlgSetup(dialog_, WM_INITDIALOG, 0, 0), TRUE);
    GetWindowRect(dialog_, &after);
    EXPECT_TRUE(EqualRect(&before, &after));
}

TEST_F(StatusDialog, PumpServesKeysAndStatusLineShowsText) {
    // Keys posted to the input field reach the procedure through the pump.
    SetDlgItemTextA(dialog_, 101, "from the pump");
    Drain(dialog_);
    ASSERT_TRUE(PostMessageA(Edit(), WM_KEYDOWN, VK_RETURN, 1));
    PlatformPumpMessages(dialog_);
    EXPECT_EQ(dialogRecord.statusText, "from the pump");
    MSG left;
    EXPECT_FALSE(PeekMessageA(&left, nullptr, 0, 0, PM_NOREMOVE)) << "pump left messages";

    ASSERT_TRUE(PostMessageA(Edit(), WM_KEYDOWN, VK_ESCAPE, 1));
    PlatformPumpMessages(dialog_);
    EXPECT_TRUE(IsWindow(dialog_));

    PlatformShowStatus(dialog_, "Can't open Z:\\obs\\al3");
    char shown[130] = {0};
    GetDlgItemTextA(dialog_, 100, shown, sizeof shown);
    EXPECT_STREQ(shown, "Can't open Z:\\obs\\al3");

    PlatformDestroyWindow(dialog_);
    EXPECT_FALSE(IsWindow(dialog_));
    dialog_ = nullptr;
}

TEST(NoStatusDialog, PumpAndStatusLineDoNothing) {
    // A message waiting for the thread stays in the queue: the pump returns at once.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread has a queue
    ASSERT_TRUE(PostThreadMessageA(GetCurrentThreadId(), WM_USER + 7, 0, 0));
    PlatformPumpMessages(nullptr);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_USER + 7, WM_USER + 7, PM_REMOVE));
    EXPECT_EQ(message.message, static_cast<UINT>(WM_USER + 7));

    dialogRecord.statusText = "unchanged";
    PlatformShowStatus(nullptr, "Can't open nothing");
    PlatformDestroyWindow(nullptr);
    EXPECT_EQ(dialogRecord.statusText, "unchanged");
}

// ---------------------------------------------------------------- arithmetic

unsigned short X87ControlWord() {
    unsigned short control = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(control));
    return control;
}

void SetX87ControlWord(unsigned short control) {
    __asm__ __volatile__("fldcw %0" : : "m"(control));
}

unsigned int SseControlWord() {
    unsigned int control = 0;
    __asm__ __volatile__("stmxcsr %0" : "=m"(control));
    return control;
}

void SetSseControlWord(unsigned int control) {
    __asm__ __volatile__("ldmxcsr %0" : : "m"(control));
}

// 1 + 2^-63 survives only with a 64-bit significand.
bool SumKeepsTheLastBit() {
    volatile long double one = 1.0L;
    volatile long double tiny = std::ldexp(1.0L, -63);
    volatile long double sum = one + tiny;
    return sum != one && sum - one == tiny;
}

TEST(Arithmetic, X87ComputesWithA64BitSignificand) {
    // Start from the 53-bit precision other runtimes set, rounding toward zero.
    SetX87ControlWord(0x0E7F);
    EXPECT_FALSE(SumKeepsTheLastBit()) << "the check cannot tell the precisions apart";
    PlatformInitialiseArithmetic();
    EXPECT_EQ(X87ControlWord() & 0x0F00, 0x0300);  // 64-bit, to nearest
    EXPECT_EQ(X87ControlWord() & 0x003F, 0x003F);  // exceptions stay masked
    EXPECT_TRUE(SumKeepsTheLastBit());
    // Rounding to nearest: 1 + 3 * 2^-64 lies halfway between 1 + 2^-63 and
    // 1 + 2^-62 and goes to the even one (toward zero would give the lower).
    volatile long double one = 1.0L;
    volatile long double part = 3.0L * std::ldexp(1.0L, -64);
    volatile long double sum = one + part;
    EXPECT_EQ(sum, 1.0L + std::ldexp(1.0L, -62));
}

TEST(Arithmetic, SseRoundsToNearestWithoutFlushing) {
    SetSseControlWord(SseControlWord() | 0x6000 | 0x8000 | 0x0040);  // toward zero, FTZ, DAZ
    PlatformInitialiseArithmetic();
    EXPECT_EQ(SseControlWord() & (0x6000 | 0x8000 | 0x0040), 0u);
    volatile float smallest = std::ldexp(1.0f, -149);  // the least denormal
    volatile float doubled = smallest * 2.0f;
    EXPECT_NE(doubled, 0.0f);
    volatile float third = 1.0f / 3.0f;
    EXPECT_EQ(third, 0x1.555556p-2f);  // rounded to nearest, not truncated
}

// ---------------------------------------------------------------- by hand

// Set when the procedure has left the result at 3 after a message.
bool gSawCancel = false;

LRESULT CALLBACK WatchResult(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && dialogRecord.dialogResult == 3) gSawCancel = true;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// The status dialog served by the converter's message pump for real key
// strokes from outside (dialog_test.sh types text, Enter and Escape). Prints
// what the procedure took; succeeds when it saw the text and the Escape.
int ShowStatusDialog() {
    HWND dialog = CreateDialogA(GetModuleHandleA(nullptr), "DLGCONVTEMPL", nullptr, DlgSetup);
    if (!dialog) return 2;
    PlatformShowStatus(dialog, "Can't open Z:\\obs\\al3");
    HHOOK hook = SetWindowsHookExA(WH_CALLWNDPROCRET, WatchResult, nullptr, GetCurrentThreadId());
    const DWORD start = GetTickCount();
    while (!gSawCancel && GetTickCount() - start < 60000) {
        PlatformPumpMessages(dialog);
        Sleep(10);
    }
    if (hook) UnhookWindowsHookEx(hook);
    std::printf("status text: [%s]\nescape: %s\n", dialogRecord.statusText.c_str(),
                gSawCancel ? "yes" : "no");
    std::fflush(stdout);
    PlatformDestroyWindow(dialog);
    return gSawCancel ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    gDialogContext = &dialogRecord;
    if (argc > 1 && std::strcmp(argv[1], "--show") == 0) return ShowStatusDialog();
    ::testing::InitGoogleTest(&argc, argv);
    if (argc > 1) gExecutablePath = argv[1];
    return RUN_ALL_TESTS();
}
