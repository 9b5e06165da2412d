// The directory-tree stand-in for the registry that POSIX builds use.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "registry.h"

namespace fs = std::filesystem;

namespace {

class RegistryStandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("nkregistry-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_ / "Software" / "Nakora");
    setenv("NAKORA_REGISTRY_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    unsetenv("NAKORA_REGISTRY_ROOT");
    fs::remove_all(root_);
  }
  fs::path Parent() { return root_ / "Software" / "Nakora"; }

  std::vector<std::u16string> Enumerate(RegistryKey key, int32_t& last) {
    std::vector<std::u16string> names;
    char16_t name[260];
    for (uint32_t i = 0; (last = RegistryEnumKey(key, i, name, 260)) == kRegistryOk; ++i) {
      names.push_back(name);
    }
    return names;
  }

  fs::path root_;
};

TEST_F(RegistryStandInTest, OpenFailsWithoutTheKeyOrTheRoot) {
  RegistryKey key = nullptr;
  EXPECT_EQ(RegistryOpenKey(u"Software\\Other", &key), kRegistryNotFound);
  std::ofstream(root_ / "Software" / "Value");
  EXPECT_EQ(RegistryOpenKey(u"Software\\Value", &key), kRegistryNotFound) << "a value is no key";
  unsetenv("NAKORA_REGISTRY_ROOT");
  EXPECT_EQ(RegistryOpenKey(u"Software\\Nakora", &key), kRegistryNotFound);
  EXPECT_EQ(key, nullptr);
}

TEST_F(RegistryStandInTest, EnumeratesSubkeysCaseInsensitivelyAndNotValues) {
  for (const char* name : {"beta", "Alpha", "DrvC", "caf\xC3\xA9",
                           "\xD0\x96"
                           "Drv"}) {
    fs::create_directories(Parent() / name);
  }
  std::ofstream(Parent() / "InstallPath");  // a value
  RegistryKey key = nullptr;
  ASSERT_EQ(RegistryOpenKey(u"Software\\Nakora", &key), kRegistryOk);
  int32_t last = 0;
  std::vector<std::u16string> want = {u"Alpha", u"beta", u"caf\u00E9", u"DrvC", u"\u0416Drv"};
  EXPECT_EQ(Enumerate(key, last), want);
  EXPECT_EQ(last, kRegistryNoMoreItems);
  RegistryCloseKey(key);
}

TEST_F(RegistryStandInTest, NameLongerThanTheBufferStopsWithMoreData) {
  fs::create_directories(Parent() / std::string(255, 'a'));  // the file system's limit
  RegistryKey key = nullptr;
  ASSERT_EQ(RegistryOpenKey(u"Software\\Nakora", &key), kRegistryOk);
  char16_t name[100];
  EXPECT_EQ(RegistryEnumKey(key, 0, name, 100), kRegistryMoreData);
  char16_t fits[256];
  EXPECT_EQ(RegistryEnumKey(key, 0, fits, 256), kRegistryOk);
  EXPECT_EQ(std::u16string(fits), std::u16string(255, u'a'));
  RegistryCloseKey(key);
}

TEST_F(RegistryStandInTest, DeleteTreeRemovesTheWholeSubtreeOnly) {
  fs::create_directories(Parent() / "DrvA" / "Sub" / "Deeper");
  std::ofstream(Parent() / "DrvA" / "Sub" / "Value");
  fs::create_directories(Parent() / "Keep");
  std::ofstream(Parent() / "ParentValue");
  RegistryKey key = nullptr;
  ASSERT_EQ(RegistryOpenKey(u"Software\\Nakora", &key), kRegistryOk);
  EXPECT_EQ(RegistryDeleteTree(key, u"DrvA"), kRegistryOk);
  EXPECT_EQ(RegistryDeleteTree(key, u"DrvA"), kRegistryNotFound);
  for (const char16_t* bad : {u"", u".", u"..", u"../Nakora", u"Keep/.."}) {
    EXPECT_EQ(RegistryDeleteTree(key, bad), kRegistryBadName);
  }
  RegistryCloseKey(key);
  EXPECT_FALSE(fs::exists(Parent() / "DrvA"));
  EXPECT_TRUE(fs::exists(Parent() / "Keep"));
  EXPECT_TRUE(fs::exists(Parent() / "ParentValue"));
}

TEST_F(RegistryStandInTest, DeleteTreeDoesNotFollowLinks) {
  fs::path outside = root_ / "Outside";
  fs::create_directories(outside / "Precious");
  fs::create_directories(Parent() / "DrvLink");
  fs::create_directory_symlink(outside, Parent() / "DrvLink" / "link");
  RegistryKey key = nullptr;
  ASSERT_EQ(RegistryOpenKey(u"Software\\Nakora", &key), kRegistryOk);
  EXPECT_EQ(RegistryDeleteTree(key, u"DrvLink"), kRegistryOk);
  RegistryCloseKey(key);
  EXPECT_TRUE(fs::exists(outside / "Precious"));
}

}  // namespace
