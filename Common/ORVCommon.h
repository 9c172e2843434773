// Per-thread logging. Every log call loads its table entry, builds its argument list, asks
// GetLogger, makes exactly one call on it and drops the reference; nothing is formatted here.
#ifndef ORV_COMMON_H
#define ORV_COMMON_H

#include "ORVConsts.h"

#include <ORVInterface.h>

#include <string>

namespace orv {

// The calling thread's logger: the one SetThreadLogger stored, else this thread's TNullLogger
// (created on first use and reused). The result is a counted reference.
Ref<IORVLogger> GetLogger();

// Stores Logger in the calling thread's host slot without taking a reference (nil clears it).
void SetThreadLogger(IORVLogger* Logger);

// Releases the calling thread's null logger; the next log call on the thread creates a new one.
void ReleaseThreadNullLogger();

// Module unload: releases the calling thread's null logger and stops tracking the others (a
// thread that still holds one keeps it). Later log calls get a fresh, uncached null logger.
void FinalizeLogging();

namespace Log {
// The engine's own lines that are not table entries go out through the plain operations, as
// finished text.
void Debug(const std::string& Msg);
void Warn(const std::string& Msg);
void Error(const std::string& Msg);
void InfoFmt(TMessageId Id, const TArgList& Args);
void WarnFmt(TMessageId Id, const TArgList& Args);
void ErrorFmt(TMessageId Id, const TArgList& Args);
}  // namespace Log

}  // namespace orv

#endif
