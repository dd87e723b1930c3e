#ifndef SAFE_OUTPUT_H
#define SAFE_OUTPUT_H

/* Output files that never cost a user a file. An output is written whole to a temporary file
   of a unique name beside its target and moved over the target only once every write, the
   flush and the fsync have succeeded; a failed or abandoned output leaves the target as it was.
   A target that is a symbolic link keeps its link: the file it leads to is replaced. A FIFO or
   a character device is written in place at the end, never replaced; any other kind of file
   that is not a regular file is refused.

   Every temporary file (and every file or folder a caller registers) stays on one list until it
   is committed or removed, so that SafeOut_RemovePending, which is async-signal-safe, can clear
   them from a signal handler. Functions return 0 on success; on failure a status (an errno
   value) with the reason, naming the file, in the record's message. */

#include <stddef.h>
#include <sys/types.h>

#include "mono_export.h"

enum { SAFEOUT_MESSAGE_SIZE = 4352 };

typedef struct SafeOutPending SafeOutPending;

typedef struct SafeOut {
  char* target;     /* the file replaced at commit (links resolved); owned */
  char* temp;       /* the temporary file written; owned, null once committed or removed */
  int fd;           /* open on temp for writing; -1 when closed */
  int in_place;     /* target is a FIFO or character device: written into, never replaced */
  int error;        /* errno of the first failure, 0 while none */
  mode_t mode;      /* permissions the result takes (an existing target's own) */
  SafeOutPending* pending; /* temp's entry on the signal-safe list */
  char message[SAFEOUT_MESSAGE_SIZE];
} SafeOut;

/* Prepares an output for path: refuses a kind of file that cannot be written, makes the
   temporary file beside the (resolved) target with O_EXCL, nothing else touched. A directory
   that cannot be written into fails here. */
MONO_API int SafeOut_Open(SafeOut* out, const char* path);

/* Writes every byte to the temporary file (short writes and EINTR retried); the first failure
   is kept and every later call fails with it. */
MONO_API int SafeOut_Write(SafeOut* out, const void* data, size_t size);

/* Completes the output: closes the descriptor (checked), fsyncs the temporary file as it now
   stands under its name (another library may have written or replaced it), then renames it over
   the target, or copies it into a FIFO or device target. On failure the temporary file is
   removed and the target left as it was. */
MONO_API int SafeOut_Commit(SafeOut* out);

/* Abandons the output: the temporary file goes, the target stays as it was. Safe to call after
   a commit or on a record that never opened (zeroed, or fd -1). */
MONO_API void SafeOut_Abort(SafeOut* out);

/* Adds a file (directory 0) or a folder (1) a caller has just made to the list that
   SafeOut_RemovePending clears, until SafeOut_Forget; a folder goes with the files directly in
   it. Null without memory. */
MONO_API SafeOutPending* SafeOut_Register(const char* path, int directory);
MONO_API void SafeOut_Forget(SafeOutPending* entry);

/* Removes every file and folder still on the list, newest first. Async-signal-safe: system calls
   only (unlink, rmdir, and for a folder the listing and removal of its files), over entries that
   were whole before they were published. */
MONO_API void SafeOut_RemovePending(void);

/* Makes SIGINT, SIGTERM and SIGHUP end the process after SafeOut_RemovePending, with a line
   "<program>: interrupted; no output written" (terminated, hung up) on the standard error stream
   and the exit status 128 + the signal's number. A signal the process ignores stays ignored. */
MONO_API void SafeOut_EndOnSignals(const char* program);

/* 1 when path names the same file as other (device and inode, links followed), 0 when not or
   when either does not exist. */
MONO_API int SafeOut_SameFile(const char* path, const char* other);

#endif
