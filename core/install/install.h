// What setup does to the system: the server's service, the administrator
// check (and, further on, media copies, menu entries, the fax printer and the
// import of the machine's users). Exports of libkorvocore.so under their C
// names; the service functions and RunningAsAdministrator are also linked
// into the manager and the launcher (korvo_install).
//
// Functions return 1 for success and 0 for failure, with the reason in the
// thread's last error, unless said otherwise.
#pragma once

#include <cstdint>

extern "C" {

// Copies a file of the installation media to the destination path: the
// first file, in name order, that matches the pattern (a name whose last
// character is '?', which matches the '_' of a compressed file; ASCII case
// ignored), in the pattern's folder or the current one. A compressed file is
// expanded, any other copied as it is; the copy gets the media file's mode
// and replaces the destination only once it is complete. 0 with the last
// error ENOENT when nothing matches or a file cannot be opened, EIO for a read
// fault or a damaged stream, EMFILE, ENOMEM, or the error of a failed write.
int KvCopy(const char* pattern, const char* destination);

// Program Manager commands on the freedesktop menus (see
// platform/desktop_menu.h): a session selects the group its item commands act
// in with CreateGroup or ShowGroup ("Startup" is the autostart folder; a
// second argument of 1, the third of ShowGroup, makes it a common group),
// and ends the selection with ExitProgman. Understood: CreateGroup,
// ShowGroup, DeleteGroup, AddItem (command line, name), DeleteItem,
// ReplaceItem, ExitProgman; anything else gives 0.
int KvShellCommandsStart(uint32_t* instance);
// 1, or 0 for a session that was not started.
int KvShellCommandsEnd(uint32_t instance);
// printf-style: the command is parsed from the format, so each %s argument
// stays one piece of text (a path with blanks, quotes, commas or '%' too).
// 1 when every command of the text was carried out.
int KvSendShellCommand(uint32_t instance, const char* format, ...) __attribute__((format(printf, 2, 3)));

// A machine of null, "" or "." is this one, as is this machine's own name.
//
// The service (null name: "Korvo"): where systemd manages the unit folder of
// this machine, *running is the unit's state and 0 comes back when there is
// no unit. Elsewhere (a console server, a moved installation, another
// machine) the question always succeeds and *running says whether a server
// answers on that machine's pipe.
int IsServerServiceRunning(const char* machine, int* running, const char* serviceName);
// systemctl start of the unit; fails where systemd does not manage it.
int StartServerService(const char* machine);
// systemctl stop of the unit; refused where systemd does not manage it.
int StopServerService(const char* machine);
// Writes the unit (the program path, the account as its user when given)
// and enables it, so the server starts with the machine. Only on this
// machine.
int InstallServerService(const char* machine, const char* programPath, const char* account, const char* password);
// Stops the service where systemd can, then removes the unit and its link.
// 0 when there is no unit.
int RemoveServerService(const char* machine);

// 1 when the effective user is root or the process is in the group sudo or
// wheel.
int RunningAsAdministrator(void);

}
