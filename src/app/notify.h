// Telling a service manager how the run goes, for systemd's Type=notify:
// one datagram per state to the socket named in $NOTIFY_SOCKET, as
// sd_notify(3) sends it, without the library. Linux only.
#ifndef WENDRAKE_APP_NOTIFY_H_
#define WENDRAKE_APP_NOTIFY_H_

namespace wendrake {

// Takes the socket's name from $NOTIFY_SOCKET and removes the variable, so
// that the programs we start cannot speak for us (systemd would refuse
// them, and a start-up of theirs would read as ours). Call before any
// thread or program is started.
void TakeServiceManagerSocket();

// Sends `state` ("READY=1", "STOPPING=1"). True when it was sent or no
// service manager asked for it; false with errno set when it could not be.
bool TellServiceManager(const char* state);

}  // namespace wendrake

#endif  // WENDRAKE_APP_NOTIFY_H_
