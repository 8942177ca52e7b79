#include "platform/select_card.h"

#include "platform/windows/dialog_library.h"

#include <windows.h>

#include <cstddef>

namespace ombrix::platform {

namespace {

// The record goes to the system's dialog as the SDK's own: same size, same
// offsets, in 32- and 64-bit builds alike.
using SdkRecord = ::OPENCARDNAMEA;
static_assert(sizeof(OPENCARDNAMEA) == sizeof(SdkRecord));
static_assert(offsetof(OPENCARDNAMEA, hwndOwner) == offsetof(SdkRecord, hwndOwner));
static_assert(offsetof(OPENCARDNAMEA, hSCardContext) == offsetof(SdkRecord, hSCardContext));
static_assert(offsetof(OPENCARDNAMEA, lpstrGroupNames) == offsetof(SdkRecord, lpstrGroupNames));
static_assert(offsetof(OPENCARDNAMEA, nMaxGroupNames) == offsetof(SdkRecord, nMaxGroupNames));
static_assert(offsetof(OPENCARDNAMEA, lpstrCardNames) == offsetof(SdkRecord, lpstrCardNames));
static_assert(offsetof(OPENCARDNAMEA, nMaxCardNames) == offsetof(SdkRecord, nMaxCardNames));
static_assert(offsetof(OPENCARDNAMEA, rgguidInterfaces) == offsetof(SdkRecord, rgguidInterfaces));
static_assert(offsetof(OPENCARDNAMEA, cguidInterfaces) == offsetof(SdkRecord, cguidInterfaces));
static_assert(offsetof(OPENCARDNAMEA, lpstrRdr) == offsetof(SdkRecord, lpstrRdr));
static_assert(offsetof(OPENCARDNAMEA, nMaxRdr) == offsetof(SdkRecord, nMaxRdr));
static_assert(offsetof(OPENCARDNAMEA, lpstrCard) == offsetof(SdkRecord, lpstrCard));
static_assert(offsetof(OPENCARDNAMEA, nMaxCard) == offsetof(SdkRecord, nMaxCard));
static_assert(offsetof(OPENCARDNAMEA, lpstrTitle) == offsetof(SdkRecord, lpstrTitle));
static_assert(offsetof(OPENCARDNAMEA, dwFlags) == offsetof(SdkRecord, dwFlags));
static_assert(offsetof(OPENCARDNAMEA, pvUserData) == offsetof(SdkRecord, pvUserData));
static_assert(offsetof(OPENCARDNAMEA, dwShareMode) == offsetof(SdkRecord, dwShareMode));
static_assert(offsetof(OPENCARDNAMEA, dwPreferredProtocols) == offsetof(SdkRecord, dwPreferredProtocols));
static_assert(offsetof(OPENCARDNAMEA, dwActiveProtocol) == offsetof(SdkRecord, dwActiveProtocol));
static_assert(offsetof(OPENCARDNAMEA, lpfnConnect) == offsetof(SdkRecord, lpfnConnect));
static_assert(offsetof(OPENCARDNAMEA, lpfnCheck) == offsetof(SdkRecord, lpfnCheck));
static_assert(offsetof(OPENCARDNAMEA, lpfnDisconnect) == offsetof(SdkRecord, lpfnDisconnect));
static_assert(offsetof(OPENCARDNAMEA, hCardHandle) == offsetof(SdkRecord, hCardHandle));

using DialogEntry = LONG(WINAPI*)(SdkRecord*);

// The system's dialog selects among winscard.dll's readers with a context of
// winscard.dll's, so it serves only when the library runs over that PC/SC.
// Over another one (the test programs' in-process PC/SC, a tool's table) the
// library's own dialog selects.
bool runs_over_winscard() { return pcsc().t1_pci == SCARD_PCI_T1; }

} // namespace

bool run_dialog_library(const char* library, OPENCARDNAMEA& record, LONG& result)
{
    // Only the application's or the system's directory: never the current
    // directory or PATH.
    const HMODULE module = ::LoadLibraryExA(
        library, nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (module == nullptr)
        return false;
    const auto entry = reinterpret_cast<DialogEntry>(
        reinterpret_cast<void*>(::GetProcAddress(module, MAKEINTRESOURCEA(kDialogOrdinal))));
    if (entry != nullptr)
        result = entry(reinterpret_cast<SdkRecord*>(&record));
    ::FreeLibrary(module);
    return entry != nullptr;
}

LONG select_card(OPENCARDNAMEA& record)
{
    LONG result = SCARD_S_SUCCESS;
    if (runs_over_winscard() && run_dialog_library(kDialogLibrary, record, result))
        return result;
    return library_select_card(record);
}

DWORD platform_version() { return ::GetVersion(); }

// A console, not a file, a pipe or the NUL device (which _isatty takes for a terminal).
bool stdin_is_terminal()
{
    DWORD mode = 0;
    return ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

} // namespace ombrix::platform
