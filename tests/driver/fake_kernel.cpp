#include "fake_kernel.h"

#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>

// A device object: what it was created with.
struct _DEVICE_OBJECT {
    ventrel_fake::DeviceInfo info;
};

// A process object: its id, the references taken by look-ups and not
// released, and the I/O access map assigned to it.
struct _EPROCESS {
    std::uintptr_t pid;
    int references = 0;
    std::optional<ULONG> io_map;
};

namespace ventrel_fake {

struct Kernel::Process : _EPROCESS {};

namespace {

// Fast mutexes the calling thread holds. The driver's lock is the only one.
thread_local int locks_held = 0;

// A failed look-up hands back this instead of a process, so releasing it
// shows up as misuse.
PEPROCESS const kNoProcess = reinterpret_cast<PEPROCESS>(std::uintptr_t{0xDEAD0000});

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::uint16_t port_number(PUCHAR port)
{
    return static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(port));
}

}  // namespace

std::string narrow(const UNICODE_STRING& s)
{
    std::string out;
    for (std::size_t i = 0; i < s.Length / sizeof(WCHAR); ++i) {
        out += static_cast<char>(s.Buffer[i]);
    }
    return out;
}

Kernel::Kernel() = default;
Kernel::~Kernel() = default;

Kernel& kernel()
{
    static Kernel instance;
    return instance;
}

void Kernel::reset()
{
    std::lock_guard guard(state_);
    calls_.clear();
    ports_.clear();
    misuse_.clear();
    processes_.clear();
    map1_.assign(kMapBytes, 0xFF);
    port_values_.clear();
    for (auto& [base, bytes] : allocations_) {
        std::free(base);
    }
    allocations_.clear();
    devices_.clear();
    links_.clear();
    routines_.clear();
    completions_.clear();
    fail_allocation_ = false;
    fail_device_.reset();
    fail_link_.reset();
    fail_notify_.reset();
    fail_query_ = false;
    lock_broken_ = false;
    port_delay_us_ = 0;
    runs_in_window_ = 0;
    overlaps_ = 0;
}

// --- Arranging the machine -----------------------------------------------

void Kernel::add_process(std::uintptr_t pid)
{
    std::lock_guard guard(state_);
    auto& process = processes_[pid];
    if (!process) {
        process = std::make_unique<Process>();
        process->pid = pid;
    }
}

void Kernel::open_port_elsewhere(std::uint16_t port)
{
    std::lock_guard guard(state_);
    map1_[port / 8] &= static_cast<std::uint8_t>(~(1u << (port % 8)));
}

void Kernel::set_port_value(std::uint16_t port, std::uint8_t value)
{
    std::lock_guard guard(state_);
    port_values_[port] = value;
}

void Kernel::set_port_delay(std::chrono::microseconds delay) { port_delay_us_ = delay.count(); }

void Kernel::fail_allocation(bool fail)
{
    std::lock_guard guard(state_);
    fail_allocation_ = fail;
}

void Kernel::fail_device_creation(std::optional<NTSTATUS> status)
{
    std::lock_guard guard(state_);
    fail_device_ = status;
}

void Kernel::fail_link_creation(std::optional<NTSTATUS> status)
{
    std::lock_guard guard(state_);
    fail_link_ = status;
}

void Kernel::fail_notify_registration(std::optional<NTSTATUS> status)
{
    std::lock_guard guard(state_);
    fail_notify_ = status;
}

void Kernel::fail_map_query(bool fail)
{
    std::lock_guard guard(state_);
    fail_query_ = fail;
}

void Kernel::break_lock(bool broken) { lock_broken_ = broken; }

// --- Driving the kernel --------------------------------------------------

void Kernel::create_process(std::uintptr_t pid, std::uintptr_t parent)
{
    add_process(pid);
    notify(pid, parent, true);
}

void Kernel::notify_creation(std::uintptr_t pid, std::uintptr_t parent)
{
    notify(pid, parent, true);
}

void Kernel::notify_exit(std::uintptr_t pid, std::uintptr_t parent) { notify(pid, parent, false); }

void Kernel::notify(std::uintptr_t pid, std::uintptr_t parent, bool create)
{
    std::vector<PCREATE_PROCESS_NOTIFY_ROUTINE> routines;
    {
        std::lock_guard guard(state_);
        routines = routines_;
    }
    // The routines run like the kernel runs them: in the creating thread,
    // with no lock of the kernel held.
    for (auto routine : routines) {
        routine(reinterpret_cast<HANDLE>(parent), reinterpret_cast<HANDLE>(pid),
                create ? TRUE : FALSE);
    }
}

// --- Inspecting ----------------------------------------------------------

std::vector<std::string> Kernel::calls() const
{
    std::lock_guard guard(state_);
    return calls_;
}

void Kernel::clear_calls()
{
    std::lock_guard guard(state_);
    calls_.clear();
    ports_.clear();
}

std::vector<PortAccess> Kernel::port_log() const
{
    std::lock_guard guard(state_);
    return ports_;
}

std::vector<std::uint16_t> Kernel::open_ports() const
{
    std::lock_guard guard(state_);
    std::vector<std::uint16_t> open;
    for (unsigned port = 0; port < kMapBytes * 8; ++port) {
        if ((map1_[port / 8] & (1u << (port % 8))) == 0) {
            open.push_back(static_cast<std::uint16_t>(port));
        }
    }
    return open;
}

std::optional<ULONG> Kernel::io_map_of(std::uintptr_t pid) const
{
    std::lock_guard guard(state_);
    auto it = processes_.find(pid);
    return it == processes_.end() ? std::nullopt : it->second->io_map;
}

int Kernel::references_of(std::uintptr_t pid) const
{
    std::lock_guard guard(state_);
    auto it = processes_.find(pid);
    return it == processes_.end() ? 0 : it->second->references;
}

std::vector<DeviceInfo> Kernel::devices() const
{
    std::lock_guard guard(state_);
    std::vector<DeviceInfo> out;
    for (const auto& device : devices_) {
        out.push_back(device->info);
    }
    return out;
}

std::map<std::string, std::string> Kernel::links() const
{
    std::lock_guard guard(state_);
    return links_;
}

std::vector<PCREATE_PROCESS_NOTIFY_ROUTINE> Kernel::notify_routines() const
{
    std::lock_guard guard(state_);
    return routines_;
}

std::size_t Kernel::live_allocations() const
{
    std::lock_guard guard(state_);
    return allocations_.size();
}

std::vector<std::pair<PIRP, int>> Kernel::completions() const
{
    std::lock_guard guard(state_);
    return completions_;
}

std::vector<std::string> Kernel::misuse() const
{
    std::lock_guard guard(state_);
    return misuse_;
}

int Kernel::overlapping_runs() const { return overlaps_; }

void Kernel::log(std::string call) { calls_.push_back(std::move(call)); }

void Kernel::note_misuse(std::string what) { misuse_.push_back(std::move(what)); }

void Kernel::check_locked(const char* call)
{
    if (!lock_broken_ && locks_held == 0) {
        note_misuse(std::string(call) + " without the map lock");
    }
}

// --- Entry points ----------------------------------------------------------

PVOID Kernel::allocate(std::size_t bytes)
{
    std::lock_guard guard(state_);
    log("MmAllocateNonCachedMemory(" + std::to_string(bytes) + ")");
    if (fail_allocation_) {
        return nullptr;
    }
    // Fresh memory holds whatever was there before, never a useful map.
    void* base = std::malloc(bytes);
    std::memset(base, 0xA5, bytes);
    allocations_[base] = bytes;
    return base;
}

void Kernel::free(PVOID base, std::size_t bytes)
{
    std::lock_guard guard(state_);
    log("MmFreeNonCachedMemory(" + std::to_string(bytes) + ")");
    auto it = allocations_.find(base);
    if (it == allocations_.end()) {
        note_misuse("MmFreeNonCachedMemory of memory not allocated");
        return;
    }
    if (it->second != bytes) {
        note_misuse("MmFreeNonCachedMemory with " + std::to_string(bytes) + " bytes of " +
                    std::to_string(it->second));
    }
    std::free(base);
    allocations_.erase(it);
}

NTSTATUS Kernel::create_device(PUNICODE_STRING name, ULONG extension, ULONG type,
                               ULONG characteristics, BOOLEAN exclusive, PDEVICE_OBJECT* device)
{
    std::lock_guard guard(state_);
    std::string text = narrow(*name);
    log("IoCreateDevice(" + text + ")");
    if (fail_device_) {
        return *fail_device_;
    }
    for (const auto& existing : devices_) {
        if (existing->info.name == text) {
            return STATUS_OBJECT_NAME_COLLISION;
        }
    }
    auto object = std::make_unique<DEVICE_OBJECT>();
    object->info = DeviceInfo{text, extension, type, characteristics, exclusive != FALSE};
    *device = object.get();
    devices_.push_back(std::move(object));
    return STATUS_SUCCESS;
}

void Kernel::delete_device(PDEVICE_OBJECT device)
{
    std::lock_guard guard(state_);
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        if (it->get() == device) {
            log("IoDeleteDevice(" + device->info.name + ")");
            devices_.erase(it);
            return;
        }
    }
    log("IoDeleteDevice(?)");
    note_misuse("IoDeleteDevice of a device that does not exist");
}

NTSTATUS Kernel::create_link(PUNICODE_STRING link, PUNICODE_STRING target)
{
    std::lock_guard guard(state_);
    std::string name = narrow(*link);
    log("IoCreateSymbolicLink(" + name + " -> " + narrow(*target) + ")");
    if (fail_link_) {
        return *fail_link_;
    }
    if (links_.count(name) != 0) {
        return STATUS_OBJECT_NAME_COLLISION;
    }
    links_[name] = narrow(*target);
    return STATUS_SUCCESS;
}

NTSTATUS Kernel::delete_link(PUNICODE_STRING link)
{
    std::lock_guard guard(state_);
    std::string name = narrow(*link);
    log("IoDeleteSymbolicLink(" + name + ")");
    if (links_.erase(name) == 0) {
        note_misuse("IoDeleteSymbolicLink of a link that does not exist");
        return static_cast<NTSTATUS>(0xC0000034);  // object name not found
    }
    return STATUS_SUCCESS;
}

void Kernel::complete(PIRP irp, CCHAR boost)
{
    std::lock_guard guard(state_);
    log("IofCompleteRequest(boost " + std::to_string(boost) + ")");
    completions_.emplace_back(irp, boost);
}

NTSTATUS Kernel::set_notify(PCREATE_PROCESS_NOTIFY_ROUTINE routine, BOOLEAN remove)
{
    std::lock_guard guard(state_);
    log(remove ? "PsSetCreateProcessNotifyRoutine(remove)"
               : "PsSetCreateProcessNotifyRoutine(register)");
    for (auto it = routines_.begin(); it != routines_.end(); ++it) {
        if (*it == routine) {
            if (!remove) {
                return STATUS_INVALID_PARAMETER;
            }
            routines_.erase(it);
            return STATUS_SUCCESS;
        }
    }
    if (remove) {
        note_misuse("PsSetCreateProcessNotifyRoutine removing a routine not registered");
        return STATUS_PROCEDURE_NOT_FOUND;
    }
    if (fail_notify_) {
        return *fail_notify_;
    }
    routines_.push_back(routine);
    return STATUS_SUCCESS;
}

NTSTATUS Kernel::lookup(HANDLE pid, PEPROCESS* process)
{
    std::lock_guard guard(state_);
    auto id = reinterpret_cast<std::uintptr_t>(pid);
    log("PsLookupProcessByProcessId(" + std::to_string(id) + ")");
    auto it = processes_.find(id);
    if (it == processes_.end()) {
        *process = kNoProcess;
        return STATUS_INVALID_CID;
    }
    ++it->second->references;
    *process = it->second.get();
    return STATUS_SUCCESS;
}

LONG_PTR Kernel::dereference(PVOID object)
{
    std::lock_guard guard(state_);
    for (auto& [pid, process] : processes_) {
        if (process.get() == object) {
            log("ObDereferenceObject(" + std::to_string(pid) + ")");
            if (--process->references < 0) {
                note_misuse("ObDereferenceObject of a reference nobody took");
            }
            return process->references;
        }
    }
    log("ObDereferenceObject(?)");
    note_misuse("ObDereferenceObject of an unknown object");
    return 0;
}

BOOLEAN Kernel::set_access_process(PEPROCESS process, ULONG map)
{
    std::lock_guard guard(state_);
    bool known = false;
    for (const auto& entry : processes_) {
        known = known || entry.second.get() == process;
    }
    if (!known) {
        log("Ke386IoSetAccessProcess(?, " + std::to_string(map) + ")");
        note_misuse("Ke386IoSetAccessProcess on an unknown object");
        return FALSE;
    }
    log("Ke386IoSetAccessProcess(" + std::to_string(process->pid) + ", " + std::to_string(map) +
        ")");
    if (process->references <= 0) {
        note_misuse("Ke386IoSetAccessProcess on a process without a reference");
    }
    // Map 0 denies every port; map 1 is the only other one.
    if (map > 1) {
        return FALSE;
    }
    process->io_map = map;
    return TRUE;
}

BOOLEAN Kernel::query_map(ULONG map, PUCHAR buffer)
{
    std::lock_guard guard(state_);
    log("Ke386QueryIoAccessMap(" + std::to_string(map) + ")");
    check_locked("Ke386QueryIoAccessMap");
    if (fail_query_ || map > 1) {
        return FALSE;
    }
    if (map == 0) {
        std::memset(buffer, 0xFF, kMapBytes);
        return TRUE;
    }
    if (runs_in_window_.fetch_add(1) != 0) {
        ++overlaps_;
    }
    std::memcpy(buffer, map1_.data(), kMapBytes);
    return TRUE;
}

BOOLEAN Kernel::set_map(ULONG map, PUCHAR buffer)
{
    std::lock_guard guard(state_);
    log("Ke386SetIoAccessMap(" + std::to_string(map) + ")");
    check_locked("Ke386SetIoAccessMap");
    if (map != 1) {
        return FALSE;
    }
    if (runs_in_window_.fetch_sub(1) <= 0) {
        note_misuse("Ke386SetIoAccessMap without a copy taken before");
    }
    std::memcpy(map1_.data(), buffer, kMapBytes);
    return TRUE;
}

UCHAR Kernel::read_port(PUCHAR port)
{
    if (long delay = port_delay_us_) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    }
    std::lock_guard guard(state_);
    std::uint16_t number = port_number(port);
    log("READ_PORT_UCHAR(" + hex(number) + ")");
    check_locked("READ_PORT_UCHAR");
    auto it = port_values_.find(number);
    std::uint8_t value = it == port_values_.end() ? 0xFF : it->second;
    ports_.push_back({false, number, value});
    return value;
}

void Kernel::write_port(PUCHAR port, UCHAR value)
{
    if (long delay = port_delay_us_) {
        std::this_thread::sleep_for(std::chrono::microseconds(delay));
    }
    std::lock_guard guard(state_);
    std::uint16_t number = port_number(port);
    log("WRITE_PORT_UCHAR(" + hex(number) + ", " + hex(value) + ")");
    check_locked("WRITE_PORT_UCHAR");
    ports_.push_back({true, number, value});
}

void Kernel::init_lock(PFAST_MUTEX lock) { pthread_mutex_init(&lock->Mutex, nullptr); }

void Kernel::acquire_lock(PFAST_MUTEX lock)
{
    if (lock_broken_) {
        return;
    }
    pthread_mutex_lock(&lock->Mutex);
    ++locks_held;
}

void Kernel::release_lock(PFAST_MUTEX lock)
{
    if (lock_broken_) {
        return;
    }
    --locks_held;
    pthread_mutex_unlock(&lock->Mutex);
}

}  // namespace ventrel_fake

// The kernel's calls, as the driver sees them.

using ventrel_fake::kernel;

extern "C" {

PVOID MmAllocateNonCachedMemory(size_t NumberOfBytes) { return kernel().allocate(NumberOfBytes); }

VOID MmFreeNonCachedMemory(PVOID BaseAddress, size_t NumberOfBytes)
{
    kernel().free(BaseAddress, NumberOfBytes);
}

VOID RtlInitUnicodeString(PUNICODE_STRING DestinationString, PCWSTR SourceString)
{
    std::size_t length = SourceString ? std::wcslen(SourceString) * sizeof(WCHAR) : 0;
    DestinationString->Length = static_cast<USHORT>(length);
    DestinationString->MaximumLength = static_cast<USHORT>(SourceString ? length + sizeof(WCHAR) : 0);
    DestinationString->Buffer = const_cast<PWSTR>(SourceString);
}

NTSTATUS IoCreateDevice(PDRIVER_OBJECT DriverObject, ULONG DeviceExtensionSize,
                        PUNICODE_STRING DeviceName, ULONG DeviceType, ULONG DeviceCharacteristics,
                        BOOLEAN Exclusive, PDEVICE_OBJECT* DeviceObject)
{
    (void)DriverObject;
    return kernel().create_device(DeviceName, DeviceExtensionSize, DeviceType,
                                  DeviceCharacteristics, Exclusive, DeviceObject);
}

VOID IoDeleteDevice(PDEVICE_OBJECT DeviceObject) { kernel().delete_device(DeviceObject); }

NTSTATUS IoCreateSymbolicLink(PUNICODE_STRING SymbolicLinkName, PUNICODE_STRING DeviceName)
{
    return kernel().create_link(SymbolicLinkName, DeviceName);
}

NTSTATUS IoDeleteSymbolicLink(PUNICODE_STRING SymbolicLinkName)
{
    return kernel().delete_link(SymbolicLinkName);
}

VOID IofCompleteRequest(PIRP Irp, CCHAR PriorityBoost) { kernel().complete(Irp, PriorityBoost); }

NTSTATUS PsSetCreateProcessNotifyRoutine(PCREATE_PROCESS_NOTIFY_ROUTINE NotifyRoutine,
                                         BOOLEAN Remove)
{
    return kernel().set_notify(NotifyRoutine, Remove);
}

NTSTATUS PsLookupProcessByProcessId(HANDLE ProcessId, PEPROCESS* Process)
{
    return kernel().lookup(ProcessId, Process);
}

LONG_PTR ObDereferenceObject(PVOID Object) { return kernel().dereference(Object); }

BOOLEAN Ke386IoSetAccessProcess(PEPROCESS Process, ULONG MapNumber)
{
    return kernel().set_access_process(Process, MapNumber);
}

BOOLEAN Ke386QueryIoAccessMap(ULONG MapNumber, PUCHAR IoAccessMap)
{
    return kernel().query_map(MapNumber, IoAccessMap);
}

BOOLEAN Ke386SetIoAccessMap(ULONG MapNumber, PUCHAR IoAccessMap)
{
    return kernel().set_map(MapNumber, IoAccessMap);
}

UCHAR READ_PORT_UCHAR(PUCHAR Port) { return kernel().read_port(Port); }

VOID WRITE_PORT_UCHAR(PUCHAR Port, UCHAR Value) { kernel().write_port(Port, Value); }

VOID ExInitializeFastMutex(PFAST_MUTEX FastMutex) { kernel().init_lock(FastMutex); }

VOID ExAcquireFastMutex(PFAST_MUTEX FastMutex) { kernel().acquire_lock(FastMutex); }

VOID ExReleaseFastMutex(PFAST_MUTEX FastMutex) { kernel().release_lock(FastMutex); }

}  // extern "C"
