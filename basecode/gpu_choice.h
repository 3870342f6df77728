// Which GPU a headless process renders on. EGL lists every device of the
// machine in its own order, whatever the scheduler gave the process, so the
// scheduler's GPU (CUDA_VISIBLE_DEVICES, as Slurm, Kubernetes and cloud
// runners set it) is found by its UUID, never by its position.
#pragma once

#include <functional>
#include <string>
#include <vector>

// What EGL tells of one device, before anything is opened.
struct EglGpu {
  bool software = false; // Mesa's software device: never a GPU
  std::string uuid;      // "GPU-xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"; empty: unknown
  int cudaDevice = -1;   // EGL_NV_device_cuda's number; -1: unknown
  std::string drmFile;   // EGL_EXT_device_drm's device file; empty: unknown
};

struct GpuRequest {
  int gpu = -1;                             // --gpu N; -1: none given
  const char *cudaVisibleDevices = nullptr; // the variable; null when unset
  // UUID of CUDA's device 0 (empty: unknown); asked only for an index entry
  // or to explain a refusal, since it loads and starts the CUDA driver.
  std::function<std::string()> cudaUuid;
  // --allow-software: a GPU the scheduler gave that EGL cannot open falls back
  // to the software renderer, with a note, instead of being refused.
  bool allowSoftware = false;
  // What keeps NVIDIA's EGL library from EGL, as a phrase (empty: nothing
  // found); asked only to explain a refusal.
  std::function<std::string()> eglVendorProblem;
};

struct GpuChoice {
  enum Kind {
    Gpu,   // render on devices[device]
    NoGpu, // no GPU for this process: the software renderer
    Error  // refuse (message says why)
  } kind = NoGpu;
  int device = -1;
  // For Error, the reason; otherwise a note for standard error (empty: none),
  // said wherever the GPU taken rests on less than a UUID.
  std::string message;
};

// The rule:
//  - --gpu N: the Nth hardware device that opens, counted from 0 in EGL's
//    order; never the software device.
//  - else CUDA_VISIBLE_DEVICES set: its first entry. A UUID entry names the GPU
//    itself; for an index, CUDA's own device 0 (which honours the variable)
//    gives the UUID. The device with that UUID is taken, or refused if it does
//    not open. Without UUIDs on either side the mapping cannot be known: the
//    only GPU that opens is taken (fenced devices do not open), else a guess
//    with a note that says so; none: refused, with what EGL, the CUDA driver
//    and glvnd's vendor files show (allowSoftware: no GPU, with a note). An
//    empty list, or one starting with something that is neither an index nor
//    a UUID (-1, NoDevFiles), gives no GPU.
//  - else: the first hardware device that opens; none: no GPU.
// canOpen(k) says whether devices[k] initialises; it is asked as few times as
// the rule allows, since opening a GPU costs time and memory on it.
GpuChoice chooseGpu(const std::vector<EglGpu> &devices, const GpuRequest &request,
                    const std::function<bool(int)> &canOpen);

// How a device is named in logs and partial files: "EGL device 2, GPU-..."
// (or its device file when it has no UUID).
std::string gpuLabel(const std::vector<EglGpu> &devices, int device);

// "GPU-" and the 16 bytes of a UUID in the 8-4-4-4-12 form nvidia-smi prints.
std::string formatGpuUuid(const unsigned char bytes[16]);

// The UUID of device 0 of the CUDA driver (libcuda.so.1, loaded only for
// this), i.e. the first GPU of CUDA_VISIBLE_DEVICES; empty when there is no
// CUDA driver or it has no device.
std::string cudaFirstDeviceUuid();
