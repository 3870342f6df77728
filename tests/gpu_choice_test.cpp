// The GPU rule against made-up machines: what EGL lists, which devices open
// (a cgroup fence makes the others fail), and what the scheduler says.
#include "gpu_choice.h"

#include <gtest/gtest.h>

#include <set>

namespace {

const std::string uuidA = "GPU-aaaaaaaa-0000-0000-0000-000000000000";
const std::string uuidB = "GPU-bbbbbbbb-0000-0000-0000-000000000000";
const std::string uuidC = "GPU-cccccccc-0000-0000-0000-000000000000";

struct Machine {
  std::vector<EglGpu> devices;
  std::set<int> fenced;
  std::vector<int> opened;
  GpuChoice choose(GpuRequest request) {
    opened.clear();
    return chooseGpu(devices, request, [this](int k) {
      opened.push_back(k);
      return !fenced.count(k);
    });
  }
};

EglGpu gpu(const std::string &uuid, int cuda = -1) {
  EglGpu d;
  d.uuid = uuid;
  d.cudaDevice = cuda;
  return d;
}

EglGpu software() {
  EglGpu d;
  d.software = true;
  return d;
}

// Three GPUs that EGL lists in another order than CUDA numbers them, and
// Mesa's software device first.
Machine threeGpus() {
  return {{software(), gpu(uuidC, 2), gpu(uuidA, 0), gpu(uuidB, 1)}, {}, {}};
}

GpuRequest visible(const char *list, std::string cudaUuid = "") {
  GpuRequest r;
  r.cudaVisibleDevices = list;
  if (!cudaUuid.empty()) r.cudaUuid = [cudaUuid] { return cudaUuid; };
  return r;
}

} // namespace

TEST(GpuChoice, WithoutSchedulerTakesTheFirstGpuThatOpens) {
  Machine m = threeGpus();
  GpuChoice c = m.choose({});
  EXPECT_EQ(c.kind, GpuChoice::Gpu);
  EXPECT_EQ(c.device, 1);
  EXPECT_TRUE(c.message.empty());
  m.fenced = {1};
  EXPECT_EQ(m.choose({}).device, 2);
  m.fenced = {1, 2, 3};
  EXPECT_EQ(m.choose({}).kind, GpuChoice::NoGpu);
  Machine mesa{{software()}, {}, {}};
  c = mesa.choose({});
  EXPECT_EQ(c.kind, GpuChoice::NoGpu);
  EXPECT_TRUE(mesa.opened.empty()); // the software device is never a candidate
}

TEST(GpuChoice, GpuOptionCountsUsableGpusAndNeverFallsBack) {
  Machine m = threeGpus();
  GpuRequest r;
  r.gpu = 1;
  EXPECT_EQ(m.choose(r).device, 2);
  m.fenced = {2};
  EXPECT_EQ(m.choose(r).device, 3);
  r.gpu = 2;
  GpuChoice c = m.choose(r);
  EXPECT_EQ(c.kind, GpuChoice::Error);
  EXPECT_NE(c.message.find("2 GPUs are usable"), std::string::npos) << c.message;
  // --gpu wins over the scheduler's variable.
  r = visible(uuidB.c_str());
  r.gpu = 0;
  EXPECT_EQ(m.choose(r).device, 1);

  r = {};
  r.gpu = 0;
  m.fenced = {1, 2, 3};
  c = m.choose(r);
  EXPECT_EQ(c.kind, GpuChoice::Error);
  EXPECT_NE(c.message.find("none can be initialised"), std::string::npos) << c.message;
  Machine mesa{{software()}, {}, {}};
  c = mesa.choose(r);
  EXPECT_EQ(c.kind, GpuChoice::Error);
  EXPECT_NE(c.message.find("only a software renderer"), std::string::npos) << c.message;
  c = Machine{}.choose(r);
  EXPECT_EQ(c.kind, GpuChoice::Error);
}

TEST(GpuChoice, SchedulerGpuIsFoundByUuidWhateverTheOrder) {
  Machine m = threeGpus();
  // A UUID entry, whole or a prefix, in any case; only that GPU is opened.
  for (const char *list :
       {"GPU-bbbbbbbb-0000-0000-0000-000000000000,GPU-aaaaaaaa", "GPU-BBBBBBBB", " GPU-bbbb"}) {
    GpuChoice c = m.choose(visible(list));
    EXPECT_EQ(c.kind, GpuChoice::Gpu) << list;
    EXPECT_EQ(c.device, 3) << list;
    EXPECT_TRUE(c.message.empty()) << list;
    EXPECT_EQ(m.opened, std::vector<int>{3}) << list;
  }
  // An index: CUDA's own device 0 gives the UUID. With a fence, CUDA numbers
  // the visible GPUs from 0 while EGL still lists all of them.
  m.fenced = {1, 2};
  GpuChoice c = m.choose(visible("0", uuidB));
  EXPECT_EQ(c.kind, GpuChoice::Gpu);
  EXPECT_EQ(c.device, 3);
  EXPECT_TRUE(c.message.empty());

  c = m.choose(visible("1", uuidC)); // named, but fenced off
  EXPECT_EQ(c.kind, GpuChoice::Error);
  EXPECT_NE(c.message.find("cannot be initialised"), std::string::npos) << c.message;
  c = m.choose(visible("GPU-dddd"));
  EXPECT_EQ(c.kind, GpuChoice::Error);
  EXPECT_NE(c.message.find("is none of the GPUs"), std::string::npos) << c.message;
  c = m.choose(visible("GPU-"));
  EXPECT_EQ(c.kind, GpuChoice::Error) << "an ambiguous prefix";
  c = m.choose(visible("MIG-1234"));
  EXPECT_EQ(c.kind, GpuChoice::Error);
  EXPECT_NE(c.message.find("MIG"), std::string::npos) << c.message;
}

TEST(GpuChoice, WithoutUuidsTheRuleSaysWhatItCannotKnow) {
  Machine m{{software(), gpu("", 1), gpu("", 0)}, {}, {}};
  // Fenced: the one GPU that opens is this process's.
  m.fenced = {2};
  GpuChoice c = m.choose(visible("0"));
  EXPECT_EQ(c.device, 1);
  EXPECT_TRUE(c.message.empty());
  // Not fenced: a guess, said on standard error, naming the GPU taken.
  m.fenced = {};
  c = m.choose(visible("0"));
  EXPECT_EQ(c.kind, GpuChoice::Gpu);
  EXPECT_EQ(c.device, 2); // EGL_NV_device_cuda's number is the best lead
  EXPECT_NE(c.message.find("cannot be established"), std::string::npos) << c.message;
  EXPECT_NE(c.message.find("EGL device 2"), std::string::npos) << c.message;
  c = m.choose(visible(uuidA.c_str()));
  EXPECT_EQ(c.device, 1);
  EXPECT_FALSE(c.message.empty());
  // A GPU named, but none to be had: refused (below), or allowed the software
  // renderer.
  Machine mesa{{software()}, {}, {}};
  GpuRequest r = visible("0");
  r.allowSoftware = true;
  c = mesa.choose(r);
  EXPECT_EQ(c.kind, GpuChoice::NoGpu);
  EXPECT_NE(c.message.find("software renderer"), std::string::npos) << c.message;
}

TEST(GpuChoice, ASchedulersGpuThatDoesNotOpenIsRefusedWithWhatIsMissing) {
  int asked = 0; // the slow looks (CUDA, glvnd's files) are for a refusal only
  auto request = [&](const char *list, std::string cuda, std::string vendor) {
    GpuRequest r;
    r.cudaVisibleDevices = list;
    r.cudaUuid = [&asked, cuda] { return ++asked, cuda; };
    r.eglVendorProblem = [&asked, vendor] { return ++asked, vendor; };
    return r;
  };
  const std::string noVendorFile = "no EGL vendor file names NVIDIA's libEGL_nvidia";
  struct Case {
    Machine machine;
    GpuRequest request;
    std::vector<std::string> said;
  };
  std::vector<Case> cases = {
      {{{software()}, {}, {}},
       request("GPU-1234", "", noVendorFile),
       {"CUDA_VISIBLE_DEVICES=\"GPU-1234\" gives this process a GPU", "only a software renderer",
        "the CUDA driver sees no GPU either", noVendorFile}},
      {{}, request("0", uuidA, ""), {"no device at all", "sees " + uuidA + ", which no EGL"}},
      {{{software()}, {}, {}}, request("0", uuidA, ""), {"NVIDIA's EGL library loads, yet"}},
      {{{gpu("", 0), gpu("", 1)}, {0, 1}, {}},
       request("1", "", ""),
       {"EGL lists 2 GPUs, but none opens"}},
  };
  for (Case &c : cases) {
    GpuChoice choice = c.machine.choose(c.request);
    EXPECT_EQ(choice.kind, GpuChoice::Error) << choice.message;
    for (const std::string &part : c.said)
      EXPECT_NE(choice.message.find(part), std::string::npos) << part << " in " << choice.message;
    // What to do: fix the node, take a CPU job, or say the CPU will do.
    for (const char *part : {"NVIDIA EGL setup", "job without a GPU", "--allow-software"})
      EXPECT_NE(choice.message.find(part), std::string::npos) << choice.message;
    EXPECT_EQ(choice.message.find('\n'), std::string::npos) << "one line for a task's log";
  }
  // A UUID no GPU has stays refused even so: rendering on another job's GPU,
  // or on the CPU beside GPUs that work, is never what was asked.
  Machine m = threeGpus();
  GpuRequest r = request("GPU-dddd", "", "");
  r.allowSoftware = true;
  EXPECT_EQ(m.choose(r).kind, GpuChoice::Error);
  // Without a GPU named nothing is refused, and nothing slow is asked.
  asked = 0;
  Machine mesa{{software()}, {}, {}};
  for (const char *list : {static_cast<const char *>(nullptr), "", "-1", "NoDevFiles"})
    EXPECT_EQ(mesa.choose(request(list, uuidA, noVendorFile)).kind, GpuChoice::NoGpu);
  EXPECT_EQ(asked, 0);
}

TEST(GpuChoice, AnEmptyOrInvalidListGivesNoGpu) {
  Machine m = threeGpus();
  for (const char *list : {"", "-1", "NoDevFiles", "-1,0"}) {
    GpuChoice c = m.choose(visible(list));
    EXPECT_EQ(c.kind, GpuChoice::NoGpu) << list;
    EXPECT_NE(c.message.find("no GPU"), std::string::npos) << list;
    EXPECT_TRUE(m.opened.empty()) << list;
  }
}

TEST(GpuChoice, UuidsPrintAsNvidiaSmiDoes) {
  unsigned char bytes[16];
  for (int k = 0; k < 16; ++k)
    bytes[k] = static_cast<unsigned char>(k * 17);
  EXPECT_EQ(formatGpuUuid(bytes), "GPU-00112233-4455-6677-8899-aabbccddeeff");
}
