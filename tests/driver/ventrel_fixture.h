// What the driver tests share: the port table as the driver must open it,
// and a fixture that loads Ventrel into a freshly booted kernel layer and
// checks afterwards that the driver used the interface correctly.
#pragma once

#include "fake_kernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ventrel_test {

// The entries of the port table, in the order the driver handles them.
inline const std::vector<std::uint16_t> kEntries = {0x278, 0x378, 0x3BC, 0x2BC,
                                                    0x3C4, 0x3D4, 0x3CE};

inline bool is_parallel(std::uint16_t entry) { return entry <= 0x3BC; }

// The fourteen ports a process gets, ascending.
inline std::vector<std::uint16_t> table_ports()
{
    std::vector<std::uint16_t> ports;
    for (auto entry : kEntries) {
        ports.push_back(entry);
        ports.push_back(static_cast<std::uint16_t>(entry + 1));
    }
    std::sort(ports.begin(), ports.end());
    return ports;
}

// The table ports plus others, ascending and without repeats.
inline std::vector<std::uint16_t> table_ports_and(std::vector<std::uint16_t> others)
{
    auto ports = table_ports();
    ports.insert(ports.end(), others.begin(), others.end());
    std::sort(ports.begin(), ports.end());
    ports.erase(std::unique(ports.begin(), ports.end()), ports.end());
    return ports;
}

// Stands for the I/O manager's handling of a request the driver does not
// serve; the driver must leave these entries alone.
inline NTSTATUS default_dispatch(PDEVICE_OBJECT, PIRP) { return static_cast<NTSTATUS>(0xC0000010); }

class VentrelFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        ventrel_fake::kernel().reset();
        driver_ = DRIVER_OBJECT{};
        for (auto& entry : driver_.MajorFunction) {
            entry = default_dispatch;
        }
    }

    void TearDown() override
    {
        if (loaded_) {
            unload();
        }
        EXPECT_EQ(ventrel_fake::kernel().misuse(), std::vector<std::string>{});
        ventrel_fake::kernel().reset();
    }

    NTSTATUS try_load()
    {
        static WCHAR key[] = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\Ventrel";
        UNICODE_STRING registry{};
        RtlInitUnicodeString(&registry, key);
        NTSTATUS status = DriverEntry(&driver_, &registry);
        loaded_ = NT_SUCCESS(status);
        return status;
    }

    void load()
    {
        ASSERT_EQ(try_load(), STATUS_SUCCESS);
        ventrel_fake::kernel().clear_calls();
    }

    void unload()
    {
        ASSERT_NE(driver_.DriverUnload, nullptr);
        driver_.DriverUnload(&driver_);
        loaded_ = false;
    }

    DRIVER_OBJECT driver_{};
    bool loaded_ = false;
};

}  // namespace ventrel_test
