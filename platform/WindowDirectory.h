// How FindWindowA sees top-level windows: those of this process directly,
// those of other processes of the same user through published files.
#pragma once

#include "Win32.h"

#include <string>

// This process's top-level window (no parent) of that class, and title when
// one is given; tool windows included. nullptr when there is none.
HWND FindLocalTopLevelWindow(const char* className, const char* windowName);

// CreateWindowExA calls this for each top-level window that is not a tool
// window, DestroyWindow undoes it: the window becomes visible to FindWindowA
// in other processes for as long as it exists.
void PublishTopLevelWindow(HWND window, const std::string& className);
void UnpublishTopLevelWindow(HWND window);

// Whether another live process of this user has published a window of that class.
bool PublishedWindowExists(const std::string& className);
