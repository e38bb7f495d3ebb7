// How the native dialog is found from outside: its window class and the
// identifiers of its controls (GetDlgItem), for drivers and tests too.
#pragma once

inline constexpr const wchar_t* kDialogClassName = L"TUpdateQVWin";

enum TDialogControlId {
    kIdButtNext = 101,
    kIdButtExit,
    kIdDownPrecent,
    kIdButtAbort,
    kIdButtUpdate,
    kIdUpdateMemo,
    kIdLabelOnlineUpdate,
    kIdFilesList,
    kIdGroupBox1,
    kIdUpdateEng,
    kIdUpdateChs,
    kIdGroupBox2,
    kIdServer1,
    kIdServer2,
    kIdButton1,
    kIdMemo2,
};
