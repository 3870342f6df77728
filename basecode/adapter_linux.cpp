// The first graphics adapter's name on Linux, from the PCI bus and the PCI ID
// database, without opening any window or GL context.
#include "platform.h"

extern "C" {
#include <pci/pci.h>
}

#include <cstdio>
#include <cstdlib>
#include <dirent.h>

// The first display controller among the PCI devices listed under root (a
// sysfs-style folder of device folders with class, vendor and device files).
bool adapterNameFrom(const char *root, char *name, std::size_t size);

// Display controllers: VGA (0x0300), XGA (0x0301), 3D (0x0302) and other (0x0380).
static bool isDisplayClass(unsigned cls) {
  return (cls >> 16) == 0x03;
}

static bool readHex(const char *root, const char *dir, const char *file, unsigned &value) {
  char path[1024];
  std::snprintf(path, sizeof path, "%s/%s/%s", root, dir, file);
  std::FILE *f = std::fopen(path, "r");
  if (!f) return false;
  bool ok = std::fscanf(f, "%x", &value) == 1;
  std::fclose(f);
  return ok;
}

bool adapterNameFrom(const char *root, char *name, std::size_t size) {
  struct dirent **entries = nullptr;
  int n = scandir(root, &entries, nullptr, alphasort);
  if (n < 0) return false;
  unsigned vendor = 0, device = 0;
  bool found = false;
  for (int k = 0; k < n; ++k) {
    unsigned cls = 0;
    const char *d = entries[k]->d_name;
    if (!found && d[0] != '.' && readHex(root, d, "class", cls) && isDisplayClass(cls) &&
        readHex(root, d, "vendor", vendor) && readHex(root, d, "device", device))
      found = true;
    free(entries[k]);
  }
  free(entries);
  if (!found) return false;

  char looked[256] = "";
  if (struct pci_access *pacc = pci_alloc()) {
    pci_init(pacc);
    if (!pci_lookup_name(pacc, looked, sizeof looked, PCI_LOOKUP_VENDOR | PCI_LOOKUP_DEVICE, vendor,
                         device))
      looked[0] = 0;
    pci_cleanup(pacc);
  }
  if (looked[0])
    std::snprintf(name, size, "%s", looked);
  else
    std::snprintf(name, size, "PCI display controller %04x:%04x", vendor, device);
  return true;
}

bool platformAdapterName(char *name, std::size_t size) {
  return adapterNameFrom("/sys/bus/pci/devices", name, size);
}
