// A kernel layer for the host build of Ventrel. It implements the calls
// declared in host/ventrel_kernel.h the way the driver expects them to
// behave, and lets a test arrange the machine (processes, I/O access map 1,
// the parallel adapters fitted), make a call fail on demand, drive process
// creation and exit, and inspect afterwards what the driver did: every
// kernel call in order, every port read and write, the objects left alive
// and any misuse of the interface.
//
// One instance stands for the kernel, since the driver calls free
// functions. Its state is guarded by its own mutex, so notifications may
// run on several threads at once; that mutex is never held while the driver
// runs, so it cannot stand in for the driver's own lock.
#pragma once

#include "ventrel_kernel.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ventrel_fake {

inline constexpr std::size_t kMapBytes = 8192;

// One access to the port space, in the order made.
struct PortAccess {
    bool write;
    std::uint16_t port;
    std::uint8_t value;  // the value written, or the value the read returned

    bool operator==(const PortAccess&) const = default;
};

// The attributes a device object was created with.
struct DeviceInfo {
    std::string name;
    ULONG extension_size;
    ULONG type;
    ULONG characteristics;
    bool exclusive;
};

class Kernel {
public:
    Kernel();
    ~Kernel();

    // Back to a freshly booted machine: no processes, no driver objects, no
    // allocations, map 1 denying every port, no adapter fitted (every port
    // reads 0xFF), no failure armed, the lock working, empty logs.
    void reset();

    // --- Arranging the machine -----------------------------------------

    // A process the look-up can find.
    void add_process(std::uintptr_t pid);
    // Clears a bit of map 1 the way another component would.
    void open_port_elsewhere(std::uint16_t port);
    // A port that reads `value` instead of the 0xFF of an empty bus, such
    // as the status port of a fitted parallel adapter.
    void set_port_value(std::uint16_t port, std::uint8_t value);
    // Time each port access takes, to widen the window between a run's
    // copy and install of the map.
    void set_port_delay(std::chrono::microseconds delay);

    // --- Failures on demand ----------------------------------------------

    void fail_allocation(bool fail);
    void fail_device_creation(std::optional<NTSTATUS> status);
    void fail_link_creation(std::optional<NTSTATUS> status);
    void fail_notify_registration(std::optional<NTSTATUS> status);
    void fail_map_query(bool fail);
    // Turns the fast mutex into a no-op: only to show that the overlap
    // check notices runs that are not kept apart.
    void break_lock(bool broken);

    // --- Driving the kernel ----------------------------------------------

    // Adds the process and tells every registered notify routine.
    void create_process(std::uintptr_t pid, std::uintptr_t parent = 4);
    // Tells the routines of a creation without adding the process, so the
    // look-up fails.
    void notify_creation(std::uintptr_t pid, std::uintptr_t parent = 4);
    void notify_exit(std::uintptr_t pid, std::uintptr_t parent = 4);

    // --- Inspecting ------------------------------------------------------

    // Every kernel call the driver made, in order, e.g.
    // "READ_PORT_UCHAR(0x379)"; the lock and string calls are left out.
    std::vector<std::string> calls() const;
    void clear_calls();
    std::vector<PortAccess> port_log() const;
    // Ports whose bit in map 1 grants access, ascending.
    std::vector<std::uint16_t> open_ports() const;
    // The I/O access map assigned to a process; nullopt when none.
    std::optional<ULONG> io_map_of(std::uintptr_t pid) const;
    // References the look-up took on a process and nobody released.
    int references_of(std::uintptr_t pid) const;
    std::vector<DeviceInfo> devices() const;
    // Live symbolic links: name -> target.
    std::map<std::string, std::string> links() const;
    std::vector<PCREATE_PROCESS_NOTIFY_ROUTINE> notify_routines() const;
    std::size_t live_allocations() const;
    // Completed requests with their priority boost.
    std::vector<std::pair<PIRP, int>> completions() const;
    // Uses of the interface a kernel would not accept: freeing what was not
    // allocated, touching map 1 or the ports without the lock, releasing a
    // reference nobody took, and the like.
    std::vector<std::string> misuse() const;
    // Times a run copied map 1 while another run's copy was not installed.
    int overlapping_runs() const;

    // --- Entry points ------------------------------------------------------
    // Called by the C functions of host/ventrel_kernel.h; see there.

    PVOID allocate(std::size_t bytes);
    void free(PVOID base, std::size_t bytes);
    NTSTATUS create_device(PUNICODE_STRING name, ULONG extension, ULONG type,
                           ULONG characteristics, BOOLEAN exclusive, PDEVICE_OBJECT* device);
    void delete_device(PDEVICE_OBJECT device);
    NTSTATUS create_link(PUNICODE_STRING link, PUNICODE_STRING target);
    NTSTATUS delete_link(PUNICODE_STRING link);
    void complete(PIRP irp, CCHAR boost);
    NTSTATUS set_notify(PCREATE_PROCESS_NOTIFY_ROUTINE routine, BOOLEAN remove);
    NTSTATUS lookup(HANDLE pid, PEPROCESS* process);
    LONG_PTR dereference(PVOID object);
    BOOLEAN set_access_process(PEPROCESS process, ULONG map);
    BOOLEAN query_map(ULONG map, PUCHAR buffer);
    BOOLEAN set_map(ULONG map, PUCHAR buffer);
    UCHAR read_port(PUCHAR port);
    void write_port(PUCHAR port, UCHAR value);
    void init_lock(PFAST_MUTEX lock);
    void acquire_lock(PFAST_MUTEX lock);
    void release_lock(PFAST_MUTEX lock);

private:
    struct Process;

    void log(std::string call);
    void note_misuse(std::string what);
    // Whether the calling thread holds a fast mutex; notes misuse if not.
    void check_locked(const char* call);
    void notify(std::uintptr_t pid, std::uintptr_t parent, bool create);

    mutable std::mutex state_;
    std::vector<std::string> calls_;
    std::vector<PortAccess> ports_;
    std::vector<std::string> misuse_;
    std::map<std::uintptr_t, std::unique_ptr<Process>> processes_;
    std::vector<std::uint8_t> map1_ = std::vector<std::uint8_t>(kMapBytes, 0xFF);
    std::map<std::uint16_t, std::uint8_t> port_values_;
    std::map<PVOID, std::size_t> allocations_;
    std::vector<std::unique_ptr<DEVICE_OBJECT>> devices_;
    std::map<std::string, std::string> links_;
    std::vector<PCREATE_PROCESS_NOTIFY_ROUTINE> routines_;
    std::vector<std::pair<PIRP, int>> completions_;

    bool fail_allocation_ = false;
    std::optional<NTSTATUS> fail_device_;
    std::optional<NTSTATUS> fail_link_;
    std::optional<NTSTATUS> fail_notify_;
    bool fail_query_ = false;
    std::atomic<bool> lock_broken_{false};
    std::atomic<long> port_delay_us_{0};

    std::atomic<int> runs_in_window_{0};
    std::atomic<int> overlaps_{0};
};

// The kernel the host build of the driver talks to.
Kernel& kernel();

// "\Device\Ventrel" from a counted string.
std::string narrow(const UNICODE_STRING& s);

}  // namespace ventrel_fake
