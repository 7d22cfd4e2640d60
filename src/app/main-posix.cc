// wendrake for Linux, run in the start directory. For now it reads the
// configuration, logs it and ends; watching comes with the watcher threads.
#include "app/startup.h"
#include "log/log.h"

int main() {
  wendrake::LoadConfiguration();
  wendrake::WriteLog(-1, "");
  return 0;
}
