// What setup does to the system: media copies, folders, menu entries, the
// server's service, the fax printer, the import of the machine's users, the
// user's environment and the administrator check. Exports of libkorvocore.so
// under their C names; the service functions and RunningAsAdministrator are
// also linked into the manager and the launcher (korvo_install).
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
// The service "Spooler" is the print spooler: *running says whether cupsd
// answers (see platform/print_spooler.h).
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

// Makes every missing folder along the path (a closing '/' is implied).
// 1 when each exists afterwards; else 0 with the error of the first folder
// that could not be made (ENOTDIR where a file stands in the way).
int KvMakeDirectories(const char* path);

// Takes the machine's ordinary accounts (see core/install/users.h) into the
// server's user book <root>Server/Config/RegUsers.dbs (a RegUsers.bok of an
// older setup is renamed to it first, when no RegUsers.dbs is there): a new
// account gets rights 0x02, a registered one keeps its record, and the user
// running setup (SUDO_USER under sudo) gains all rights (0x3F). Always 0.
unsigned long KvImportUsers(const char* root);

// The user's DefaultServer, copied from the machine's when missing, and the
// user's DataPath, DefaultUsersDataPath/<login>/ when missing (the users'
// folder made open to all and sticky, the user's own 0700), made and
// stored. Non-zero on success.
int KvMakeUserDefaultEnvironment(void);
// 1 when the user's DataPath and DefaultServer can both be read.
int KvCheckCurrentUserRegistryKeys(void);

// The fax printer on CUPS. Each returns 0 on success, else the error
// (ENOENT: not there or no such media file, ECONNREFUSED: cupsd does not
// answer, EACCES: cupsd refuses us, EIO), the failing call traced with the
// system's text and cupsd's words. The media files come from the current
// folder, as KvCopy finds them.
//
// The driver: the filter rastertokvf into <ServerBin>/filter/ and the PPD
// into /usr/share/ppd/korvo/ (both below the system root).
uint32_t InstallPrintDriver(void);
// The port monitor: the backend kvf into <ServerBin>/backend/, 0700 (cupsd
// then runs it as root, which reaches every user's capture agent), and the
// common autostart entry of the agent korvocapture in the installation
// folder root.
uint32_t InstallPortMonitor(const char* root);
// The queue Korvo_Printer ("Korvo Printer", at "Fax Printer", device kvf:/)
// with the installed PPD and the operation policy "authenticated", enabled;
// a queue already there is updated.
uint32_t AddFaxPrinter(void);
uint32_t RemoveFaxPrinter(void);
// 0 when the queue exists.
uint32_t IsFaxPrinterInstalled(void);
uint32_t RemovePortMonitor(void);
uint32_t RemovePrintDriver(void);

// 1 when the process has the rights setup needs: its effective user is root
// (a member of sudo or wheel has them only through sudo or pkexec).
int RunningAsAdministrator(void);

}
