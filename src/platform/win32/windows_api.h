// <windows.h> for the win32 components.  The component layer has members named like Win32
// functions that windows.h turns into A/W macros; those macros are removed here, and the code
// calls the W (or, where the system's interface is ANSI, the A) functions by their full names.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef DeleteFile
#undef MessageBox
#undef OpenSCManager
#undef OpenService
#undef StartService
