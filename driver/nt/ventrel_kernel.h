/*
 * Kernel interface of the real driver build: the cross toolchain's kernel
 * headers, plus the kernel exports those headers leave undeclared or declare
 * under another name.
 */
#ifndef VENTREL_KERNEL_H
#define VENTREL_KERNEL_H

#include <ntifs.h>

/*
 * The x86 I/O access map calls of the kernel. A map is 8192 bytes, one bit
 * per port, 0 granting user-mode access. Map 0 denies every port; the
 * others are shared by all processes assigned to them. Each returns FALSE
 * for a map number the kernel does not have. The kernel takes the process
 * as its kernel part, which begins the process object, so the process
 * object the look-up returns is passed as it is.
 */
NTKERNELAPI BOOLEAN NTAPI Ke386IoSetAccessProcess(PEPROCESS Process, ULONG MapNumber);
NTKERNELAPI BOOLEAN NTAPI Ke386QueryIoAccessMap(ULONG MapNumber, PUCHAR IoAccessMap);
NTKERNELAPI BOOLEAN NTAPI Ke386SetIoAccessMap(ULONG MapNumber, PUCHAR IoAccessMap);

/*
 * The headers turn ObDereferenceObject into its fastcall twin, an export
 * that older kernels lack; the driver calls the export of that name.
 */
#undef ObDereferenceObject
NTKERNELAPI LONG_PTR NTAPI ObDereferenceObject(PVOID Object);

#endif
