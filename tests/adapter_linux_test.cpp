// The first graphics adapter's name from a PCI device listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

bool adapterNameFrom(const char *root, char *name, std::size_t size);

namespace {

namespace fs = std::filesystem;

void device(const fs::path &root, const char *slot, const char *cls, const char *vendor,
            const char *dev) {
  fs::create_directories(root / slot);
  std::ofstream(root / slot / "class") << cls << "\n";
  std::ofstream(root / slot / "vendor") << vendor << "\n";
  std::ofstream(root / slot / "device") << dev << "\n";
}

TEST(AdapterName, FirstDisplayControllerByName) {
  fs::path root = fs::temp_directory_path() / ("exegfx-pci-" + std::to_string(getpid()));
  fs::remove_all(root);
  device(root, "0000:00:00.0", "0x060000", "0x8086", "0x0d57"); // host bridge
  device(root, "0000:00:02.0", "0x030000", "0x1234", "0x1111"); // first VGA
  device(root, "0000:00:03.0", "0x030200", "0x10de", "0x2330"); // a 3D controller after it
  char name[128] = "";
  ASSERT_TRUE(adapterNameFrom(root.c_str(), name, sizeof name));
  // From the PCI ID database when it is installed, else the numeric IDs.
  std::string s = name;
  EXPECT_TRUE(s.find("QEMU") != std::string::npos || s.find("1234:1111") != std::string::npos) << s;

  // A name that fills the field is cut, still terminated.
  char small[8];
  ASSERT_TRUE(adapterNameFrom(root.c_str(), small, sizeof small));
  EXPECT_EQ(std::string(small).size(), 7u);
  fs::remove_all(root);
}

TEST(AdapterName, NoDisplayControllerOrNoListing) {
  fs::path root = fs::temp_directory_path() / ("exegfx-pci-none-" + std::to_string(getpid()));
  fs::remove_all(root);
  device(root, "0000:00:00.0", "0x060000", "0x8086", "0x0d57");
  char name[128];
  EXPECT_FALSE(adapterNameFrom(root.c_str(), name, sizeof name));
  EXPECT_FALSE(adapterNameFrom((root / "missing").c_str(), name, sizeof name));
  fs::remove_all(root);
}

} // namespace
