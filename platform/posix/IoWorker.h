// Every piece of the POSIX backend's background I/O: one worker thread, one queue of
// jobs, and one record per handle opened for writing.
//
// Jobs, run one at a time, first in first out:
// - write a block: writes to a handle are gathered into blocks of kBlockSize; a full
//   block is written by the worker while the caller goes on (for the archive reader:
//   inflating the next pieces on one core while the kernel copies the last ones into
//   the page cache on the other). A handle's last, partial block is written on the
//   caller's thread when the handle is waited for, so small files never wait for the
//   worker;
// - close a descriptor: the last descriptor of a large removed file, whose storage the
//   kernel frees at that close (for a large file that takes as long as writing it).
//
// A write of bytes that still lie in a mapped file (the payload staged out of the
// executable) is no job: it is copied file to file by the caller, whose write then
// returns its outcome. Copying it in the background let the caller go on before the
// copy's errors were known; sharing it with the worker was slower than one thread, as
// writes into one file take turns in the kernel.
//
// Thread contract.
// - Callers: any thread that calls the seam. Calls for one handle come from one thread
//   at a time, as calls for one Win32 file handle do; calls for different handles may
//   come from several threads at once.
// - The worker: one detached thread, "io-worker", started by the first job. It runs a
//   job with the lock released, touching only the job's own block and descriptor.
// - One mutex guards the rest: the queue, the records, the blocks and the counts. A
//   caller copies data into a block without the lock: the block belongs to no record
//   meanwhile, so nobody else writes it out.
// - Errors: a job that fails keeps its errno on its handle's record, the first one
//   only, and the handle's later blocks are not written. Every later write on that
//   handle, setting its times, and its close return that error (closeFile then fails,
//   as CloseHandle does for a failed lazy write). A close waits for all of its handle's
//   jobs, so no job outlives its handle but a close job, whose descriptor was only ever
//   read from: its failure loses nothing and is not reported. Reads and seeks wait for
//   the handle's jobs but report nothing of them, as ReadFile would not.
// - fork(): a child has no worker, and its copy of the lock may have been held by it at
//   the fork: the child starts with a fresh, empty state. The parent's state stays
//   reachable (never freed) and its jobs are the parent's business.
// - exit(): every job queued is run to its end first, so what was given lands even
//   without a close.
#pragma once

#include <cstddef>

#include "platform/posix/MappedFiles.h"

namespace fw::posix::io {

// Chosen by measurement: with four 512 KB blocks the archive reader took about a tenth
// longer on a 244 MB archive.
inline constexpr std::size_t kBlockSize = 64 * 1024;
inline constexpr std::size_t kBlocks = 16;
// A mapped write of at least this many bytes has its space reserved first.
inline constexpr std::size_t kReserveFrom = 8 * 1024 * 1024;

// Takes `fd`, just opened for writing, into account: the record of its handle.
void opened(int fd);

// Gathers `count` bytes for the end of what `fd` has been given. False (errno set)
// when an earlier job of `fd` failed, or `fd` was not opened for writing.
bool write(int fd, const void* data, std::size_t count);

// Writes the `count` bytes at `data`, which lie at `span` in a mapped file, at the
// position of `fd` (after everything gathered before), file to file as far as the
// kernel goes, advancing the position. False (errno set) when any of it could not be
// written; a disk without room for a large one refuses it before anything is written.
bool copy(int fd, const void* data, const FileSpan& span, std::size_t count);

// Waits until every job of `fd` has run and its gathered bytes are in the file. False
// (errno set) when one of them failed, now or before.
bool wait(int fd);

// Waits for `fd` and forgets its record, for a handle about to be closed.
bool closing(int fd);

// Waits for every job of every handle, queued closes included: before a file is opened,
// copied or run by its name. Errors stay on their records.
void waitAll();

// Closes `fd` on the worker (here when no worker can run).
void closeLater(int fd);

// write() until all of `count` is written or a write fails (false, errno set).
bool writeFully(int fd, const void* data, std::size_t count);

}  // namespace fw::posix::io
