// SPDX-License-Identifier: MIT
#pragma once

#include <QString>
#include <QtGlobal>

// Finding, activating and ending another instance of this program by process id.
// Each only ever acts on a live process running this same executable, so a recorded id
// that the system has since given to another program reads as "no instance".

// True for a live process whose executable is our own.
bool isProcessAlive(qint64 pid);

// Ends such a process (SIGTERM, then SIGKILL if it lingers) and waits until it is gone.
// False when pid is not an instance of this program or it could not be ended.
bool killProcess(qint64 pid);

// Asks the instance pid (through its activation socket) to show its window normally and
// raise it. True when that instance answered that its window is visible.
bool activateProcessWindow(qint64 pid);

// Ends (SIGKILL) every child process of this process: for a way out that cannot wait for an
// orderly stop, so no ffmpeg outlives us. Only our own children are touched: a pid cannot
// pass to another process while it is our unreaped child. Returns how many were ended.
int killChildProcesses();

// The local socket name on which the instance pid listens for activation.
QString activationSocketName(qint64 pid);
