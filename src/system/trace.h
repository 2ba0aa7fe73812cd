// The install trace: fixed one-line notes (each ending in "\r\n") from the
// install sequence and the uninstall registration. Each goes into the
// run's log when one is open (install_log.h); a test may install a sink to
// see them.
#pragma once

using InstallTraceSink = void (*)(void* context, const wchar_t* line);

// Writes the line into the run's log, if one is open, and hands it to the
// sink, if one is set.
void InstallTrace(const wchar_t* line);

// Sets the sink that sees every later line, in the order the lines are
// traced (from any thread); null restores discarding. The sink runs under
// the trace's lock, so it must not call InstallTrace itself.
void SetInstallTraceSink(InstallTraceSink sink, void* context);
