// Reads, writes and waits on a terminal descriptor, shared by the serial
// devices: interrupted calls are retried, failures come back as errno.
#pragma once

#include <sys/types.h>

namespace fdio {

ssize_t Read(int fd, unsigned char* pBuffer, size_t nSize);
ssize_t Write(int fd, const char* pData, size_t nSize);
// 0 when more output fits, ETIMEDOUT, EIO for a hung-up line, or errno.
int WaitWritable(int fd, int nTimeoutMs);
int BytesWaiting(int fd, int* pnCount);
int Flush(int fd, bool bInput, bool bOutput);
// Waits until the output queue is empty and, where the driver tells, the
// transmitter too; gives up after nTimeoutMs (a line held by flow control).
// True when everything was sent.
bool WaitOutputSent(int fd, int nTimeoutMs);

} // namespace fdio
