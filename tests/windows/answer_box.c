/* A helper of the Windows end-to-end tests: finds the agent's message boxes
 * and hidden window and acts on them as an operator would.
 *
 *   answer_box box <caption> <ok|yes|no> [timeout-ms [text-fragment]]
 *       waits for the message box ("#32770") with that caption (and a text
 *       holding the fragment), prints its text on standard output, presses
 *       the button (posts its command) and waits until the box has gone.
 *   answer_box wait-box <caption> [timeout-ms [text-fragment]]
 *       waits for the box and prints its text, pressing nothing.
 *   answer_box no-box <caption>
 *       exits 0 when no such box is open, 1 when one is.
 *   answer_box window <class> [timeout-ms]
 *       waits for a top-level window of that class (hidden ones included).
 *   answer_box command <class> <id>
 *       posts WM_COMMAND id to that window.
 *   answer_box close <class>
 *       posts WM_CLOSE to that window, as a shutdown or a task manager's
 *       "end task" does.
 *   answer_box tray <class> <icon-id>
 *       exits 0 when the window has that notification icon in the tray (the
 *       shell accepts a modification only of an icon it holds).
 *
 * Exit code 0 on success, 1 when the window was not found in time, 2 on a
 * usage error. */
#include <windows.h>
/* shellapi.h needs the types of windows.h first. */
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct BoxSearch {
  const char* caption;
  const char* fragment; /* NULL: any text */
  HWND found;
};

static BOOL CALLBACK MatchBox(HWND window, LPARAM data) {
  struct BoxSearch* search = (struct BoxSearch*)data;
  char name[256] = {0};
  char text[4096] = {0};
  if (!GetClassNameA(window, name, sizeof name) || strcmp(name, "#32770") != 0) return TRUE;
  GetWindowTextA(window, name, sizeof name);
  if (strcmp(name, search->caption) != 0) return TRUE;
  /* The text of a message box is its static control with id 0xFFFF. */
  GetDlgItemTextA(window, 0xFFFF, text, sizeof text);
  if (search->fragment != NULL && strstr(text, search->fragment) == NULL) return TRUE;
  search->found = window;
  return FALSE;
}

/* The open box with that caption whose text holds fragment, waiting up to
 * timeoutMs; polling the window list, the box is awaited, never guessed. */
static HWND WaitForBox(const char* caption, const char* fragment, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    struct BoxSearch search = {caption, fragment, NULL};
    EnumWindows(MatchBox, (LPARAM)&search);
    if (search.found != NULL) return search.found;
    if (GetTickCount() - start >= timeoutMs) return NULL;
    Sleep(20);
  }
}

static HWND WaitForWindow(const char* className, const char* caption, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    HWND window = FindWindowA(className, caption);
    if (window != NULL) return window;
    if (GetTickCount() - start >= timeoutMs) return NULL;
    Sleep(20);
  }
}

static void PrintBoxText(HWND box) {
  char text[4096] = {0};
  /* The text of a message box is its static control with id 0xFFFF. */
  GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  fputs(text, stdout);
  fflush(stdout);
}

static DWORD Timeout(int argc, char** argv, int index) {
  return argc > index ? (DWORD)strtoul(argv[index], NULL, 10) : 20000;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  /* A box's text is reported byte for byte, line feeds unchanged. */
  _setmode(_fileno(stdout), _O_BINARY);
  const char* mode = argv[1];
  if (strcmp(mode, "box") == 0 && argc >= 4) {
    int button;
    if (strcmp(argv[3], "ok") == 0) {
      button = IDOK;
    } else if (strcmp(argv[3], "yes") == 0) {
      button = IDYES;
    } else if (strcmp(argv[3], "no") == 0) {
      button = IDNO;
    } else {
      return 2;
    }
    DWORD timeout = Timeout(argc, argv, 4);
    HWND box = WaitForBox(argv[2], argc > 5 ? argv[5] : NULL, timeout);
    if (box == NULL) return 1;
    PrintBoxText(box);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), (LPARAM)GetDlgItem(box, button));
    /* Done only when the box has gone, so the next search cannot find it. */
    DWORD start = GetTickCount();
    while (IsWindow(box)) {
      if (GetTickCount() - start >= timeout) return 1;
      Sleep(20);
    }
    return 0;
  }
  if (strcmp(mode, "wait-box") == 0) {
    HWND box = WaitForBox(argv[2], argc > 4 ? argv[4] : NULL, Timeout(argc, argv, 3));
    if (box == NULL) return 1;
    PrintBoxText(box);
    return 0;
  }
  if (strcmp(mode, "no-box") == 0) {
    return WaitForBox(argv[2], NULL, 0) == NULL ? 0 : 1;
  }
  if (strcmp(mode, "window") == 0) {
    return WaitForWindow(argv[2], NULL, Timeout(argc, argv, 3)) != NULL ? 0 : 1;
  }
  if (strcmp(mode, "command") == 0 && argc >= 4) {
    HWND window = FindWindowA(argv[2], NULL);
    if (window == NULL) return 1;
    return PostMessageA(window, WM_COMMAND, MAKEWPARAM(atoi(argv[3]), 0), 0) ? 0 : 1;
  }
  if (strcmp(mode, "close") == 0) {
    HWND window = FindWindowA(argv[2], NULL);
    if (window == NULL) return 1;
    return PostMessageA(window, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  if (strcmp(mode, "tray") == 0 && argc >= 4) {
    HWND window = FindWindowA(argv[2], NULL);
    if (window == NULL) return 1;
    NOTIFYICONDATAA icon;
    memset(&icon, 0, sizeof icon);
    icon.cbSize = sizeof icon;
    icon.hWnd = window;
    icon.uID = (UINT)atoi(argv[3]);
    icon.uFlags = NIF_TIP;
    strncpy(icon.szTip, "TALVERO AGENT", sizeof icon.szTip - 1);
    return Shell_NotifyIconA(NIM_MODIFY, &icon) ? 0 : 1;
  }
  return 2;
}
