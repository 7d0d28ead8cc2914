// Configurations the simulator refuses, and the data packet size bound it checks them with.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

#include "chassis_simulator.h"
#include "tls_test_client.h"

using chassis_sim::ChassisSimulator;
using chassis_sim::SimConfig;

namespace {

// Whether any socket in this network namespace listens on address:port (read from /proc, so
// no packet is sent anywhere).
bool somethingListensOn(const std::string& address, std::uint16_t port) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) {
        return false;
    }
    char local[32];
    // The kernel prints the address word in host byte order.
    std::snprintf(local, sizeof local, "%08X:%04X", parsed.s_addr, port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // header
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, localAddress, remoteAddress, state;
        fields >> slot >> localAddress >> remoteAddress >> state;
        if (localAddress == local && state == "0A") {
            return true;
        }
    }
    return false;
}

SimConfig baseConfig() {
    SimConfig config;
    config.addresses = {"127.0.41.1"};
    config.log = false;
    return config;
}

}  // namespace

TEST(SimConfig, RefusesConfigurationsItCannotServeBeforeBindingAnything) {
    struct Case {
        const char* name;
        std::function<void(SimConfig&)> change;
        const char* reason;  // a piece of the error text
    };
    const std::vector<Case> cases = {
        {"private address", [](SimConfig& c) { c.addresses.push_back("10.1.2.3"); },
         "outside 127.0.0.0/8"},
        {"any address", [](SimConfig& c) { c.addresses.insert(c.addresses.begin(), "0.0.0.0"); },
         "outside 127.0.0.0/8"},
        {"host name", [](SimConfig& c) { c.addresses.push_back("localhost"); }, "not a dotted"},
        {"short form", [](SimConfig& c) { c.addresses.push_back("127.1"); }, "not a dotted"},
        {"octet overflow", [](SimConfig& c) { c.addresses.push_back("127.0.0.256"); },
         "not a dotted"},
        {"IPv6", [](SimConfig& c) { c.addresses.push_back("::1"); }, "not a dotted"},
        {"empty address", [](SimConfig& c) { c.addresses.push_back(""); }, "not a dotted"},
        {"no address", [](SimConfig& c) { c.addresses.clear(); }, "no chassis address"},
        {"same address twice", [](SimConfig& c) { c.addresses.push_back("127.0.41.1"); }, "twice"},
        {"port 0", [](SimConfig& c) { c.port = 0; }, "port 0"},
        {"no slot",
         [](SimConfig& c) {
             c.slots = 0;
             c.sensors = 0;
         },
         "slot"},
        {"more sensors than slots", [](SimConfig& c) { c.sensors = c.slots + 1; }, "do not fit"},
        {"no data type", [](SimConfig& c) { c.dataTypes.clear(); }, "no data type"},
        {"data type twice",
         [](SimConfig& c) {
             c.dataTypes = {28, 50, 28};
         },
         "twice"},
        {"data type beyond int32", [](SimConfig& c) { c.dataTypes = {0x80000000u}; }, "signed"},
        {"mains 55 Hz", [](SimConfig& c) { c.mainsHz = 55; }, "50 or 60"},
        {"offset for a chassis not served",
         [](SimConfig& c) {
             c.timestampOffsets = {0, 3};
         },
         "timestamp offsets"},
        {"too many channels",
         [](SimConfig& c) {
             c.slots = 100;
             c.sensors = 100;
         },
         "data packet"},
        {"complete status too large",
         [](SimConfig& c) {
             c.slots = 60;
             c.sensors = 60;
             c.dataTypes = {28};
         },
         "complete status"},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        SimConfig config = baseConfig();
        test.change(config);
        ChassisSimulator sim(config);
        std::string error;
        EXPECT_FALSE(sim.start(&error));
        EXPECT_NE(error.find(test.reason), std::string::npos) << error;
        for (const std::string& address : config.addresses) {
            EXPECT_FALSE(somethingListensOn(address, config.port)) << address;
        }
        sim_test::TlsTestClient client;
        EXPECT_FALSE(client.connect("127.0.41.1"));
    }
}

TEST(SimConfig, ListenerHelperSeesARunningSimulator) {
    // Guards the check above against a helper that never finds anything.
    // Its own address: the refusal test above runs in parallel and watches 127.0.41.1.
    SimConfig config = baseConfig();
    config.addresses = {"127.0.41.3"};
    ChassisSimulator sim(config);
    ASSERT_TRUE(sim.start());
    EXPECT_TRUE(somethingListensOn("127.0.41.3", 7777));
    sim.stop();
    EXPECT_FALSE(somethingListensOn("127.0.41.3", 7777));
}

// The bound is checked against what protobuf itself writes for a packet of extreme values:
// the largest timestamp, and negative samples (ten-byte varints).
TEST(SimConfig, WorstCaseDataPacketSizeIsExact) {
    struct Case {
        const char* name;
        std::vector<std::string> addresses;
        std::uint16_t port;
        std::uint32_t sensors;
        std::vector<std::uint32_t> types;
    };
    const std::vector<Case> cases = {
        {"default", {"127.0.0.1"}, 7777, 16, {28, 50}},
        {"no sensor", {"127.0.0.1"}, 7777, 0, {28}},
        {"longest name wins", {"127.0.0.1", "127.100.200.255"}, 7, 3, {28}},
        {"sensor ids of two varint bytes", {"127.0.0.1"}, 65535, 200, {1}},
        {"large data types",
         {"127.0.0.1"},
         7777,
         2,
         {0, 127, 128, 16384, std::numeric_limits<std::int32_t>::max()}},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        SimConfig config;
        config.addresses = test.addresses;
        config.port = test.port;
        config.slots = test.sensors;
        config.sensors = test.sensors;
        config.dataTypes = test.types;

        std::size_t largest = 0;
        for (const std::string& address : test.addresses) {
            DataPacket packet;
            packet.set_timestamp(std::numeric_limits<std::uint32_t>::max());
            packet.set_chassis_name(address + ":" + std::to_string(test.port));
            packet.set_num_sensors(static_cast<std::int32_t>(test.sensors));
            for (std::uint32_t sensor = 1; sensor <= test.sensors; ++sensor) {
                for (std::uint32_t type : test.types) {
                    DataFrame* frame = packet.add_data();
                    frame->set_sensor(static_cast<std::int32_t>(sensor));
                    frame->set_datatype(static_cast<std::int32_t>(type));
                    frame->set_val(-1);
                }
            }
            largest = std::max(largest, packet.ByteSizeLong());
        }
        EXPECT_EQ(chassis_sim::worstCaseDataPacketSize(config), largest);
    }
}

// With one sensor and many data types the data packet, not the status, is what limits.
TEST(SimConfig, LargestDataPacketThatFitsTheFrameIsServed) {
    SimConfig config = baseConfig();
    config.addresses = {"127.0.41.2"};
    config.slots = 1;
    config.sensors = 1;
    config.dataTypes = {1};
    while (chassis_sim::worstCaseDataPacketSize(config) <= 2048) {
        config.dataTypes.push_back(config.dataTypes.back() + 1);
    }
    const std::uint32_t oneTooMany = config.dataTypes.back();
    config.dataTypes.pop_back();
    {
        ChassisSimulator sim(config);
        std::string error;
        EXPECT_TRUE(sim.start(&error)) << config.dataTypes.size() << " types: " << error;
    }
    config.dataTypes.push_back(oneTooMany);
    ChassisSimulator sim(config);
    std::string error;
    EXPECT_FALSE(sim.start(&error));
    EXPECT_NE(error.find("data packet"), std::string::npos) << error;
}
