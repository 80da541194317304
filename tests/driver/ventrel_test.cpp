// Ventrel on the host kernel layer: loading, what a process creation does
// to map 1 and to the port space, exits and failed look-ups, the create
// dispatch, unload, and loads that fail part way.
#include "ventrel_fixture.h"

#include <cstdio>
#include <functional>
#include <map>
#include <ostream>

namespace ventrel_test {
namespace {

using ventrel_fake::kernel;
using ventrel_fake::PortAccess;
using Calls = std::vector<std::string>;

std::string hex(unsigned value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

const Calls kLoadCalls = {
    "MmAllocateNonCachedMemory(8192)",
    "IoCreateDevice(\\Device\\Ventrel)",
    "PsSetCreateProcessNotifyRoutine(register)",
    "IoCreateSymbolicLink(\\DosDevices\\Ventrel -> \\Device\\Ventrel)",
};

// --- Loading ---------------------------------------------------------------

using VentrelLoad = VentrelFixture;

TEST_F(VentrelLoad, SetsUpMapDeviceRegistrationAndLinkInOrder)
{
    ASSERT_EQ(try_load(), STATUS_SUCCESS);

    EXPECT_EQ(kernel().calls(), kLoadCalls);
    EXPECT_EQ(kernel().live_allocations(), 1u);
    ASSERT_EQ(kernel().devices().size(), 1u);
    const auto device = kernel().devices().front();
    EXPECT_EQ(device.name, "\\Device\\Ventrel");
    EXPECT_EQ(device.extension_size, 0u);
    EXPECT_EQ(device.type, 0x22u);
    EXPECT_EQ(device.characteristics, 0u);
    EXPECT_FALSE(device.exclusive);
    EXPECT_EQ(kernel().links(),
              (std::map<std::string, std::string>{{"\\DosDevices\\Ventrel", "\\Device\\Ventrel"}}));
    EXPECT_EQ(kernel().notify_routines().size(), 1u);
}

TEST_F(VentrelLoad, SetsTheCreateDispatchAndUnloadOnly)
{
    load();

    EXPECT_NE(driver_.DriverUnload, nullptr);
    EXPECT_NE(driver_.MajorFunction[IRP_MJ_CREATE], default_dispatch);
    for (int major = IRP_MJ_CREATE + 1; major <= IRP_MJ_MAXIMUM_FUNCTION; ++major) {
        EXPECT_EQ(driver_.MajorFunction[major], default_dispatch) << "major function " << major;
    }
}

TEST_F(VentrelLoad, OpensNothingAndTouchesNoPortByItself)
{
    load();

    EXPECT_TRUE(kernel().open_ports().empty());
    EXPECT_TRUE(kernel().port_log().empty());
}

// --- Process creation --------------------------------------------------------

// Which status ports of the four parallel bases answer, and with what.
struct AdapterCase {
    const char* name;
    std::map<std::uint16_t, std::uint8_t> status;
};

void PrintTo(const AdapterCase& c, std::ostream* os) { *os << c.name; }

class VentrelProcess : public VentrelFixture,
                       public ::testing::WithParamInterface<AdapterCase> {};

TEST_P(VentrelProcess, OpensTheFourteenPortsAndReleasesFittedAdapters)
{
    for (auto [port, value] : GetParam().status) {
        kernel().set_port_value(port, value);
    }
    load();

    kernel().create_process(40);

    // Every step of the run, in order: the reads of the parallel status
    // ports in table order, 0xFC to a data port whose status answered.
    Calls expected = {"PsLookupProcessByProcessId(40)", "Ke386IoSetAccessProcess(40, 1)",
                      "Ke386QueryIoAccessMap(1)"};
    std::vector<PortAccess> accesses;
    for (auto entry : kEntries) {
        if (!is_parallel(entry)) {
            continue;
        }
        auto status_port = static_cast<std::uint16_t>(entry + 1);
        auto it = GetParam().status.find(status_port);
        std::uint8_t status = it == GetParam().status.end() ? 0xFF : it->second;
        expected.push_back("READ_PORT_UCHAR(" + hex(status_port) + ")");
        accesses.push_back({false, status_port, status});
        if (status != 0xFF) {
            expected.push_back("WRITE_PORT_UCHAR(" + hex(entry) + ", 0xFC)");
            accesses.push_back({true, entry, 0xFC});
        }
    }
    expected.push_back("Ke386SetIoAccessMap(1)");
    expected.push_back("ObDereferenceObject(40)");

    EXPECT_EQ(kernel().calls(), expected);
    EXPECT_EQ(kernel().port_log(), accesses);
    EXPECT_EQ(kernel().open_ports(), table_ports());
    EXPECT_EQ(kernel().io_map_of(40), 1u);
    EXPECT_EQ(kernel().references_of(40), 0);
}

TEST_P(VentrelProcess, NeverReadsOrWritesTheVgaPairs)
{
    for (auto [port, value] : GetParam().status) {
        kernel().set_port_value(port, value);
    }
    load();

    kernel().create_process(40);

    const auto open = kernel().open_ports();
    for (std::uint16_t vga : {0x3C4, 0x3C5, 0x3D4, 0x3D5, 0x3CE, 0x3CF}) {
        EXPECT_NE(std::find(open.begin(), open.end(), vga), open.end()) << hex(vga);
        for (const auto& access : kernel().port_log()) {
            EXPECT_NE(access.port, vga);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, VentrelProcess,
    ::testing::Values(AdapterCase{"NoneFitted", {}},
                      AdapterCase{"AllFourFitted",
                                  {{0x279, 0x7F}, {0x379, 0x78}, {0x3BD, 0x00}, {0x2BD, 0x87}}},
                      AdapterCase{"OnlyAt378", {{0x379, 0x78}}},
                      AdapterCase{"At3BCAnd278", {{0x3BD, 0x3F}, {0x279, 0xDF}}},
                      // Only 0xFF means absent; a status one bit off it is an adapter.
                      AdapterCase{"StatusJustBelowFF", {{0x2BD, 0xFE}}}),
    [](const ::testing::TestParamInfo<AdapterCase>& info) { return info.param.name; });

using VentrelCreation = VentrelFixture;

TEST_F(VentrelCreation, RepeatsTheWritesAtEveryCreation)
{
    kernel().set_port_value(0x379, 0x78);
    load();

    kernel().create_process(40);
    kernel().create_process(41);

    EXPECT_EQ(kernel().port_log(),
              (std::vector<PortAccess>{{false, 0x279, 0xFF}, {false, 0x379, 0x78},
                                       {true, 0x378, 0xFC}, {false, 0x3BD, 0xFF},
                                       {false, 0x2BD, 0xFF}, {false, 0x279, 0xFF},
                                       {false, 0x379, 0x78}, {true, 0x378, 0xFC},
                                       {false, 0x3BD, 0xFF}, {false, 0x2BD, 0xFF}}));
    EXPECT_EQ(kernel().io_map_of(40), 1u);
    EXPECT_EQ(kernel().io_map_of(41), 1u);
    EXPECT_EQ(kernel().open_ports(), table_ports());
}

TEST_F(VentrelCreation, KeepsBitsClearedBySomeoneElse)
{
    // Ports elsewhere, at the ends of the port space, and in the same map
    // bytes as table ports.
    const std::vector<std::uint16_t> others = {0x0000, 0x0060, 0x027A, 0x037F, 0x03C6, 0x03F8,
                                               0xFFFF};
    for (auto port : others) {
        kernel().open_port_elsewhere(port);
    }
    load();

    kernel().create_process(40);

    EXPECT_EQ(kernel().open_ports(), table_ports_and(others));
}

TEST_F(VentrelCreation, ExitNotificationsChangeNothing)
{
    kernel().set_port_value(0x379, 0x78);
    load();

    kernel().notify_exit(40);
    EXPECT_TRUE(kernel().calls().empty());
    EXPECT_TRUE(kernel().open_ports().empty());

    kernel().create_process(41);
    kernel().clear_calls();
    kernel().notify_exit(41);
    EXPECT_TRUE(kernel().calls().empty());
    EXPECT_TRUE(kernel().port_log().empty());
    EXPECT_EQ(kernel().open_ports(), table_ports());
}

TEST_F(VentrelCreation, FailedLookupChangesNothing)
{
    kernel().set_port_value(0x379, 0x78);
    load();

    kernel().notify_creation(99);  // a process the kernel cannot find

    // No map assigned or installed, no port touched, and no reference
    // released that the look-up did not take (misuse is checked on tear-down).
    EXPECT_EQ(kernel().calls(), Calls{"PsLookupProcessByProcessId(99)"});
    EXPECT_TRUE(kernel().open_ports().empty());
}

TEST_F(VentrelCreation, RefusedCopyIsNotInstalled)
{
    kernel().set_port_value(0x379, 0x78);
    load();
    kernel().fail_map_query(true);

    kernel().create_process(40);

    // The buffer holds no copy of map 1, so installing it could open ports
    // at random; nothing is installed or written, the reference is released.
    EXPECT_EQ(kernel().calls(),
              (Calls{"PsLookupProcessByProcessId(40)", "Ke386IoSetAccessProcess(40, 1)",
                     "Ke386QueryIoAccessMap(1)", "ObDereferenceObject(40)"}));
    EXPECT_TRUE(kernel().open_ports().empty());
    EXPECT_EQ(kernel().references_of(40), 0);
}

// --- Create dispatch -----------------------------------------------------------

using VentrelOpen = VentrelFixture;

TEST_F(VentrelOpen, CompletesTheOpenWithSuccess)
{
    load();
    IRP irp{};
    irp.IoStatus.Status = static_cast<NTSTATUS>(0xC0000001);
    irp.IoStatus.Information = 77;

    NTSTATUS result = driver_.MajorFunction[IRP_MJ_CREATE](nullptr, &irp);

    EXPECT_EQ(result, STATUS_SUCCESS);
    EXPECT_EQ(irp.IoStatus.Status, STATUS_SUCCESS);
    EXPECT_EQ(irp.IoStatus.Information, 0u);
    EXPECT_EQ(kernel().completions(), (std::vector<std::pair<PIRP, int>>{{&irp, IO_NO_INCREMENT}}));
    EXPECT_EQ(kernel().calls(), Calls{"IofCompleteRequest(boost 0)"});
}

// --- Unload ----------------------------------------------------------------------

using VentrelUnload = VentrelFixture;

TEST_F(VentrelUnload, RemovesNotifyFreesMapDeletesLinkThenDevice)
{
    load();

    unload();

    EXPECT_EQ(kernel().calls(),
              (Calls{"PsSetCreateProcessNotifyRoutine(remove)", "MmFreeNonCachedMemory(8192)",
                     "IoDeleteSymbolicLink(\\DosDevices\\Ventrel)",
                     "IoDeleteDevice(\\Device\\Ventrel)"}));
    EXPECT_EQ(kernel().live_allocations(), 0u);
    EXPECT_TRUE(kernel().devices().empty());
    EXPECT_TRUE(kernel().links().empty());
    EXPECT_TRUE(kernel().notify_routines().empty());
}

TEST_F(VentrelUnload, EarlierProcessesKeepAccessLaterOnesGetNone)
{
    load();
    kernel().create_process(40);

    unload();
    kernel().clear_calls();
    kernel().create_process(41);

    EXPECT_TRUE(kernel().calls().empty());
    EXPECT_EQ(kernel().io_map_of(40), 1u);
    EXPECT_EQ(kernel().io_map_of(41), std::nullopt);
    EXPECT_EQ(kernel().open_ports(), table_ports());  // unload restores nothing
}

TEST_F(VentrelUnload, NotificationStillOnItsWayFindsNoMap)
{
    kernel().set_port_value(0x379, 0x78);
    load();
    auto routine = kernel().notify_routines().at(0);

    unload();
    kernel().clear_calls();
    // A run the kernel had started before the routine was removed.
    kernel().add_process(40);
    routine(reinterpret_cast<HANDLE>(4), reinterpret_cast<HANDLE>(40), TRUE);

    EXPECT_TRUE(kernel().calls().empty());
    EXPECT_TRUE(kernel().open_ports().empty());
}

TEST_F(VentrelUnload, LoadsAgainAfterUnload)
{
    load();
    unload();

    ASSERT_EQ(try_load(), STATUS_SUCCESS);
    kernel().create_process(40);

    EXPECT_EQ(kernel().open_ports(), table_ports());
    EXPECT_EQ(kernel().live_allocations(), 1u);
}

// --- Loads that fail part way -------------------------------------------------

constexpr NTSTATUS kNameCollision = static_cast<NTSTATUS>(0xC0000035);
constexpr NTSTATUS kNoMemory = STATUS_INSUFFICIENT_RESOURCES;

struct LoadFailure {
    const char* name;
    std::function<void()> arm;
    NTSTATUS status;
    Calls calls;
};

void PrintTo(const LoadFailure& c, std::ostream* os) { *os << c.name; }

class VentrelLoadFailure : public VentrelFixture,
                           public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(VentrelLoadFailure, ReturnsTheStatusAndReleasesWhatWasSetUp)
{
    GetParam().arm();

    EXPECT_EQ(try_load(), GetParam().status);

    EXPECT_EQ(kernel().calls(), GetParam().calls);
    EXPECT_EQ(kernel().live_allocations(), 0u);
    EXPECT_TRUE(kernel().devices().empty());
    EXPECT_TRUE(kernel().links().empty());
    EXPECT_TRUE(kernel().notify_routines().empty());
    EXPECT_EQ(driver_.DriverUnload, nullptr);
    EXPECT_EQ(driver_.MajorFunction[IRP_MJ_CREATE], default_dispatch);
}

TEST_P(VentrelLoadFailure, LeavesNothingBehindForTheNextLoad)
{
    GetParam().arm();
    ASSERT_FALSE(NT_SUCCESS(try_load()));
    kernel().create_process(40);
    EXPECT_TRUE(kernel().open_ports().empty());

    kernel().fail_allocation(false);
    kernel().fail_device_creation(std::nullopt);
    kernel().fail_notify_registration(std::nullopt);
    kernel().fail_link_creation(std::nullopt);
    ASSERT_EQ(try_load(), STATUS_SUCCESS);
    kernel().create_process(41);
    EXPECT_EQ(kernel().open_ports(), table_ports());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, VentrelLoadFailure,
    ::testing::Values(
        LoadFailure{"MapAllocation",
                    [] { kernel().fail_allocation(true); },
                    STATUS_INSUFFICIENT_RESOURCES,
                    {"MmAllocateNonCachedMemory(8192)"}},
        LoadFailure{"DeviceCreation",
                    [] { kernel().fail_device_creation(kNameCollision); },
                    kNameCollision,
                    {"MmAllocateNonCachedMemory(8192)", "IoCreateDevice(\\Device\\Ventrel)",
                     "MmFreeNonCachedMemory(8192)"}},
        LoadFailure{"NotifyRegistration",
                    [] { kernel().fail_notify_registration(STATUS_INVALID_PARAMETER); },
                    STATUS_INVALID_PARAMETER,
                    {"MmAllocateNonCachedMemory(8192)", "IoCreateDevice(\\Device\\Ventrel)",
                     "PsSetCreateProcessNotifyRoutine(register)",
                     "IoDeleteDevice(\\Device\\Ventrel)", "MmFreeNonCachedMemory(8192)"}},
        LoadFailure{"LinkCreation",
                    [] { kernel().fail_link_creation(kNoMemory); },
                    kNoMemory,
                    {"MmAllocateNonCachedMemory(8192)", "IoCreateDevice(\\Device\\Ventrel)",
                     "PsSetCreateProcessNotifyRoutine(register)",
                     "IoCreateSymbolicLink(\\DosDevices\\Ventrel -> \\Device\\Ventrel)",
                     "PsSetCreateProcessNotifyRoutine(remove)",
                     "IoDeleteDevice(\\Device\\Ventrel)", "MmFreeNonCachedMemory(8192)"}}),
    [](const ::testing::TestParamInfo<LoadFailure>& info) { return info.param.name; });

}  // namespace
}  // namespace ventrel_test
