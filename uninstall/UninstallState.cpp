#include "uninstall/UninstallState.h"

#include <cstring>

UninstallState g_State;

void InitUninstallState() {
  std::memset(&g_State, 0, sizeof g_State);
  g_State.uiPass = PASS_SURVEY;
}
