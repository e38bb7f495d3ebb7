// Where Wine, which runs the Windows build of these tests, differs from
// Windows itself. A check makes allowance for it only where it says so.
#pragma once

// True in a Windows program that runs under Wine.
bool RunningUnderWine();
