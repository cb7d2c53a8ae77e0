#include "shell.h"
#include "../desktop/program.h"
#include "../desktop/desktop.h"

static const char SINGLE_INSTANCE_MUTEX[] = "QeSorvane";
static const char REGISTER_FAILED[] = "ウィンドウの登録に失敗しました。";
static const char CREATE_FAILED[] = "ウィンドウの作成に失敗しました。";

static HANDLE singleInstanceMutex;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    // A second start in the same logon ends silently; the running instance
    // is not told anything.
    singleInstanceMutex = CreateMutexA(NULL, FALSE, SINGLE_INSTANCE_MUTEX);
    if (singleInstanceMutex && GetLastError() == ERROR_ALREADY_EXISTS)
        return 0;

    if (!register_main_window_class(instance)) {
        message_box(NULL, REGISTER_FAILED, MAIN_WINDOW_TITLE, MB_OK | MB_ICONERROR);
        return 0;
    }
    programInstance = instance;
    // Help and the settings dialog's help button open documents here.
    int shellReady = shell_thread_begin();

    // Creating the window runs the whole start-up (init_shell) before
    // CreateWindowExA returns; a start-up that failed destroys the window.
    HWND window = CreateWindowExA(0, MAIN_WINDOW_CLASS, MAIN_WINDOW_TITLE, WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  NULL, NULL, instance, NULL);
    if (!window) {
        message_box(NULL, CREATE_FAILED, MAIN_WINDOW_TITLE, MB_OK | MB_ICONERROR);
        shell_thread_end(shellReady);
        return 0;
    }
    ShowWindow(window, SW_HIDE);

    // GetMessageA gives -1 on an invalid call; that ends the loop too
    // rather than spinning on it. Every way out ends with exit code 0.
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    UnregisterClassA(MAIN_WINDOW_CLASS, instance);
    shell_thread_end(shellReady);
    ReleaseMutex(singleInstanceMutex);
    return 0;
}

// The program's entry, in place of the C runtime's start-up code, which
// brings about a sixth of the program's size for what it does not use:
// static constructors (there are none; the build checks), command-line
// arguments, run-time relocation of imported data (there is none; the build
// checks), thread-local storage. The C runtime's functions come from its
// DLL, which starts itself. The stack is aligned here because the system
// calls the entry with the alignment of its own convention.
extern "C" __attribute__((force_align_arg_pointer)) void __stdcall sorvane_entry(void)
{
    ExitProcess((UINT)WinMain((HINSTANCE)GetModuleHandleA(NULL), NULL, GetCommandLineA(), SW_SHOWDEFAULT));
}

// Named by the list of run-time relocations that the linker always makes;
// that list is empty (the build checks), so there is nothing to do.
extern "C" void _pei386_runtime_relocator(void)
{
}
