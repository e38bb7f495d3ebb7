// The updater's window as a native Win32 dialog: client area 639 x 356,
// dialog frame without title-bar buttons, centred on the screen. Texts are
// shown through the wide-character API from the updater's code page 936.
// The controls start without texts: the logic gives them theirs.
#pragma once

#include "app/StartUp.h"
#include "app/UpdateView.h"
#include "app/win32/Win32Controls.h"
#include "platform/Win32.h"

#include <memory>
#include <string>

class TWin32UpdateView : public TUpdateView {
public:
    TWin32UpdateView();
    ~TWin32UpdateView() override;
    TWin32UpdateView(const TWin32UpdateView&) = delete;
    TWin32UpdateView& operator=(const TWin32UpdateView&) = delete;

    HWND Handle() const { return m_Window; }

    std::string Caption() const override { return m_Caption; }
    void SetCaption(const std::string& text) override;
    void Close() override;

    // Shows the window, raising OnShow the first time.
    void Show();
    // The message loop, with the dialog's keyboard (Tab, arrows, the
    // captions' shortcuts), until the window is closed. Returns the exit code.
    int Run();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreateChild(const wchar_t* windowClass, DWORD style, int id, int left, int top, int width, int height,
                     DWORD exStyle = 0);
    void CreateComponents();
    void Clicked(int id);

    HWND m_Window = nullptr;
    HFONT m_Font = nullptr;
    HFONT m_HeadingFont = nullptr;
    HWND m_Focus = nullptr;  // restored when the window is activated again
    std::string m_Caption;
    bool m_Shown = false;
    bool m_Closing = false;  // destroyed by Close: the program ends

    std::unique_ptr<TWin32Button> m_ButtNext, m_ButtExit, m_ButtAbort, m_ButtUpdate, m_Button1;
    std::unique_ptr<TWin32Label> m_DownPrecent, m_LabelOnlineUpdate;
    std::unique_ptr<TWin32RadioButton> m_UpdateEng, m_UpdateChs, m_Server1, m_Server2;
    std::unique_ptr<TWin32Memo> m_UpdateMemo, m_Memo2;
    std::unique_ptr<TWin32FileList> m_FilesList;
};

// How start-up makes and runs this dialog.
TWindowRunner Win32WindowRunner();
