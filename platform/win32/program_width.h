// The one place where the 32-bit and the 64-bit Windows program differ. Both
// are built from the same sources and carry the same resources, the same
// exported DlgSetup, the same registry values and dialogs, and write the same
// bytes; only what follows depends on the width of a pointer.
#pragma once

#include <windows.h>
#include <commdlg.h>

#include <cstddef>

// True in the 64-bit (x86_64) program, false in the 32-bit (i686) one.
constexpr bool kIs64BitProgram = sizeof(void*) == 8;

// The file-open request in its classic form, up to and including its
// template name (no places bar, no extended fields). Its window handle,
// instance handle, texts, custom data, hook and template name are pointer
// sized: 76 bytes in the 32-bit program, 136 in the 64-bit one, whose
// pointers are 8 bytes wide and aligned to 8.
constexpr DWORD kFileOpenRequestSize = kIs64BitProgram ? 136 : 76;
static_assert(offsetof(OPENFILENAMEA, pvReserved) == kFileOpenRequestSize,
              "the classic file-open request ends where the extended fields begin");
static_assert(offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR) == kFileOpenRequestSize,
              "the template name is the classic request's last field");

// The three-dimensional control library (ctl3d32.dll) exists for 32-bit
// Windows only. The 32-bit program uses it when the system folder holds it;
// the 64-bit program never looks for it.
constexpr bool kHasThreeDimensionalControls = !kIs64BitProgram;

// The dialog procedure's word and long parameters (WPARAM, LPARAM), its
// result (INT_PTR) and the window handles are pointer sized too: 32 bits in
// the 32-bit program, 64 bits in the 64-bit one. DlgSetup compares the whole word parameter in both,
// so a command with a notification code in its upper bits is never OK.
static_assert(sizeof(WPARAM) == sizeof(void*) && sizeof(LPARAM) == sizeof(void*),
              "message parameters are pointer sized");
