#include "app/win32/Win32UpdateView.h"

#include "app/win32/DialogControls.h"
#include "platform/win32/WideText.h"

#include <commctrl.h>

#include <stdexcept>
#include <string>

namespace {

constexpr int kClientWidth = 639;
constexpr int kClientHeight = 356;
// No system menu, hence no title-bar buttons. No WS_CLIPCHILDREN: the group
// frames are hollow and show the background the dialog paints under them.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr int kColumnWidths[TViewFileList::kColumnCount] = {130, 110, 70};

void RegisterWindowClass(HINSTANCE instance)
{
    WNDCLASSW windowClass{};
    if (GetClassInfoW(instance, kDialogClassName, &windowClass))
        return;
    windowClass.lpfnWndProc = DefWindowProcW;  // replaced per window once it exists
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    windowClass.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    windowClass.lpszClassName = kDialogClassName;
    if (!RegisterClassW(&windowClass))
        throw std::runtime_error("Cannot register the window class: system error " + std::to_string(GetLastError()));
}

HFONT CreateDialogFont(int height, int weight)
{
    return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                       CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

}  // namespace

TWin32UpdateView::TWin32UpdateView()
{
    const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    RegisterWindowClass(instance);

    RECT frame{0, 0, kClientWidth, kClientHeight};
    AdjustWindowRectEx(&frame, kStyle, FALSE, kExStyle);
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    RECT screen{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &screen, 0);
    const int left = screen.left + (screen.right - screen.left - width) / 2;
    const int top = screen.top + (screen.bottom - screen.top - height) / 2;
    m_Window = CreateWindowExW(kExStyle, kDialogClassName, L"", kStyle, left, top, width, height, nullptr, nullptr,
                               instance, nullptr);
    if (!m_Window)
        throw std::runtime_error("Cannot create the window: system error " + std::to_string(GetLastError()));
    SetWindowLongPtrW(m_Window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    SetWindowLongPtrW(m_Window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&WindowProc));

    m_Font = CreateDialogFont(11, FW_NORMAL);
    m_HeadingFont = CreateDialogFont(19, FW_BOLD);
    CreateComponents();
}

TWin32UpdateView::~TWin32UpdateView()
{
    if (m_Window)
        DestroyWindow(m_Window);
    DeleteObject(m_HeadingFont);
    DeleteObject(m_Font);
}

HWND TWin32UpdateView::CreateChild(const wchar_t* windowClass, DWORD style, int id, int left, int top, int width,
                                   int height, DWORD exStyle)
{
    // Created in tab order: each child goes below those before it.
    HWND child = CreateWindowExW(exStyle, windowClass, L"", WS_CHILD | WS_VISIBLE | style, left, top, width, height,
                                 m_Window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                 GetModuleHandleW(nullptr), nullptr);
    if (!child)
        throw std::runtime_error("Cannot create control " + std::to_string(id) + ": system error " +
                                 std::to_string(GetLastError()));
    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_Font), FALSE);
    return child;
}

void TWin32UpdateView::CreateComponents()
{
    const DWORD pushButton = WS_TABSTOP | BS_PUSHBUTTON;
    const DWORD memo = WS_TABSTOP | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL;
    const DWORD radio = WS_TABSTOP | BS_AUTORADIOBUTTON;

    m_ButtNext =
        std::make_unique<TWin32Button>(CreateChild(L"BUTTON", pushButton | WS_GROUP, kIdButtNext, 35, 323, 81, 22));
    m_ButtExit = std::make_unique<TWin32Button>(CreateChild(L"BUTTON", pushButton, kIdButtExit, 203, 323, 81, 22));
    m_ButtAbort = std::make_unique<TWin32Button>(CreateChild(L"BUTTON", pushButton, kIdButtAbort, 119, 323, 81, 22));
    m_ButtUpdate = std::make_unique<TWin32Button>(CreateChild(L"BUTTON", pushButton, kIdButtUpdate, 317, 323, 316, 22));
    m_UpdateMemo = std::make_unique<TWin32Memo>(
        CreateChild(L"EDIT", memo | WS_VSCROLL, kIdUpdateMemo, 8, 96, 297, 217, WS_EX_CLIENTEDGE));
    m_FilesList = std::make_unique<TWin32FileList>(
        CreateChild(WC_LISTVIEWW, WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                    kIdFilesList, 317, 152, 316, 161, WS_EX_CLIENTEDGE),
        kColumnWidths);
    // The radio buttons sit on the dialog over their frames, so that their
    // clicks and arrow keys reach it; positions are the frames' plus their own.
    m_UpdateEng = std::make_unique<TWin32RadioButton>(
        CreateChild(L"BUTTON", radio | WS_GROUP, kIdUpdateEng, 9 + 40, 6 + 13, 72, 17), kIdUpdateEng, kIdUpdateChs);
    m_UpdateChs = std::make_unique<TWin32RadioButton>(
        CreateChild(L"BUTTON", radio, kIdUpdateChs, 9 + 160, 6 + 13, 72, 17), kIdUpdateEng, kIdUpdateChs);
    m_Server1 = std::make_unique<TWin32RadioButton>(
        CreateChild(L"BUTTON", radio | WS_GROUP, kIdServer1, 8 + 41, 48 + 15, 97, 17), kIdServer1, kIdServer2);
    m_Server2 = std::make_unique<TWin32RadioButton>(
        CreateChild(L"BUTTON", radio, kIdServer2, 8 + 161, 48 + 15, 97, 17), kIdServer1, kIdServer2);
    m_Button1 =
        std::make_unique<TWin32Button>(CreateChild(L"BUTTON", pushButton | WS_GROUP, kIdButton1, 296, 323, 153, 21));
    // The borderless notice fills its bevel-less panel, which draws nothing.
    m_Memo2 = std::make_unique<TWin32Memo>(CreateChild(L"EDIT", memo, kIdMemo2, 320, 48, 313, 89));
    m_DownPrecent = std::make_unique<TWin32Label>(CreateChild(L"STATIC", SS_LEFT, kIdDownPrecent, 336, 279, 3, 13));
    m_LabelOnlineUpdate =
        std::make_unique<TWin32Label>(CreateChild(L"STATIC", SS_LEFT, kIdLabelOnlineUpdate, 324, 15, 260, 24));
    SendMessageW(m_LabelOnlineUpdate->Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(m_HeadingFont), FALSE);
    // Frames last: below the radio buttons they hold.
    CreateChild(L"BUTTON", BS_GROUPBOX, kIdGroupBox1, 9, 6, 297, 40);
    CreateChild(L"BUTTON", BS_GROUPBOX, kIdGroupBox2, 8, 48, 297, 42);

    ButtNext = m_ButtNext.get();
    ButtExit = m_ButtExit.get();
    DownPrecent = m_DownPrecent.get();
    ButtAbort = m_ButtAbort.get();
    ButtUpdate = m_ButtUpdate.get();
    UpdateMemo = m_UpdateMemo.get();
    LabelOnlineUpdate = m_LabelOnlineUpdate.get();
    FilesList = m_FilesList.get();
    UpdateEng = m_UpdateEng.get();
    UpdateChs = m_UpdateChs.get();
    Server1 = m_Server1.get();
    Server2 = m_Server2.get();
    Button1 = m_Button1.get();
    Memo2 = m_Memo2.get();

}

void TWin32UpdateView::SetCaption(const std::string& text)
{
    m_Caption = text;
    SetWindowTextW(m_Window, AnsiToWide(text).c_str());
}

void TWin32UpdateView::Show()
{
    ShowWindow(m_Window, SW_SHOW);
    UpdateWindow(m_Window);
    if (!m_Shown) {
        m_Shown = true;
        if (OnShow)
            OnShow(*this);
    }
}

void TWin32UpdateView::Close()
{
    if (!m_Window || (OnCloseQuery && !OnCloseQuery(*this)))
        return;
    m_Closing = true;
    DestroyWindow(m_Window);
}

int TWin32UpdateView::Run()
{
    MSG msg{};
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (m_Window && IsDialogMessageW(m_Window, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

void TWin32UpdateView::Clicked(int id)
{
    switch (id) {
    case kIdButtNext: ButtNext->Click(); break;
    case kIdButtExit: ButtExit->Click(); break;
    case kIdButtAbort: ButtAbort->Click(); break;
    case kIdButtUpdate: ButtUpdate->Click(); break;
    case kIdButton1: Button1->Click(); break;
    case kIdUpdateEng: UpdateEng->Click(); break;
    case kIdUpdateChs: UpdateChs->Click(); break;
    case kIdServer1: Server1->Click(); break;
    case kIdServer2: Server2->Click(); break;
    default: break;  // Enter and Escape (IDOK, IDCANCEL) do nothing here
    }
}

LRESULT CALLBACK TWin32UpdateView::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* view = reinterpret_cast<TWin32UpdateView*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (!view)
        return DefWindowProcW(window, message, wParam, lParam);
    return view->HandleMessage(message, wParam, lParam);
}

LRESULT TWin32UpdateView::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED)
            Clicked(LOWORD(wParam));
        return 0;
    case WM_CLOSE:  // Alt+F4 too: the window asks as "&Exit" does
        Close();
        return 0;
    case WM_ACTIVATE:
        // A plain window does not keep its focused control as a dialog does.
        if (LOWORD(wParam) == WA_INACTIVE) {
            if (HWND focus = GetFocus(); focus && IsChild(m_Window, focus))
                m_Focus = focus;
        } else {
            SetFocus(m_Focus && IsWindowVisible(m_Focus) ? m_Focus : m_ButtNext->Handle());
        }
        return 0;
    case WM_CTLCOLORSTATIC: {  // labels, radio buttons and the read-only memos
        const HDC context = reinterpret_cast<HDC>(wParam);
        SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(context, GetSysColor(COLOR_BTNFACE));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_NCDESTROY: {
        const HWND window = m_Window;
        m_Window = nullptr;
        if (m_Closing)
            PostQuitMessage(0);  // the program ends with its window
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(m_Window, message, wParam, lParam);
    }
}

TWindowRunner Win32WindowRunner()
{
    TWindowRunner runner;
    runner.CreateView = [] { return std::make_unique<TWin32UpdateView>(); };
    runner.Run = [](TUpdateView& view) {
        auto& dialog = static_cast<TWin32UpdateView&>(view);
        dialog.Show();
        return dialog.Run();
    };
    return runner;
}
