// Where each control of the native dialog belongs, in its client area, and
// how to read that back from any process.
#pragma once

#include "app/win32/DialogControls.h"
#include "platform/Win32.h"

#include <vector>

struct TExpectedPlace {
    int Id;
    std::vector<LONG> Place;  // left, top, width, height
};

// Radio buttons: their frame's place plus their own within it.
inline const TExpectedPlace kDialogLayout[] = {
    {kIdButtNext, {35, 323, 81, 22}},          {kIdButtExit, {203, 323, 81, 22}},
    {kIdDownPrecent, {336, 279, 3, 13}},       {kIdButtAbort, {119, 323, 81, 22}},
    {kIdButtUpdate, {317, 323, 316, 22}},      {kIdUpdateMemo, {8, 96, 297, 217}},
    {kIdLabelOnlineUpdate, {324, 15, 260, 24}}, {kIdFilesList, {317, 152, 316, 161}},
    {kIdGroupBox1, {9, 6, 297, 40}},           {kIdUpdateEng, {9 + 40, 6 + 13, 72, 17}},
    {kIdUpdateChs, {9 + 160, 6 + 13, 72, 17}}, {kIdGroupBox2, {8, 48, 297, 42}},
    {kIdServer1, {8 + 41, 48 + 15, 97, 17}},   {kIdServer2, {8 + 161, 48 + 15, 97, 17}},
    {kIdButton1, {296, 323, 153, 21}},         {kIdMemo2, {320, 48, 313, 89}},
};

// The control's rectangle in the dialog's client area.
inline std::vector<LONG> PlaceInDialog(HWND dialog, int id)
{
    RECT rect{};
    GetWindowRect(GetDlgItem(dialog, id), &rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

inline SIZE ClientSize(HWND dialog)
{
    RECT client{};
    GetClientRect(dialog, &client);
    return {client.right, client.bottom};
}
