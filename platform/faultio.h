// A full disk on demand, for the program's own file writers (the recorder, the settings-file
// writer, the encoders' output files): every write they make passes one process-wide counter.
// KORVESSA_FAULT_WRITE_LIMIT=<bytes>, read once per process, lets that many bytes through in
// total; after that every write fails with ENOSPC. KORVESSA_FAULT_WRITE_MATCH=<text> restricts
// the counting (and the failures) to files whose path contains the text. Without the variable
// the writers behave as plain write(2) / stdio.
#pragma once
#include <stddef.h>
#include <stdio.h>
#include <sys/types.h>

#include "wintypes.h"

// write(2) to `fd`, which was opened on `path`: short, or -1 with errno ENOSPC, once the
// limit is reached.
KV_API ssize_t kvWrite(int fd, const char* path, const void* data, size_t bytes);
// A stdio stream on `fd` (opened on `path`) that owns it: fclose closes fd. When a limit
// applies to `path` the stream's writes go through kvWrite (fileno() then gives -1).
KV_API FILE* kvOpenWriteStream(int fd, const char* path, const char* mode);
