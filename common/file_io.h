// Whole-buffer file reads and writes, and the one place where tests can make them fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/platform.h"

// Every byte of the file at path, read to its end (a pipe too): 0, 15 when it cannot be
// opened, 18 when a read fails or it holds more than `limit` bytes.
int ReadWholeFile(const char* path, std::vector<char>* out, uint64_t limit = UINT64_MAX);
// True when all n bytes were written.
bool WriteFully(FILE* file, const void* bytes, size_t n);
// Bytes read (fewer at the end of the file or on an error).
size_t ReadUpTo(FILE* file, void* bytes, size_t n);
// Gives a stream about to be written a 1 MiB buffer of its own, so that many small
// entries do not cost a system call each (given no buffer, some C libraries keep their
// few kilobytes whatever size is asked for). The buffer must outlive the stream; null,
// and the stream as it was, when there is no memory for it.
std::unique_ptr<char[]> GiveWriteBuffer(FILE* file);
// Closes a file that was written; false when buffered data could not be flushed.
bool CloseWritten(FILE* file);
// platform::ReplaceFileAtomically, through the fault switch.
bool ReplaceFile(const char* from, const char* to);

// platform::FileChangeLock::TryTake, through the switch that makes the file system keep no locks.
platform::FileChangeLock::Attempt TakeFileLock(platform::FileChangeLock& lock, const char* path);

// platform::CopyFileRange, through the fault switch: bytes copied inside the kernel, the
// rest being the caller's to copy.
uint64_t CopyInKernel(FILE* in, uint64_t inOffset, FILE* out, uint64_t outOffset, uint64_t count);

// Fault injection for tests: the n-th following call of the kind fails (1 = the next one);
// 0 turns it off. Writes fail half-way, reads find nothing, replacing refuses, a kernel copy
// stops half-way. While a read or write fault is armed, kernel copies are refused, so that
// the reads and writes it counts are the ones that happen.
enum class IoFault { Write, Read, Replace, KernelCopy, Count };
void InjectIoFault(IoFault kind, int nthCall);
// Also lifts RefuseKernelCopies.
void ClearIoFaults();
// Every kernel copy refused while set: the plain copy does all the work.
void RefuseKernelCopies(bool refuse);
// While set, every file lock finds a file system that keeps none (also lifted by ClearIoFaults).
void RefuseFileLocks(bool refuse);
// Bytes copied inside the kernel since the program started.
uint64_t KernelCopiedBytes();
