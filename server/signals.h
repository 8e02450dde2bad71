#pragma once
// The server's signal handlers and what the loop does about them. The
// handlers only raise flags or stop the loop; CheckSignals, a deferred call
// that stays active, acts on the flags inside the loop.
//
//   SIGPIPE          nothing: a write to a closed socket fails with EPIPE
//   SIGTERM, SIGINT  the loop ends after its current pass
//   SIGUSR2          the status dump is written to /var/log/server-status
//   SIGHUP           the free hardware resources are reported again

#include <signal.h>

extern volatile sig_atomic_t doDumpStatus;
extern volatile sig_atomic_t updateResources;

void SigPipeHandler(int, siginfo_t*, void*);
void SigTermHandler(int, siginfo_t*, void*);
void SigUsr2Handler(int, siginfo_t*, void*);
void SigHupHandler(int, siginfo_t*, void*);

void InstallSignalHandlers();

void CheckSignals();
void CheckDumpStatus();
void CheckUpdateResources();
