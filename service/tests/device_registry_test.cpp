// The registry traces of an open device: the device-map entry and the
// friendly names on the device's instance keys (made here as the system's
// device enumeration would have them).
#include <windows.h>

#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "device_registry.h"
#include "device_slot.h"
#include "registry_fixture.h"

namespace {

const char kEnum[] = "SYSTEM\\CurrentControlSet\\Enum\\";
const char* const kDeviceKeys[] = {
    "USB\\Vid_15de&Pid_6000",       "USB\\Vid_15de&Pid_6000&MI_00",
    "HID\\Vid_15de&Pid_6000&MI_00", "USB\\Vid_15de&Pid_6000&MI_01",
    "HID\\Vid_15de&Pid_6000&MI_01",
};
const char kP1[] = "7&2f1d6a3b&0";
const char kP2[] = "8&11aa22bb&0";
const char kP3[] = "8&33cc44dd&0";

std::string EnumPath(const char* device, const std::string& instance) {
  return std::string(kEnum) + device + "\\" + instance;
}

// The five instance keys of a device with serial, as the enumeration names
// them; prefixes left out are not written.
struct DeviceNodes {
  std::string m_Serial;
  std::string m_Nodes[5];

  DeviceNodes(const std::string& serial, bool ballPrefix = true) : m_Serial(serial) {
    m_Nodes[0] = EnumPath(kDeviceKeys[0], serial);
    m_Nodes[1] = EnumPath(kDeviceKeys[1], std::string(kP1) + "&0000");
    m_Nodes[2] = EnumPath(kDeviceKeys[2], std::string(kP2) + "&0000");
    m_Nodes[3] = EnumPath(kDeviceKeys[3], std::string(kP1) + "&0001");
    m_Nodes[4] = EnumPath(kDeviceKeys[4], std::string(kP3) + "&0000");
    PutPrefix(0, kP1);
    if (ballPrefix) PutPrefix(1, kP2);
    else CreateNode(1);
    CreateNode(2);
    PutPrefix(3, kP3);
    CreateNode(4);
  }

  void CreateNode(int i) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, m_Nodes[i].c_str(), 0, nullptr,
                                             0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    RegCloseKey(key);
  }
  void PutPrefix(int i, const char* prefix) {
    PutValue(HKEY_LOCAL_MACHINE, m_Nodes[i].c_str(), "ParentIdPrefix", REG_SZ, prefix,
             static_cast<DWORD>(strlen(prefix) + 1));
  }
  std::string Name(int i) const {
    return StringValue(HKEY_LOCAL_MACHINE, m_Nodes[i].c_str(), "FriendlyName");
  }
};

void DeleteDeviceKeys() {
  for (const char* device : kDeviceKeys)
    DeleteTestKey(HKEY_LOCAL_MACHINE, (std::string(kEnum) + device).c_str());
}

class FriendlyNameTest : public testing::Test {
 protected:
  void SetUp() override { DeleteDeviceKeys(); }
  void TearDown() override { DeleteDeviceKeys(); }
};

TEST_F(FriendlyNameTest, FiveNodesNamedFromTheSerial) {
  struct Case {
    const char* m_Serial;
    const char* m_InstanceKey;  // the serial as the service keeps it
    const char* m_Base;
  } cases[] = {
      {"ABCDEFGHIJKL-123", "ABCDEFGHIJKL-123", "Kestrin 6000 ABCDEFGHIJKL"},
      {"A1B2C3D4E5F6G7H8", "A1B2C3D4E5F6G7H8", "Kestrin 6000 A1B2C3D4E5F6G7H8"},
      {"12345678-ABC", "12345678-ABC", "Kestrin 6000 12345678"},
      {"ABCDEFGHIJK-1234", "ABCDEFGHIJK-1234", "Kestrin 6000 ABCDEFGHIJK-1234"},
      {"XY-", "XY-", "Kestrin 6000 XY-"},
      // Longer than a kept serial: its first 16 characters, never more.
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ0123", "ABCDEFGHIJKLMNOP", "Kestrin 6000 ABCDEFGHIJKLMNOP"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.m_Serial);
    DeleteDeviceKeys();
    DeviceNodes nodes(c.m_InstanceKey);
    SetFriendlyNamesForSerial(c.m_Serial);
    std::string base = c.m_Base;
    EXPECT_EQ(base, nodes.Name(0));
    EXPECT_EQ(base + ":1", nodes.Name(1));
    EXPECT_EQ(base + ":2", nodes.Name(2));
    EXPECT_EQ(base + ":3", nodes.Name(3));
    EXPECT_EQ(base + ":4", nodes.Name(4));
  }
}

TEST_F(FriendlyNameTest, StoredWithoutTerminator) {
  DeviceNodes nodes("A1B2C3D4E5F6G7H8");
  DeviceSlot slot = {};
  strcpy(slot.m_Serial, "A1B2C3D4E5F6G7H8");
  SetDeviceFriendlyNames(&slot);
  ExpectStoredWithoutTerminator(
      GetValue(HKEY_LOCAL_MACHINE, nodes.m_Nodes[0].c_str(), "FriendlyName"),
      strlen("Kestrin 6000 A1B2C3D4E5F6G7H8"));
}

TEST_F(FriendlyNameTest, ExistingNamesAreKept) {
  DeviceNodes nodes("A1B2C3D4E5F6G7H8");
  PutValue(HKEY_LOCAL_MACHINE, nodes.m_Nodes[0].c_str(), "FriendlyName", REG_SZ, "My ball", 8);
  PutValue(HKEY_LOCAL_MACHINE, nodes.m_Nodes[4].c_str(), "FriendlyName", REG_SZ, "My hat", 7);
  SetFriendlyNamesForSerial("A1B2C3D4E5F6G7H8");
  EXPECT_EQ("My ball", nodes.Name(0));
  EXPECT_EQ("Kestrin 6000 A1B2C3D4E5F6G7H8:1", nodes.Name(1));
  EXPECT_EQ("My hat", nodes.Name(4));
}

TEST_F(FriendlyNameTest, MissingPrefixSkipsOnlyTheNodesBelowIt) {
  DeviceNodes nodes("A1B2C3D4E5F6G7H8", /*ballPrefix=*/false);
  SetFriendlyNamesForSerial("A1B2C3D4E5F6G7H8");
  EXPECT_EQ("Kestrin 6000 A1B2C3D4E5F6G7H8:1", nodes.Name(1));
  EXPECT_EQ("<none>", nodes.Name(2));
  EXPECT_EQ("Kestrin 6000 A1B2C3D4E5F6G7H8:3", nodes.Name(3));
  EXPECT_EQ("Kestrin 6000 A1B2C3D4E5F6G7H8:4", nodes.Name(4));
}

TEST_F(FriendlyNameTest, UnknownDeviceNodeWritesNothing) {
  DeviceNodes nodes("A1B2C3D4E5F6G7H8");
  SetFriendlyNamesForSerial("ZZZZZZZZZZZZZZZZ");  // no instance key of that name
  for (int i = 0; i < 5; ++i) EXPECT_EQ("<none>", nodes.Name(i)) << i;
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, EnumPath(kDeviceKeys[0], "ZZZZZZZZZZZZZZZZ").c_str()));
}

// ---- the device map ----

const char kMapKey[] = "HARDWARE\\DEVICEMAP\\Kestrins";
const char kMapEntry[] = "HARDWARE\\DEVICEMAP\\Kestrins\\1";

class DeviceMapTest : public testing::Test {
 protected:
  void SetUp() override {
    DeleteTestKey(HKEY_LOCAL_MACHINE, kMapKey);
    strcpy(m_First.m_Serial, "FIRST00000000001");
    m_First.m_Firmware = 0x201;
    strcpy(m_Second.m_Serial, "SECOND0000000002");
    m_Second.m_Firmware = 0x200;
  }
  void TearDown() override { DeleteTestKey(HKEY_LOCAL_MACHINE, kMapKey); }

  DeviceSlot m_First = {};
  DeviceSlot m_Second = {};
};

TEST_F(DeviceMapTest, EntryHoldsTheLastOpenedDevice) {
  WriteDeviceMapEntry(&m_First);
  EXPECT_EQ("FIRST00000000001", StringValue(HKEY_LOCAL_MACHINE, kMapEntry, "Serial Number"));
  ExpectStoredWithoutTerminator(GetValue(HKEY_LOCAL_MACHINE, kMapEntry, "Serial Number"), 16);
  StoredValue firmware = GetValue(HKEY_LOCAL_MACHINE, kMapEntry, "Firmware Version");
  ASSERT_EQ(ERROR_SUCCESS, firmware.m_Status);
  EXPECT_EQ(static_cast<DWORD>(REG_DWORD), firmware.m_Type);
  EXPECT_EQ(0x201u, AsDword(firmware));

  WriteDeviceMapEntry(&m_Second);
  EXPECT_EQ("SECOND0000000002", StringValue(HKEY_LOCAL_MACHINE, kMapEntry, "Serial Number"));
  EXPECT_EQ(0x200u, AsDword(GetValue(HKEY_LOCAL_MACHINE, kMapEntry, "Firmware Version")));
}

TEST_F(DeviceMapTest, RemovingEitherOfTwoDevicesDeletesTheEntry) {
  for (int removeFirst = 0; removeFirst < 2; ++removeFirst) {
    SCOPED_TRACE(removeFirst ? "first removed" : "second removed");
    WriteDeviceMapEntry(&m_First);
    WriteDeviceMapEntry(&m_Second);
    ASSERT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMapEntry));
    DeleteDeviceMapEntry(removeFirst ? &m_First : &m_Second);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMapEntry));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kMapKey));
    DeleteDeviceMapEntry(removeFirst ? &m_Second : &m_First);  // nothing left: no harm
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kMapEntry));
  }
}

}  // namespace
