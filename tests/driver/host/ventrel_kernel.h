/*
 * Kernel interface of the host build of Ventrel: the types, constants and
 * calls the driver uses, declared minimally with the names the driver source
 * expects. fake_kernel.cpp implements the calls as a kernel layer that tests
 * control and inspect.
 */
#ifndef VENTREL_KERNEL_H
#define VENTREL_KERNEL_H

#include <pthread.h>
#include <stddef.h>
#include <stdint.h>
#include <wchar.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Calling conventions and linkage mean nothing on the host. */
#define NTAPI
#define FASTCALL
#define UNREFERENCED_PARAMETER(p) ((void)(p))

#define VOID void
typedef unsigned char UCHAR, *PUCHAR;
typedef char CCHAR;
typedef unsigned short USHORT;
typedef uint32_t ULONG;
typedef int32_t LONG;
typedef uintptr_t ULONG_PTR;
typedef intptr_t LONG_PTR;
typedef unsigned char BOOLEAN;
typedef void *PVOID;
typedef void *HANDLE;
typedef wchar_t WCHAR;
typedef WCHAR *PWSTR;
typedef const WCHAR *PCWSTR;
typedef LONG NTSTATUS;

#define TRUE 1
#define FALSE 0

#define NT_SUCCESS(status) ((NTSTATUS)(status) >= 0)
#define STATUS_SUCCESS ((NTSTATUS)0x00000000)
#define STATUS_INSUFFICIENT_RESOURCES ((NTSTATUS)0xC000009A)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000D)
#define STATUS_INVALID_CID ((NTSTATUS)0xC000000B)
#define STATUS_OBJECT_NAME_COLLISION ((NTSTATUS)0xC0000035)
#define STATUS_PROCEDURE_NOT_FOUND ((NTSTATUS)0xC000007A)

typedef struct _UNICODE_STRING {
    USHORT Length;        /* bytes, without the terminator */
    USHORT MaximumLength; /* bytes */
    PWSTR Buffer;
} UNICODE_STRING, *PUNICODE_STRING;

/* Process object; only the kernel layer looks inside. */
typedef struct _EPROCESS *PEPROCESS;

typedef struct _IO_STATUS_BLOCK {
    NTSTATUS Status;
    ULONG_PTR Information;
} IO_STATUS_BLOCK;

typedef struct _IRP {
    IO_STATUS_BLOCK IoStatus;
} IRP, *PIRP;

/* Device object; only the kernel layer looks inside. */
typedef struct _DEVICE_OBJECT DEVICE_OBJECT, *PDEVICE_OBJECT;

struct _DRIVER_OBJECT;
typedef NTSTATUS (*PDRIVER_DISPATCH)(PDEVICE_OBJECT DeviceObject, PIRP Irp);
typedef VOID (*PDRIVER_UNLOAD)(struct _DRIVER_OBJECT *DriverObject);

#define IRP_MJ_CREATE 0x00
#define IRP_MJ_MAXIMUM_FUNCTION 0x1b

typedef struct _DRIVER_OBJECT {
    PDRIVER_UNLOAD DriverUnload;
    PDRIVER_DISPATCH MajorFunction[IRP_MJ_MAXIMUM_FUNCTION + 1];
} DRIVER_OBJECT, *PDRIVER_OBJECT;

#define FILE_DEVICE_UNKNOWN 0x00000022
#define IO_NO_INCREMENT 0

typedef VOID (*PCREATE_PROCESS_NOTIFY_ROUTINE)(HANDLE ParentId, HANDLE ProcessId,
                                                BOOLEAN Create);

typedef struct _FAST_MUTEX {
    pthread_mutex_t Mutex;
} FAST_MUTEX, *PFAST_MUTEX;

/* Non-cached memory. */
PVOID MmAllocateNonCachedMemory(size_t NumberOfBytes);
VOID MmFreeNonCachedMemory(PVOID BaseAddress, size_t NumberOfBytes);

/* Strings. */
VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString);

/* Device and symbolic-link objects, request completion. */
NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, ULONG DeviceType,
                        ULONG DeviceCharacteristics, BOOLEAN Exclusive,
                        PDEVICE_OBJECT *DeviceObject);
VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject);
NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName);
NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName);
VOID IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost);

/* Processes. */
NTSTATUS PsSetCreateProcessNotifyRoutine(PCREATE_PROCESS_NOTIFY_ROUTINE NotifyRoutine,
                                         BOOLEAN Remove);
NTSTATUS PsLookupProcessByProcessId(HANDLE ProcessId, PEPROCESS *Process);
LONG_PTR ObDereferenceObject(PVOID Object);

/* The x86 I/O access maps. */
BOOLEAN Ke386IoSetAccessProcess(PEPROCESS Process, ULONG MapNumber);
BOOLEAN Ke386QueryIoAccessMap(ULONG MapNumber, PUCHAR IoAccessMap);
BOOLEAN Ke386SetIoAccessMap(ULONG MapNumber, PUCHAR IoAccessMap);

/* Port space. */
UCHAR READ_PORT_UCHAR(PUCHAR Port);
VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value);

/* The lock. */
VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex);
VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex);
VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex);

/* The driver's entry, for the tests to load it. */
NTSTATUS DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath);

#ifdef __cplusplus
}
#endif

#endif
