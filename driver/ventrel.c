/*
 * Ventrel: the port-access driver.
 *
 * While Ventrel is loaded, every process created on the machine may execute
 * `in` and `out` from user mode on fourteen I/O ports: the data and status
 * ports of the four parallel-port bases and the index/data pairs of the VGA
 * sequencer, CRTC and graphics controller. Those are the ports through which
 * Morvane drives the I2C bus to the chip.
 *
 * It does so by assigning each new process the kernel's I/O access map number
 * 1 and clearing the permission bits of those ports in that map. The driver
 * keeps a working copy of the map; each process creation takes a fresh copy
 * from the kernel, clears the bits and installs the copy again, so bits that
 * someone else cleared in map 1 stay cleared.
 *
 * A device and a symbolic link exist so that the driver can be seen and
 * opened; they answer an open request and nothing else. Nothing is exchanged
 * with the program: the port access is the whole effect.
 *
 * The same source is built as the real driver and, against a kernel layer
 * of our own, as a host library for the tests; "ventrel_kernel.h" is the
 * kernel interface of whichever build it is.
 */

#include "ventrel_kernel.h"

/* Size of an I/O permission map: one bit per port number, 65536 ports. */
#define VENTREL_MAP_BYTES 8192

/* The kernel's I/O access map that new processes get and that is edited. */
#define VENTREL_IO_MAP 1

/* Bases up to this one are parallel ports: their status port is tested and
 * their data port written. */
#define VENTREL_LAST_PARALLEL_BASE 0x3BC

/* What an absent parallel port's status register reads. */
#define VENTREL_ABSENT_STATUS 0xFF

/* Data-port byte with the adapter's clock and data outputs released; the
 * chip link starts its parallel-port line byte from the same value. */
#define VENTREL_LINES_RELEASED 0xFC

#define VENTREL_DEVICE_NAME L"\\Device\\Ventrel"
#define VENTREL_LINK_NAME L"\\DosDevices\\Ventrel"

/* Ports opened, in the order they are handled. Each entry stands for the
 * port itself and the port after it. */
static const USHORT VentrelPorts[] = {
    0x278, /* parallel port base and status */
    0x378, /* parallel port base and status */
    0x3BC, /* parallel port base and status */
    0x2BC, /* parallel port base and status */
    0x3C4, /* VGA sequencer index and data */
    0x3D4, /* VGA CRTC index and data */
    0x3CE, /* VGA graphics controller index and data */
};

#define VENTREL_PORT_COUNT (sizeof(VentrelPorts) / sizeof(VentrelPorts[0]))

/* Keeps each run's copy, edit and install of the map together, and the map
 * pointer stable while a run uses it. A fast mutex: the notify routine runs
 * at PASSIVE_LEVEL and holds it across calls that are not made at raised
 * IRQL (process look-up, the I/O map calls, port access). */
static FAST_MUTEX VentrelMapLock;

/* The working copy of I/O access map number 1, in non-cached memory; set
 * from load to unload, NULL otherwise. Guarded by VentrelMapLock. */
static PUCHAR VentrelMap;

/* The device "\Device\Ventrel"; set from load to unload. */
static PDEVICE_OBJECT VentrelDevice;

/*
 * VentrelOpenPort
 *   Grants user-mode access to one port in a permission map: a 0 bit grants,
 *   a 1 bit denies. The bit of port p is bit (p mod 8) of byte (p div 8).
 * Arguments
 *   Map   the 8192-byte permission map to edit
 *   Port  the port number
 * Result
 *   none
 */
static VOID VentrelOpenPort(PUCHAR Map, ULONG Port)
{
    Map[Port >> 3] &= (UCHAR)~(1u << (Port & 7));
}

/*
 * VentrelOpenEntry
 *   Opens one entry of the port table in the map: the port and the port
 *   after it. For a parallel-port base the status port is read first; an
 *   adapter that is present (status not 0xFF) gets 0xFC on its data port,
 *   which releases its clock and data outputs before any program drives
 *   them. An absent port is not written to.
 * Arguments
 *   Map   the working copy of the map, taken from the kernel under the lock
 *   Port  the table entry: a parallel-port base or a VGA index port
 * Result
 *   none
 */
static VOID VentrelOpenEntry(PUCHAR Map, ULONG Port)
{
    VentrelOpenPort(Map, Port);
    if (Port <= VENTREL_LAST_PARALLEL_BASE) {
        UCHAR status = READ_PORT_UCHAR((PUCHAR)(ULONG_PTR)(Port + 1));
        if (status != VENTREL_ABSENT_STATUS) {
            WRITE_PORT_UCHAR((PUCHAR)(ULONG_PTR)Port, VENTREL_LINES_RELEASED);
        }
    }
    VentrelOpenPort(Map, Port + 1);
}

/*
 * VentrelProcessNotify
 *   Process-creation notify routine, called by the kernel in the context of
 *   the creating thread for each process creation and exit. For a new
 *   process: assigns it I/O access map 1, copies the kernel's map 1, opens
 *   the port table in the copy and installs it as map 1. Exits, a process
 *   that cannot be looked up and a driver without a map change nothing; a
 *   copy that the kernel refuses is not installed.
 * Arguments
 *   ParentId   id of the creating process (not used)
 *   ProcessId  id of the process being created or ending
 *   Create     TRUE for a creation, FALSE for an exit
 * Result
 *   none
 */
static VOID NTAPI VentrelProcessNotify(HANDLE ParentId, HANDLE ProcessId, BOOLEAN Create)
{
    PEPROCESS process = NULL;
    ULONG entry;

    UNREFERENCED_PARAMETER(ParentId);

    if (!Create) {
        return;
    }

    ExAcquireFastMutex(&VentrelMapLock);
    if (VentrelMap != NULL && NT_SUCCESS(PsLookupProcessByProcessId(ProcessId, &process))) {
        Ke386IoSetAccessProcess(process, VENTREL_IO_MAP);
        if (Ke386QueryIoAccessMap(VENTREL_IO_MAP, VentrelMap)) {
            for (entry = 0; entry < VENTREL_PORT_COUNT; entry++) {
                VentrelOpenEntry(VentrelMap, VentrelPorts[entry]);
            }
            Ke386SetIoAccessMap(VENTREL_IO_MAP, VentrelMap);
        }
    } else {
        /* No map, or a failed look-up: no reference was taken. */
        process = NULL;
    }
    ExReleaseFastMutex(&VentrelMapLock);

    /* The look-up took a reference on the process object. */
    if (process != NULL) {
        ObDereferenceObject(process);
    }
}

/*
 * VentrelFreeMap
 *   Frees the working copy of the map. The pointer is cleared under the lock
 *   first, so a notify run that is still on its way sees no map instead of
 *   freed memory.
 * Arguments
 *   none
 * Result
 *   none
 */
static VOID VentrelFreeMap(VOID)
{
    PUCHAR map;

    ExAcquireFastMutex(&VentrelMapLock);
    map = VentrelMap;
    VentrelMap = NULL;
    ExReleaseFastMutex(&VentrelMapLock);

    if (map != NULL) {
        MmFreeNonCachedMemory(map, VENTREL_MAP_BYTES);
    }
}

/*
 * VentrelCreate
 *   IRP_MJ_CREATE dispatch: every open of the device succeeds. It touches no
 *   shared state.
 * Arguments
 *   DeviceObject  the device (not used)
 *   Irp           the open request, completed here
 * Result
 *   STATUS_SUCCESS
 */
static NTSTATUS NTAPI VentrelCreate(PDEVICE_OBJECT DeviceObject, PIRP Irp)
{
    UNREFERENCED_PARAMETER(DeviceObject);

    Irp->IoStatus.Status = STATUS_SUCCESS;
    Irp->IoStatus.Information = 0;
    IofCompleteRequest(Irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

/*
 * VentrelUnload
 *   Unload routine: removes the notify routine, frees the map, deletes the
 *   symbolic link and the device, in that order. Map 1 keeps its cleared
 *   bits and processes created while the driver was loaded keep their
 *   access; processes created later get no I/O map from the driver.
 * Arguments
 *   DriverObject  the driver (not used)
 * Result
 *   none
 */
static VOID NTAPI VentrelUnload(PDRIVER_OBJECT DriverObject)
{
    UNICODE_STRING linkName;

    UNREFERENCED_PARAMETER(DriverObject);

    PsSetCreateProcessNotifyRoutine(VentrelProcessNotify, TRUE);
    VentrelFreeMap();

    RtlInitUnicodeString(&linkName, VENTREL_LINK_NAME);
    IoDeleteSymbolicLink(&linkName);

    IoDeleteDevice(VentrelDevice);
    VentrelDevice = NULL;
}

/*
 * DriverEntry
 *   Loads the driver: allocates the 8192-byte map in non-cached memory,
 *   creates "\Device\Ventrel", registers the process-creation notify
 *   routine, creates the link "\DosDevices\Ventrel" and sets the create
 *   dispatch and the unload routine. A step that fails releases what the
 *   steps before it set up, and the driver does not load.
 * Arguments
 *   DriverObject  the driver object the kernel made for Ventrel
 *   RegistryPath  the service's registry key (not used)
 * Result
 *   STATUS_SUCCESS; STATUS_INSUFFICIENT_RESOURCES when the map cannot be
 *   allocated; otherwise the status of the call that failed
 */
NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath)
{
    UNICODE_STRING deviceName;
    UNICODE_STRING linkName;
    PUCHAR map;
    NTSTATUS status;

    UNREFERENCED_PARAMETER(RegistryPath);

    ExInitializeFastMutex(&VentrelMapLock);

    map = (PUCHAR)MmAllocateNonCachedMemory(VENTREL_MAP_BYTES);
    if (map == NULL) {
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    /* No notify run can exist yet: the routine is registered below. */
    VentrelMap = map;

    RtlInitUnicodeString(&deviceName, VENTREL_DEVICE_NAME);
    status = IoCreateDevice(DriverObject, 0, &deviceName, FILE_DEVICE_UNKNOWN, 0, FALSE,
                            &VentrelDevice);
    if (!NT_SUCCESS(status)) {
        goto FreeMap;
    }

    /* Without the registration the driver would load and open nothing. */
    status = PsSetCreateProcessNotifyRoutine(VentrelProcessNotify, FALSE);
    if (!NT_SUCCESS(status)) {
        goto DeleteDevice;
    }

    RtlInitUnicodeString(&linkName, VENTREL_LINK_NAME);
    status = IoCreateSymbolicLink(&linkName, &deviceName);
    if (!NT_SUCCESS(status)) {
        goto RemoveNotify;
    }

    DriverObject->MajorFunction[IRP_MJ_CREATE] = VentrelCreate;
    DriverObject->DriverUnload = VentrelUnload;
    return STATUS_SUCCESS;

RemoveNotify:
    PsSetCreateProcessNotifyRoutine(VentrelProcessNotify, TRUE);
DeleteDevice:
    IoDeleteDevice(VentrelDevice);
    VentrelDevice = NULL;
FreeMap:
    VentrelFreeMap();
    return status;
}
