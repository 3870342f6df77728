#include "gpu_choice.h"

#include <cctype>
#include <cstdio>
#include <dlfcn.h>

static std::string trim(const std::string &text) {
  std::size_t a = text.find_first_not_of(" \t"), b = text.find_last_not_of(" \t");
  return a == std::string::npos ? "" : text.substr(a, b - a + 1);
}

static bool isIndex(const std::string &text) {
  if (text.empty() || text.size() > 6) return false;
  for (char ch : text)
    if (ch < '0' || ch > '9') return false;
  return true;
}

static std::string lower(std::string text) {
  for (char &ch : text)
    ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return text;
}

std::string gpuLabel(const std::vector<EglGpu> &devices, int device) {
  const EglGpu &d = devices[static_cast<std::size_t>(device)];
  std::string label = "EGL device " + std::to_string(device);
  if (!d.uuid.empty())
    label += ", " + d.uuid;
  else if (!d.drmFile.empty())
    label += ", " + d.drmFile;
  return label;
}

static std::string plural(std::size_t n, const char *one, const char *many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// The refusal where the scheduler gave a GPU and EGL opens none: what was
// found, what is missing as far as it shows, and what to do, in one line for
// a farm task's log.
static std::string noGpuOpens(const std::vector<EglGpu> &devices, const GpuRequest &request) {
  std::size_t hardware = 0;
  for (const EglGpu &d : devices)
    hardware += !d.software;
  std::string found = devices.empty() ? "EGL offers no device at all"
                      : hardware == 0 ? "EGL offers no GPU, only a software renderer"
                                      : "EGL lists " + plural(hardware, "GPU", "GPUs") +
                                            ", but none opens (fenced off from this process, "
                                            "or failing)";
  if (request.cudaUuid) {
    std::string cuda = request.cudaUuid();
    found += cuda.empty() ? "; the CUDA driver sees no GPU either (not installed, or no device "
                            "for this process)"
                          : "; the CUDA driver sees " + cuda + ", which no EGL device matches";
  }
  if (request.eglVendorProblem) {
    std::string problem = request.eglVendorProblem();
    if (!problem.empty())
      found += "; " + problem;
    else if (hardware == 0)
      found += "; NVIDIA's EGL library loads, yet offers no device";
  }
  return "CUDA_VISIBLE_DEVICES=\"" + std::string(request.cudaVisibleDevices) +
         "\" gives this process a GPU, but " + found +
         ". Not rendering on the CPU instead, hundreds of times slower: fix this node's NVIDIA "
         "EGL setup, or ask for a job without a GPU, or pass --allow-software to render on the "
         "CPU anyway.";
}

static GpuChoice taken(int device, std::string note = "") {
  GpuChoice choice;
  choice.kind = GpuChoice::Gpu;
  choice.device = device;
  choice.message = std::move(note);
  return choice;
}

static GpuChoice refused(std::string message) {
  GpuChoice choice;
  choice.kind = GpuChoice::Error;
  choice.message = std::move(message);
  return choice;
}

static GpuChoice software(std::string note) {
  GpuChoice choice;
  choice.message = std::move(note);
  return choice;
}

// --gpu N: the Nth hardware device that opens.
static GpuChoice chooseNumbered(const std::vector<EglGpu> &devices,
                                const std::vector<int> &hardware, int gpu,
                                const std::function<bool(int)> &canOpen) {
  int usable = 0;
  for (int k : hardware)
    if (canOpen(k) && usable++ == gpu) return taken(k);
  std::string asked = "--gpu " + std::to_string(gpu) + ": ";
  if (hardware.empty())
    return refused(asked + "EGL offers no GPU here" +
                   (devices.empty() ? "." : ", only a software renderer."));
  if (usable == 0)
    return refused(asked + "EGL lists " + plural(hardware.size(), "GPU", "GPUs") +
                   ", but none can be initialised (fenced off from this process, or failing).");
  return refused(asked + "there is no such GPU; " + plural(usable, "GPU is", "GPUs are") +
                 " usable here, numbered from 0.");
}

// The scheduler's GPU by its UUID (wanted, lower case, maybe a prefix).
static GpuChoice chooseByUuid(const std::vector<EglGpu> &devices, const std::vector<int> &hardware,
                              const std::string &wanted, const std::string &named, bool migEntry,
                              const std::function<bool(int)> &canOpen) {
  std::vector<int> matches;
  for (int k : hardware)
    if (!devices[k].uuid.empty() && lower(devices[k].uuid).starts_with(wanted))
      matches.push_back(k);
  if (matches.size() > 1) return refused(named + " matches several GPUs; give its whole UUID.");
  if (matches.empty())
    return refused(
        named + " is none of the GPUs EGL offers here (" +
        (migEntry ? "a MIG instance renders no graphics" : "exegfx-still --list-gpus lists them") +
        ").");
  if (!canOpen(matches[0]))
    return refused(named + ", " + gpuLabel(devices, matches[0]) + ", cannot be initialised.");
  return taken(matches[0]);
}

// The scheduler's GPU where no UUIDs tell which it is: the GPUs that open
// are all that is known, and with several of them the entry is a guess.
static GpuChoice chooseByGuess(const std::vector<EglGpu> &devices, const std::vector<int> &hardware,
                               const std::string &entry, bool uuidEntry, bool eglUuids,
                               const GpuRequest &request, const std::function<bool(int)> &canOpen) {
  std::vector<int> usable;
  for (int k : hardware)
    if (canOpen(k)) usable.push_back(k);
  if (usable.empty() && !request.allowSoftware) return refused(noGpuOpens(devices, request));
  if (usable.empty())
    return software("Note: CUDA_VISIBLE_DEVICES names GPU " + entry +
                    ", but EGL offers no GPU that opens here; rendering on the software "
                    "renderer (--allow-software).");
  if (usable.size() == 1) return taken(usable[0]); // the only one this process may use
  int guess = usable[0];
  std::string by = "the first that opens";
  if (!uuidEntry) {
    int index = std::stoi(entry);
    bool found = false;
    for (int k : usable)
      if (devices[k].cudaDevice == index) {
        guess = k;
        found = true;
        by = "EGL_NV_device_cuda's CUDA device " + entry;
        break;
      }
    if (!found && index < static_cast<int>(usable.size())) {
      guess = usable[static_cast<std::size_t>(index)];
      by = "number " + entry + " of those that open";
    }
  }
  return taken(guess, "Note: which of the " + std::to_string(usable.size()) +
                          " GPUs here is CUDA_VISIBLE_DEVICES's GPU " + entry +
                          " cannot be established (no device UUIDs from " +
                          (eglUuids ? "the CUDA driver" : "EGL") + "); taking " + by + ", " +
                          gpuLabel(devices, guess) + ".");
}

// The GPU that CUDA_VISIBLE_DEVICES gives this process: its first entry, a
// UUID or an index.
static GpuChoice chooseScheduled(const std::vector<EglGpu> &devices,
                                 const std::vector<int> &hardware, const GpuRequest &request,
                                 const std::function<bool(int)> &canOpen) {
  std::string list = request.cudaVisibleDevices;
  std::string entry = trim(list.substr(0, list.find(',')));
  bool uuidEntry = lower(entry).starts_with("gpu-") || lower(entry).starts_with("mig-");
  if (!uuidEntry && !isIndex(entry))
    return software("Note: CUDA_VISIBLE_DEVICES=\"" + list +
                    "\" gives this process no GPU; rendering on the software renderer.");
  bool eglUuids = false;
  for (int k : hardware)
    eglUuids = eglUuids || !devices[k].uuid.empty();
  std::string cudaUuid =
      !uuidEntry && eglUuids && request.cudaUuid ? request.cudaUuid() : std::string();
  std::string wanted = lower(uuidEntry ? entry : cudaUuid);
  if (!wanted.empty() && eglUuids)
    return chooseByUuid(devices, hardware, wanted,
                        "CUDA_VISIBLE_DEVICES's GPU " + entry +
                            (uuidEntry ? "" : " (" + cudaUuid + ")"),
                        uuidEntry && lower(entry).starts_with("mig-"), canOpen);
  return chooseByGuess(devices, hardware, entry, uuidEntry, eglUuids, request, canOpen);
}

GpuChoice chooseGpu(const std::vector<EglGpu> &devices, const GpuRequest &request,
                    const std::function<bool(int)> &canOpen) {
  std::vector<int> hardware;
  for (std::size_t k = 0; k < devices.size(); ++k)
    if (!devices[k].software) hardware.push_back(static_cast<int>(k));
  if (request.gpu >= 0) return chooseNumbered(devices, hardware, request.gpu, canOpen);
  if (request.cudaVisibleDevices) return chooseScheduled(devices, hardware, request, canOpen);
  for (int k : hardware)
    if (canOpen(k)) return taken(k);
  return GpuChoice{};
}

std::string formatGpuUuid(const unsigned char bytes[16]) {
  std::string text = "GPU-";
  char hex[3];
  for (int k = 0; k < 16; ++k) {
    if (k == 4 || k == 6 || k == 8 || k == 10) text += '-';
    std::snprintf(hex, sizeof hex, "%02x", bytes[k]);
    text += hex;
  }
  return text;
}

std::string cudaFirstDeviceUuid() {
  // The driver API's C entry points, looked up at run time: exegfx needs no
  // CUDA to build or run.
  void *cuda = dlopen("libcuda.so.1", RTLD_NOW | RTLD_LOCAL);
  if (!cuda) return "";
  using Init = int (*)(unsigned);
  using DeviceGet = int (*)(int *, int);
  using DeviceGetUuid = int (*)(unsigned char *, int);
  auto init = reinterpret_cast<Init>(dlsym(cuda, "cuInit"));
  auto deviceGet = reinterpret_cast<DeviceGet>(dlsym(cuda, "cuDeviceGet"));
  auto getUuid = reinterpret_cast<DeviceGetUuid>(dlsym(cuda, "cuDeviceGetUuid_v2"));
  if (!getUuid) getUuid = reinterpret_cast<DeviceGetUuid>(dlsym(cuda, "cuDeviceGetUuid"));
  unsigned char bytes[16];
  int device = 0;
  // The driver stays loaded: unloading it is not supported.
  if (!init || !deviceGet || !getUuid || init(0) != 0 || deviceGet(&device, 0) != 0 ||
      getUuid(bytes, device) != 0)
    return "";
  return formatGpuUuid(bytes);
}
