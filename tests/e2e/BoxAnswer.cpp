// Test helper, not part of the program: answers the program's message boxes as a person would.
// For each expected box it waits for the dialog, reads its caption, text and buttons, checks them
// against the string table the program is built from, takes a screenshot of the screen and
// clicks the answer.
//   BoxAnswer.exe LOG_FILE SHOT_DIR BOX:ANSWER...
// BOX is the string id of the text (2 confirmation, 5 configured printer, 6 connected printer,
// 8 restart), ANSWER is yes, no or ok. SHOT_DIR is a host path: the screenshot is taken by the
// host's ImageMagick `import`, which Wine starts as a host program. One line per box goes to
// LOG_FILE. Exit code 0 when every box came as expected and was answered, 1 otherwise.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "resources/strings.h"

namespace {

const int TEXT_CONTROL_ID = 0xFFFF;
const DWORD WAIT_FOR_BOX_MS = 90000;

struct BoxKind {
  int iTextId;
  const char *pucName;
  const char *pucCaption;
  const char *pucText;
  bool fYesNo;  // Yes/No buttons; otherwise OK only
};

const BoxKind BOX_KINDS[] = {
    {IDS_CONFIRM_TEXT, "confirm", STR_CONFIRM_CAPTION, STR_CONFIRM_TEXT, true},
    {IDS_CONFIGURED_TEXT, "configured", STR_VERDICT_CAPTION, STR_CONFIGURED_TEXT, true},
    {IDS_CONNECTED_TEXT, "connected", STR_VERDICT_CAPTION, STR_CONNECTED_TEXT, false},
    {IDS_RESTART_TEXT, "restart", STR_RESTART_CAPTION, STR_RESTART_TEXT, true},
};

struct Step {
  int iTextId;
  int iButton;
};

FILE *g_pLog = nullptr;

void Log(const std::string &line) {
  std::fputs((line + "\n").c_str(), g_pLog);
  std::fflush(g_pLog);
}

bool ParseStep(const char *pucArg, Step *pStep) {
  const char *pucColon = std::strchr(pucArg, ':');
  if (pucColon == nullptr)
    return false;
  pStep->iTextId = std::atoi(pucArg);
  std::string answer = pucColon + 1;
  pStep->iButton = answer == "yes" ? IDYES : answer == "no" ? IDNO : answer == "ok" ? IDOK : 0;
  return pStep->iButton != 0;
}

bool IsKnownCaption(const char *pucCaption) {
  for (const BoxKind &kind : BOX_KINDS) {
    if (std::strcmp(kind.pucCaption, pucCaption) == 0)
      return true;
  }
  return false;
}

BOOL CALLBACK FindBox(HWND hWnd, LPARAM lParam) {
  char ucClass[16] = "";
  char ucCaption[256] = "";
  GetClassNameA(hWnd, ucClass, sizeof ucClass);
  GetWindowTextA(hWnd, ucCaption, sizeof ucCaption);
  if (IsWindowVisible(hWnd) && std::strcmp(ucClass, "#32770") == 0 && IsKnownCaption(ucCaption)) {
    *reinterpret_cast<HWND *>(lParam) = hWnd;
    return FALSE;
  }
  return TRUE;
}

HWND WaitForBox() {
  for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < WAIT_FOR_BOX_MS; Sleep(50)) {
    HWND hBox = nullptr;
    EnumWindows(FindBox, reinterpret_cast<LPARAM>(&hBox));
    if (hBox != nullptr)
      return hBox;
  }
  return nullptr;
}

bool HasButton(HWND hBox, int iId) {
  HWND hButton = GetDlgItem(hBox, iId);
  return hButton != nullptr && IsWindowVisible(hButton);
}

// The kind whose caption, text and buttons the box shows; null when none fits. Strings 5 and 6
// share their caption: the text and the buttons tell them apart.
const BoxKind *Identify(HWND hBox, std::string *pSeen) {
  char ucCaption[400] = "";
  char ucText[1024] = "";
  GetWindowTextA(hBox, ucCaption, sizeof ucCaption);
  GetDlgItemTextA(hBox, TEXT_CONTROL_ID, ucText, sizeof ucText);
  bool fYesNo = HasButton(hBox, IDYES) && HasButton(hBox, IDNO) && !HasButton(hBox, IDOK);
  bool fOkOnly = HasButton(hBox, IDOK) && !HasButton(hBox, IDYES) && !HasButton(hBox, IDNO);
  *pSeen = std::string("[") + ucCaption + "] " + ucText + (fYesNo ? " (yes/no)" : fOkOnly ? " (ok)" : " (buttons?)");
  for (const BoxKind &kind : BOX_KINDS) {
    if (std::strcmp(kind.pucCaption, ucCaption) == 0 && std::strcmp(kind.pucText, ucText) == 0 &&
        (kind.fYesNo ? fYesNo : fOkOnly))
      return &kind;
  }
  return nullptr;
}

// Runs the host's screenshot tool on the whole screen; whether it wrote the picture.
bool TakeScreenshot(const std::string &shotPath) {
  std::string command = "/usr/bin/import -window root \"" + shotPath + "\"";
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  // Wine does not wait for a host program nor pass on its exit code: wait for the picture to be
  // written whole instead, through the drive that maps the host's root.
  std::string winPath = "Z:" + shotPath;
  for (char &c : winPath) {
    if (c == '/')
      c = '\\';
  }
  DWORD dwLastSize = 0;
  for (DWORD dwStart = GetTickCount(); GetTickCount() - dwStart < 30000; Sleep(200)) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(winPath.c_str(), GetFileExInfoStandard, &data))
      continue;
    if (data.nFileSizeLow != 0 && data.nFileSizeLow == dwLastSize)
      return true;
    dwLastSize = data.nFileSizeLow;
  }
  return false;
}

bool AnswerStep(const Step &step, int iNumber, const std::string &shotDir) {
  HWND hBox = WaitForBox();
  if (hBox == nullptr) {
    Log("box " + std::to_string(iNumber) + ": none came, expected " + std::to_string(step.iTextId));
    return false;
  }
  // Let the box paint itself before the screen is taken.
  Sleep(1500);
  std::string seen;
  const BoxKind *pKind = Identify(hBox, &seen);
  bool fExpected = pKind != nullptr && pKind->iTextId == step.iTextId;
  std::string name = pKind != nullptr ? pKind->pucName : "unknown";
  std::string shotPath = shotDir + "/" + std::to_string(iNumber) + "-" + name + ".png";
  bool fShot = TakeScreenshot(shotPath);
  Log("box " + std::to_string(iNumber) + " " + (pKind != nullptr ? std::to_string(pKind->iTextId) : "?") + " answer " +
      std::to_string(step.iButton) + (fExpected ? "" : " UNEXPECTED") + (fShot ? "" : " NO-SCREENSHOT") + " " + seen);
  // The box is answered even when it is not the one expected, so that the run can end.
  int iButton = HasButton(hBox, step.iButton) ? step.iButton : HasButton(hBox, IDOK) ? IDOK : IDNO;
  SendMessageA(GetDlgItem(hBox, iButton), BM_CLICK, 0, 0);
  for (DWORD dwStart = GetTickCount(); IsWindow(hBox) && GetTickCount() - dwStart < 10000;)
    Sleep(20);
  return fExpected && fShot;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: BoxAnswer.exe LOG_FILE SHOT_DIR BOX:ANSWER...\n");
    return 1;
  }
  g_pLog = std::fopen(argv[1], "wb");
  if (g_pLog == nullptr)
    return 1;
  std::vector<Step> steps;
  for (int i = 3; i < argc; ++i) {
    Step step = {0, 0};
    if (!ParseStep(argv[i], &step)) {
      Log(std::string("bad step ") + argv[i]);
      return 1;
    }
    steps.push_back(step);
  }
  bool fAllExpected = true;
  for (size_t i = 0; i < steps.size(); ++i)
    fAllExpected = AnswerStep(steps[i], static_cast<int>(i + 1), argv[2]) && fAllExpected;
  Log(fAllExpected ? "all boxes answered" : "FAILED");
  std::fclose(g_pLog);
  return fAllExpected ? 0 : 1;
}
