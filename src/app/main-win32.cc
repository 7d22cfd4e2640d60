// Wendrake.exe. For now it reads the configuration, logs it and ends;
// the hidden window, the tray icon and the watchers come later.
#include <windows.h>

#include "app/startup.h"
#include "log/log.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  wendrake::LoadConfiguration();
  wendrake::WriteLog(-1, "");
  return 0;
}
